#include "common/TextCodec.h"

#include <gtest/gtest.h>

namespace {

std::string AllBytes() {
  std::string s;
  for (int c = 0; c < 256; ++c) s.push_back(static_cast<char>(c));
  return s;
}

}  // namespace

TEST(TextCodec, HtmlEncodeMarkupEntitiesAndControls) {
  EXPECT_EQ(HtmlEncode("a<b>&c"), "a&lt;b&gt;&amp;c");
  EXPECT_EQ(HtmlEncode("caf\xE9"), "caf&eacute;");
  EXPECT_EQ(HtmlEncode("\xA0\xC6\xFE"), "&nbsp;&AElig;&thorn;");
  EXPECT_EQ(HtmlEncode("a\nb"), "a&#10;b");
  EXPECT_EQ(HtmlEncode(std::string("\0\x7F\x9F", 3)), "&#0;&#127;&#159;");
  EXPECT_EQ(HtmlEncode("\xFF\"'"), "\xFF\"'");
  EXPECT_EQ(HtmlEncode(""), "");
}

TEST(TextCodec, HtmlDecodeNamedEntitiesOnly) {
  EXPECT_EQ(HtmlDecode("a &lt;b&gt; &amp; caf&eacute; ok"), "a <b> & caf\xE9 ok");
  EXPECT_EQ(HtmlDecode("&Eacute;&eacute;"), "\xC9\xE9");
  // Unknown or differently cased names, numeric references and bare "&" stay.
  EXPECT_EQ(HtmlDecode("&EACUTE; &bogus; &#65; & &; &lt"), "&EACUTE; &bogus; &#65; & &; &lt");
  EXPECT_EQ(HtmlDecode("&nbspxxxx;"), "&nbspxxxx;");
  // Decoded text is not decoded again; a failed "&" lets the next one be tried.
  EXPECT_EQ(HtmlDecode("&amp;lt;"), "&lt;");
  EXPECT_EQ(HtmlDecode("&&gt;"), "&>");

  // Everything HtmlEncode writes by name comes back, over the whole table.
  std::string named;
  for (int c = 32; c < 256; ++c)
    if (c < 127 || c >= 160) named.push_back(static_cast<char>(c));
  EXPECT_EQ(HtmlDecode(HtmlEncode(named)), named);
}

TEST(TextCodec, UrlEncodeFormAndDecode) {
  EXPECT_EQ(UrlEncodeForm("a b"), "a+b");
  EXPECT_EQ(UrlEncodeForm("name=J. Smith&x"), "name%3DJ%2E+Smith%26x");
  EXPECT_EQ(UrlEncodeForm("name=J. Smith", 5), "name=J%2E+Smith");
  EXPECT_EQ(UrlEncodeForm("a b", 2), "a=b");
  EXPECT_EQ(UrlEncodeForm("09AZaz[\\]^_`{|}"), "09AZaz[\\]^_`{|}");
  EXPECT_EQ(UrlEncodeForm("/:@~\x7F\xE9"), "%2F%3A%40%7E%7F%E9");
  EXPECT_EQ(UrlEncodeForm("ab", 9), "ab");

  EXPECT_EQ(UrlDecode("a+b%41%4a%4A"), "a bAJJ");
  EXPECT_EQ(UrlDecode("100%"), "100%");
  EXPECT_EQ(UrlDecode("%4"), "%4");
  EXPECT_EQ(UrlDecode("%zz%g1"), "%zz%g1");
  EXPECT_EQ(UrlDecode("%%41"), "%A");
  EXPECT_EQ(UrlDecode("%2B"), "+");
  const std::string all = AllBytes();
  EXPECT_EQ(UrlDecode(UrlEncodeForm(all)), all);
}

TEST(TextCodec, Utf16ToTextByteOrders) {
  const unsigned char le[] = {0xFF, 0xFE, 'O', 0, 'K', 0, 0xE9, 0};
  EXPECT_EQ(Utf16ToText(le, sizeof le), "OK\xE9");
  const unsigned char be[] = {0xFE, 0xFF, 0, 'O', 0, 'K'};
  EXPECT_EQ(Utf16ToText(be, sizeof be), "OK");
  const unsigned char bare[] = {'h', 0, 'i', 0, '!'};  // odd last byte ignored
  EXPECT_EQ(Utf16ToText(bare, sizeof bare), "hi");
  const unsigned char wide[] = {'a', 0, 0xAC, 0x20, 'b', 0};  // the euro sign stops it
  EXPECT_EQ(Utf16ToText(wide, sizeof wide), "a");
  EXPECT_EQ(Utf16ToText(nullptr, 10), "");
  EXPECT_EQ(Utf16ToText(std::string_view("\xFF\xFE", 2)), "");
  EXPECT_EQ(Utf16ToText(std::string("x\0\r\0\n\0", 6)), "x\r\n");
}
