#include "tools/RangePing.h"

#include <charconv>

#include "common/NetText.h"

namespace {
bool SplitPrefix(const std::string& from, std::string& address, int& prefix) {
  const std::size_t slash = from.find('/');
  if (slash == std::string::npos) return false;
  address = from.substr(0, slash);
  const std::string length = from.substr(slash + 1);
  const char* end = length.data() + length.size();
  const auto parsed = std::from_chars(length.data(), end, prefix);
  return !length.empty() && parsed.ec == std::errc() && parsed.ptr == end && IsValidIPv4(address);
}
}  // namespace

bool IsPrefixRange(const std::string& from) {
  std::string address;
  int prefix = 0;
  return SplitPrefix(from, address, prefix) && prefix >= 8 && prefix <= 29;
}

bool RangeInputValid(const std::string& from, const std::string& to) {
  return IsPrefixRange(from) || (from.find('/') == std::string::npos && IsValidIPv4(from) && IsValidIPv4(to));
}

bool ExpandPrefixRange(const std::string& from, std::string& first, std::string& last) {
  std::string address;
  int prefix = 0;
  if (!IsPrefixRange(from) || !SplitPrefix(from, address, prefix)) return false;
  const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
  const std::uint32_t number = AddressNumber(address);
  first = NumberAddress((number & mask) + 1);
  last = NumberAddress((number | ~mask) - 1);
  return true;
}

std::uint32_t AddressNumber(const std::string& dotted) {
  const TIPv4Bytes b = ParseIPv4(dotted);
  return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

std::string NumberAddress(std::uint32_t number) {
  return FormatIPv4({static_cast<std::uint8_t>(number >> 24), static_cast<std::uint8_t>(number >> 16),
                     static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)});
}

std::uint32_t RangeCount(const std::string& first, const std::string& last) {
  const std::uint32_t from = AddressNumber(first), to = AddressNumber(last);
  return to < from ? 0 : to - from + 1;
}

bool RangeNeedsConfirmation(const std::string& first, const std::string& last) {
  // A whole address space wraps to 0 as a count: that is the largest range of all.
  const std::uint32_t from = AddressNumber(first), to = AddressNumber(last);
  return to >= from && (to - from >= RangeConfirmLimit);
}

std::string RangeConfirmationText(const std::string& first, const std::string& last) {
  const std::uint64_t count = std::uint64_t{AddressNumber(last)} - AddressNumber(first) + 1;
  return "The network range you have selected contains " + std::to_string(count) +
         " hosts.  This could take a long time to process.  Would you like to ping this range of hosts anyway?";
}

std::vector<std::string> RangeAddresses(const std::string& first, const std::string& last) {
  std::vector<std::string> addresses;
  const std::uint32_t from = AddressNumber(first), to = AddressNumber(last);
  if (to < from) return addresses;
  addresses.reserve(to - from + 1);
  for (std::uint64_t n = from; n <= to; ++n) addresses.push_back(NumberAddress(static_cast<std::uint32_t>(n)));
  return addresses;
}
