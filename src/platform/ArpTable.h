#pragma once
// MAC addresses of neighbours from the kernel's neighbour table, the stand-in for the
// system's SendARP.
#include <array>
#include <cstdint>
#include <string>

using TMacAddress = std::array<std::uint8_t, 6>;

// The MAC address of the host at address (a dotted address or a name, resolved first),
// read in the calling thread's network namespace. When the table has no complete entry
// and the address is on the subnet of one of this computer's interfaces, one UDP
// datagram to its discard port makes the kernel ask for it, and the table is read again
// for up to a second. All zero when the address does not resolve, is not a neighbour
// or does not answer.
TMacAddress ArpLookup(const std::string& address);

// "AA:BB:CC:DD:EE:FF", upper-case; "00:00:00:00:00:00" for an unknown address.
std::string MacText(const TMacAddress& mac);
