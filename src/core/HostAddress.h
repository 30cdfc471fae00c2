#pragma once
// Classification of a host address against this computer's own IPv4 interfaces.
// Each function resolves the address first (a dotted address is taken as it is) and
// answers false when it cannot be resolved or the interface list cannot be read.
// The overloads with interface lists take the addresses and netmasks (dotted texts,
// matching order) instead of asking the system, for callers that hold them already.
#include <string>
#include <vector>

bool OnLocalSubnet(const std::string& address);
bool OnLocalSubnet(const std::string& address, const std::vector<std::string>& addresses,
                   const std::vector<std::string>& masks);

// The address is the directed broadcast address of an interface whose mask leaves
// host bits in the last octet.
bool IsBroadcastAddress(const std::string& address);
bool IsBroadcastAddress(const std::string& address, const std::vector<std::string>& addresses,
                        const std::vector<std::string>& masks);

// The address is one of this computer's own interface addresses.
bool IsLocalAddress(const std::string& address);
bool IsLocalAddress(const std::string& address, const std::vector<std::string>& addresses);
