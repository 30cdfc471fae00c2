// The hosts file: exact bytes, every field both ways, the backup rule, and files that
// do not read whole.
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>

#include "common/Clock.h"
#include "common/Fields.h"
#include "common/FileUtils.h"
#include "common/QLEncryptString.h"
#include "common/HostsFileNumbers.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "core/TMonitor.h"
#include "platform/TServiceControl.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

const TDateTime LoadTime = EncodeDateTime(2026, 3, 14, 9, 26, 53);

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

struct TEvent {
  const THost* Host;
  std::string Message;
  char Category;
};

// Loads with a plug-in test "ScriptTest" at index 2, collecting the events.
struct TLoad {
  THostList List;
  std::vector<TEvent> Events;
  bool Result = false;

  explicit TLoad(const std::string& fileName) {
    THostsLoadOptions options;
    options.Now = LoadTime;
    options.PluginTestIndex = [](const std::string& id) { return id == "ScriptTest" ? 2 : -1; };
    options.Log = [this](const THost* host, const std::string& message, TLogCategory category) {
      Events.push_back({host, message, CategoryLetter(category)});
    };
    options.LocalSubnet = [](const std::string& address) { return address.rfind("127.", 0) == 0; };
    Result = LoadHosts(fileName, List, options);
  }
  const THost& operator[](int i) const { return *List.Items(i); }
  bool HasEvent(const std::string& part, char category) const {
    for (const TEvent& e : Events)
      if (e.Message.find(part) != std::string::npos && e.Category == category) return true;
    return false;
  }
};

