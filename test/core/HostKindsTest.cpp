// The test kinds as the host record, the hosts file and the labels see them: every kind
// and every extra line round trip to the same bytes, and a plug-in kind added to the
// program's table at load time is stored by its identifier.
#include <gtest/gtest.h>

#include "common/Fields.h"
#include "common/QLEncryptString.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "hosttests/TTestKinds.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

// A host line as the program writes it: interval 1 minute, the kind in field 23.
std::string HostLine(int n, const std::string& kindField, bool offlineNotify, bool onlineNotify) {
  const std::string id = std::to_string(5000 + n);
  return "\"Host " + std::to_string(n) + "\",\"127.0.2." + std::to_string(n) +
         "\",\"1\",\"0\",\"0\",\"1.1833333\",\"\",,\"\",\"\",\"" + std::to_string(8000 + n) +
         "\",\"0\",1,,\"\",\"\",\"\",,\"\",\"svc" + std::to_string(n) + "|Service " + std::to_string(n) + "\",\"\",\"\"," +
         kindField + ",\"share" + std::to_string(n) + "\",\"" + id + "\"," + (offlineNotify ? "1" : "") + "," +
         (onlineNotify ? "1" : "") + ",\"\",\"0\",\"0\",\"0\",\"0\",\"0\",\"0\",0,\"0\",\"\",\"\",\"\",,\"text" +
         std::to_string(n) + "\"";
}

std::string RequestLine(const std::string& url, const std::string& password) {
  return HashEscape(url, HostsFileEscapeSet() | CharsOf(",")) + ",1,2.5,change@example.com,a=1,user," +
         HashEscape(ScrambleText(password), HostsFileEscapeSet() | CharsOf(","));
}

struct TKindCase {
  const char* Field;
  TTestKind Kind;
};

const TKindCase KindCases[] = {{"\"0\"", TestPing},    {"\"1\"", TestTCP},  {"\"2\"", TestService},
                               {"\"3\"", TestShare},   {"\"4\"", TestHTTP}, {"ScriptTest", TestPlugin + 2}};

bool Load(const std::string& file, THostList& list, std::vector<std::string>* events = nullptr) {
  THostsLoadOptions options;
  options.PluginTestIndex = [](const std::string& id) { return id == "ScriptTest" ? 2 : -1; };
  options.LocalSubnet = [](const std::string&) { return true; };
  options.Log = [events](const THost*, const std::string& message, TLogCategory) {
    if (events) events->push_back(message);
  };
  return LoadHosts(file, list, options);
}

}  // namespace

TEST(HostKindsTest, EveryKindWithEveryExtraLineSavesToTheSameBytes) {
  // Each kind with no notification, the offline one, the online one and both: the
  // kind's own line (a web page's request, a plug-in's parameter) comes first.
  std::vector<std::string> lines = {"\";Every kind\",0"};
  int n = 0;
  for (const TKindCase& kind : KindCases) {
    for (int notify = 0; notify < 4; ++notify) {
      ++n;
      const bool down = notify & 1, up = notify & 2;
      lines.push_back(HostLine(n, kind.Field, down, up));
      if (kind.Kind == TestHTTP) lines.push_back(RequestLine("http://127.0.0.1:8080/page" + std::to_string(n), "pw"));
      if (IsPluginKind(kind.Kind)) lines.push_back(HashEscape(ScrambleText("param " + std::to_string(n)), HostsFileEscapeSet()));
      if (down) lines.push_back(RequestLine("http://127.0.0.1:9/down" + std::to_string(n), ""));
      if (up) lines.push_back(RequestLine("http://127.0.0.1:9/up" + std::to_string(n), "secret, \"q\""));
    }
  }
  std::string original;
  for (const std::string& line : lines) original += line + "\r\n";

  TTempDir dir;
  WriteFileBytes(dir.File("hosts.cvlh"), original);
  THostList list;
  std::vector<std::string> events;
  ASSERT_TRUE(Load(dir.File("hosts.cvlh"), list, &events));
  EXPECT_TRUE(events.empty()) << events.front();
  ASSERT_EQ(list.Count(), 25);

  // Each extra line went to its own host and its own request.
  for (int i = 1; i <= 24; ++i) {
    const THost& h = *list.Items(i);
    const TKindCase& kind = KindCases[(i - 1) / 4];
    SCOPED_TRACE(h.DisplayName);
    EXPECT_EQ(h.TestKind, kind.Kind);
    EXPECT_EQ(h.ID, 5000 + i);
    EXPECT_EQ(h.Port, 8000 + i);
    EXPECT_EQ(h.SharePath, "share" + std::to_string(i));
    EXPECT_EQ(h.PluginText, "text" + std::to_string(i));
    EXPECT_EQ(h.HTTPTest.URL, kind.Kind == TestHTTP ? "http://127.0.0.1:8080/page" + std::to_string(i) : "");
    EXPECT_EQ(h.PluginParam, IsPluginKind(kind.Kind) ? "param " + std::to_string(i) : "");
    EXPECT_EQ(h.OfflineNotification.URL, h.OfflineNotify ? "http://127.0.0.1:9/down" + std::to_string(i) : "");
    EXPECT_EQ(h.OnlineNotification.URL, h.OnlineNotify ? "http://127.0.0.1:9/up" + std::to_string(i) : "");
    if (h.OnlineNotify) {
      EXPECT_EQ(h.OnlineNotification.Password, "secret, \"q\"");
    }
    EXPECT_EQ(h.OfflineNotify, ((i - 1) % 4 & 1) != 0);
    EXPECT_EQ(h.OnlineNotify, ((i - 1) % 4 & 2) != 0);
  }

  THostsSaveOptions save;
  save.PluginTestIdentifier = [](int index) { return index == 2 ? std::string("ScriptTest") : std::string(); };
  ASSERT_TRUE(SaveHosts(dir.File("hosts.cvlh"), list, save));
  EXPECT_EQ(ReadFileBytes(dir.File("hosts.cvlh")), original);

  // A copy of each record writes the same line but for its ID.
  THostList copies;
  for (int i = 0; i < list.Count(); ++i) {
    auto copy = std::make_unique<THost>();
    copies.CopyRecord(*list.Items(i), *copy, true, 0);
    copies.Add(std::move(copy));
  }
  ASSERT_TRUE(SaveHosts(dir.File("copies.cvlh"), copies, save));
  EXPECT_EQ(ReadFileBytes(dir.File("copies.cvlh")), original);
}

