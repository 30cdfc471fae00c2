// The settings, their read rules and the settings file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "common/QLEncryptString.h"
#include "common/TextUtils.h"
#include "core/TSettings.h"
#include "common/TextFiles.h"
#include "MonitorFixture.h"

using testsupport::ReadFileBytes;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

TEST(SettingsTest, FileWithOnlyNumPingsKeepsOrClearsEachSettingByItsRule) {
  TSettings s;
  // Current values that differ from the defaults show which rule each setting follows.
  s.MaxPingThreads = 30;
  s.HostDownSound = "Siren.wav";
  s.SysLogServer = "logs:1514";
  s.Use24HourDate = 1;
  s.WebServerPort = 8080;
  s.WebServerPassword = "secret";
  s.Width = 640;
  s.LoadFromText("NumPings=4\r\n");

  EXPECT_EQ(s.NumPings, 4);
  // Kept when missing.
  EXPECT_EQ(s.MaxPingThreads, 30);
  EXPECT_EQ(s.PingTimeout, 5000);
  EXPECT_EQ(s.HostDownSound, "Siren.wav");
  EXPECT_EQ(s.SysLogServer, "logs:1514");
  EXPECT_EQ(s.Width, 640);
  // Read unconditionally: off unless "1" ...
  EXPECT_FALSE(s.HostInfoPane);
  EXPECT_FALSE(s.TestHostServices);
  EXPECT_FALSE(s.WebRestarts);
  EXPECT_FALSE(s.OfflineAlertsAtStartup);
  EXPECT_FALSE(s.AlertsOnTop);
  // ... on unless "0" ...
  EXPECT_TRUE(s.PlaySounds);
  EXPECT_TRUE(s.PlayRepetitiveSounds);
  EXPECT_TRUE(s.FailFreqAdj);
  // ... and integers and passwords back to their defaults.
  EXPECT_EQ(s.Use24HourDate, 0);
  EXPECT_EQ(s.WebServerPort, 0);
  EXPECT_EQ(s.WebServerPassword, "");
}

TEST(SettingsTest, ValuesAreReadByNameWithoutCaseAndBadNumbersAreRefused) {
  TSettings s;
  s.LoadFromText(
      "numpings=7\r\n"
      "NUMPINGS=9\r\n"                // the first entry of a name counts
      "MaxPingThreads=lots\r\n"       // unreadable: kept
      "MaxTCPThreads=0\r\n"           // a limit of 0 would stop every TCP test: kept
      "PingTimeout=-5\r\n"
      "MaxShareThreads= 3 \r\n"
      "HostUpSound=a=b.wav\r\n"       // the first "=" separates
      "PlaySounds=no\r\n"             // only "0" turns it off
      "HostInfoPane=yes\r\n"          // only "1" turns it on
      "TestHostServices=1\r\n"
      "WebServerPort=99999\r\n"
      "Use24HourDate=1\r\n"
      "ViewStyle=7\r\n"
      "Height=480\r\n"
      "Left=-20\r\n");
  EXPECT_EQ(s.NumPings, 7);
  EXPECT_EQ(s.MaxPingThreads, 25);
  EXPECT_EQ(s.MaxTCPThreads, 10);
  EXPECT_EQ(s.PingTimeout, 5000);
  EXPECT_EQ(s.MaxShareThreads, 3);
  EXPECT_EQ(s.HostUpSound, "a=b.wav");
  EXPECT_TRUE(s.PlaySounds);
  EXPECT_FALSE(s.HostInfoPane);
  EXPECT_TRUE(s.TestHostServices);
  EXPECT_EQ(s.WebServerPort, 0);
  EXPECT_EQ(s.Use24HourDate, 1);
  EXPECT_FALSE(s.ViewStyle.has_value());
  EXPECT_EQ(s.Height, 480);
  EXPECT_EQ(s.Left, -20);

  s.LoadFromText("ViewStyle=3\nWebServerPort=8080\rPlaySounds=0");
  EXPECT_EQ(s.ViewStyle, 3);
  EXPECT_EQ(s.WebServerPort, 8080);
  EXPECT_FALSE(s.PlaySounds);
}