THostsSaveOptions PluginNames() {
  THostsSaveOptions options;
  options.PluginTestIdentifier = [](int index) { return index == 2 ? std::string("ScriptTest") : std::string(); };
  return options;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Escaped(const std::string& text, bool comma) {
  return HashEscape(text, comma ? HostsFileEscapeSet() | CharsOf(",") : HostsFileEscapeSet());
}

TEST(HostsFileNumbersTest, RoundsHalfAwayFromZeroAndWritesPlainDecimals) {
  EXPECT_EQ(QuotedNumber(3), "\"3\"");
  EXPECT_EQ(QuotedNumber(2.5e-7), "\"0.0000003\"");
  EXPECT_EQ(QuotedNumber(-2.5e-7), "\"-0.0000003\"");
  EXPECT_EQ(QuotedNumber(0.12345675), "\"0.1234568\"");
  EXPECT_EQ(QuotedNumber(0.68333333333333333), "\"0.6833333\"");
  EXPECT_EQ(QuotedNumber(-4e-8), "\"0\"");
  EXPECT_EQ(QuotedNumber(46000.123456789), "\"46000.1234568\"");
  EXPECT_EQ(FormatGeneralNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatGeneralNumber(1e-7), "0.0000001");
  EXPECT_EQ(FormatGeneralNumber(1234567890123456789.0), "1234567890123460000");
  EXPECT_EQ(FormatGeneralNumber(-1234.5), "-1234.5");
  EXPECT_EQ(FormatGeneralNumber(static_cast<double>(0.1f)), "0.100000001490116");
  EXPECT_EQ(FormatGeneralNumber(std::numeric_limits<double>::quiet_NaN()), "0");
  EXPECT_EQ(RoundTo7Decimals(1e300), 1e300);

  double d = -1;
  EXPECT_TRUE(ParseNumber(" 1.5E-7 ", d));
  EXPECT_DOUBLE_EQ(d, 1.5e-7);
  // A comma is a decimal separator, as files from systems that write one have it.
  EXPECT_TRUE(ParseNumber("-46000,25", d));
  EXPECT_DOUBLE_EQ(d, -46000.25);
  for (const char* bad : {"", "1,5,0", "1,000.5", "1.5,0", "0x10", "inf", "nan", "1.5.2", "12abc"}) {
    EXPECT_FALSE(ParseNumber(bad, d)) << bad;
  }
  int64_t i = 0;
  EXPECT_TRUE(ParseInteger("+4000000000", i));
  EXPECT_EQ(i, 4000000000);
  EXPECT_FALSE(ParseInteger("4.0", i));
  EXPECT_FALSE(ParseInteger("99999999999999999999", i));

  EXPECT_DOUBLE_EQ(ParseIntervalText("90 sec", 1), 1.5);
  EXPECT_DOUBLE_EQ(ParseIntervalText("90S", 1), 1.5);
  EXPECT_DOUBLE_EQ(ParseIntervalText("30s", 1), 0.5);
  EXPECT_DOUBLE_EQ(ParseIntervalText("2", 1), 2);
  EXPECT_DOUBLE_EQ(ParseIntervalText("2.5 min", 1), 2.5);
  EXPECT_DOUBLE_EQ(ParseIntervalText("1,5", 1), 1.5);
  EXPECT_DOUBLE_EQ(ParseIntervalText("4,5 sec", 1), 0.075);
  EXPECT_DOUBLE_EQ(ParseIntervalText("s", 1), 1);     // the default stays in minutes
}

const std::string WebPasswordScrambled = ScrambleText("se,cr#et\"") + " ";

// A file with every field set, as the program writes it.
std::string FullFile() {
  const std::string router =
      "\"Router, \"\"main\"\"\",\"127.0.0.1\",\"2.5\",\"8.5\",\"17.25\",\"5\",\"ssh admin@127.0.0.1\",,"
      "\"CORP\\ops\",\"ops@example.com\",\"22\",\"46000.5\",15,1,\"Ops <ops@example.com>\",\"down %name%\","
      "\"up %name%\",1,\"000004D2\",\"svc|Service Display\",\"down.wav\",\"up.wav\",\"1\",\"\\\\srv\\share\","
      "\"1000\",1,1," + QuoteText(ScrambleText("p@ss, \"w\" "), '"') +
      ",\"12\",\"3\",\"46001.25\",\"46001.125\",\"1.5\",\"0.25\",1234,\"2\",\"00:11:22:33:44:55\","
      "\"127.0.0.1\",\"ipchange@example.com\",12,\"plug-in text\"";
  const std::string notifyDown = Escaped("http://127.0.0.1:9/down?h=%name%,#1", true) + ",1,0,,a=1,u," +
                                 Escaped(ScrambleText("pw"), true);
  const std::string notifyUp = "http://127.0.0.1:9/up,,0,,,,";
  const std::string web =
      "\"Web\",\"127.0.1.2\",\"0.5\",\"0\",\"0\",\"0.6833333\",\"\",,\"\",\"\",\"0\",\"0\",1,,\"\",\"\",\"\",,"
      "\"\",\"\",\"\",\"\",\"4\",\"\",\"1234\",,,\"\",\"0\",\"0\",\"0\",\"0\",\"0\",\"0\",0,\"0\","
      "\"\",\"\",\"\",,\"\"";
  // The password's scrambled form ends in a blank, which the line keeps.
  const std::string webRequest = Escaped("http://127.0.0.1:8080/a,b#c?q=\"1\"", true) + ",1,12.5,web@example.com," +
                                 Escaped("a=1\xff" "b=2", true) + ",user," + Escaped(WebPasswordScrambled, true);
  const std::string script =
      "\"Script\",\"127.0.1.3\",\"1\",\"0\",\"0\",\"1.1833333\",\"\",,\"\",\"\",\"0\",\"1\",0,,\"\",\"\",\"\",,"
      "\"\",\"\",\"\",\"\",ScriptTest,\"\",\"77\",,,\"\",\"0\",\"0\",\"0\",\"0\",\"0\",\"0\",0,\"0\","
      "\"\",\"\",\"\",2,\"\"";
  const std::string param = Escaped(ScrambleText(" param \"with\" #hash\t "), false);
  return Lines({"\";Core\",1", router, notifyDown, notifyUp, "\";Web\",0", web, webRequest, script, param});
}

TEST(HostsFileTest, EveryFieldReadsAsWrittenAndSavesToTheSameBytes) {
  TTempDir dir;
  const std::string original = FullFile();
  WriteFileBytes(dir.File("hosts.cvlh"), original);
  TLoad load(dir.File("hosts.cvlh"));
  ASSERT_TRUE(load.Result);
  EXPECT_TRUE(load.Events.empty());
  ASSERT_EQ(load.List.Count(), 5);

  const THost& group = load[0];
  EXPECT_TRUE(group.IsGroup());
  EXPECT_EQ(group.Status, 1);  // collapsed
  EXPECT_EQ(group.GroupNumber, 1);

  const THost& r = load[1];
  EXPECT_EQ(r.DisplayName, "Router, \"main\"");
  EXPECT_EQ(r.Address, "127.0.0.1");
  EXPECT_DOUBLE_EQ(r.TestInterval, 2.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(r.WindowStart), 8.5 / 24);
  EXPECT_DOUBLE_EQ(static_cast<double>(r.WindowEnd), 17.25 / 24);
  EXPECT_DOUBLE_EQ(r.ErrorAfter, 5);
  EXPECT_EQ(r.DoubleClickCommand, "ssh admin@127.0.0.1");
  EXPECT_EQ(r.WinUserName, "CORP\\ops");
  EXPECT_EQ(r.WinPassword, "p@ss, \"w\" ");
  EXPECT_EQ(r.Port, 22);
  EXPECT_DOUBLE_EQ(r.DisabledUntil, 46000.5);
  EXPECT_TRUE(r.AlertWindow && r.OnlinePopup && r.GlobalOfflineSound && r.GlobalOnlineSound);
  EXPECT_TRUE(r.EmailWindow && r.Dependable && r.OfflineNotify && r.OnlineNotify);
  EXPECT_EQ(r.OnlineRecipients, "Ops <ops@example.com>");
  EXPECT_EQ(r.OfflineCommand, "down %name%");
  EXPECT_EQ(r.Parents, "000004D2");
  EXPECT_EQ(r.Ancestors, "000004D2");
  EXPECT_EQ(r.Service, "svc|Service Display");
  EXPECT_EQ(r.TestKind, TestTCP);
  EXPECT_EQ(r.SharePath, "\\\\srv\\share");
  EXPECT_EQ(r.ID, 1000);
  EXPECT_EQ(r.Successes, 12u);
  EXPECT_EQ(r.Failures, 3u);
  EXPECT_DOUBLE_EQ(r.LastSuccess, 46001.25);
  EXPECT_DOUBLE_EQ(r.LastFailure, 46001.125);
  EXPECT_DOUBLE_EQ(static_cast<double>(r.Uptime), 1.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(r.Downtime), 0.25);
  EXPECT_EQ(r.TotalResponse, 1234);
  EXPECT_EQ(r.Warnings, 2u);
  EXPECT_EQ(r.MACAddress, "00:11:22:33:44:55");
  EXPECT_EQ(r.CurrentIP, "127.0.0.1");
  EXPECT_EQ(r.IPChangeRecipients, "ipchange@example.com");
  EXPECT_TRUE(r.HasBeenOffline && r.ParentHasBeenOffline);
  EXPECT_EQ(r.PluginText, "plug-in text");
  EXPECT_EQ(r.OfflineNotification.URL, "http://127.0.0.1:9/down?h=%name%,#1");
  EXPECT_TRUE(r.OfflineNotification.Post);
  EXPECT_EQ(r.OfflineNotification.Variables, "a=1");
  EXPECT_EQ(r.OfflineNotification.Password, "pw");
  EXPECT_EQ(r.OnlineNotification.URL, "http://127.0.0.1:9/up");
  EXPECT_TRUE(r.LocalSubnet);
  // Not stored: a loaded host starts from scratch.
  EXPECT_EQ(r.Status, StatusUnknown);
  EXPECT_DOUBLE_EQ(r.BaselineTime, LoadTime);
  EXPECT_EQ(r.ResponseHistory.back(), -1);
  EXPECT_EQ(r.GroupNumber, 1);

  const THost& web = load[3];
  EXPECT_EQ(web.GroupNumber, 2);
  EXPECT_EQ(web.TestKind, TestHTTP);
  EXPECT_DOUBLE_EQ(web.ErrorAfter, 0.5 + 0.18333333333333333);  // raised past the interval
  EXPECT_TRUE(web.AlertWindow);
  EXPECT_FALSE(web.OnlinePopup || web.GlobalOfflineSound || web.GlobalOnlineSound);
  EXPECT_EQ(web.HTTPTest.URL, "http://127.0.0.1:8080/a,b#c?q=\"1\"");
  EXPECT_FLOAT_EQ(web.HTTPTest.ChangeThreshold, 12.5f);
  EXPECT_EQ(web.HTTPTest.ChangeRecipients, "web@example.com");
  EXPECT_EQ(web.HTTPTest.Variables, "a=1\xff" "b=2");
  EXPECT_EQ(web.HTTPTest.UserName, "user");
  EXPECT_EQ(web.HTTPTest.Password, UnscrambleText(WebPasswordScrambled));
  EXPECT_EQ(web.HTTPTest.Password.size(), 10u);

  const THost& script = load[4];
  EXPECT_EQ(script.TestKind, TestPlugin + 2);
  EXPECT_EQ(script.PluginParam, " param \"with\" #hash\t ");
  EXPECT_DOUBLE_EQ(script.DisabledUntil, 1);
  EXPECT_TRUE(!script.HasBeenOffline && script.ParentHasBeenOffline);

  ASSERT_TRUE(SaveHosts(dir.File("hosts.cvlh"), load.List, PluginNames()));
  EXPECT_EQ(ReadFileBytes(dir.File("hosts.cvlh")), original);
  EXPECT_EQ(ReadFileBytes(dir.File("hosts.cvlh.bak")), original);
}

TEST(HostsFileTest, SavedRecordsLoadBackWithEveryStoredField) {
  TTempDir dir;
  THostList list;
  THost* a = list.Add(list.NewRecord(1));
  a->DisplayName = "Line\r\nbreak";  // would split the record
  a->Address = "127.0.0.1";
  a->TestInterval = 1.0 / 3;
  a->ErrorAfter = 7.25;
  a->WindowStart = 22.0L / 24;
  a->WindowEnd = 6.5L / 24;
  a->LastSuccess = 46012.123456789;
  a->LastFailure = 46011.987654321;
  a->Uptime = 12.3456789L;
  a->Successes = 4000000000u;
  a->TotalResponse = 123456789012;
  a->Status = StatusOffline;
  a->TestKind = TestHTTP;
  a->HTTPTest.URL = "http://127.0.0.1:8080/\r\n";
  a->HTTPTest.ChangeThreshold = 0.1f;
  a->OnlinePopup = true;
  a->GlobalOfflineSound = false;
  THost* b = list.Add(list.NewRecord(1));
  b->DisplayName = "";  // read back as the address
  b->Address = "192.0.2.7";
  b->Parents = a->IDText();

  ASSERT_TRUE(SaveHosts(dir.File("h.cvlh"), list));
  const std::string saved = ReadFileBytes(dir.File("h.cvlh"));
  TLoad load(dir.File("h.cvlh"));
  ASSERT_TRUE(load.Result);
  ASSERT_EQ(load.List.Count(), 2);
  const THost& la = load[0];
  EXPECT_EQ(la.DisplayName, "Line  break");
  EXPECT_NEAR(la.TestInterval, 1.0 / 3, 1e-7);
  EXPECT_DOUBLE_EQ(la.ErrorAfter, 7.25);
  EXPECT_NEAR(static_cast<double>(la.WindowStart), 22.0 / 24, 1e-8);
  EXPECT_NEAR(static_cast<double>(la.WindowEnd), 6.5 / 24, 1e-8);
  EXPECT_NEAR(la.LastSuccess, 46012.123456789, 1e-7);  // about 9 ms
  EXPECT_NEAR(la.LastFailure, 46011.987654321, 1e-7);
  EXPECT_NEAR(static_cast<double>(la.Uptime), 12.3456789, 1e-7);
  EXPECT_EQ(la.Successes, 4000000000u);
  EXPECT_EQ(la.TotalResponse, 123456789012);
  EXPECT_EQ(la.Status, StatusUnknown);
  EXPECT_EQ(la.HTTPTest.URL, "http://127.0.0.1:8080/\r\n");  // trimmed before it is unescaped
  EXPECT_EQ(la.HTTPTest.ChangeThreshold, 0.1f);
  EXPECT_TRUE(la.AlertWindow && la.OnlinePopup && !la.GlobalOfflineSound && la.GlobalOnlineSound);
  EXPECT_EQ(la.ID, a->ID);
  EXPECT_EQ(load[1].DisplayName, "192.0.2.7");
  EXPECT_EQ(load[1].Parents, a->IDText());
  EXPECT_FALSE(load[1].LocalSubnet);

  // What was read once writes the same bytes again.
  ASSERT_TRUE(SaveHosts(dir.File("again.cvlh"), load.List));
  std::string expected = saved;
  expected.replace(expected.find("\"\",\"192.0.2.7\""), 2, "\"192.0.2.7\"");
  EXPECT_EQ(ReadFileBytes(dir.File("again.cvlh")), expected);
}

TEST(HostsFileTest, SaveKeepsThePreviousFileAsBackupAndFailsWithoutTouchingEither) {
  TTempDir dir;
  const std::string file = dir.File("hosts.cvlh");
  THostList list;
  THost* host = list.Add(list.NewRecord(1));
  for (const char* name : {"one", "two", "three"}) {
    host->DisplayName = name;
    ASSERT_TRUE(SaveHosts(file, list));
  }
  const std::string two = ReadFileBytes(file + ".bak");
  const std::string three = ReadFileBytes(file);
  EXPECT_EQ(two.substr(0, 5), "\"two\"");
  EXPECT_EQ(three.substr(0, 7), "\"three\"");
  EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"hosts.cvlh", "hosts.cvlh.bak"}));

  // Every temporary name taken: the save fails and changes nothing.
  WriteFileBytes(dir.File("0000002A.cvl"), "someone else's");
  THostsSaveOptions stuck;
  stuck.Random = [] { return 42u; };
  host->DisplayName = "four";
  std::string error;
  EXPECT_FALSE(SaveHosts(file, list, stuck, &error));
  EXPECT_NE(error.find("temporary file"), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(file), three);
  EXPECT_EQ(ReadFileBytes(file + ".bak"), two);
  EXPECT_EQ(ReadFileBytes(dir.File("0000002A.cvl")), "someone else's");

  // The next free name is used; when the final rename fails, the data stays in it.
  std::vector<uint32_t> draws{42u, 0xBEEFu};
  THostsSaveOptions next;
  next.Random = [&draws] {
    const uint32_t v = draws.front();
    if (draws.size() > 1) draws.erase(draws.begin());
    return v;
  };
  ::mkdir(dir.File("folder.cvlh").c_str(), 0700);
  EXPECT_FALSE(SaveHosts(dir.File("folder.cvlh"), list, next, &error));
  EXPECT_EQ(ReadFileBytes(dir.File("0000BEEF.cvl")).substr(0, 6), "\"four\"");

  EXPECT_FALSE(SaveHosts(dir.File("missing/hosts.cvlh"), list, {}, &error));
}

