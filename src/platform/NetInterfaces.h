#pragma once
// The computer's own IPv4 interfaces and IPv4 name lookup.
#include <string>
#include <vector>

// Every IPv4 interface that is up, as dotted address and dotted netmask at the same
// index. False (and both lists empty) when the interface list cannot be read.
bool LocalInterfaces(std::vector<std::string>& addresses, std::vector<std::string>& masks);

// A dotted IPv4 address is taken as it is; anything else is looked up and its first
// IPv4 address taken. 0.0.0.0 and 255.255.255.255 count as not resolved: false, and
// address is left empty.
bool ResolveIPv4(const std::string& name, std::string& address);
