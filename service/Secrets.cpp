#include "Secrets.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <semaphore>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {
// The usual interactive scrypt cost: about 16 MiB and a few tens of milliseconds per check.
constexpr uint64_t costN = 16384;
constexpr uint64_t blockR = 8;
constexpr uint64_t parallelP = 1;
constexpr size_t saltSize = 16;
constexpr size_t keySize = 32;

std::vector<unsigned char> randomBytes(size_t n)
{
    std::vector<unsigned char> bytes(n);
    if (RAND_bytes(bytes.data(), int(n)) != 1)
        throw std::runtime_error("RAND_bytes failed");
    return bytes;
}

// Hashes under way at once: about one for every two cores, at least two and at most four.
constexpr ptrdiff_t mostTurns = 4;
constexpr auto turnWait = std::chrono::seconds(2);

ptrdiff_t hashTurns()
{
    return std::clamp<ptrdiff_t>(std::thread::hardware_concurrency() / 2, 2, mostTurns);
}

std::vector<unsigned char> scrypt(const std::string& password, const std::vector<unsigned char>& salt,
                                  uint64_t n, uint64_t r, uint64_t p)
{
    static std::counting_semaphore<mostTurns> turns(hashTurns());
    if (!turns.try_acquire_for(turnWait))
        throw Secrets::Busy();
    struct Turn {
        ~Turn() { turns.release(); }
    } const turn;
    std::vector<unsigned char> key(keySize);
    if (EVP_PBE_scrypt(password.data(), password.size(), salt.data(), salt.size(), n, r, p, 64ull << 20,
                       key.data(), key.size()) != 1)
        throw std::runtime_error("scrypt failed");
    return key;
}

std::vector<unsigned char> unhex(const std::string& text)
{
    std::vector<unsigned char> bytes;
    if (text.size() % 2 != 0)
        return bytes;
    for (size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}
} // namespace

namespace Secrets {

std::string hex(const unsigned char* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

std::string hashPassword(const std::string& password)
{
    const auto salt = randomBytes(saltSize);
    const auto key = scrypt(password, salt, costN, blockR, parallelP);
    std::ostringstream out;
    out << "scrypt$" << costN << '$' << blockR << '$' << parallelP << '$' << hex(salt.data(), salt.size()) << '$'
        << hex(key.data(), key.size());
    return out.str();
}

bool verifyPassword(const std::string& password, const std::string& stored)
{
    try {
        std::vector<std::string> parts;
        std::stringstream in(stored);
        for (std::string part; std::getline(in, part, '$');)
            parts.push_back(part);
        if (parts.size() != 6 || parts[0] != "scrypt")
            return false;
        const auto salt = unhex(parts[4]);
        const auto expected = unhex(parts[5]);
        if (expected.size() != keySize)
            return false;
        const auto key = scrypt(password, salt, std::stoull(parts[1]), std::stoull(parts[2]), std::stoull(parts[3]));
        return CRYPTO_memcmp(key.data(), expected.data(), keySize) == 0;
    } catch (const Busy&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

void burnPasswordCheck(const std::string& password)
{
    static const std::vector<unsigned char> salt(saltSize, 0);
    scrypt(password, salt, costN, blockR, parallelP);
}

std::string newToken()
{
    const auto bytes = randomBytes(32);
    return hex(bytes.data(), bytes.size());
}

std::string newInviteCode()
{
    static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789"; // 32 symbols, no 0/O, 1/I
    const auto bytes = randomBytes(10);
    std::string code;
    for (unsigned char b : bytes)
        code += alphabet[b % 32];
    return code;
}

std::string sha256Hex(const std::string& bytes)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return hex(digest, sizeof digest);
}

} // namespace Secrets
