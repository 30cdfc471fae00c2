#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/Fields.h"
#include "common/TFieldSplitter.h"

using namespace std::string_literals;

namespace {

// Every field the splitter gives, from both ends and beyond them, against GetField.
void ExpectSameAsGetField(const std::string& line, char delim, char quote) {
  const TFieldSplitter fields(line, delim, quote);
  const int count = fields.Count();
  ASSERT_GE(count, 1);
  EXPECT_EQ(GetField(line, delim, count, quote), fields.Field(count));
  for (int n = -count - 2; n <= count + 2; ++n)
    ASSERT_EQ(fields.Field(n), GetField(line, delim, n, quote))
        << "line [" << line << "] delim [" << delim << "] quote [" << quote << "] field " << n;
}

}  // namespace

TEST(FieldSplitterTest, GivesTheFieldsGetFieldGivesOnAwkwardLines) {
  const std::vector<std::string> lines = {
      "", ",", ",,", "a", "a,", ",a", "a,,b,", "\"\"", "\"\",", ",\"\"", "\"", "\",", ",\"", "\"\"\"",
      "\"\"\"\"", "\"a,b\",c", "\"a\"b,c\",d", "\"a\"\",b\",c", "a\"b,c\"d,e", "\"abc,def", "x,\"y,z",
      "1,\"say \"\"hi\"\"\",2", "\"a\"\"\",\"\"\"b\"", "\"a\" ,b", " \"a\",b ", "\"a,\"\",\",\"\"\"\",x",
      "\"nul\0in\",side"s, "caf\xe9,\xff\"\xff\",\"\xe9\"", "'x,y',z", "''''", "'a''',b'", ";;a;\"b;c\";",
      "\"Host 1\",\"127.1.0.2\",\"60\",,\"\",13,,\"\",\"10455\",,,\"\",\"0\",0,,\"\""};
  for (const std::string& line : lines)
    for (const char delim : {',', ';'})
      for (const char quote : {'"', '\'', '\0', delim}) ExpectSameAsGetField(line, delim, quote);
}

TEST(FieldSplitterTest, GivesTheFieldsGetFieldGivesOnRandomLines) {
  // Few distinct characters, so that runs of quotes and delimiters meet in every order.
  std::mt19937 random(20261209);
  const std::string alphabet = ",\"\"a ;'";
  for (int round = 0; round < 4000; ++round) {
    std::string line(random() % 14, ' ');
    for (char& c : line) c = alphabet[random() % alphabet.size()];
    ExpectSameAsGetField(line, ',', '"');
    ExpectSameAsGetField(line, ';', '\'');
    ExpectSameAsGetField(line, ',', 0);
  }
}

TEST(FieldSplitterTest, LongLinesAndReuse) {
  std::string line;
  for (int i = 0; i < 20000; ++i) line += QuoteText("f" + std::to_string(i) + (i % 3 ? "" : ",\""), '"') + ",";
  line += std::string(200000, '"');
  TFieldSplitter fields(line, ',', '"');
  EXPECT_EQ(fields.Count(), 20001);
  EXPECT_EQ(fields.Field(3), "f2");
  EXPECT_EQ(fields.Field(19999), "f19998,\"");
  EXPECT_EQ(fields.Field(-1), GetField(line, ',', -1, '"'));
  EXPECT_EQ(fields.RawField(2), "\"f1\"");

  // A second line replaces the first completely.
  const std::string shorter = "x,\"y\"";
  fields.Split(shorter, ',', '"');
  EXPECT_EQ(fields.Count(), 2);
  EXPECT_EQ(fields.Field(2), "y");
  EXPECT_EQ(fields.Field(3), "");
  fields.Split(shorter, ',', 0);
  EXPECT_EQ(fields.Field(2), "\"y\"");
}
