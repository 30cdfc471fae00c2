#include "common/Base64.h"

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Collects six bits per character and emits every completed byte; a partial byte at
// the end is dropped.
class TBitCollector {
public:
  void Add(int value, std::string& out) {
    FBits = (FBits << 6) | static_cast<unsigned>(value);
    FCount += 6;
    if (FCount >= 8) {
      FCount -= 8;
      out += static_cast<char>((FBits >> FCount) & 0xFF);
    }
  }

private:
  unsigned FBits = 0;
  int FCount = 0;
};

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k)
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) text += k <= n ? Alphabet[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return text;
}

std::string Base64Decode(std::string_view text) {
  std::string out;
  TBitCollector bits;
  for (char c : text) {
    const int value = ValueOf(c);
    if (value >= 0) bits.Add(value, out);
  }
  return out;
}

std::optional<std::string> Base64DecodeStrict(std::string_view text) {
  std::string out;
  TBitCollector bits;
  for (char c : text) {
    const int value = c == '=' ? 0 : ValueOf(c);
    if (value < 0) return std::nullopt;
    bits.Add(value, out);
  }
  return out;
}