TEST(SettingsTest, TCPConnectTimeoutDefaultsTo21SecondsAndIsWrittenOnlyWhenNamedOrChanged) {
  TSettings s;
  EXPECT_EQ(s.TCPConnectTimeout, 21000);
  s.LoadFromText("NumPings=2\r\n");
  EXPECT_EQ(s.SaveToText().find("TCPConnectTimeout"), std::string::npos);
  for (const char* bad : {"TCPConnectTimeout=0\r\n", "TCPConnectTimeout=-5\r\n", "TCPConnectTimeout=soon\r\n"}) {
    s.LoadFromText(bad);
    EXPECT_EQ(s.TCPConnectTimeout, 21000) << bad;
  }
  s.LoadFromText("tcpconnecttimeout=1500\r\n");
  EXPECT_EQ(s.TCPConnectTimeout, 1500);
  TSettings fresh;
  fresh.TCPConnectTimeout = 9000;
  EXPECT_NE(fresh.SaveToText().find("TCPConnectTimeout=9000\r\n"), std::string::npos);
}

// Settings added after the first release: an older file saved again gains no line, a
// named or changed one is written, and a bad value keeps the default.
TEST(SettingsTest, LaterSettingsKeepOlderFilesUnchangedAndReadTheirOwnValues) {
  TSettings s;
  EXPECT_EQ(s.CertExpiryDays, 14);
  EXPECT_EQ(s.HTTPTimeout, 60);
  EXPECT_EQ(s.SmtpTls, TSettings::TSmtpTls::Auto);
  EXPECT_EQ(s.RelayServer, "");
  EXPECT_EQ(s.SMBPort, 445);
  s.LoadFromText("NumPings=2\r\n");
  const std::string saved = s.SaveToText();
  for (const char* name : {"CertExpiryDays", "HTTPTimeout", "SmtpTls", "RelayServer", "SMBPort"})
    EXPECT_EQ(saved.find(name), std::string::npos) << name;

  TSettings bad;
  bad.LoadFromText("CertExpiryDays=-1\r\nHTTPTimeout=0\r\nSmtpTls=sometimes\r\nSMBPort=70000\r\n");
  EXPECT_EQ(bad.CertExpiryDays, 14);
  EXPECT_EQ(bad.SMBPort, 445);
  EXPECT_EQ(bad.HTTPTimeout, 60);
  EXPECT_EQ(bad.SmtpTls, TSettings::TSmtpTls::Auto);

  TSettings named;
  named.LoadFromText("certexpirydays=0\r\nSmtpTls=REQUIRED\r\nRelayServer=relay.example:8080\r\nSMBPort=4445\r\n");
  EXPECT_EQ(named.CertExpiryDays, 0);
  EXPECT_EQ(named.SMBPort, 4445);
  EXPECT_EQ(named.SmtpTls, TSettings::TSmtpTls::Required);
  EXPECT_EQ(named.RelayServer, "relay.example:8080");
  named.SmtpTls = TSettings::TSmtpTls::Off;
  const std::string text = named.SaveToText();
  EXPECT_NE(text.find("certexpirydays=0\r\n"), std::string::npos);
  EXPECT_NE(text.find("SmtpTls=off\r\n"), std::string::npos);
  EXPECT_NE(text.find("RelayServer=relay.example:8080\r\n"), std::string::npos);
  EXPECT_NE(text.find("SMBPort=4445\r\n"), std::string::npos);
  EXPECT_EQ(text.find("HTTPTimeout"), std::string::npos);
}

