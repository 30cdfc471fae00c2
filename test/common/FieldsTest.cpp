#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "common/Fields.h"

using namespace std::string_literals;

namespace {

std::vector<std::string> Split(std::string_view text, char sep, char quote) {
  std::vector<std::string> list;
  SplitList(text, list, sep, true, quote);
  return list;
}

}  // namespace

TEST(FieldsTest, GetFieldCountsFromEitherEnd) {
  EXPECT_EQ(GetField("a,,c", ',', 2, 0), "");
  EXPECT_EQ(GetField("a,,c", ',', 3, 0), "c");
  EXPECT_EQ(GetField("a,b", ',', 3, 0), "");
  EXPECT_EQ(GetField("a,b", ',', 0, 0), "");
  EXPECT_EQ(GetField("a,b,c", ',', -1, 0), "c");
  EXPECT_EQ(GetField("a,b,c", ',', -3, 0), "a");
  EXPECT_EQ(GetField("a,b,c", ',', -4, 0), "");
  EXPECT_EQ(GetField("a,b,c,", ',', -1, 0), "");
  EXPECT_EQ(GetField(",x", ',', 1, 0), "");
  EXPECT_EQ(GetField("", ',', 1, '"'), "");
  EXPECT_EQ(GetField("", ',', -1, '"'), "");
  EXPECT_EQ(GetField("abc", ',', 1, '"'), "abc");
  EXPECT_EQ(GetField("a,b", ',', INT_MAX, 0), "");
  EXPECT_EQ(GetField("a,b", ',', INT_MIN, 0), "");
  // Without a quote character, quotes are plain text.
  EXPECT_EQ(GetField("\"a,b\"", ',', 1, 0), "\"a");
}

TEST(FieldsTest, GetFieldHonoursQuotedStretches) {
  EXPECT_EQ(GetField("'x,y',z", ',', 1, '\''), "x,y");
  EXPECT_EQ(GetField("'x,y',z", ',', 2, '\''), "z");
  EXPECT_EQ(GetField("'x,y',z", ',', -1, '\''), "z");
  EXPECT_EQ(GetField("1,\"say \"\"hi\"\"\",2", ',', 2, '"'), "say \"hi\"");
  // A quote not followed by a delimiter does not close the stretch.
  EXPECT_EQ(GetField("\"a\"b,c\",d", ',', 1, '"'), "a\"b,c");
  EXPECT_EQ(GetField("\"a\"b,c\",d", ',', 2, '"'), "d");
  // An even run before the delimiter is doubled quotes, still inside.
  EXPECT_EQ(GetField("\"a\"\",b\",c", ',', 1, '"'), "a\",b");
  EXPECT_EQ(GetField("\"\",x", ',', 1, '"'), "");
  EXPECT_EQ(GetField("\"\",x", ',', 2, '"'), "x");
  // An unclosed quote runs to the end of the text.
  EXPECT_EQ(GetField("\"abc,def", ',', 1, '"'), "\"abc,def");
  EXPECT_EQ(GetField("\"abc,def", ',', 2, '"'), "");
  EXPECT_EQ(GetField("\"", ',', 1, '"'), "\"");
}

// Whatever QuoteText writes, GetField reads back, wherever the field stands in the line.
TEST(FieldsTest, QuotedFieldsReadBackExactly) {
  const std::vector<std::string> texts = {
      "", "\"", "\"\"", "\"\"\"", "a\"", "\"a", "a,b", ",", "\",\"", "\",", ",\"", "x\"\",y",
      "caf\xe9 \xff", "nul\0byte"s, " lead and trail ", "\r\n"};
  std::string line;
  for (size_t i = 0; i < texts.size(); ++i) line += (i ? "," : "") + QuoteText(texts[i], '"');
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(GetField(line, ',', static_cast<int>(i) + 1, '"'), texts[i]) << i;
    EXPECT_EQ(GetField(line, ',', static_cast<int>(i) - static_cast<int>(texts.size()), '"'), texts[i]) << i;
    EXPECT_EQ(UnquoteText(QuoteText(texts[i], '"'), '"'), texts[i]) << i;
  }
  EXPECT_EQ(GetField(line, ',', static_cast<int>(texts.size()) + 1, '"'), "");
}