TEST(HostKindsTest, LabelsAndAddressesComeFromTheKindsTable) {
  THost host;
  host.DisplayName = "Intranet";
  host.Address = "127.0.0.3";
  host.TestKind = TestHTTP;
  host.HTTPTest.URL = "http://127.0.0.3/portal/index.html";
  EXPECT_EQ(HostLabel(host), "Intranet (127.0.0.3@127.0.0.3/portal/index.html");
  EXPECT_EQ(TestAddress(host), "http://127.0.0.3/portal/index.html");
  // A web-page host whose URL is still to be entered closes its bracket.
  host.HTTPTest.URL.clear();
  EXPECT_EQ(HostLabel(host), "Intranet (127.0.0.3)");

  for (int number = 0; number < KindNumber(TestPlugin); ++number) {
    const TTestKindEntry* kind = TTestKinds::Standard().Find(static_cast<TTestKind>(number));
    ASSERT_TRUE(kind) << number;
    EXPECT_EQ(kind->Kind, static_cast<TTestKind>(number));
    EXPECT_EQ(TestKindName(kind->Kind), kind->Name);
  }
  // Every built-in kind starts its test.
  for (TTestKind kind : {TestPing, TestTCP, TestService, TestShare, TestHTTP})
    EXPECT_TRUE(TTestKinds::Standard().Find(kind)->Start);
  EXPECT_FALSE(TTestKinds::Standard().Find(static_cast<TTestKind>(-1)));
  EXPECT_FALSE(TTestKinds::Standard().Find(TestPlugin + 40));
  host.TestKind = TestPlugin + 40;
  EXPECT_EQ(HostLabel(host), "Intranet (127.0.0.3:");
}

TEST(HostKindsTest, PluginKindAddedAtLoadTimeIsReadAndWrittenByItsIdentifier) {
  // What a plug-in loader does for each plug-in test it loads.
  TTestKindEntry entry;
  entry.Name = "Disk Space";
  entry.Identifier = "HostKindsTestDisk";
  const std::optional<TTestKind> kind = TTestKinds::Standard().AddPluginKind(entry);
  ASSERT_TRUE(kind);
  ASSERT_TRUE(IsPluginKind(*kind));

  const std::string line = HostLine(1, "HostKindsTestDisk", false, true);
  const std::string param = HashEscape(ScrambleText("C:"), HostsFileEscapeSet());
  const std::string up = RequestLine("http://127.0.0.1:9/up", "");
  const std::string original = line + "\r\n" + param + "\r\n" + up + "\r\n";
  TTempDir dir;
  WriteFileBytes(dir.File("hosts.cvlh"), original);
  THostList list;
  THostsLoadOptions options;  // no list of plug-in tests: the table answers
  ASSERT_TRUE(LoadHosts(dir.File("hosts.cvlh"), list, options));
  ASSERT_EQ(list.Count(), 1);
  const THost& h = *list.Items(0);
  EXPECT_EQ(h.TestKind, *kind);
  EXPECT_EQ(h.PluginParam, "C:");
  EXPECT_EQ(h.OnlineNotification.URL, "http://127.0.0.1:9/up");
  EXPECT_EQ(TestKindName(h.TestKind), "Disk Space");
  EXPECT_EQ(HostLabel(h), "Host 1 (127.0.2.1:Disk Space");
  ASSERT_TRUE(SaveHosts(dir.File("hosts.cvlh"), list));
  EXPECT_EQ(ReadFileBytes(dir.File("hosts.cvlh")), original);
}
