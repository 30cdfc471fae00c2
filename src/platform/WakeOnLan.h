#pragma once
// Wake-on-LAN: the magic packet (six 0xFF bytes, then the MAC address sixteen times)
// sent as one UDP datagram.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

using TMacAddress = std::array<std::uint8_t, 6>;

// The six bytes of a MAC address text read as two hex digits at positions 1, 4, 7, 10,
// 13 and 16 (any separators between them); none when a digit is missing or not hex.
std::optional<TMacAddress> ParseMacAddress(const std::string& text);

// The 102 bytes of the magic packet for the address.
std::string MagicPacket(const TMacAddress& mac);

// The wake-up goes to every computer of the local network, on the echo port.
constexpr const char* WakeOnLanAddress = "255.255.255.255";
constexpr std::uint16_t WakeOnLanPort = 7;

// Sends the magic packet sends times to the dotted IPv4 address and UDP port (broadcast
// allowed), as a datagram may be lost. True when at least one left; otherwise false with
// errorText and the last socket error in errorCode (a Winsock code).
bool SendWakeOnLan(const TMacAddress& mac, const std::string& address, std::uint16_t port, std::string& errorText,
                   int sends = 4, int* errorCode = nullptr);