TEST(HostsFileTest, CommentsBlankLinesIntervalsAndShortLines) {
  TTempDir dir;
  WriteFileBytes(dir.File("c.cvlh"), "! comment\n\n# another\r\n   ' third\n/ fourth\n \t \r\n");
  TLoad empty(dir.File("c.cvlh"));
  EXPECT_TRUE(empty.Result);
  EXPECT_EQ(empty.List.Count(), 0);

  // LF line ends; intervals in seconds; lines ending early keep defaults, and a line
  // too short to name a test kind is no plug-in host that would swallow the next line.
  WriteFileBytes(dir.File("i.cvlh"),
                 "\"A\",\"127.0.0.1\",\"30 sec\",\"0\",\"0\",\"0\"\n"
                 "\"B\",\"127.0.0.2\",\"90s\",\"\",\"\",\"10\",\"\",,\"\",\"\",\"\",\"\"\n"
                 "\"C\",\"127.0.0.3\",\"2\"\n");
  TLoad load(dir.File("i.cvlh"));
  EXPECT_TRUE(load.Result);
  ASSERT_EQ(load.List.Count(), 3);
  EXPECT_DOUBLE_EQ(load[0].TestInterval, 0.5);
  EXPECT_NEAR(load[0].ErrorAfter, 0.68333333, 1e-8);
  EXPECT_DOUBLE_EQ(load[1].TestInterval, 1.5);
  EXPECT_DOUBLE_EQ(load[1].ErrorAfter, 10);
  // Field 13 missing: only the alert-window flag.
  EXPECT_TRUE(load[1].AlertWindow);
  EXPECT_FALSE(load[1].OnlinePopup || load[1].GlobalOfflineSound || load[1].GlobalOnlineSound);
  EXPECT_EQ(load[1].TestKind, TestPing);
  EXPECT_DOUBLE_EQ(load[2].TestInterval, 2);
  EXPECT_DOUBLE_EQ(load[2].ErrorAfter, 2 + 0.18333333333333333);
  EXPECT_TRUE(load.Events.empty());
}