TEST(SettingsTest, SaveKeepsUnknownEntriesAndRemovesClearedOnes) {
  TSettings s;
  s.LoadFromText(
      "; written by hand\r\n"
      "FutureOption=on=off\r\n"
      "ColumnWidth-Display Name=150\r\n"
      "HostDownSound=Siren.wav\r\n"
      "SysLogServer=logs\r\n");
  EXPECT_EQ(s.ColumnWidth("Display Name", 100), 150);
  EXPECT_EQ(s.ColumnWidth("Address", 100), 100);
  s.SetColumnWidth("Address", 90);
  s.HostDownSound.clear();
  s.SysLogServer.clear();
  s.WebAdminPassword = "p\xE4ss word";
  s.ViewStyle = 2;
  const std::string text = s.SaveToText();

  EXPECT_EQ(text.rfind("; written by hand\r\nFutureOption=on=off\r\nColumnWidth-Display Name=150\r\n", 0), 0u);
  EXPECT_NE(text.find("ColumnWidth-Address=90\r\n"), std::string::npos);
  EXPECT_EQ(text.find("HostDownSound"), std::string::npos);
  EXPECT_EQ(text.find("SysLogServer"), std::string::npos);
  EXPECT_EQ(text.find("WebServerPassword"), std::string::npos);  // empty: no line
  EXPECT_NE(text.find("\r\nNumPings=2\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nHostInfoPane=0\r\n"), std::string::npos);  // missing in the file read
  EXPECT_NE(text.find("\r\nViewStyle=2\r\n"), std::string::npos);
  EXPECT_EQ(text.find("Width="), std::string::npos);  // no window, no geometry
  // The password is stored scrambled, never plain.
  EXPECT_EQ(text.find("p\xE4ss word"), std::string::npos);
  EXPECT_NE(text.find("WebAdminPassword=" + ScrambleText("p\xE4ss word") + "\r\n"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(ReplaceAll("\r\n", "", text, false).find_first_of("\r\n"), std::string::npos);

  // The next start: cleared names fall back to the defaults, the password reads back.
  TSettings next;
  next.LoadFromText(text);
  EXPECT_EQ(next.HostDownSound, "Error.wav");
  EXPECT_EQ(next.SysLogServer, "");
  EXPECT_EQ(next.WebAdminPassword, "p\xE4ss word");
  EXPECT_EQ(next.Value("futureoption"), "on=off");

  // A line break inside a value would split the entry in the file.
  next.SetValue("Note", "two\r\nlines");
  EXPECT_EQ(next.Value("Note"), "two  lines");
}

// The first line of a name is the one read; a save must not let a later one take over.
TEST(SettingsTest, NameGivenTwiceIsReadAndSavedByItsFirstLine) {
  TSettings s;
  s.LoadFromText("SysLogServer=\r\n"
                 "syslogserver=127.0.0.1:5514\r\n"
                 "WebServerPassword=\r\n"
                 "WebServerPassword=" + ScrambleText("hidden") + "\r\n"
                 "HostUpSound=a.wav\r\n"
                 "HOSTUPSOUND=b.wav\r\n"
                 "Future=1\r\n"
                 "Future=2\r\n");
  EXPECT_EQ(s.SysLogServer, "");
  EXPECT_EQ(s.WebServerPassword, "");
  EXPECT_EQ(s.HostUpSound, "a.wav");
  s.HostUpSound = "c.wav";
  const std::string text = s.SaveToText();
  const auto count = [&](const std::string& name) {
    int n = 0;
    for (const std::string& line : s.Lines()) n += CompareTextRange(line, 1, static_cast<int>(name.size()) + 1, name + "=", 1, -1) == 0;
    return n;
  };
  // A save keeps every line whose value it did not change, the unread ones too.
  EXPECT_NE(text.find("SysLogServer=\r\nsyslogserver=127.0.0.1:5514\r\n"), std::string::npos);
  EXPECT_EQ(count("WebServerPassword"), 2);
  EXPECT_EQ(count("HostUpSound"), 2);
  EXPECT_NE(text.find("HostUpSound=c.wav\r\nHOSTUPSOUND=b.wav\r\n"), std::string::npos);
  // Names this version never sets stay as they are.
  EXPECT_NE(text.find("Future=1\r\nFuture=2\r\n"), std::string::npos);

  TSettings next;
  next.LoadFromText(text);
  EXPECT_EQ(next.SysLogServer, "");
  EXPECT_EQ(next.WebServerPassword, "");
  EXPECT_EQ(next.HostUpSound, "c.wav");

  // Emptying a value keeps an empty first line when a later one would be read instead;
  // without a later one the line goes.
  next.HostUpSound.clear();
  next.SysLogServer = "logs";
  const std::string again = next.SaveToText();
  EXPECT_NE(again.find("HostUpSound=\r\nHOSTUPSOUND=b.wav\r\n"), std::string::npos);
  EXPECT_NE(again.find("SysLogServer=logs\r\nsyslogserver=127.0.0.1:5514\r\n"), std::string::npos);
  TSettings third;
  third.LoadFromText(again);
  EXPECT_EQ(third.HostUpSound, "");
  EXPECT_EQ(third.SysLogServer, "logs");
  EXPECT_EQ(third.SaveToText(), again);
}

TEST(SettingsTest, OnlyBinaryOrUnreadableFilesAreRefused) {
  TTempDir dir;
  TSettings s;
  std::string reason;
  EXPECT_EQ(s.LoadFromFile(dir.File("none.cvlp"), reason), TSettings::TLoadResult::Missing);

  // Lines without "=" are text all the same: read, and kept on the next save.
  WriteFileBytes(dir.File("text.cvlp"), "Notes about this file\r\nNumPings=3\r\n");
  EXPECT_EQ(s.LoadFromFile(dir.File("text.cvlp"), reason), TSettings::TLoadResult::Loaded);
  EXPECT_EQ(s.NumPings, 3);
  EXPECT_EQ(s.Lines().front(), "Notes about this file");

  s.NumPings = 2;
  WriteFileBytes(dir.File("binary.cvlp"), std::string("NumPings=5\r\n\x00\x01\x02\xFF", 16));
  EXPECT_EQ(s.LoadFromFile(dir.File("binary.cvlp"), reason), TSettings::TLoadResult::Unreadable);
  EXPECT_NE(reason.find("binary"), std::string::npos);
  EXPECT_EQ(s.NumPings, 2);

  WriteFileBytes(dir.File("huge.cvlp"), std::string(TSettings::MaxFileBytes + 1, 'x'));
  EXPECT_EQ(s.LoadFromFile(dir.File("huge.cvlp"), reason), TSettings::TLoadResult::Unreadable);
  EXPECT_EQ(s.Lines().front(), "Notes about this file");
}

TEST(TextFilesTest, ReplaceLeavesTheOldFileWholeOnFailureAndSetAsideNeverOverwrites) {
  TTempDir dir;
  const std::string file = dir.File("a.txt");
  std::string error;
  ASSERT_TRUE(ReplaceFileText(file, "one\r\n", 0640, error));
  EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640));
  ::chmod(file.c_str(), 0604);
  ASSERT_TRUE(ReplaceFileText(file, "two\r\n", 0640, error));
  EXPECT_EQ(ReadFileBytes(file), "two\r\n");
  EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0604));
  EXPECT_FALSE(ReplaceFileText(dir.File("missing/a.txt"), "x", 0644, error));
  EXPECT_FALSE(error.empty());
  // A folder in the file's place cannot be replaced; no temporary is left behind.
  ::mkdir(dir.File("b.txt").c_str(), 0700);
  EXPECT_FALSE(ReplaceFileText(dir.File("b.txt"), "x", 0644, error));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);

  EXPECT_EQ(SetFileAside(file, ".old", error), file + ".old");
  WriteFileBytes(file, "three");
  EXPECT_EQ(SetFileAside(file, ".old", error), file + ".old-2");
  EXPECT_EQ(ReadFileBytes(file + ".old"), "two\r\n");
  EXPECT_EQ(ReadFileBytes(file + ".old-2"), "three");
  EXPECT_EQ(SetFileAside(file, ".old", error), "");

  EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd\r\n\r\ne"), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
  EXPECT_TRUE(SplitTextLines("").empty());
}