TEST(FieldsTest, QuoteAndUnquote) {
  EXPECT_EQ(QuoteText("it's", '\''), "'it''s'");
  EXPECT_EQ(QuoteText("", '"'), "\"\"");
  EXPECT_EQ(QuoteText("plain", 0), "plain");
  EXPECT_EQ(UnquoteText("'it''s'", '\''), "it's");
  EXPECT_EQ(UnquoteText("it''s", '\''), "it's");
  EXPECT_EQ(UnquoteText("'abc", '\''), "'abc");
  EXPECT_EQ(UnquoteText("'", '\''), "'");
  EXPECT_EQ(UnquoteText("''", '\''), "");
  EXPECT_EQ(UnquoteText("''''", '\''), "'");
  EXPECT_EQ(UnquoteText("'''", '\''), "'");
  EXPECT_EQ(UnquoteText("\"a\"", 0), "\"a\"");
}

TEST(FieldsTest, FieldsBeforeAndAfter) {
  const std::string line = " \t a,b,c \r\n";
  EXPECT_EQ(FieldsBefore(line, ',', 1, 0), "a");
  EXPECT_EQ(FieldsBefore(line, ',', 2, 0), "a,b");
  EXPECT_EQ(FieldsBefore(line, ',', 3, 0), "a,b,c");
  EXPECT_EQ(FieldsBefore(line, ',', 4, 0), "a,b,c,");
  EXPECT_EQ(FieldsBefore(line, ',', 0, 0), "a,b,c,");
  EXPECT_EQ(FieldsAfter(line, ',', 1, 0), "b,c");
  EXPECT_EQ(FieldsAfter(line, ',', 2, 0), "c");
  EXPECT_EQ(FieldsAfter(line, ',', 3, 0), "");
  EXPECT_EQ(FieldsAfter(line, ',', 4, 0), "");
  EXPECT_EQ(FieldsAfter(line, ',', 0, 0), "");
  EXPECT_EQ(FieldsAfter("a,b,", ',', 1, 0), "b,");
  EXPECT_EQ(FieldsBefore("", ',', 1, 0), "");
  EXPECT_EQ(FieldsBefore("", ',', 2, 0), ",");
  EXPECT_EQ(FieldsAfter("", ',', 1, 0), "");
  // Quotes toggle; a delimiter between them does not count.
  EXPECT_EQ(FieldsBefore("'a,b',c,d", ',', 1, '\''), "'a,b'");
  EXPECT_EQ(FieldsAfter("'a,b',c,d", ',', 1, '\''), "c,d");
  EXPECT_EQ(FieldsBefore("'a,b,c", ',', 1, '\''), "'a,b,c,");
  EXPECT_EQ(FieldsAfter("'a,b,c", ',', 1, '\''), "");
  // Characters above 127 are text, not blanks.
  EXPECT_EQ(FieldsBefore("\xa0x,y\xa0", ',', 2, 0), "\xa0x,y\xa0");
  EXPECT_EQ(FieldsAfter("\xa0x,y\xa0", ',', 1, 0), "y\xa0");
}

TEST(FieldsTest, SplitAtNthOccurrence) {
  std::string before = "old", after = "old";
  EXPECT_TRUE(SplitAt("a::b::c", "::", 1, before, after));
  EXPECT_EQ(before, "a");
  EXPECT_EQ(after, "b::c");
  EXPECT_TRUE(SplitAt("a::b::c", "::", 2, before, after));
  EXPECT_EQ(before, "a::b");
  EXPECT_EQ(after, "c");
  EXPECT_FALSE(SplitAt("a::b::c", "::", 3, before, after));
  EXPECT_EQ(before, "a::b::c");
  EXPECT_EQ(after, "");
  EXPECT_TRUE(SplitAt("aaaa", "aa", 2, before, after));
  EXPECT_EQ(before, "aa");
  EXPECT_EQ(after, "");
  EXPECT_FALSE(SplitAt("aaa", "aa", 2, before, after));
  EXPECT_EQ(before, "aaa");
  EXPECT_FALSE(SplitAt("abc", "", 1, before, after));
  EXPECT_EQ(before, "abc");
  EXPECT_FALSE(SplitAt("a=b", "=", 0, before, after));
  EXPECT_EQ(before, "a=b");
  EXPECT_FALSE(SplitAt("", "=", 1, before, after));
  EXPECT_EQ(before, "");
  EXPECT_EQ(after, "");
  // The text may be one of the outputs.
  before = "key=value=more";
  EXPECT_TRUE(SplitAt(before, "=", 1, before, after));
  EXPECT_EQ(before, "key");
  EXPECT_EQ(after, "value=more");
  EXPECT_TRUE(SplitAt(after, "=", 1, before, after));
  EXPECT_EQ(before, "value");
  EXPECT_EQ(after, "more");
}

