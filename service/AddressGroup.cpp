#include "AddressGroup.h"

#include <arpa/inet.h>
#include <cstring>

namespace AddressGroup {

std::string of(const std::string& address)
{
    // A link-local address comes with the interface it arrived on ("fe80::1%eth0"); the zone is no part
    // of the address.
    const std::string bare = address.substr(0, address.find('%'));
    in6_addr v6{};
    if (::inet_pton(AF_INET6, bare.c_str(), &v6) != 1)
        return address;
    char text[INET6_ADDRSTRLEN];
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        in_addr v4{};
        std::memcpy(&v4, v6.s6_addr + 12, sizeof v4);
        return ::inet_ntop(AF_INET, &v4, text, sizeof text) ? std::string(text) : address;
    }
    std::memset(v6.s6_addr + 8, 0, 8);
    return ::inet_ntop(AF_INET6, &v6, text, sizeof text) ? std::string(text) + "/64" : address;
}

} // namespace AddressGroup
