#pragma once

#include <string>

// The unit a client address is counted in by the service's caps and throttles: an IPv4 address as it
// is (also when it arrives IPv4-mapped), an IPv6 address by its /64, which one machine or home is
// usually handed whole, whatever interface zone it names. Anything unreadable counts as itself.
namespace AddressGroup {

std::string of(const std::string& address);
// The network around it, an IPv4 /24 or an IPv6 /48: where one guesser's rotating addresses usually lie.
std::string neighbourhood(const std::string& address);

} // namespace AddressGroup