// A host line with the given parents, ID and test kind, everything else empty.
std::string HostWith(const std::string& name, const std::string& parents, const std::string& id,
                     const std::string& kind = "\"0\"") {
  std::string line = "\"" + name + "\",\"127.0.0.1\"";
  for (int field = 3; field <= 41; ++field) {
    line += ",";
    if (field == 19) line += "\"" + parents + "\"";
    if (field == 23) line += kind;
    if (field == 25) line += "\"" + id + "\"";
  }
  return line;
}

TEST(HostsFileTest, GroupsParentsAndDuplicateIDs) {
  TTempDir dir;
  WriteFileBytes(dir.File("p.cvlh"),
                 Lines({HostWith("Before", ";1;", "1"), "\";G1\",\"1\"", "\";G2\",x",
                        HostWith("Self", "00000002;;00000001;00000099;00000002;00000001", "2"),
                        HostWith("Dup", "00000002", "1"), HostWith("Child", "00000002;000000aa", "3"),
                        HostWith("Odd", "1", "4")}));
  TLoad load(dir.File("p.cvlh"));
  ASSERT_TRUE(load.Result);
  ASSERT_EQ(load.List.Count(), 7);
  EXPECT_EQ(load[0].GroupNumber, 0);
  EXPECT_EQ(load[0].Parents, "");  // ";1;" from older files
  EXPECT_EQ(load[1].GroupNumber, 1);
  EXPECT_EQ(load[1].Status, 1);
  EXPECT_EQ(load[2].GroupNumber, 2);
  EXPECT_EQ(load[2].Status, 0);  // unreadable: expanded
  EXPECT_EQ(load[3].GroupNumber, 2);
  // Its own ID exists, so it stays; the unknown one and the repeats go.
  EXPECT_EQ(load[3].Parents, "00000002;00000001");
  // The later of two records with ID 1 is renumbered; parents still name the first.
  EXPECT_EQ(load[0].ID, 1);
  EXPECT_NE(load[4].ID, 1);
  EXPECT_EQ(load.List.FindByIDText("00000001"), 0);
  EXPECT_EQ(load[5].Parents, "00000002");  // lower-case hex names no record
  EXPECT_EQ(load[5].Ancestors, "00000002;00000001");  // through the cleaned parents of Self
  EXPECT_EQ(load[6].Parents, "");
  EXPECT_TRUE(load.Events.empty());
}