TEST(FieldsTest, TextBetweenNestingAndQuotes) {
  EXPECT_EQ(TextBetween("Ann Other <ann@example.org>", "<", ">", 0, 1, 1), "ann@example.org");
  EXPECT_EQ(TextBetween("<a<b>c>", "<", ">", 0, 1, 1), "a<b>c");
  EXPECT_EQ(TextBetween("<a<b>c>", "<", ">", 0, 2, 1), "b");
  EXPECT_EQ(TextBetween("<a<b>c>", "<", ">", 0, -1, 1), "a<b>c");
  EXPECT_EQ(TextBetween("<a<b>c>", "<", ">", 0, -1, 2), "b");
  EXPECT_EQ(TextBetween("<a<b>c>", "<", ">", 0, -1, 3), "");
  EXPECT_EQ(TextBetween("<x><y>", "<", ">", 0, 1, 2), "y");
  EXPECT_EQ(TextBetween("<x><y>", "<", ">", 0, 2, 1), "");
  EXPECT_EQ(TextBetween("\"<no>\" <yes>", "<", ">", '"', 1, 1), "yes");
  EXPECT_EQ(TextBetween("\"<no>\" <yes>", "<", ">", 0, 1, 1), "no");
  EXPECT_EQ(TextBetween("<a \">\" b>", "<", ">", '"', 1, 1), "a \">\" b");
  EXPECT_EQ(TextBetween("<\"quoted\">", "<", ">", '"', 1, 1), "quoted");
  EXPECT_EQ(TextBetween("{{outer {{inner}} }}", "{{", "}}", 0, 2, 1), "inner");
  EXPECT_EQ(TextBetween("|a||b|", "|", "|", 0, 1, 2), "b");
  EXPECT_EQ(TextBetween("<!-- x -->", "<!--", "-->", 0, 1, 1), " x ");
  // A stray closing marker does not disturb the depth count.
  EXPECT_EQ(TextBetween(">a<b>", "<", ">", 0, 1, 1), "b");
  // Not found or not closed.
  EXPECT_EQ(TextBetween("<abc", "<", ">", 0, 1, 1), "");
  EXPECT_EQ(TextBetween("abc", "<", ">", 0, 1, 1), "");
  EXPECT_EQ(TextBetween("", "<", ">", 0, 1, 1), "");
  EXPECT_EQ(TextBetween("<a>", "", ">", 0, 1, 1), "");
  EXPECT_EQ(TextBetween("<a>", "<", "", 0, 1, 1), "");
  EXPECT_EQ(TextBetween("<a>", "<", ">", 0, 0, 1), "");
  EXPECT_EQ(TextBetween("<a>", "<", ">", 0, 1, 0), "");
  EXPECT_EQ(TextBetween("<>", "<", ">", 0, 1, 1), "");
}

