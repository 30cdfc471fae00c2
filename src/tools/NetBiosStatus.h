#pragma once
// "NetBIOS Status": the node status of a computer as Samba's nmblookup asks it
// (samba-common-bin), its lines laid out as the page shows them.
#include <string>
#include <vector>

// Each tab, at 1-based position p, becomes 8 - (p mod 8) spaces, until none is left.
std::string ExpandNetBiosTabs(std::string line);
// Runs "nmblookup -A address" (bounded in time and lines); blocks. One line saying why
// when the command cannot be started.
std::vector<std::string> NetBiosStatusLines(const std::string& dottedAddress);