// Each distinct address is asked once, and names (which may wait for a name server)
// are asked several at a time: a start-up with many named hosts does not wait for
// each lookup in turn.
TEST(HostsFileTest, LocalSubnetIsAskedOncePerAddressAndNamesAtOnce) {
  TTempDir dir;
  const std::vector<std::string> addresses = {"near.example", "127.0.0.5", "far.example", "near.example",
                                              "127.0.0.5", "198.51.100.1", "", "far.example"};
  std::string text = "\";G\",0\r\n";
  for (size_t i = 0; i < addresses.size(); ++i) {
    std::string line = HostWith("H" + std::to_string(i), "", std::to_string(i + 1));
    line.replace(line.find("127.0.0.1"), 9, addresses[i]);
    text += line + "\r\n";
  }
  WriteFileBytes(dir.File("n.cvlh"), text);

  std::mutex lock;
  std::condition_variable changed;
  std::map<std::string, int> asked;
  int namesInFlight = 0;
  bool overlapped = false;
  THostList list;
  THostsLoadOptions options;
  options.LocalSubnet = [&](const std::string& address) {
    std::unique_lock<std::mutex> guard(lock);
    ++asked[address];
    if (address.find(".example") != std::string::npos) {
      // The first name waits (boundedly) for the second to be asked meanwhile.
      ++namesInFlight;
      overlapped = overlapped || namesInFlight > 1;
      changed.notify_all();
      changed.wait_for(guard, std::chrono::seconds(5), [&] { return overlapped; });
      --namesInFlight;
    }
    return address == "near.example" || address == "127.0.0.5";
  };
  ASSERT_TRUE(LoadHosts(dir.File("n.cvlh"), list, options));
  ASSERT_EQ(list.Count(), 9);
  EXPECT_TRUE(overlapped) << "the names were looked up one after the other";
  EXPECT_EQ(asked, (std::map<std::string, int>{
                       {"", 1}, {"127.0.0.5", 1}, {"198.51.100.1", 1}, {"far.example", 1}, {"near.example", 1}}));
  EXPECT_FALSE(list.Items(0)->LocalSubnet);  // the group row is asked nothing
  for (size_t i = 0; i < addresses.size(); ++i)
    EXPECT_EQ(list.Items(static_cast<int>(i) + 1)->LocalSubnet,
              addresses[i] == "near.example" || addresses[i] == "127.0.0.5")
        << addresses[i];
}

TEST(HostsFileTest, UnknownTestTypesBecomePingAndTheFileIsKept) {
  TTempDir dir;
  const std::string unknown = HostWith("Gone", "", "5", "Missing");
  const std::string nine = HostWith("Nine", "", "6", "\"9\"");
  const std::string text = Lines({unknown, Escaped(ScrambleText("its parameter"), false), nine, HostWith("Next", "", "7")});
  WriteFileBytes(dir.File("u.cvlh"), text);
  TLoad load(dir.File("u.cvlh"));
  EXPECT_TRUE(load.Result);
  ASSERT_EQ(load.List.Count(), 3);
  EXPECT_EQ(load[0].TestKind, TestPing);
  EXPECT_EQ(load[0].PluginParam, "");
  EXPECT_EQ(load[1].TestKind, TestPing);
  EXPECT_EQ(load[2].DisplayName, "Next");
  ASSERT_GE(load.Events.size(), 2u);
  EXPECT_EQ(load.Events[0].Message, "Unrecognized test type: Missing.  Setting type to Ping.");
  EXPECT_EQ(load.Events[0].Category, 'I');
  EXPECT_EQ(load.Events[0].Host, &load[0]);
  EXPECT_EQ(load.Events[1].Message, "Unrecognized test type: 9.  Setting type to Ping.");
  // The next save would drop those tests for good: the file is kept as it was.
  const std::string copy = dir.File("u.cvlh.unreadable-20260314-092653");
  EXPECT_TRUE(load.HasEvent("an untouched copy is kept as \"" + copy + "\"", 'E'));
  EXPECT_EQ(ReadFileBytes(copy), text);
}

