#pragma once
// The address range of "Ping Range": from/to boxes or an address with a prefix length.
#include <cstdint>
#include <string>
#include <vector>

// Largest range pinged without asking first.
constexpr std::uint32_t RangeConfirmLimit = 256;

// The From box holds an address, "/" and a prefix length from 8 to 29.
bool IsPrefixRange(const std::string& from);
// "Ping Range" may start: a prefix range in From, or valid addresses in both boxes.
bool RangeInputValid(const std::string& from, const std::string& to);
// A prefix range becomes the first and last host address of its network (the network
// address + 1, the broadcast address - 1 in the last byte); false for anything else.
bool ExpandPrefixRange(const std::string& from, std::string& first, std::string& last);
// First byte most significant.
std::uint32_t AddressNumber(const std::string& dotted);
std::string NumberAddress(std::uint32_t number);
// Addresses from first to last, as an unsigned count (0 when last is below first).
std::uint32_t RangeCount(const std::string& first, const std::string& last);
bool RangeNeedsConfirmation(const std::string& first, const std::string& last);
std::string RangeConfirmationText(const std::string& first, const std::string& last);
// The addresses of the range in order (none when last is below first).
std::vector<std::string> RangeAddresses(const std::string& first, const std::string& last);