class MonitorSettingsTest : public MonitorFixture {};

TEST_F(MonitorSettingsTest, SettingsLoadAtStartUpAndSaveAtShutdown) {
  WriteFileBytes(DataFolder() + "hosts.cvlp", "NumPings=4\r\nUse24HourDate=1\r\nFromAnotherVersion=1\r\n");
  {
    auto monitor = NewMonitor();
    monitor->Startup();
    EXPECT_EQ(monitor->Settings().NumPings, 4);
    EXPECT_FALSE(monitor->Settings().HostInfoPane);
    EXPECT_TRUE(monitor->Use24HourDate());
    monitor->Settings().MaxShareThreads = 7;
    monitor->Shutdown();
  }
  const std::string text = ReadFileBytes(DataFolder() + "hosts.cvlp");
  EXPECT_EQ(text.rfind("NumPings=4\r\nUse24HourDate=1\r\nFromAnotherVersion=1\r\n", 0), 0u);
  EXPECT_NE(text.find("\r\nMaxShareThreads=7\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nHostInfoPane=0\r\n"), std::string::npos);
}

TEST_F(MonitorSettingsTest, ReadOnlySettingsFileIsNotReplacedAtShutdown) {
  const std::string file = DataFolder() + "hosts.cvlp";
  const std::string original = "NumPings=4\r\n";
  WriteFileBytes(file, original);
  ::chmod(file.c_str(), 0444);
  auto monitor = NewMonitor();
  monitor->Startup();
  EXPECT_EQ(monitor->Settings().NumPings, 4);
  monitor->Settings().MaxShareThreads = 7;
  monitor->Shutdown();
  EXPECT_TRUE(HasLine(*monitor, "Unable to save the settings file " + file + ": the file is read-only", 'E'));
  EXPECT_EQ(ReadFileBytes(file), original);
  EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0444));
}

