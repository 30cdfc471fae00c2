// The rules the HTTP settings dialog applies to what is typed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/HTTPSettingsRules.h"

TEST(HTTPSettingsRules, URLCheck) {
  EXPECT_STREQ(HTTPURLWarning, "URLs must begin with \"http:\".");
  for (const char* url : {"", "http://example.net/", "HTTP://example.net", "https://example.net/a", "HtTpS://x",
                          "http:"})
    EXPECT_TRUE(HTTPURLAccepted(url)) << url;
  for (const char* url : {"example.net", "ftp://example.net/", "http//example.net", "https//x", "httpx://y",
                          " http://example.net", "www.example.net/http:",
                          "http:relative"})
    EXPECT_FALSE(HTTPURLAccepted(url)) << url;
}

TEST(HTTPSettingsRules, ThresholdText) {
  struct TCase {
    const char* Text;
    float Value;
  } cases[] = {{"0.00%", 0},   {"0.25%", 0.25f}, {"5%", 5},         {" 12.5 % ", 12.5f}, {"%%7%%", 7},
               {"100%", 100},  {"", 0},          {"%", 0},          {"abc", 0},          {"5 %x", 0},
               {"1,5%", 0},    {"3", 3},         {"nan", 0},        {"1e400", 0}};
  for (const TCase& c : cases) EXPECT_FLOAT_EQ(ParseChangeThreshold(c.Text), c.Value) << c.Text;
  EXPECT_EQ(ChangeThresholdText(0), "0%");
  EXPECT_EQ(ChangeThresholdText(1.5f), "1.5%");
  EXPECT_EQ(ChangeThresholdText(0.25f), "0.25%");
  EXPECT_EQ(ChangeThresholdText(20), "20%");
  // Every offered entry reads back as the number it shows.
  const std::vector<std::string>& entries = ChangeThresholdEntries();
  ASSERT_EQ(entries.size(), 31u);
  EXPECT_EQ(entries.front(), "0.00%");
  EXPECT_EQ(entries[12], "5%");
  EXPECT_EQ(entries.back(), "100%");
  float previous = -1;
  for (const std::string& entry : entries) {
    const float value = ParseChangeThreshold(entry);
    EXPECT_GT(value, previous) << entry;
    EXPECT_FLOAT_EQ(ParseChangeThreshold(ChangeThresholdText(value)), value) << entry;
    previous = value;
  }
}

TEST(HTTPSettingsRules, Variables) {
  EXPECT_FALSE(CanAddHTTPVariable("", "v"));
  EXPECT_FALSE(CanAddHTTPVariable("n", ""));
  EXPECT_TRUE(CanAddHTTPVariable("n", "v"));

  // The dialog opens on the request's text, empty entries dropped.
  std::vector<std::string> entries = SplitHTTPVariables("\xFFhost=%host%\xFF\xFFstate=%status%\xFF");
  EXPECT_EQ(entries, (std::vector<std::string>{"host=%host%", "state=%status%"}));
  EXPECT_TRUE(SplitHTTPVariables("").empty());

  SetHTTPVariable(entries, "STATE", "down");  // same name, other case: replaced where it stands
  SetHTTPVariable(entries, "note", "a=b");
  SetHTTPVariable(entries, "hos", "partial name is another");
  EXPECT_EQ(entries,
            (std::vector<std::string>{"host=%host%", "STATE=down", "note=a=b", "hos=partial name is another"}));
  EXPECT_EQ(HTTPVariableName(entries[2]), "note");
  EXPECT_EQ(HTTPVariableValue(entries[2]), "a=b");
  EXPECT_EQ(HTTPVariableValue("bare"), "");

  entries.insert(entries.begin() + 1, "");
  const std::string joined = JoinHTTPVariables(entries);
  EXPECT_EQ(joined, "host=%host%\xFFSTATE=down\xFFnote=a=b\xFFhos=partial name is another");
  EXPECT_EQ(SplitHTTPVariables(joined).size(), 4u);
  EXPECT_EQ(JoinHTTPVariables({}), "");
}
