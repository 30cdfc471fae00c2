#pragma once
// Classification of a host address against this computer's own IPv4 interfaces.
// Each function resolves the address first (a dotted address is taken as it is) and
// answers false when it cannot be resolved or the interface list cannot be read.
// The overloads with interface lists take the addresses and netmasks (dotted texts,
// matching order) instead of asking the system, for callers that hold them already.
#include <functional>
#include <string>
#include <vector>

class THost;

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

// Sets the local-subnet flag of each host, asking once per distinct address; names (not
// dotted addresses) are looked up several at a time, as each may wait for a name server.
// localSubnet none: OnLocalSubnet against the interface list, read once.
void SetLocalSubnetFlags(const std::vector<THost*>& hosts,
                         const std::function<bool(const std::string& address)>& localSubnet = {});
