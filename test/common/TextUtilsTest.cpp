#include "common/TextUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

TEST(TextUtils, SlicingClampsToTheText) {
  EXPECT_EQ(TextLeft("abc", 2), "ab");
  EXPECT_EQ(TextLeft("abc", 9), "abc");
  EXPECT_EQ(TextLeft("abc", -1), "");
  EXPECT_EQ(TextRight("abc", 2), "bc");
  EXPECT_EQ(TextRight("abc", 9), "abc");
  EXPECT_EQ(TextRight("abc", 0), "");
  EXPECT_EQ(TextDropRight("abc", 1), "ab");
  EXPECT_EQ(TextDropRight("abc", 3), "");
  EXPECT_EQ(TextDropRight("abc", -2), "abc");
  EXPECT_EQ(TextFrom("abc", 2), "bc");
  EXPECT_EQ(TextFrom("abc", 0), "abc");
  EXPECT_EQ(TextFrom("abc", 4), "");
  EXPECT_EQ(PickText(2, {"a", "b", "c"}), "b");
  EXPECT_EQ(PickText(0, {"a"}), "");
  EXPECT_EQ(PickText(4, std::vector<std::string>{"a", "b", "c"}), "");
  EXPECT_EQ(IfThen(false, "yes", "no"), "no");
  EXPECT_EQ(IfThen(true, 1, 2), 1);
  EXPECT_EQ(IfThen(false, 1.5, 2.5), 2.5);
}

TEST(TextUtils, BuildersAndAffixes) {
  EXPECT_EQ(RepeatText(3, "ab"), "ababab");
  EXPECT_EQ(RepeatText(-1, "ab"), "");
  EXPECT_EQ(TrimTrailingSpaces("a b  "), "a b");
  EXPECT_EQ(TrimTrailingSpaces("a\t "), "a\t");
  EXPECT_EQ(TrimTrailingSpaces("   "), "");
  EXPECT_EQ(EnsureSuffix("dir", "/"), "dir/");
  EXPECT_EQ(EnsureSuffix("dir/", "/"), "dir/");
  EXPECT_EQ(EnsureSuffix("", "/"), "/");
  EXPECT_EQ(EnsureSuffix("", "/", true), "");
  EXPECT_EQ(EnsurePrefix("x", "\\\\"), "\\\\x");
  EXPECT_EQ(EnsurePrefix("\\\\x", "\\\\"), "\\\\x");
  EXPECT_EQ(EnsurePrefix("", "\\\\", true), "");
}

TEST(TextUtils, FindTextPositionsAndCaseRules) {
  EXPECT_EQ(FindText("b", "abcabc"), 2);
  EXPECT_EQ(FindText("b", "abcabc", 3), 5);
  EXPECT_EQ(FindText("b", "abcabc", 6), 0);
  EXPECT_EQ(FindText("b", "abcabc", -4), 2);
  EXPECT_EQ(FindText("c", "abc", 99), 0);
  EXPECT_EQ(FindText("", "abc"), 0);
  EXPECT_EQ(FindText("abcd", "abc"), 0);
  EXPECT_EQ(FindText("ABC", "xabc", 1, true), 0);
  EXPECT_EQ(FindText("ABC", "xabc", 1, false), 2);
  // Only A-Z fold: "@" and "`" (0x40, 0x60) and the Latin-1 letters stay distinct.
  EXPECT_EQ(FindText("@", "`", 1, false), 0);
  EXPECT_EQ(FindText("\xC9", "\xE9", 1, false), 0);

  std::string page(1000, '.');
  page.replace(990, 6, "<BODY>");
  EXPECT_EQ(FindText("<body>", page, 1, false), 991);
  EXPECT_EQ(FindText("<body>", page, 1, true), 0);
  EXPECT_EQ(FindText("<BODY>", page, 992, true), 0);
}

