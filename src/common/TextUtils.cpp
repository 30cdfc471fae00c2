#include "common/TextUtils.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

unsigned char LowerAscii(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
}

unsigned char UpperAscii(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 32) : u;
}

unsigned char Fold(char c, bool caseSensitive) {
  return caseSensitive ? static_cast<unsigned char>(c) : LowerAscii(c);
}

bool MatchesAt(std::string_view text, size_t at, std::string_view pattern, bool caseSensitive) {
  if (at > text.size() || pattern.size() > text.size() - at) return false;
  for (size_t k = 0; k < pattern.size(); ++k)
    if (Fold(text[at + k], caseSensitive) != Fold(pattern[k], caseSensitive)) return false;
  return true;
}

// The 0-based offset a search starts at, or false when the pattern cannot fit there.
bool SearchStart(std::string_view pattern, std::string_view text, int start, size_t& from) {
  if (pattern.empty()) return false;
  from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  return from <= text.size() && pattern.size() <= text.size() - from;
}

// The range start..start+length-1 of text, cut to what exists.
std::string_view TextRange(std::string_view text, int start, int length) {
  size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  if (from >= text.size()) return {};
  size_t rest = text.size() - from;
  size_t n = length < 0 ? rest : std::min(static_cast<size_t>(length), rest);
  return text.substr(from, n);
}

}  // namespace

std::string TextLeft(std::string_view text, int n) {
  if (n <= 0) return {};
  return std::string(text.substr(0, static_cast<size_t>(n)));
}

std::string TextRight(std::string_view text, int n) {
  if (n <= 0) return {};
  size_t k = std::min(static_cast<size_t>(n), text.size());
  return std::string(text.substr(text.size() - k));
}

std::string TextDropRight(std::string_view text, int n) {
  if (n <= 0) return std::string(text);
  if (static_cast<size_t>(n) >= text.size()) return {};
  return std::string(text.substr(0, text.size() - static_cast<size_t>(n)));
}

std::string TextFrom(std::string_view text, int position) {
  return std::string(TextRange(text, position, -1));
}

std::string PickText(int index, std::initializer_list<std::string_view> texts) {
  if (index < 1 || static_cast<size_t>(index) > texts.size()) return {};
  return std::string(texts.begin()[index - 1]);
}

std::string PickText(int index, const std::vector<std::string>& texts) {
  if (index < 1 || static_cast<size_t>(index) > texts.size()) return {};
  return texts[static_cast<size_t>(index) - 1];
}

std::string IfThen(bool flag, std::string_view a, std::string_view b) { return std::string(flag ? a : b); }
int IfThen(bool flag, int a, int b) { return flag ? a : b; }
double IfThen(bool flag, double a, double b) { return flag ? a : b; }

