#pragma once

#include <stdexcept>
#include <string>

// Password hashes (scrypt), sign-in tokens (random, stored only as their SHA-256) and invitation codes.
namespace Secrets {

// Each hash takes 16 MiB while it runs, so only a few run at once; a hash that finds no turn within a
// short wait throws Busy.
struct Busy : std::runtime_error {
    Busy() : std::runtime_error("too many password hashes under way") {}
};

std::string hashPassword(const std::string& password);
bool verifyPassword(const std::string& password, const std::string& stored);
// Spends the same time as a real check, so unknown names answer no faster than wrong passwords.
void burnPasswordCheck(const std::string& password);

std::string newToken();       // 64 hex digits
std::string newInviteCode();  // 10 characters without look-alikes
std::string sha256Hex(const std::string& bytes);
std::string hex(const unsigned char* data, size_t size);

} // namespace Secrets