TEST_F(MonitorSettingsTest, UnreadableSettingsFileIsKeptAsideAndDefaultsAreUsed) {
  const std::string file = DataFolder() + "hosts.cvlp";
  const std::string garbage("\x89PNG\r\n\x1A\n\x00\x00\x00\rIHDR NumPings=9", 27);
  const std::string copy = file + ".unreadable-20261208-140500";
  WriteFileBytes(file, garbage);
  {
    auto monitor = NewMonitor();
    monitor->Startup();
    EXPECT_EQ(monitor->Settings().NumPings, 2);
    EXPECT_TRUE(monitor->Settings().HostInfoPane);
    EXPECT_TRUE(HasLine(*monitor,
                        "Unable to read the settings file " + file + ": it holds binary data (character 26); it was kept as " +
                            copy + " and the default settings are used",
                        'E'));
    monitor->Shutdown();
  }
  EXPECT_EQ(ReadFileBytes(copy), garbage);
  EXPECT_NE(ReadFileBytes(file).find("NumPings=2\r\n"), std::string::npos);

  // Garbage again in the same second: the earlier copy stays as it is.
  WriteFileBytes(file, "\x01\x02");
  {
    auto monitor = NewMonitor();
    monitor->Startup();
    EXPECT_TRUE(HasLine(*monitor,
                        "Unable to read the settings file " + file + ": it holds binary data (character 1); it was kept as " +
                            copy + "-2 and the default settings are used",
                        'E'));
    monitor->Shutdown();
  }
  EXPECT_EQ(ReadFileBytes(copy), garbage);
  EXPECT_EQ(ReadFileBytes(copy + "-2"), "\x01\x02");
}
