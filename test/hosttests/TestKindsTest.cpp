// The table of test kinds: the built-in entries, and the registration a plug-in loader
// makes at load time.
#include <gtest/gtest.h>

#include "hosttests/THTTPKind.h"
#include "hosttests/TTestKinds.h"

TEST(TestKindsTest, BuiltInKindsKeepTheirNumbersAndTexts) {
  TTestKinds kinds;
  TTestParams p;
  p.Port = 443;
  p.Service = "Spooler|Print Spooler";
  p.SharePath = "Public";
  p.HTTPTest.URL = "https://127.0.0.1/status";
  struct TCase {
    TTestKind Kind;
    const char* Name;
    const char* Label;
    const char* Address;
    const char* Data;
    const char* Type;
    const char* Info;
  };
  const TCase cases[] = {
      {TestPing, "Ping", ")", "srv", "", "Ping", "ICMP Ping"},
      {TestTCP, "TCP", ":443)", "srv:443", "443", "TCP Port", "Port 443"},
      {TestService, "Service", "/Spooler)", "srv/Spooler", "Print Spooler", "Service", "Print Spooler"},
      {TestShare, "Share", "\\Public)", "srv\\Public", "Public", "Share", "Public"},
      {TestHTTP, "HTTP", "@127.0.0.1/status", "https://127.0.0.1/status", "https://127.0.0.1/status", "HTTP",
       "https://127.0.0.1/status"},
  };
  for (const TCase& c : cases) {
    const TTestKindEntry* kind = kinds.Find(c.Kind);
    ASSERT_TRUE(kind) << c.Name;
    EXPECT_EQ(kind->Name, c.Name);
    EXPECT_EQ(kind->LabelSuffix(p), c.Label);
    EXPECT_EQ(kind->TestAddress("srv", p), c.Address);
    EXPECT_EQ(kind->Data(p), c.Data);
    EXPECT_EQ(kind->SummaryType(p), c.Type);
    EXPECT_EQ(kind->SummaryInfo(p), c.Info);
  }
  EXPECT_EQ(kinds.Find(TestHTTP)->ExtraLines, 1);
  EXPECT_EQ(kinds.Find(TestHTTP)->WriteExtra(p).substr(0, 25), "https://127.0.0.1/status,");
  EXPECT_EQ(kinds.Find(TestTCP)->ExtraLines, 0);
  EXPECT_EQ(HTTPLabelSuffix("www.example.test"), "@www.example.test");
  EXPECT_EQ(HTTPLabelSuffix(""), ")");
  EXPECT_EQ(kinds.PluginCount(), 0);
}

TEST(TestKindsTest, PluginKindsAreNumberedFromFiveInLoadOrder) {
  TTestKinds kinds;
  TTestKindEntry disk;
  disk.Name = "Disk Space";
  disk.Identifier = "DiskSpace";
  TTestKindEntry script = disk;
  script.Name = "Script";
  script.Identifier = "Script Test";

  EXPECT_EQ(kinds.AddPluginKind(disk), TestPlugin);
  EXPECT_EQ(kinds.AddPluginKind(script), TestPlugin + 1);
  EXPECT_EQ(kinds.PluginCount(), 2);
  EXPECT_EQ(PluginIndex(TestPlugin + 1), 1);
  EXPECT_EQ(PluginIndex(TestHTTP), -1);

  // Refused: a second entry with the same identifier, and identifiers a hosts-file
  // field would not give back (a comma, a quote, a line end, a number).
  TTestKindEntry bad = disk;
  EXPECT_FALSE(kinds.AddPluginKind(bad));
  for (const char* identifier : {"", "a,b", "say \"hi\"", "two\r\nlines", "42", "-7"}) {
    bad.Identifier = identifier;
    EXPECT_FALSE(kinds.AddPluginKind(bad)) << identifier;
  }
  bad.Identifier = "Nameless";
  bad.Name.clear();
  EXPECT_FALSE(kinds.AddPluginKind(bad));
  EXPECT_EQ(kinds.PluginCount(), 2);

  const TTestKindEntry* found = kinds.FindIdentifier("Script Test");
  ASSERT_TRUE(found);
  EXPECT_EQ(found, kinds.Find(TestPlugin + 1));
  EXPECT_FALSE(kinds.FindIdentifier("script test"));
  EXPECT_FALSE(kinds.Find(TestPlugin + 2));

  // Entries a loader leaves empty get the plug-in kinds' texts; none starts a test.
  TTestParams p;
  EXPECT_EQ(found->LabelSuffix(p), ":Script");
  EXPECT_EQ(found->SummaryInfo(p), "(None)");
  p.PluginParam = "C:";
  EXPECT_EQ(found->Data(p), "C:");
  EXPECT_EQ(found->TestAddress("srv", p), "srv");
  EXPECT_FALSE(found->Start);
  // A plug-in kind never replaces a built-in one.
  EXPECT_EQ(kinds.Find(TestPing)->Name, "Ping");
}