TEST(FieldsTest, JoinAndSplitLists) {
  const std::vector<std::string> items = {"a", "b,c", "", "d"};
  EXPECT_EQ(JoinList(items, ',', '"'), "a,\"b,c\",,d");
  EXPECT_EQ(Split(JoinList(items, ',', '"'), ',', '"'), items);
  EXPECT_EQ(JoinList({}, ',', '"'), "");
  EXPECT_EQ(JoinList({""}, ',', '"'), "");

  EXPECT_EQ(Split("a,b", ',', 0), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Split("a,b,", ',', 0), (std::vector<std::string>{"a", "b", ""}));
  EXPECT_EQ(Split(",", ',', 0), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(Split("x\"y;z\"w;v", ';', '"'), (std::vector<std::string>{"xy;zw", "v"}));
  // An unbalanced quote keeps the rest as the last item rather than losing it.
  EXPECT_EQ(Split("a;\"b;c", ';', '"'), (std::vector<std::string>{"a", "b;c"}));
  EXPECT_TRUE(Split("", ',', '"').empty());

  std::vector<std::string> list = {"kept"};
  SplitList("", list, ',', false, 0);
  EXPECT_EQ(list, std::vector<std::string>{"kept"});
  SplitList("x,y", list, ',', false, 0);
  EXPECT_EQ(list, (std::vector<std::string>{"kept", "x", "y"}));
  SplitList("", list, ',', true, 0);
  EXPECT_TRUE(list.empty());
}

TEST(FieldsTest, DelimitedItemLists) {
  EXPECT_TRUE(ListHasItem(";A;B;", "a", ';'));
  EXPECT_TRUE(ListHasItem("A;B", "b", ';'));
  EXPECT_FALSE(ListHasItem("AB;C", "A", ';'));
  EXPECT_FALSE(ListHasItem("", "A", ';'));
  EXPECT_FALSE(ListHasItem(";A;", "", ';'));
  EXPECT_TRUE(ListHasItem("Ping=1;TCP=2", "tcp", ';', '='));
  EXPECT_TRUE(ListHasItem("Ping=1;TCP=2", "tcp=9", ';', '='));
  EXPECT_FALSE(ListHasItem("Ping=1;TCP=2", "TC", ';', '='));
  EXPECT_FALSE(ListHasItem("A=1;", "A", ';'));
  // Only ASCII letters fold.
  EXPECT_FALSE(ListHasItem(";\xc4;", "\xe4", ';'));

  EXPECT_EQ(ListAddItem("", "X", ';'), ";X;");
  EXPECT_EQ(ListAddItem("A;B", "a", ';'), ";B;a;");
  EXPECT_EQ(ListAddItem("A=1;B=2;a=7", "a=3", ';', '='), ";B=2;a=3;");
  EXPECT_EQ(ListAddItem(";B=2;", "A", ';', '='), ";B=2;A;");

  EXPECT_EQ(ListRemoveItem(";A;a;B;A=5;", "A", ';', '='), ";B;");
  EXPECT_EQ(ListRemoveItem(";A;A;", "a", ';'), ";");
  EXPECT_EQ(ListRemoveItem("A;B", "C", ';'), ";A;B;");
  EXPECT_EQ(ListRemoveItem("AB;A", "A", ';'), ";AB;");
  EXPECT_EQ(ListRemoveItem("", "A", ';'), ";");
  EXPECT_EQ(ListRemoveItem(";;A;;", "", ';'), ";A;");
  EXPECT_EQ(ListRemoveItem("x=1;y=2", "x=9", ';', '='), ";y=2;");
}

TEST(FieldsTest, HashEscapeAndUnescape) {
  const TCharSet hosts = HostsFileEscapeSet();
  EXPECT_EQ(HashEscape("a#b\"c\r\n", hosts), "a#23b#22c#0D#0A");
  EXPECT_EQ(HashEscape("x,y", hosts), "x,y");
  EXPECT_EQ(HashEscape("x,y", hosts | CharsOf(",")), "x#2Cy");
  EXPECT_EQ(HashEscape("\xe9\xff", hosts), "\xe9\xff");
  EXPECT_EQ(HashEscape("\xe9", CharsOf("\xe9")), "#E9");
  EXPECT_EQ(HashEscape("", hosts), "");
  EXPECT_TRUE(hosts.test(0) && hosts.test(31) && hosts.test('"'));
  EXPECT_EQ(hosts.count(), 33u);

  EXPECT_EQ(HashUnescape("a#23b#22c#0D#0a"), "a#b\"c\r\n");
  EXPECT_EQ(HashUnescape("#zz"), "-");
  EXPECT_EQ(HashUnescape("#4g!"), "-!");
  EXPECT_EQ(HashUnescape("##41"), "-1");
  EXPECT_EQ(HashUnescape("#00"), "\0"s);
  // Too short to be an escape: nothing is lost.
  EXPECT_EQ(HashUnescape("end#"), "end#");
  EXPECT_EQ(HashUnescape("end#4"), "end#4");

  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_EQ(HashUnescape(HashEscape(all, hosts)), all);
  EXPECT_EQ(HashUnescape(HashEscape(all, CharRange(0, 255))), all);
  EXPECT_EQ(HashEscape(all, CharRange(0, 255)).size(), 3 * all.size());
}