// Loads a damaged file and checks that the load fails with the event, keeps the hosts
// it could read, and leaves a byte-identical copy.
void ExpectKeptAndReported(const std::string& text, const std::string& event, int hosts) {
  SCOPED_TRACE(event);
  TTempDir dir;
  const std::string file = dir.File("hosts.cvlh");
  WriteFileBytes(file, text);
  TLoad load(file);
  EXPECT_FALSE(load.Result);
  EXPECT_EQ(load.List.Count(), hosts);
  EXPECT_TRUE(load.HasEvent(event, 'E'));
  const std::string copy = file + ".unreadable-20260314-092653";
  EXPECT_TRUE(load.HasEvent("was not read completely; an untouched copy is kept as \"" + copy + "\"", 'E'));
  EXPECT_EQ(ReadFileBytes(copy), text);
  EXPECT_EQ(ReadFileBytes(file), text);

  // A second failed load never replaces the first copy.
  TLoad again(file);
  EXPECT_EQ(ReadFileBytes(copy + "-2"), text);
}

TEST(HostsFileTest, DamagedFilesKeepEveryReadableHostAndAnUntouchedCopy) {
  const std::string a = HostWith("A", "", "1");
  const std::string b = HostWith("B", "", "2");
  ExpectKeptAndReported(Lines({a, std::string("\"X\",\0\x01\xff\xfe,\"", 8), b}),
                        "Line 2 of \"", 2);
  ExpectKeptAndReported(a + "\r\n" + std::string(4096, '\0'), "skipped: it holds binary data.", 1);
  ExpectKeptAndReported(Lines({a, "\"Long\",\"" + std::string(MaxHostsLineBytes, 'x') + "\"", b}),
                        "Line 2 of \"", 2);

  // An HTTP host whose request line is missing, or cut off, reads it as far as it goes.
  const std::string web = HostWith("W", "", "3", "\"4\"");
  ExpectKeptAndReported(Lines({web}), "ends in the middle of the record that begins on line 1", 1);
  ExpectKeptAndReported(Lines({web}) + "http://127.0.0.1/x,1", "begins on line 1", 1);
  TTempDir dir;
  WriteFileBytes(dir.File("cut.cvlh"), Lines({web}) + "http://127.0.0.1/x,1");
  TLoad cut(dir.File("cut.cvlh"));
  EXPECT_EQ(cut[0].HTTPTest.URL, "http://127.0.0.1/x");
  EXPECT_TRUE(cut[0].HTTPTest.Post);

  // A line right at the limit is still a line.
  WriteFileBytes(dir.File("edge.cvlh"), "\"" + std::string(MaxHostsLineBytes - 2, 'n') + "\"\r\n");
  TLoad edge(dir.File("edge.cvlh"));
  EXPECT_TRUE(edge.Result);
  EXPECT_EQ(edge.List.Count(), 1);

  TLoad missing(dir.File("none.cvlh"));
  EXPECT_FALSE(missing.Result);
  EXPECT_TRUE(missing.Events.empty());
}

// Files from other systems and editors: every host arrives, nothing is reported, no
// copy is kept, and the next save writes what was read.
TEST(HostsFileTest, HandEditedFilesLoadWholeAndSaveWhatTheyHold) {
  struct TCase {
    const char* What;
    std::string Text;
    std::vector<std::string> Names;
  };
  const std::string a = HostWith("A", "", "1");
  const std::string b = HostWith("B", "", "2");
  const std::vector<TCase> cases = {
      {"lines ended by CR alone", a + "\r" + b + "\r\n", {"A", "B"}},
      {"CR alone, CR LF and LF mixed", a + "\r\r\n" + b + "\n" + HostWith("C", "", "3") + "\r", {"A", "B", "C"}},
      {"last line short and without a line end", a + "\r\n\"B\",\"127.0.0.2\",\"5\"", {"A", "B"}},
      {"field 23 empty but present", Lines({HostWith("A", "", "1", ""), b}), {"A", "B"}},
      {"field 23 quoted empty", Lines({HostWith("A", "", "1", "\"\""), b}), {"A", "B"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TTempDir dir;
    const std::string file = dir.File("hosts.cvlh");
    WriteFileBytes(file, c.Text);
    TLoad load(file);
    EXPECT_TRUE(load.Result);
    std::vector<std::string> names;
    for (const auto& record : load.List.Records()) {
      names.push_back(record->DisplayName);
      EXPECT_EQ(record->TestKind, TestPing);
      EXPECT_EQ(record->PluginText, "");
    }
    EXPECT_EQ(names, c.Names);
    EXPECT_TRUE(load.Events.empty()) << load.Events.front().Message;
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"hosts.cvlh"});

    ASSERT_TRUE(SaveHosts(file, load.List));
    TLoad again(file);
    EXPECT_EQ(again.List.Count(), static_cast<int>(c.Names.size()));
  }

  // A short last line keeps the defaults of what it lacks.
  TTempDir dir;
  WriteFileBytes(dir.File("s.cvlh"), "\"B\",\"127.0.0.2\",\"5\"");
  TLoad shortLine(dir.File("s.cvlh"));
  ASSERT_EQ(shortLine.List.Count(), 1);
  EXPECT_DOUBLE_EQ(shortLine[0].TestInterval, 5);
  EXPECT_TRUE(shortLine[0].AlertWindow);

  // Numbers with a decimal comma read as meant and are written with a point.
  std::string comma = "\"N\",\"127.0.0.1\",\"2,5\",\"8,5\",\"17,25\",\"90,5 sec\"";
  for (int field = 7; field <= 41; ++field) {
    comma += ",";
    if (field == 12) comma += "\"46000,5\"";
    if (field == 31) comma += "\"46001,25\"";
    if (field == 33) comma += "\"1,5\"";
  }
  WriteFileBytes(dir.File("n.cvlh"), comma + "\r\n");
  TLoad numbers(dir.File("n.cvlh"));
  ASSERT_EQ(numbers.List.Count(), 1);
  EXPECT_DOUBLE_EQ(numbers[0].TestInterval, 2.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(numbers[0].WindowStart * 24), 8.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(numbers[0].WindowEnd * 24), 17.25);
  EXPECT_DOUBLE_EQ(numbers[0].ErrorAfter, 2.5 + 0.18333333333333333);  // 90.5 s is shorter
  EXPECT_DOUBLE_EQ(numbers[0].DisabledUntil, 46000.5);
  EXPECT_DOUBLE_EQ(numbers[0].LastSuccess, 46001.25);
  EXPECT_DOUBLE_EQ(static_cast<double>(numbers[0].Uptime), 1.5);
  ASSERT_TRUE(SaveHosts(dir.File("n.cvlh"), numbers.List));
  const std::string saved = ReadFileBytes(dir.File("n.cvlh"));
  EXPECT_EQ(saved.rfind("\"N\",\"127.0.0.1\",\"2.5\",\"8.5\",\"17.25\",", 0), 0u) << saved;
  EXPECT_NE(saved.find(",\"46001.25\","), std::string::npos);
}

