#pragma once
// A set of single-byte characters, indexed by byte value.
#include <bitset>
#include <string_view>

using TCharSet = std::bitset<256>;

// The characters from lo to hi inclusive.
inline TCharSet CharRange(unsigned char lo, unsigned char hi) {
  TCharSet s;
  for (unsigned c = lo; c <= hi; ++c) s.set(c);
  return s;
}

// Each character of the text.
inline TCharSet CharsOf(std::string_view chars) {
  TCharSet s;
  for (unsigned char c : chars) s.set(c);
  return s;
}

inline bool InSet(const TCharSet& s, char c) { return s.test(static_cast<unsigned char>(c)); }
