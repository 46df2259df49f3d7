#pragma once

#include <string>

// Password hashes (scrypt), sign-in tokens (random, stored only as their SHA-256) and invitation codes.
namespace Secrets {

std::string hashPassword(const std::string& password);
bool verifyPassword(const std::string& password, const std::string& stored);
// Spends the same time as a real check, so unknown names answer no faster than wrong passwords.
void burnPasswordCheck(const std::string& password);

std::string newToken();       // 64 hex digits
std::string newInviteCode();  // 10 characters without look-alikes
std::string sha256Hex(const std::string& bytes);
std::string hex(const unsigned char* data, size_t size);

} // namespace Secrets
