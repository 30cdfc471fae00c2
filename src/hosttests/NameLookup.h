#pragma once
// The name lookup every test uses: a host name or dotted address to an IPv4 address,
// and an address back to its registered name.
#include <cstdint>
#include <string>

// A dotted address is used directly; a name is looked up and its first IPv4 address
// taken. address gets the result in network byte order and dotted its four octets.
// False when the result would be 0.0.0.0 or 255.255.255.255: address is then 0, dotted
// empty and the calling thread's last error 11001 (host not found).
bool Resolve(const std::string& name, std::uint32_t& address, std::string& dotted);

// The host name registered for a dotted IPv4 address; empty when there is none or the
// text is not a dotted address.
std::string ReverseName(const std::string& dottedAddress);

// Resolve and ReverseName together; false, with both texts empty, when the name does
// not resolve.
bool Lookup(const std::string& name, std::string& dotted, std::string& reverse);
