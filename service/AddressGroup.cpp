#include "AddressGroup.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstring>

namespace {
// The address in IPv6 form (IPv4 ones mapped), without the interface zone a link-local one comes with
// ("fe80::1%eth0"); none when it is unreadable.
bool parse(const std::string& address, in6_addr& v6)
{
    const std::string bare = address.substr(0, address.find('%'));
    in_addr v4{};
    if (::inet_pton(AF_INET, bare.c_str(), &v4) == 1) {
        v6 = in6_addr{};
        v6.s6_addr[10] = v6.s6_addr[11] = 0xff;
        std::memcpy(v6.s6_addr + 12, &v4, sizeof v4);
        return true;
    }
    return ::inet_pton(AF_INET6, bare.c_str(), &v6) == 1;
}

// The address with all but its first `v4Bits` (IPv4) or `v6Bits` (IPv6) bits cleared, and the prefix
// length after it unless that is a whole IPv4 address.
std::string prefix(const std::string& address, int v4Bits, int v6Bits)
{
    in6_addr v6{};
    if (!parse(address, v6))
        return address;
    const bool v4 = IN6_IS_ADDR_V4MAPPED(&v6);
    const int bits = v4 ? 96 + v4Bits : v6Bits;
    for (int bit = bits; bit < 128; ++bit)
        v6.s6_addr[bit / 8] &= uint8_t(~(0x80u >> (bit % 8)));
    char text[INET6_ADDRSTRLEN];
    if (v4) {
        in_addr plain{};
        std::memcpy(&plain, v6.s6_addr + 12, sizeof plain);
        if (!::inet_ntop(AF_INET, &plain, text, sizeof text))
            return address;
        return v4Bits == 32 ? std::string(text) : std::string(text) + "/" + std::to_string(v4Bits);
    }
    return ::inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::string(text) + "/" + std::to_string(v6Bits) : address;
}
} // namespace

namespace AddressGroup {

std::string of(const std::string& address) { return prefix(address, 32, 64); }

std::string neighbourhood(const std::string& address) { return prefix(address, 24, 48); }

} // namespace AddressGroup