std::string RepeatText(int n, std::string_view text) {
  std::string out;
  if (n <= 0 || text.empty()) return out;
  if (text.size() > out.max_size() / static_cast<size_t>(n)) return out;
  out.reserve(text.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out.append(text);
  return out;
}

std::string TrimTrailingSpaces(std::string_view text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
}

std::string EnsureSuffix(std::string_view text, std::string_view suffix, bool emptyStaysEmpty) {
  if (text.empty() && emptyStaysEmpty) return {};
  std::string out(text);
  if (!text.ends_with(suffix)) out.append(suffix);
  return out;
}

std::string EnsurePrefix(std::string_view text, std::string_view prefix, bool emptyStaysEmpty) {
  if (text.empty() && emptyStaysEmpty) return {};
  if (text.starts_with(prefix)) return std::string(text);
  std::string out;
  out.reserve(prefix.size() + text.size());
  out.append(prefix).append(text);
  return out;
}

int FindTextPlain(std::string_view pattern, std::string_view text, int start, bool caseSensitive) {
  size_t from;
  if (!SearchStart(pattern, text, start, from)) return 0;
  const size_t last = text.size() - pattern.size();
  for (size_t i = from; i <= last; ++i)
    if (MatchesAt(text, i, pattern, caseSensitive)) return static_cast<int>(i + 1);
  return 0;
}

int FindTextSkipTable(std::string_view pattern, std::string_view text, int start, bool caseSensitive) {
  size_t from;
  if (!SearchStart(pattern, text, start, from)) return 0;
  const size_t m = pattern.size();
  // The window's last character decides the shift: how far its folded value sits from
  // the pattern's end, or the whole pattern length when it is not in the pattern.
  std::array<size_t, 256> skip;
  skip.fill(m);
  for (size_t k = 0; k + 1 < m; ++k) skip[Fold(pattern[k], caseSensitive)] = m - 1 - k;
  const size_t last = text.size() - m;
  for (size_t i = from; i <= last;) {
    size_t j = m - 1;
    while (Fold(text[i + j], caseSensitive) == Fold(pattern[j], caseSensitive)) {
      if (j == 0) return static_cast<int>(i + 1);
      --j;
    }
    i += skip[Fold(text[i + m - 1], caseSensitive)];
  }
  return 0;
}

// Patterns that begin with a character without case ("%name%", "<tag>") are the common
// ones over whole web pages: memchr jumps from one such character to the next, and the
// second character is compared before the rest, since "<" begins every tag of a page.
int FindTextByFirstChar(std::string_view pattern, std::string_view text, int start, bool caseSensitive) {
  size_t from;
  if (!SearchStart(pattern, text, start, from)) return 0;
  const size_t last = text.size() - pattern.size();
  const unsigned char second = pattern.size() > 1 ? Fold(pattern[1], caseSensitive) : 0;
  for (size_t i = from; i <= last; ++i) {
    const void* hit = std::memchr(text.data() + i, pattern[0], last - i + 1);
    if (!hit) return 0;
    i = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    if (pattern.size() > 1 && Fold(text[i + 1], caseSensitive) != second) continue;
    if (MatchesAt(text, i, pattern, caseSensitive)) return static_cast<int>(i + 1);
  }
  return 0;
}

namespace {

bool HasCase(char c) { return LowerAscii(c) != UpperAscii(c); }

bool IsAlnum(char c) {
  const unsigned char u = LowerAscii(c);
  return (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9');
}

}  // namespace

std::vector<std::string> PercentNames(std::string_view text) {
  std::vector<std::string> names;
  for (size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
    size_t end = at + 1;
    while (end < text.size() && IsAlnum(text[end])) ++end;
    if (end == at + 1 || end >= text.size() || text[end] != '%') continue;
    std::string name(text.substr(at, end - at + 1));
    for (char& c : name) c = static_cast<char>(LowerAscii(c));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  return names;
}

int FindText(std::string_view pattern, std::string_view text, int start, bool caseSensitive) {
  if (!pattern.empty() && (caseSensitive || !HasCase(pattern[0])))
    return FindTextByFirstChar(pattern, text, start, caseSensitive);
  if (pattern.size() > 2 && text.size() > 254) return FindTextSkipTable(pattern, text, start, caseSensitive);
  return FindTextPlain(pattern, text, start, caseSensitive);
}

int FindLast(std::string_view text, std::string_view pattern, int start) {
  if (pattern.empty() || pattern.size() > text.size()) return 0;
  size_t maxBegin = text.size() - pattern.size();
  if (start > 0) maxBegin = std::min(maxBegin, static_cast<size_t>(start) - 1);
  size_t at = text.rfind(pattern, maxBegin);
  return at == std::string_view::npos ? 0 : static_cast<int>(at + 1);
}

std::string ReplaceAll(std::string_view pattern, std::string_view replacement, std::string_view text,
                       bool ignoreCase) {
  if (pattern.empty()) return std::string(text);
  // Searching a lower-cased copy for the pattern as given finds nothing when the pattern
  // has capitals, and otherwise what a search without regard to case finds.
  if (!ignoreCase && std::any_of(pattern.begin(), pattern.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
    return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (int found = FindText(pattern, text, static_cast<int>(pos) + 1, false)) {
    size_t at = static_cast<size_t>(found) - 1;
    out.append(text.substr(pos, at - pos)).append(replacement);
    pos = at + pattern.size();
  }
  out.append(text.substr(pos));
  return out;
}

int CountOutsideQuotes(std::string_view text, std::string_view pattern, char quote, bool caseSensitive,
                       int valueForEmpty) {
  if (text.empty()) return valueForEmpty;
  if (pattern.empty()) return 0;
  const bool quoting = quote != '\0';
  const bool patternFlipsQuote = quoting && std::count(pattern.begin(), pattern.end(), quote) % 2 == 1;
  bool inside = false;
  int count = 0;
  if (pattern.size() == 1) {
    // One character, as the file readers count fields: no match can span a quote.
    const unsigned char wanted = Fold(pattern[0], caseSensitive);
    for (const char c : text) {
      if (quoting && c == quote) inside = !inside;
      else if (!inside && Fold(c, caseSensitive) == wanted) ++count;
    }
    return count;
  }
  size_t i = 0;
  while (i < text.size()) {
    if (quoting && text[i] == quote) {
      inside = !inside;
      ++i;
    } else if (!inside && MatchesAt(text, i, pattern, caseSensitive)) {
      ++count;
      if (patternFlipsQuote) inside = !inside;
      i += pattern.size();
    } else {
      ++i;
    }
  }
  return count;
}

int CompareTextRange(std::string_view a, int startA, int lengthA, std::string_view b, int startB, int lengthB) {
  std::string_view x = TextRange(a, startA, lengthA);
  std::string_view y = TextRange(b, startB, lengthB);
  size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char cx = LowerAscii(x[i]), cy = LowerAscii(y[i]);
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  if (x.size() == y.size()) return 0;
  return x.size() < y.size() ? -1 : 1;
}

std::string FilterChars(std::string_view text, const TCharSet& keep, bool upperCaseFirst, bool collapse,
                        std::string_view replacement) {
  std::string out;
  out.reserve(text.size());
  bool inRun = false;
  for (char c : text) {
    if (upperCaseFirst) c = static_cast<char>(UpperAscii(c));
    if (InSet(keep, c)) {
      out.push_back(c);
      inRun = false;
    } else {
      if (!collapse || !inRun) out.append(replacement);
      inRun = true;
    }
  }
  return out;
}

std::string TrimChars(std::string_view text, const TCharSet& chars, int minLength, int mode) {
  if (mode != TrimModeLeft && mode != TrimModeRight && mode != TrimModeBoth) return std::string(text);
  const size_t keep = minLength < 0 ? 0 : static_cast<size_t>(minLength);
  size_t begin = 0, end = text.size();
  if (mode != TrimModeRight)
    while (end - begin > keep && InSet(chars, text[begin])) ++begin;
  if (mode != TrimModeLeft)
    while (end - begin > keep && InSet(chars, text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string TrimChars(std::string_view text, std::string_view chars, int minLength, int mode) {
  return TrimChars(text, CharsOf(chars), minLength, mode);
}

TColor ColorToRGB(TColor color) {
  if ((color & SystemColorFlag) == 0) return color;
  // The classic desktop scheme, by system colour index.
  static constexpr std::array<TColor, 31> Defaults = {
      RGBToColor(212, 208, 200), RGBToColor(58, 110, 165),  RGBToColor(10, 36, 106),   // scroll bar, desktop, active caption
      RGBToColor(128, 128, 128), RGBToColor(212, 208, 200), RGBToColor(255, 255, 255), // inactive caption, menu, window
      RGBToColor(0, 0, 0),       RGBToColor(0, 0, 0),       RGBToColor(0, 0, 0),       // window frame, menu text, window text
      RGBToColor(255, 255, 255), RGBToColor(212, 208, 200), RGBToColor(212, 208, 200), // caption text, borders
      RGBToColor(128, 128, 128), RGBToColor(10, 36, 106),   RGBToColor(255, 255, 255), // app workspace, highlight, its text
      RGBToColor(212, 208, 200), RGBToColor(128, 128, 128), RGBToColor(128, 128, 128), // button face, shadow, grey text
      RGBToColor(0, 0, 0),       RGBToColor(212, 208, 200), RGBToColor(255, 255, 255), // button text, inactive caption text, highlight
      RGBToColor(64, 64, 64),    RGBToColor(212, 208, 200), RGBToColor(0, 0, 0),       // dark shadow, 3-D light, info text
      RGBToColor(255, 255, 225), RGBToColor(181, 181, 181), RGBToColor(0, 0, 128),     // info background, unused, hot light
      RGBToColor(166, 202, 240), RGBToColor(192, 192, 192), RGBToColor(10, 36, 106),   // caption gradients, menu highlight
      RGBToColor(212, 208, 200)};                                                      // menu bar
  size_t index = color & 0xFF;
  return index < Defaults.size() ? Defaults[index] : 0;
}

TColor BlendColor(TColor color1, TColor color2, int mode, double fraction) {
  if (std::isnan(fraction)) fraction = 0;
  fraction = std::clamp(fraction, 0.0, 1.0);
  const TColor c1 = ColorToRGB(color1), c2 = ColorToRGB(color2);
  switch (mode) {
    case BlendModeBlack: return 0;
    case BlendModeStep: return fraction < 0.5 ? c1 : c2;
    case BlendModeFirst: return c1;
    case BlendModeSecond: return c2;
    default: break;
  }
  TColor out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    double a = (c1 >> shift) & 0xFF, b = (c2 >> shift) & 0xFF;
    // a + f * (b - a) equals (1 - f) * a + f * b but stays exact when a equals b.
    out |= static_cast<TColor>(a + fraction * (b - a)) << shift;
  }
  return out;
}

namespace {

struct TQuickSort {
  std::vector<std::string>& List;
  const TListCompare& Compare;
  const TListSwap& Swap;

  void Exchange(int i, int j) {
    if (Swap)
      Swap(List, i, j);
    else
      std::swap(List[static_cast<size_t>(i)], List[static_cast<size_t>(j)]);
  }

  // Hoare partitioning around a pivot tracked by index through the exchanges; the bound
  // checks keep an inconsistent comparison from walking off the range. The smaller side
  // recurses and the larger one loops, so the depth stays logarithmic.
  void Sort(int l, int r) {
    while (l < r) {
      int i = l, j = r, p = l + (r - l) / 2;
      do {
        while (i < r && Compare(List, i, p) < 0) ++i;
        while (j > l && Compare(List, j, p) > 0) --j;
        if (i <= j) {
          if (i != j) {
            Exchange(i, j);
            if (p == i)
              p = j;
            else if (p == j)
              p = i;
          }
          ++i;
          --j;
        }
      } while (i <= j);
      if (j - l < r - i) {
        Sort(l, j);
        l = i;
      } else {
        Sort(i, r);
        r = j;
      }
    }
  }
};

}  // namespace

void SortStringList(std::vector<std::string>& list, int low, int high, const TListCompare& compare,
                    const TListSwap& swap) {
  if (!compare || list.empty()) return;
  low = std::max(low, 0);
  high = static_cast<int>(std::min(static_cast<size_t>(std::max(high, 0)), list.size() - 1));
  if (low >= high) return;
  TQuickSort{list, compare, swap}.Sort(low, high);
}