TEST(HostsFileTest, SavesKeepPasswordsPrivateAndLeaveReadOnlyFilesAlone) {
  TTempDir dir;
  const std::string file = dir.File("hosts.cvlh");
  THostList list;
  list.Add(list.NewRecord(1))->DisplayName = "one";
  const auto mode = [](const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  };
  // A new file is its owner's only; an existing one keeps its mode.
  ASSERT_TRUE(SaveHosts(file, list));
  EXPECT_EQ(mode(file), 0600);
  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(SaveHosts(file, list));
  EXPECT_EQ(mode(file), 0640);

  // What a save cut short leaves is its owner's only, even beside a file others read.
  ::mkdir(dir.File("folder.cvlh").c_str(), 0755);
  THostsSaveOptions fixed;
  fixed.Random = [] { return 0xC0FFEEu; };
  std::string error;
  EXPECT_FALSE(SaveHosts(dir.File("folder.cvlh"), list, fixed, &error));
  EXPECT_EQ(mode(dir.File("00C0FFEE.cvl")), 0600);
  ::unlink(dir.File("00C0FFEE.cvl").c_str());

  // A file without write rights is refused and stays as it is, without a backup.
  ::chmod(file.c_str(), 0444);
  const std::string before = ReadFileBytes(file);
  list.Items(0)->DisplayName = "two";
  EXPECT_FALSE(SaveHosts(file, list, {}, &error));
  EXPECT_EQ(error.rfind("the file is read-only", 0), 0u) << error;
  EXPECT_EQ(ReadFileBytes(file), before);
  EXPECT_EQ(mode(file), 0444);
  EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"folder.cvlh", "hosts.cvlh", "hosts.cvlh.bak"}));
  EXPECT_EQ(ReadFileBytes(file + ".bak"), before);  // from the save before
}

TEST(HostsFileTest, DemoConfigurationLoadsWholeAndTestsOnlyLoopback) {
  const std::string demo = testsupport::SourceDir() + "/scripts/demo/hosts.cvlh";
  TLoad load(demo);
  ASSERT_TRUE(load.Result);
  int hosts = 0, dependants = 0;
  for (const auto& record : load.List.Records()) {
    if (record->IsGroup()) continue;
    ++hosts;
    dependants += record->Parents.empty() ? 0 : 1;
    EXPECT_TRUE(record->Address.rfind("127.", 0) == 0 || record->Address == "localhost") << record->Address;
    if (record->TestKind == TestHTTP) {
      EXPECT_EQ(record->HTTPTest.URL.rfind("http://127.", 0), 0u);
    }
  }
  EXPECT_GE(hosts, 8);
  EXPECT_GE(dependants, 2);
  TTempDir dir;
  ASSERT_TRUE(SaveHosts(dir.File("demo.cvlh"), load.List));
  EXPECT_EQ(ReadFileBytes(dir.File("demo.cvlh")), ReadFileBytes(demo));
}

// A monitor on a data folder and registry of its own.
class HostsMonitorTest : public ::testing::Test {
protected:
  HostsMonitorTest()
      : FReg("CORVALE_REGISTRY_DIR", Dir("reg")), FData("CORVALE_DATA_DIR", Dir("data")),
        FRun("XDG_RUNTIME_DIR", Dir("run")), FClock(LoadTime) {
    Dir("data/Quillmoor");
    HostsFile = Dir("data/Quillmoor/Corvale") + "/hosts.cvlh";
  }
  std::string Dir(const std::string& name) {
    const std::string d = FRoot.Path() + "/" + name;
    ::mkdir(d.c_str(), 0700);
    return d;
  }
  std::unique_ptr<TMonitor> NewMonitor() {
    TStartOptions options;
    options.ServiceMode = true;
    auto monitor = std::make_unique<TMonitor>(options, FClock, FServices);
    monitor->SetPluginTestLookup([](const std::string& id) { return id == "ScriptTest" ? 2 : -1; },
                                 [](int index) { return index == 2 ? std::string("ScriptTest") : std::string(); });
    return monitor;
  }
  static bool Logged(TMonitor& monitor, const std::string& text, char category) {
    for (const TLogLine& line : monitor.Log().Lines())
      if (line.Text.find("\t" + text) != std::string::npos && line.Text.back() == category) return true;
    return false;
  }

  TTempDir FRoot;
  TScopedEnv FReg, FData, FRun;
  TManualClock FClock;
  TNoServiceControl FServices;
  std::string HostsFile;
};