TEST(TextUtils, FindTextPathsAgreeOnRandomData) {
  // A small alphabet with letters in both cases and characters that differ from a
  // letter only in the case bit, so matches and near-misses are frequent.
  const std::string alphabet = "aAbB@`[{\xC1\xE1";
  std::mt19937 rng(20240611);
  auto randomText = [&](size_t length) {
    std::string s(length, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 4000; ++round) {
    std::string text = randomText(rng() % 400);
    std::string pattern = randomText(1 + rng() % 5);
    if (!text.empty() && rng() % 2) {
      size_t at = rng() % text.size();
      pattern = text.substr(at, std::min<size_t>(pattern.size(), text.size() - at));
    }
    int start = static_cast<int>(rng() % (text.size() + 3)) - 1;
    bool caseSensitive = rng() % 2;
    int plain = FindTextPlain(pattern, text, start, caseSensitive);
    ASSERT_EQ(FindTextSkipTable(pattern, text, start, caseSensitive), plain)
        << "pattern '" << pattern << "' start " << start << " in '" << text << "'";
    ASSERT_EQ(FindText(pattern, text, start, caseSensitive), plain);
    const char first = pattern[0];
    if (caseSensitive || !((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) {
      ASSERT_EQ(FindTextByFirstChar(pattern, text, start, caseSensitive), plain);
    }
    if (caseSensitive) {
      size_t from = start < 1 ? 0 : static_cast<size_t>(start - 1);
      size_t expected = from <= text.size() ? text.find(pattern, from) : std::string::npos;
      ASSERT_EQ(plain, expected == std::string::npos ? 0 : static_cast<int>(expected + 1));
    }
  }
}

TEST(TextUtils, FindLastSearchesBackwardsFromStart) {
  EXPECT_EQ(FindLast("abcabc", "bc"), 5);
  EXPECT_EQ(FindLast("abcabc", "bc", 0), 5);
  EXPECT_EQ(FindLast("abcabc", "bc", 5), 5);
  EXPECT_EQ(FindLast("abcabc", "bc", 4), 2);
  EXPECT_EQ(FindLast("abcabc", "bc", 1), 0);
  EXPECT_EQ(FindLast("abcabc", "BC"), 0);
  EXPECT_EQ(FindLast("abc", ""), 0);
  EXPECT_EQ(FindLast("ab", "abc"), 0);
  EXPECT_EQ(FindLast("abc", "abc", 99), 1);
}

TEST(TextUtils, ReplaceAllFollowsTheLowerCaseCopy) {
  EXPECT_EQ(ReplaceAll("aa", "X", "aaa", false), "Xa");
  EXPECT_EQ(ReplaceAll("a", "aa", "aba", false), "aabaa");
  EXPECT_EQ(ReplaceAll("", "X", "abc", false), "abc");
  // A lower-case pattern matches either case; untouched text keeps its case.
  EXPECT_EQ(ReplaceAll("%host%", "srv", "Up: %HOST% %Host%!", false), "Up: srv srv!");
  // Without ignore-case a pattern with capitals is compared against the lower-cased copy.
  EXPECT_EQ(ReplaceAll("%Host%", "srv", "Up: %Host%", false), "Up: %Host%");
  EXPECT_EQ(ReplaceAll("%Host%", "srv", "Up: %HOST%", true), "Up: srv");

  std::string page = std::string(300, 'x') + "<Title>" + std::string(300, 'y') + "<TITLE>";
  std::string expected = std::string(300, 'x') + "[t]" + std::string(300, 'y') + "[t]";
  EXPECT_EQ(ReplaceAll("<title>", "[t]", page, false), expected);
}

TEST(TextUtils, CountOutsideQuotesAndCompareTextRange) {
  EXPECT_EQ(CountOutsideQuotes("a,b,\"c,d\",e", ",", '"', true, -1), 3);
  EXPECT_EQ(CountOutsideQuotes("", ",", '"', true, 7), 7);
  EXPECT_EQ(CountOutsideQuotes("AND and 'and'", "and", '\'', false, 0), 2);
  EXPECT_EQ(CountOutsideQuotes("AND and 'and'", "and", '\'', true, 0), 1);
  EXPECT_EQ(CountOutsideQuotes("aaaa", "aa", 0, true, 0), 2);
  EXPECT_EQ(CountOutsideQuotes("abc", "", '"', true, 0), 0);
  // One character: case folded or not, quotes toggling, an unclosed quote, no quoting.
  EXPECT_EQ(CountOutsideQuotes("A,a,'a',b", "a", '\'', false, 0), 2);
  EXPECT_EQ(CountOutsideQuotes("A,a,'a',b", "a", '\'', true, 0), 1);
  EXPECT_EQ(CountOutsideQuotes("a,\"b,c\"\",d", ",", '"', true, 0), 1);
  EXPECT_EQ(CountOutsideQuotes("a,\"b,c,d", ",", '"', true, 0), 1);
  EXPECT_EQ(CountOutsideQuotes("a\",b\",c", ",", 0, true, 0), 2);
  EXPECT_EQ(CountOutsideQuotes("x\"y\"z", "\"", '"', true, 0), 0);

  EXPECT_EQ(CompareTextRange("Hello", 1, -1, "hello", 1, -1), 0);
  EXPECT_EQ(CompareTextRange("abc", 1, -1, "abd", 1, -1), -1);
  EXPECT_EQ(CompareTextRange("abd", 1, -1, "ABC", 1, -1), 1);
  EXPECT_EQ(CompareTextRange("ab", 1, -1, "abc", 1, -1), -1);
  EXPECT_EQ(CompareTextRange("xxABCyy", 3, 3, "abc", 1, 99), 0);
  EXPECT_EQ(CompareTextRange("abc", 9, 2, "", 1, -1), 0);
  // "_" (0x5F) sits between the upper- and lower-case letters: folding decides the order.
  EXPECT_EQ(CompareTextRange("_", 1, 1, "A", 1, 1), -1);
}

TEST(TextUtils, FilterAndTrimCharacters) {
  const TCharSet printable = CharRange(32, 255);
  EXPECT_EQ(FilterChars("The file was not found.\r\n", printable, false, true, " "),
            "The file was not found. ");
  EXPECT_EQ(FilterChars("a\r\nb", printable, false, false, " "), "a  b");
  EXPECT_EQ(FilterChars("a\r\nb", printable, false, true, ""), "ab");
  EXPECT_EQ(FilterChars("ab-cd", CharRange('A', 'Z'), true, false, "_"), "AB_CD");
  EXPECT_EQ(FilterChars("\xE9t\xE9", CharRange('A', 'Z'), true, true, "?"), "?T?");

  const TCharSet blanks = CharsOf(" 0");
  EXPECT_EQ(TrimChars("  ab  ", blanks, 0, TrimModeLeft), "ab  ");
  EXPECT_EQ(TrimChars("  ab  ", blanks, 0, TrimModeRight), "  ab");
  EXPECT_EQ(TrimChars("  ab  ", blanks, 0, TrimModeBoth), "ab");
  EXPECT_EQ(TrimChars("000", "0", 1, TrimModeLeft), "0");
  EXPECT_EQ(TrimChars("  ab  ", blanks, 3, TrimModeBoth), "ab ");
  EXPECT_EQ(TrimChars("  ab  ", blanks, -5, TrimModeBoth), "ab");
  EXPECT_EQ(TrimChars("  ab  ", blanks, 0, 7), "  ab  ");
}

TEST(TextUtils, BlendColorModesAndClamping) {
  const TColor red = RGBToColor(255, 0, 0), blue = RGBToColor(0, 0, 255);
  EXPECT_EQ(BlendColor(red, blue, BlendModeMix, 0.5), RGBToColor(127, 0, 127));
  EXPECT_EQ(BlendColor(red, blue, BlendModeMix, 7.0), blue);
  EXPECT_EQ(BlendColor(red, blue, BlendModeMix, -1.0), red);
  EXPECT_EQ(BlendColor(red, blue, BlendModeMix, std::nan("")), red);
  EXPECT_EQ(BlendColor(red, blue, 1, 0.25), RGBToColor(191, 0, 63));
  EXPECT_EQ(BlendColor(red, blue, BlendModeBlack, 0.3), 0u);
  EXPECT_EQ(BlendColor(red, blue, BlendModeStep, 0.49), red);
  EXPECT_EQ(BlendColor(red, blue, BlendModeStep, 0.5), blue);
  EXPECT_EQ(BlendColor(red, blue, BlendModeFirst, 1.0), red);
  EXPECT_EQ(BlendColor(red, blue, BlendModeSecond, 0.0), blue);
  // Mixing a colour with itself gives it back at any fraction, despite truncation.
  const TColor grey = RGBToColor(201, 77, 255);
  for (int i = 0; i <= 100; ++i) ASSERT_EQ(BlendColor(grey, grey, BlendModeMix, i / 100.0), grey) << i;

  // System colours resolve before mixing: the window colour (index 5) is white.
  const TColor window = SystemColorFlag | 5;
  EXPECT_EQ(ColorToRGB(window), RGBToColor(255, 255, 255));
  EXPECT_EQ(BlendColor(window, red, BlendModeMix, 0.5), RGBToColor(255, 127, 127));
  EXPECT_EQ(BlendColor(window, red, BlendModeFirst, 0.5), RGBToColor(255, 255, 255));
  EXPECT_EQ(ColorToRGB(0xFF000000u | 8), 0u);
  EXPECT_EQ(ColorToRGB(SystemColorFlag | 200), 0u);
  EXPECT_EQ(ColorToRGB(RGBToColor(1, 2, 3)), RGBToColor(1, 2, 3));
}

TEST(TextUtils, SortStringListThroughCallbacks) {
  auto byText = [](const std::vector<std::string>& l, int i, int j) {
    return l[static_cast<size_t>(i)].compare(l[static_cast<size_t>(j)]);
  };
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> list(rng() % 60);
    for (auto& s : list) s = std::string(1, static_cast<char>('a' + rng() % 5)) + std::to_string(rng() % 4);
    std::vector<std::string> expected = list;
    std::sort(expected.begin(), expected.end());
    SortStringList(list, 0, static_cast<int>(list.size()) - 1, byText, nullptr);
    ASSERT_EQ(list, expected);
  }

  // The swap callback moves data kept beside the list; only low..high is touched.
  std::vector<std::string> names{"z", "d", "c", "b", "a"};
  std::vector<int> ids{0, 1, 2, 3, 4};
  SortStringList(names, 1, 3, byText, [&](std::vector<std::string>& l, int i, int j) {
    std::swap(l[static_cast<size_t>(i)], l[static_cast<size_t>(j)]);
    std::swap(ids[static_cast<size_t>(i)], ids[static_cast<size_t>(j)]);
  });
  EXPECT_EQ(names, (std::vector<std::string>{"z", "b", "c", "d", "a"}));
  EXPECT_EQ(ids, (std::vector<int>{0, 3, 2, 1, 4}));

  // Bounds past the list are clamped; a comparison that always says "less" must not
  // run off the list; many equal items must not exhaust the stack.
  std::vector<std::string> small{"b", "a"};
  SortStringList(small, -5, 99, byText, nullptr);
  EXPECT_EQ(small, (std::vector<std::string>{"a", "b"}));
  std::vector<std::string> some(50, "x");
  SortStringList(some, 0, 49, [](const std::vector<std::string>&, int, int) { return -1; }, nullptr);
  EXPECT_EQ(some.size(), 50u);
  std::vector<std::string> equal(200000, "same");
  SortStringList(equal, 0, 199999, byText, nullptr);
  EXPECT_EQ(equal.front(), "same");
}
