#pragma once
// The computer's own IPv4 interfaces.
#include <string>
#include <vector>

// Every IPv4 interface that is up, as dotted address and dotted netmask at the same
// index. False (and both lists empty) when the interface list cannot be read.
bool LocalInterfaces(std::vector<std::string>& addresses, std::vector<std::string>& masks);
