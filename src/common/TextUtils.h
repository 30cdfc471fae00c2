#pragma once
// Slicing, searching, filtering and small choosing helpers for single-byte text.
// Positions are 1-based; lengths are in bytes. Nothing here throws or keeps state.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/CharSet.h"

// --- Slicing and choosing ---------------------------------------------------------

// The first n characters (the whole text when shorter; empty for n <= 0).
std::string TextLeft(std::string_view text, int n);
// The last n characters (the whole text when shorter; empty for n <= 0).
std::string TextRight(std::string_view text, int n);
// The text without its last n characters; empty when n is not less than the length.
std::string TextDropRight(std::string_view text, int n);
// The characters from position to the end; a position below 1 counts as 1.
std::string TextFrom(std::string_view text, int position);

// The index-th text (1-based); empty when index is below 1 or beyond the list.
std::string PickText(int index, std::initializer_list<std::string_view> texts);
std::string PickText(int index, const std::vector<std::string>& texts);

std::string IfThen(bool flag, std::string_view a, std::string_view b);
int IfThen(bool flag, int a, int b);
double IfThen(bool flag, double a, double b);

// The text n times; empty for n <= 0.
std::string RepeatText(int n, std::string_view text);
// Removes trailing blanks (the blank character only, not tabs or line breaks).
std::string TrimTrailingSpaces(std::string_view text);
// The text with the suffix (prefix) added unless it already ends (begins) with it;
// with emptyStaysEmpty an empty text stays empty.
std::string EnsureSuffix(std::string_view text, std::string_view suffix, bool emptyStaysEmpty = false);
std::string EnsurePrefix(std::string_view text, std::string_view prefix, bool emptyStaysEmpty = false);

// --- Searching and replacing ------------------------------------------------------

// Position of the first occurrence of pattern at or after start, 0 when none (an empty
// pattern is never found). Without caseSensitive only A-Z/a-z compare equal. A pattern
// that begins with a character without case jumps between that character's occurrences;
// other long searches (pattern over 2, text over 254 characters) use a skip table.
int FindText(std::string_view pattern, std::string_view text, int start = 1, bool caseSensitive = true);
// The search paths FindText chooses between; all give the same answer for any input,
// which the tests check.
int FindTextPlain(std::string_view pattern, std::string_view text, int start, bool caseSensitive);
int FindTextSkipTable(std::string_view pattern, std::string_view text, int start, bool caseSensitive);
int FindTextByFirstChar(std::string_view pattern, std::string_view text, int start, bool caseSensitive);

// The "%word%" names (letters and digits between two "%") the text holds, in lower case,
// each once, in the order of their first appearance; "%a%b%" holds "%a%" and "%b%".
std::vector<std::string> PercentNames(std::string_view text);

// Position of the last occurrence that begins at or before start (0 or less: from the
// end), case-sensitive; 0 when none.
int FindLast(std::string_view text, std::string_view pattern, int start = 0);

// Replaces every occurrence, left to right, never searching inserted text again. The
// search runs over a copy of the text with A-Z lower-cased: with ignoreCase the
// pattern is lower-cased too; without it the pattern is compared as given, so a
// lower-case pattern matches either case and one with capitals matches nothing.
std::string ReplaceAll(std::string_view pattern, std::string_view replacement, std::string_view text,
                       bool ignoreCase);

// Non-overlapping occurrences outside stretches enclosed by the quote character (each
// quote toggles; quote 0 means no quoting); valueForEmpty when the text is empty.
int CountOutsideQuotes(std::string_view text, std::string_view pattern, char quote, bool caseSensitive,
                       int valueForEmpty);

// -1, 0 or 1 comparing two ranges with A-Z folded to lower case; a length of -1 runs to
// the end of the text. On a common prefix the shorter range orders first.
int CompareTextRange(std::string_view a, int startA, int lengthA, std::string_view b, int startB, int lengthB);

// --- Character sets, trimming and filtering ----------------------------------------

// Optionally upper-cases (A-Z) the text, then keeps the characters in keep and writes
// replacement for each other one, or once per run of them with collapse.
std::string FilterChars(std::string_view text, const TCharSet& keep, bool upperCaseFirst, bool collapse,
                        std::string_view replacement);

constexpr int TrimModeLeft = 0;
constexpr int TrimModeRight = 1;
constexpr int TrimModeBoth = 2;
// Removes characters of chars from the left (mode 0), right (1) or both ends (2) while
// the text is longer than minLength. Any other mode leaves the text as it is.
std::string TrimChars(std::string_view text, const TCharSet& chars, int minLength, int mode);
std::string TrimChars(std::string_view text, std::string_view chars, int minLength, int mode);

// --- Colours ----------------------------------------------------------------------

// 0x00BBGGRR. A value with the high bit set names a system colour by its low byte.
using TColor = std::uint32_t;
constexpr TColor SystemColorFlag = 0x80000000u;

constexpr TColor RGBToColor(int r, int g, int b) {
  return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// A system colour as its conventional default RGB value; other colours unchanged.
TColor ColorToRGB(TColor color);

constexpr int BlendModeMix = 0;
constexpr int BlendModeBlack = 2;
constexpr int BlendModeStep = 3;
constexpr int BlendModeFirst = 4;
constexpr int BlendModeSecond = 5;
// Fraction clamped to 0..1. Mode 2 black, 3 colour1 below 0.5 else colour2, 4 colour1,
// 5 colour2, any other mode mixes each channel as (1 - f) * c1 + f * c2, truncated.
TColor BlendColor(TColor color1, TColor color2, int mode, double fraction);

// --- Sorting ----------------------------------------------------------------------

// compare(list, i, j) < 0 when item i orders before item j; swap exchanges items i and
// j (and whatever the caller keeps beside them). An empty swap exchanges the texts.
using TListCompare = std::function<int(const std::vector<std::string>& list, int i, int j)>;
using TListSwap = std::function<void(std::vector<std::string>& list, int i, int j)>;

// Quicksort of the items low..high (0-based, clamped to the list) through the callbacks.
void SortStringList(std::vector<std::string>& list, int low, int high, const TListCompare& compare,
                    const TListSwap& swap);
