#pragma once
// IPv4 addresses and e-mail addresses as text, and the host names and addresses found in
// a line of text (drawn as links in trace reports).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TIPv4Bytes = std::array<std::uint8_t, 4>;

// The four "."-separated fields of the trimmed text as bytes; a missing, non-numeric or
// out-of-range field reads as 0.
TIPv4Bytes ParseIPv4(std::string_view text);
std::string FormatIPv4(const TIPv4Bytes& address);
// True when the first four "."-separated fields of the trimmed text are numbers 0..255.
bool IsValidIPv4(std::string_view text);

struct THostLink {
  std::string Text;  // as found, without surrounding dots
  int Start;         // 1-based position in the line
  int Length;
};

// Appends a link for each IPv4 address (not a netmask, not 0.0.0.0) and each host name
// with two or more dots, or one dot and a ".com", ".net", ".org" or ".edu" ending, in the
// line; returns whether it appended any.
bool FindHostsInText(std::string_view text, std::vector<THostLink>& links);

// A plain address, or a display name followed by the address in angle brackets.
bool IsValidEmailAddress(std::string_view text);
