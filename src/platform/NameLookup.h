#pragma once
// IPv4 name lookup, the one every part uses: a host name or dotted address to an IPv4
// address, and an address back to its registered name.
#include <cstdint>
#include <string>

// A dotted address is used directly; a name is looked up and its first IPv4 address
// taken. dotted gets the address's four octets. False, with dotted empty, when the name
// does not resolve or the result would be 0.0.0.0 or 255.255.255.255.
bool Resolve(const std::string& name, std::string& dotted);

// The same for the test workers, which report the last error: address also gets the
// result in network byte order (0 on failure), and a failure sets the calling thread's
// last error to 11001 (host not found).
bool Resolve(const std::string& name, std::uint32_t& address, std::string& dotted);

// The host name registered for a dotted IPv4 address; empty when there is none or the
// text is not a dotted address.
std::string ReverseName(const std::string& dottedAddress);

// Resolve and ReverseName together; false, with both texts empty, when the name does
// not resolve.
bool Lookup(const std::string& name, std::string& dotted, std::string& reverse);
