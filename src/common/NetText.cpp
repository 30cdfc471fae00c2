#include "common/NetText.h"

#include <algorithm>

#include "common/CharSet.h"
#include "common/Fields.h"
#include "common/TextUtils.h"

namespace {

// The value of a field of decimal digits, or -1 when it is empty, holds anything else
// or exceeds 255. Long digit runs saturate instead of overflowing.
int ByteField(std::string_view field) {
  if (field.empty()) return -1;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return -1;
    value = std::min(value * 10 + (c - '0'), 1000);
  }
  return value <= 255 ? value : -1;
}

// The first four "."-separated fields as ByteField values; a field that is not there
// reads as -1.
std::array<int, 4> AddressFields(std::string_view text) {
  std::array<int, 4> fields{-1, -1, -1, -1};
  size_t from = 0;
  for (int& field : fields) {
    if (from > text.size()) break;
    size_t dot = text.find('.', from);
    if (dot == std::string_view::npos) dot = text.size();
    field = ByteField(text.substr(from, dot - from));
    from = dot + 1;
  }
  return fields;
}

std::string TrimmedAddress(std::string_view text) { return TrimChars(text, CharRange(0, ' '), 0, TrimModeBoth); }

TCharSet AlphaNumeric() { return CharRange('0', '9') | CharRange('A', 'Z') | CharRange('a', 'z'); }

bool AllIn(std::string_view text, const TCharSet& set) {
  return std::all_of(text.begin(), text.end(), [&](char c) { return InSet(set, c); });
}

// A dotted quad whose bits are a run of ones followed only by zeros.
bool IsNetmask(const std::array<int, 4>& fields) {
  std::uint32_t bits = 0;
  for (int f : fields) bits = bits << 8 | static_cast<std::uint32_t>(f);
  std::uint32_t hostPart = ~bits;
  return (hostPart & (hostPart + 1)) == 0;
}

// Whether a token with its surrounding dots removed reads as a host worth a link. Dots
// next to another dot do not count.
bool IsHostLink(std::string_view token) {
  int dots = 0;
  for (size_t i = 0; i < token.size(); ++i)
    if (token[i] == '.' && (i == 0 || token[i - 1] != '.') && (i + 1 == token.size() || token[i + 1] != '.'))
      ++dots;
  if (AllIn(token, CharRange('0', '9') | CharsOf("."))) {
    if (dots != 3) return false;
    std::array<int, 4> fields = AddressFields(token);
    bool valid = std::count(token.begin(), token.end(), '.') == 3 &&
                 std::all_of(fields.begin(), fields.end(), [](int f) { return f >= 0; });
    // All zeros counts as the empty netmask, so "0.0.0.0" is never a link either.
    return valid && !IsNetmask(fields);
  }
  if (dots >= 2) return true;
  if (dots != 1 || token.size() < 4) return false;
  for (std::string_view ending : {".com", ".net", ".org", ".edu"})
    if (CompareTextRange(token, static_cast<int>(token.size()) - 3, 4, ending, 1, 4) == 0) return true;
  return false;
}

}  // namespace

TIPv4Bytes ParseIPv4(std::string_view text) {
  TIPv4Bytes bytes{};
  std::array<int, 4> fields = AddressFields(TrimmedAddress(text));
  for (size_t i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(std::max(fields[i], 0));
  return bytes;
}

std::string FormatIPv4(const TIPv4Bytes& address) {
  std::string out;
  out.reserve(15);
  for (size_t i = 0; i < 4; ++i) {
    if (i > 0) out.push_back('.');
    out.append(std::to_string(address[i]));
  }
  return out;
}

bool IsValidIPv4(std::string_view text) {
  std::array<int, 4> fields = AddressFields(TrimmedAddress(text));
  return std::all_of(fields.begin(), fields.end(), [](int f) { return f >= 0; });
}

bool FindHostsInText(std::string_view text, std::vector<THostLink>& links) {
  const TCharSet hostChars = AlphaNumeric() | CharsOf("-.");
  bool found = false;
  size_t tokenStart = 0;
  // The position just past the end stands for a closing separator.
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && InSet(hostChars, text[i])) continue;
    std::string_view token = text.substr(tokenStart, i - tokenStart);
    size_t lead = token.find_first_not_of('.');
    if (lead != std::string_view::npos) {
      token = token.substr(lead, token.find_last_not_of('.') - lead + 1);
      if (IsHostLink(token)) {
        links.push_back({std::string(token), static_cast<int>(tokenStart + lead + 1), static_cast<int>(token.size())});
        found = true;
      }
    }
    tokenStart = i + 1;
  }
  return found;
}

bool IsValidEmailAddress(std::string_view text) {
  std::string address(text);
  if (text.ends_with('>')) address = TextBetween(text, "<", ">", 0, 1, 1);
  size_t at = address.find('@');
  if (at == std::string::npos || at == 0) return false;
  std::string_view local = std::string_view(address).substr(0, at);
  std::string_view domain = std::string_view(address).substr(at + 1);

  TCharSet localChars = AlphaNumeric() | CharsOf("+-._");
  if (local.front() == '"') {
    // A quoted local part must be closed and hold something.
    if (local.size() < 3 || local.back() != '"') return false;
    local = local.substr(1, local.size() - 2);
    localChars |= CharsOf(" ");
  }
  if (!AllIn(local, localChars)) return false;

  if (!AllIn(domain, AlphaNumeric() | CharsOf("-.")) || domain.find('.') == std::string_view::npos) return false;
  // Every label must hold something: "a@.com" or "a@b..com" cannot be delivered.
  if (domain.front() == '.' || domain.back() == '.' || domain.find("..") != std::string_view::npos) return false;
  size_t lastLabel = domain.size() - domain.rfind('.') - 1;
  return lastLabel >= 2 && lastLabel <= 4;
}