TEST_F(HostsMonitorTest, HostsFileIsLoadedAtStartAndWrittenBackAtShutdown) {
  const std::string original = FullFile();
  WriteFileBytes(HostsFile, original);
  auto monitor = NewMonitor();
  std::vector<std::pair<std::string, int>> changes;
  monitor->AddConfigurationChangedHook([&](const std::string& name, int count) { changes.emplace_back(name, count); });
  monitor->AddConfigurationChangedHook([](const std::string&, int) { throw std::runtime_error("plug-in failed"); });
  monitor->Startup();
  ASSERT_EQ(monitor->HostsFileName(), HostsFile);
  EXPECT_EQ(monitor->Hosts().Count(), 5);
  EXPECT_EQ(changes, (std::vector<std::pair<std::string, int>>{{HostsFile, 5}}));
  EXPECT_TRUE(Logged(*monitor, "\"" + HostsFile + "\" loaded as the current configuration file", 'C'));

  // A file that is not there leaves the configuration as it is.
  EXPECT_FALSE(monitor->LoadConfiguration(FRoot.File("none.cvlh")));
  EXPECT_EQ(monitor->Hosts().Count(), 5);
  EXPECT_EQ(monitor->HostsFileName(), HostsFile);

  monitor->Shutdown();
  EXPECT_EQ(ReadFileBytes(HostsFile), original);
  EXPECT_EQ(ReadFileBytes(HostsFile + ".bak"), original);
  EXPECT_TRUE(Logged(*monitor, "Configuration file saved: " + HostsFile, 'C'));
}

TEST_F(HostsMonitorTest, HostsFileThatStopsLoadingSurvivesTheSavesThatFollow) {
  const std::string damaged =
      Lines({HostWith("A", "", "1"), std::string("\0\0garbage\0", 10), HostWith("B", "00000001", "2")});
  WriteFileBytes(HostsFile, damaged);
  const std::string copy = HostsFile + ".unreadable-20260314-092653";
  for (int run = 1; run <= 2; ++run) {
    auto monitor = NewMonitor();
    monitor->Startup();
    EXPECT_EQ(monitor->Hosts().Count(), 2);
    EXPECT_EQ(Logged(*monitor, "\"" + HostsFile + "\" loaded as the current configuration file", 'C'), run == 2);
    monitor->Shutdown();
  }
  // Two saves later the backup holds only what was read; the copy holds everything.
  EXPECT_EQ(ReadFileBytes(copy), damaged);
  EXPECT_EQ(ReadFileBytes(HostsFile + ".bak"), ReadFileBytes(HostsFile));
  EXPECT_EQ(ReadFileBytes(HostsFile).find("garbage"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(copy + "-2"));
}

TEST_F(HostsMonitorTest, ReadOnlyHostsFileIsNotReplacedAtShutdown) {
  const std::string original = Lines({HostWith("A", "", "1")});
  WriteFileBytes(HostsFile, original);
  ::chmod(HostsFile.c_str(), 0444);
  auto monitor = NewMonitor();
  monitor->Startup();
  ASSERT_EQ(monitor->Hosts().Count(), 1);
  monitor->Hosts().Items(0)->DisplayName = "Renamed";
  monitor->Shutdown();
  EXPECT_TRUE(Logged(*monitor, "Unable to save the configuration file " + HostsFile + ": the file is read-only", 'E'));
  EXPECT_EQ(ReadFileBytes(HostsFile), original);
  EXPECT_FALSE(std::filesystem::exists(HostsFile + ".bak"));
}

TEST_F(HostsMonitorTest, StartUpRemovesWhatInterruptedSavesLeftBehind) {
  const std::string folder = ExtractFilePath(HostsFile);
  WriteFileBytes(HostsFile, Lines({HostWith("A", "", "1")}));
  const std::vector<std::string> leftovers = {"0000ABCD.cvl", "FFFFFFFF.cvl", ".hosts.cvlp.Ab3xZ9", ".hosts.cvlp.000000"};
  WriteFileBytes(folder + leftovers[0], Lines({HostWith("Half", "", "9")}).substr(0, 30));
  WriteFileBytes(folder + leftovers[1], "");
  WriteFileBytes(folder + leftovers[2], "NumPings=3\r\nPlaySou");
  WriteFileBytes(folder + leftovers[3], "");
  // Names or contents that are not ours, and what is not a plain file, stay.
  const std::vector<std::string> kept = {"0000abcd.cvl", "0000ABCD.cvlh", "1234ABCD.cvl", "notes.cvl",
                                         ".hosts.cvlp.Ab3xZ", ".other.cvlp.Ab3xZ9", ".hosts.cvlp.Ab3x-9"};
  for (const std::string& name : kept) WriteFileBytes(folder + name, "\"x\"");
  WriteFileBytes(folder + "1234ABCD.cvl", std::string("\x89PNG\r\n\x1a\n\0", 9));
  ::symlink(HostsFile.c_str(), (folder + "0000ABCE.cvl").c_str());

  auto monitor = NewMonitor();
  monitor->Startup();
  for (const std::string& name : leftovers) {
    EXPECT_FALSE(std::filesystem::exists(folder + name)) << name;
    EXPECT_TRUE(Logged(*monitor, "Removed " + folder + name + ", left behind by a save that did not finish", 'I'))
        << name;
  }
  for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(folder + name)) << name;
  EXPECT_TRUE(std::filesystem::is_symlink(folder + "0000ABCE.cvl"));
  EXPECT_EQ(monitor->Hosts().Count(), 1);
  monitor->Shutdown();
  EXPECT_EQ(ReadFileBytes(HostsFile).rfind("\"A\",\"127.0.0.1\",", 0), 0u);
}

}  // namespace
