// Host actions from the web: which commands a host is offered, the "command" page run on
// a thread of its own with the host changes handed to the main thread, the restart
// confirmation, wake-on-LAN to a loopback listener, and remote-desktop files.
#include <QCoreApplication>
#include <QMetaObject>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

using namespace std::string_literals;

#include "common/FileUtils.h"
#include "common/TextFiles.h"
#include "common/TextCodec.h"
#include "core/HostAddress.h"
#include "core/SchedulerFixture.h"
#include "web/TWebRequest.h"
#include "web/TWebSite.h"
#include "web/WebCommands.h"
#include "web/WebRemoteShutdown.h"
#include "support/TSambaServer.h"

namespace {

using TParams = std::vector<std::pair<std::string, std::string>>;

class WebCommandsTest : public SchedulerFixture {
protected:
  WebCommandsTest() {
    ForceDirectories(ProgramFolder() + "webserver");
    Site.Monitor = &M;
    Site.Folder = ProgramFolder() + "webserver/";
    Site.RunOnMainThread = [](std::function<void()> work) {
      return QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::BlockingQueuedConnection);
    };
    WriteWholeFile(Site.Folder + "message.html",
                   "<h1>%title%</h1>\n%message%\n<hr><back><a href=\"index.html\">Back</a></back><noback>[closed]</noback>\n");
  }

  // A test was started (the loopback answer may have come back already).
  bool Checked(const THost& host) { return host.LastCheck == FClock.Now(); }

  std::string ProgramFolder() { return FRoot.Path() + "/program/"; }

  // The "command" page as the web server runs it: on its own thread, while this (main)
  // thread carries out what it hands over.
  TWebRequest Command(const TParams& params, int groupFilter = 0) {
    TWebRequest r;
    r.Params = params;
    r.Client.User = "admin";
    r.Client.Peer = "127.0.0.1";
    r.Client.AccessLevel = WebAccessManage;
    r.PeerIsLocal = true;
    r.GroupFilter = groupFilter;
    std::atomic<bool> done{false};
    std::thread server([&] {
      CommandPage(r, Site);
      done = true;
    });
    RunUntil([&] { return done.load(); }, 60000);
    server.join();
    return r;
  }

  // The message lines of the page.
  static std::vector<std::string> Lines(const TWebRequest& r) {
    const std::size_t start = r.Body.find("</h1>\n") + 6;
    const std::string text = r.Body.substr(start, r.Body.find("\n<hr>", start) - start);
    std::vector<std::string> lines;
    for (std::size_t at = 0;;) {
      const std::size_t br = text.find("<br>", at);
      lines.push_back(text.substr(at, br == std::string::npos ? std::string::npos : br - at));
      if (br == std::string::npos) return lines;
      at = br + 4;
    }
  }

  TWebSite Site;
};

TEST_F(WebCommandsTest, OfferedCommandsFollowTheHostsStateAndTheGroupFilter) {
  TSettings& s = M.Settings();
  const TDateTime now = FClock.Now();
  THost plain;
  plain.Address = "server";
  plain.GroupNumber = 2;
  const auto offered = [&](const THost* host, bool local = false, int group = 0) {
    std::set<int> on;
    for (int c = -1; c <= WebCommandCount; ++c)
      if (CommandOffered(c, host, local, group, s, now)) on.insert(c);
    return on;
  };
  s.TestHostServices = true;
  s.WebRestarts = false;
  EXPECT_EQ(offered(&plain), (std::set<int>{0, 1, 2, 3, 4, 6}));
  EXPECT_EQ(offered(&plain, false, 2), (std::set<int>{0, 1, 2, 3, 4, 6}));
  EXPECT_EQ(offered(&plain, false, 3), std::set<int>{});
  EXPECT_EQ(offered(nullptr), (std::set<int>{0, 1, 2, 3}));
  EXPECT_EQ(offered(nullptr, true, 2), std::set<int>{});

  // Remote desktop: a local client or a dotted address, unless the port was found closed.
  EXPECT_TRUE(offered(&plain, true).count(7));
  plain.Address = "10.0.0.9";
  EXPECT_TRUE(offered(&plain).count(7));
  plain.RDPCapability = 2;
  EXPECT_FALSE(offered(&plain, true).count(7));
  s.TestHostServices = false;
  EXPECT_TRUE(offered(&plain, true).count(7));

  // Disabled for good: enable only; disabled until later: both; the end passed: disable.
  plain.DisabledUntil = 1.0;
  EXPECT_FALSE(offered(&plain).count(4));
  EXPECT_TRUE(offered(&plain).count(5));
  plain.DisabledUntil = now + 0.01;
  EXPECT_TRUE(offered(&plain).count(4));
  EXPECT_TRUE(offered(&plain).count(5));
  plain.DisabledUntil = now - 0.01;
  EXPECT_FALSE(offered(&plain).count(5));

  plain.TestKind = TestHTTP;
  EXPECT_TRUE(offered(&plain).count(8));

  // Wakeup: a MAC address and a host that does not answer.
  plain.MACAddress = "-";
  plain.Status = StatusOffline;
  EXPECT_FALSE(offered(&plain).count(9));
  plain.MACAddress = "00-11-22-33-44-55";
  EXPECT_TRUE(offered(&plain).count(9));
  plain.Status = StatusOnline;
  EXPECT_FALSE(offered(&plain).count(9));

  // Restart and shutdown: the setting, a current IP on a local subnet, the share port.
  if (!OnLocalSubnet("127.0.0.1")) GTEST_SKIP() << "loopback is not listed as a local subnet here";
  plain.CurrentIP = "127.0.0.1";
  EXPECT_FALSE(offered(&plain).count(10));
  s.WebRestarts = true;
  EXPECT_TRUE(offered(&plain).count(10));
  EXPECT_TRUE(offered(&plain).count(11));
  s.TestHostServices = true;
  plain.ShareCapability = 2;
  EXPECT_FALSE(offered(&plain).count(11));
  plain.ShareCapability = 1;
  plain.CurrentIP = "-";
  EXPECT_FALSE(offered(&plain).count(10));
  plain.CurrentIP = "";
  EXPECT_FALSE(offered(&plain).count(11));
  EXPECT_EQ(WebCommandName(10), "Restart");
  EXPECT_EQ(WebCommandName(8), "");
  EXPECT_EQ(WebCommandName(12), "");
}

TEST_F(WebCommandsTest, CheckboxFormTestsEverySelectedHostAndNumbersActOnTheirHostAlone) {
  THost& a = Add("Alpha");
  THost& b = Add("Beta");
  THost& c = Add("Gamma <&>");
  THost& d = Add("Delta");
  const TWebRequest r = Command({{a.IDText(), "ON"}, {"command", "0"}, {c.IDText(), "on"}, {d.IDText(), "4"}});
  EXPECT_EQ(r.Status, "200");
  EXPECT_EQ(r.ContentType, "text/html");
  EXPECT_NE(r.Body.find("<h1>Corvale Host Actions</h1>"), std::string::npos);
  EXPECT_EQ(Lines(r), (std::vector<std::string>{"\"Test Host\" is being performed on \"Alpha\"",
                                                "\"Test Host\" is being performed on \"Gamma &lt;&amp;&gt;\"",
                                                "\"Disable Host\" is being performed on \"Delta\""}));
  EXPECT_TRUE(Checked(a));
  EXPECT_FALSE(Checked(b));
  EXPECT_TRUE(Checked(c));
  EXPECT_EQ(d.DisabledUntil, 1.0);
  EXPECT_TRUE(HasLine(M, "Manual test by remote user admin@127.0.0.1", 'T'));
  EXPECT_EQ(LinesWith("Manual test by remote user admin@127.0.0.1"), 2);
  EXPECT_TRUE(HasLine(M, "Host Disabled by remote user admin@127.0.0.1", 'I'));
  // Back links unless "noback".
  EXPECT_NE(r.Body.find("<a href=\"index.html\">Back</a>"), std::string::npos);
  EXPECT_EQ(r.Body.find("[closed]"), std::string::npos);

  // Already disabled for good: the not-valid line, nothing else.
  const std::size_t lines = M.Log().Count();
  const TWebRequest again = Command({{"command", "4"}, {"hostid", d.IDText()}, {"noback", "1"}});
  EXPECT_EQ(Lines(again), std::vector<std::string>{"Command \"Disable Host\" is not valid for host \"Delta\""});
  EXPECT_EQ(M.Log().Count(), lines);
  EXPECT_NE(again.Body.find("[closed]"), std::string::npos);
  EXPECT_EQ(again.Body.find("Back"), std::string::npos);

  // Enable it again; the host ID compares without regard to case.
  std::string lower = d.IDText();
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(Lines(Command({{"command", "5"}, {"hostid", lower}})),
            std::vector<std::string>{"\"Enable Host\" is being performed on \"Delta\""});
  EXPECT_EQ(d.DisabledUntil, 0);
  EXPECT_TRUE(HasLine(M, "Host Enabled by remote user admin@127.0.0.1", 'I'));

  // Nothing named, numbers that are no command.
  EXPECT_EQ(Lines(Command({})), std::vector<std::string>{"No valid actions were found or performed."});
  EXPECT_EQ(Lines(Command({{"command", "x"}, {"hostid", a.IDText()}})),
            std::vector<std::string>{"Command ID -1 is not recognized as a valid command."});
  EXPECT_EQ(Lines(Command({{b.IDText(), "99"}})),
            std::vector<std::string>{"Command ID 99 is not recognized as a valid command."});
  EXPECT_EQ(Lines(Command({{b.IDText(), "-3"}})), std::vector<std::string>{"No valid actions were found or performed."});
}

TEST_F(WebCommandsTest, AllHostsTakeOnlyTestAndResetAndNotUnderAGroupFilter) {
  THost& a = Add("Alpha");
  THost& off = Add("Off");
  off.DisabledUntil = 1.0;
  a.Failures = 3;
  a.LastErrorText = "down";

  EXPECT_EQ(Lines(Command({{"command", "0"}, {"hostid", "0"}})),
            std::vector<std::string>{"\"Test Host\" is being performed on all hosts"});
  EXPECT_EQ(LinesWith("Refresh all hosts by remote user admin@127.0.0.1"), 1);
  EXPECT_TRUE(Checked(a));
  EXPECT_FALSE(Checked(off));

  EXPECT_EQ(Lines(Command({{"command", "4"}, {"hostid", "0"}})),
            std::vector<std::string>{"Command \"Disable Host\" cannot be performed on all hosts"});
  EXPECT_EQ(a.DisabledUntil, 0);
  EXPECT_EQ(Lines(Command({{"command", "0"}, {"hostid", "0"}}, 1)),
            std::vector<std::string>{"Command \"Test Host\" cannot be performed on all hosts"});
  EXPECT_EQ(LinesWith("Refresh all hosts by remote user"), 1);

  EXPECT_EQ(Lines(Command({{"command", "3"}, {"hostid", "0"}})),
            std::vector<std::string>{"\"Full Reset\" is being performed on all hosts"});
  EXPECT_TRUE(HasLine(M, "Reset all hosts by remote user admin@127.0.0.1", 'T'));
  EXPECT_EQ(a.Failures, 0u);
  EXPECT_EQ(a.LastErrorText, "");
}

TEST_F(WebCommandsTest, ResetAndSimulatedFailureGoThroughTheMonitor) {
  THost& a = Add("Alpha");
  a.Failures = 4;
  a.Status = StatusWarning;
  a.LastErrorText = "old";
  EXPECT_EQ(Lines(Command({{"command", "2"}, {"hostid", a.IDText()}})),
            std::vector<std::string>{"\"Reset\" is being performed on \"Alpha\""});
  EXPECT_TRUE(HasLine(M, "Host Status Reset by remote user admin@127.0.0.1", 'T'));
  EXPECT_EQ(a.BaselineTime, FClock.Now());  // depth 1: a new baseline
  EXPECT_EQ(a.Failures, 4u);                // but the statistics stay
  EXPECT_TRUE(Checked(a));

  // The reset's own test answers first, so that the count below is the simulation's.
  RunUntil([&] { return !a.RunningTest; });
  const std::uint64_t results = M.Evaluation().ResultCount();
  EXPECT_EQ(Lines(Command({{"command", "6"}, {"hostid", a.IDText()}})),
            std::vector<std::string>{"\"Simulate Failure\" is being performed on \"Alpha\""});
  EXPECT_TRUE(HasLine(M, "Simulated Host Failure by remote user admin@127.0.0.1", 'T'));
  EXPECT_DOUBLE_EQ(a.SimulatedFailureUntil, FClock.Now() + 5.0 / MinsPerDay);
  EXPECT_EQ(M.Evaluation().ResultCount(), results + 1);
  EXPECT_EQ(a.Failures, 5u);
  EXPECT_NE(a.LastErrorText.find("Simulated Failure"), std::string::npos);
}

// The web's actions are the window's: a reset of all hosts tests them, and a simulated
// failure takes the host Offline at once and, asked again, ends.
TEST_F(WebCommandsTest, ResetAllTestsTheHostsAndSimulatedFailureTogglesLikeTheWindows) {
  THost& a = Add("Alpha");
  THost& off = Add("Off");
  off.DisabledUntil = 1.0;
  EXPECT_EQ(Lines(Command({{"command", "2"}, {"hostid", "0"}})),
            std::vector<std::string>{"\"Reset\" is being performed on all hosts"});
  EXPECT_TRUE(Checked(a));
  EXPECT_FALSE(Checked(off));
  EXPECT_EQ(a.BaselineTime, FClock.Now());
  ASSERT_TRUE(RunUntil([&] { return !a.RunningTest; }));
  EXPECT_EQ(a.Status, StatusOnline);

  Advance(10);
  Command({{"command", "6"}, {"hostid", a.IDText()}});
  // Answered ten seconds ago, yet Offline: the simulation is final at once.
  EXPECT_EQ(a.Status, StatusOffline);
  EXPECT_NE(a.SimulatedFailureUntil, 0);
  Advance(10);
  Command({{"command", "6"}, {"hostid", a.IDText()}});
  EXPECT_EQ(a.SimulatedFailureUntil, 0);
  EXPECT_TRUE(HasLine(M, "Host Failure Simulation Ended by remote user admin@127.0.0.1", 'T'));
  EXPECT_TRUE(Checked(a));
  ASSERT_TRUE(RunUntil([&] { return !a.RunningTest; }));
  EXPECT_EQ(a.Status, StatusOnline);
}

TEST_F(WebCommandsTest, RestartAsksForConfirmationThenUsesTheRemoteHook) {
  if (!OnLocalSubnet("127.0.0.1")) GTEST_SKIP() << "loopback is not listed as a local subnet here";
  M.Settings().WebRestarts = true;
  THost& a = Add("Alpha \"1\"");
  a.CurrentIP = "127.0.0.1";
  a.Address = "alpha.example";
  a.WinUserName = "CORP\\admin";
  a.WinPassword = "pw";
  const std::string id = a.IDText();
  const std::size_t lines = M.Log().Count();

  EXPECT_EQ(Lines(Command({{"command", "10"}, {"hostid", id}})),
            std::vector<std::string>{"<font color=\"#A00000\">\"Restart\" on \"Alpha \"1\"\" confirmation: <a "
                                     "href=\"command?hostid=" + id + "&command=10&confirm=1\">Restart now</a></font>"});
  // Not yet built in: a clear error.
  EXPECT_EQ(Lines(Command({{"command", "10"}, {"hostid", id}, {"confirm", "1"}})),
            std::vector<std::string>{"\"Restart\" cannot be performed on \"Alpha \"1\"\" (remote restart and "
                                     "shutdown are not available in this version)"});

  std::vector<std::string> calls;
  int answer = 997;
  Site.RemoteShutdown = [&](const std::string& address, const std::string& user, const std::string& password,
                            const std::string& message, bool restart) {
    calls.push_back(address + "|" + user + "|" + password + "|" + message + "|" + (restart ? "restart" : "shutdown"));
    return answer;
  };
  EXPECT_EQ(Lines(Command({{"command", "11"}, {"hostid", id}, {"confirm", "yes"}})),
            std::vector<std::string>{"\"Shutdown\" is being performed on \"Alpha \"1\"\""});
  answer = 5;
  const std::vector<std::string> failed = Lines(Command({{"command", "10"}, {"hostid", id}, {"confirm", "1"}}));
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].rfind("\"Restart\" cannot be performed on \"Alpha \"1\"\" (Access was denied", 0), 0u)
      << failed[0];
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "alpha.example|CORP\\admin|pw|Remote Shutdown by web user admin@127.0.0.1|shutdown",
                       "alpha.example|CORP\\admin|pw|Remote Restart by web user admin@127.0.0.1|restart"}));
  EXPECT_EQ(M.Log().Count(), lines);
}

TEST_F(WebCommandsTest, RestartReachesASambaServerThroughTheHostMenusCode) {
  std::string why;
  if (!testsupport::TSambaServer::Available(why)) GTEST_SKIP() << why;
  if (!OnLocalSubnet("127.0.0.1")) GTEST_SKIP() << "loopback is not listed as a local subnet here";
  const std::string got = FRoot.Path() + "/got.txt";
  const std::string script = FRoot.Path() + "/down.sh";
  WriteWholeFile(script, "#!/bin/sh\necho \"$@\" >> " + got + "\n");
  ::chmod(script.c_str(), 0755);
  testsupport::TSambaServer server;
  server.AddGlobal("shutdown script = " + script + " %z %r %f");
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.AddUser("root", "secret")) << server.Error();
  M.Settings().WebRestarts = true;
  M.Settings().SMBPort = server.Port();
  TShutdownTools tools;
  tools.NetOptions = {"-s", server.ConfFile()};
  SetUpWebRemoteShutdown(Site, tools);
  ASSERT_TRUE(Site.RemoteShutdown);
  THost& a = Add("Server");
  a.CurrentIP = "127.0.0.1";
  a.WinUserName = "root";
  a.WinPassword = "secret";
  EXPECT_EQ(Lines(Command({{"command", "10"}, {"hostid", a.IDText()}, {"confirm", "1"}})),
            std::vector<std::string>{"\"Restart\" is being performed on \"Server\""});
  std::string request;
  ReadWholeFile(got, request);
  // smbd hands the script the message with everything but letters, digits and "_" made "_".
  EXPECT_EQ(request, "Remote_Restart_by_web_user_admin_127_0_0_1 -r -f\n") << server.Log();
  a.WinPassword = "wrong";
  const std::vector<std::string> refused = Lines(Command({{"command", "11"}, {"hostid", a.IDText()}, {"confirm", "1"}}));
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_NE(refused[0].find("cannot be performed on \"Server\" ("), std::string::npos) << refused[0];
  // Without the tool the pages do not offer the commands.
  tools.NetProgram = FRoot.Path() + "/no-net";
  SetUpWebRemoteShutdown(Site, tools);
  EXPECT_FALSE(Site.RemoteShutdown);
}

TEST_F(WebCommandsTest, RedirectsForRemoteDesktopAndTheHostsWebPage) {
  THost& a = Add("Alpha", "10.1.2.3");
  a.TestKind = TestHTTP;
  a.HTTPTest.URL = "http://10.1.2.3:8080/status";
  TWebRequest r = Command({{"command", "7"}, {"hostid", a.IDText()}});
  EXPECT_EQ(r.Status, "301");
  EXPECT_EQ(r.Body, a.IDText() + ".rdp");
  r = Command({{"command", "8"}, {"hostid", a.IDText()}});
  EXPECT_EQ(r.Status, "301");
  EXPECT_EQ(r.Body, "http://10.1.2.3:8080/status");

  // No message template: 500 from the loader.
  ::unlink((Site.Folder + "message.html").c_str());
  r = Command({{"command", "0"}, {"hostid", a.IDText()}});
  EXPECT_EQ(r.Status.rfind("500 ", 0), 0u);
  EXPECT_NE(r.Status.find(" (LoadMessage)"), std::string::npos) << r.Status;
}

TEST_F(WebCommandsTest, WakeupSendsTheMagicPacketToTheConfiguredAddress) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  socklen_t length = sizeof at;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
  Site.WakeOnLanAddress = "127.0.0.1";
  Site.WakeOnLanPort = ntohs(at.sin_port);

  THost& a = Add("Sleeper");
  a.MACAddress = "0a:1B:2c:3D:4e:5F";
  a.Status = StatusOffline;
  EXPECT_EQ(Lines(Command({{"command", "9"}, {"hostid", a.IDText()}})),
            std::vector<std::string>{"\"Wakeup\" is being performed on \"Sleeper\""});
  char packet[200];
  const ssize_t n = ::recv(fd, packet, sizeof packet, 0);
  ::close(fd);
  ASSERT_EQ(n, 102);
  std::string expected(6, '\xFF');
  for (int i = 0; i < 16; ++i) expected += std::string("\x0A\x1B\x2C\x3D\x4E\x5F", 6);
  EXPECT_EQ(std::string(packet, 102), expected);
}

// UTF-16 little-endian bytes back to text, checking the byte-order mark and the width.
std::string FromUtf16(const std::string& bytes) {
  EXPECT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(bytes.size() % 2, 0u);
  std::string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    EXPECT_EQ(bytes[i + 1], '\0');
    text += bytes[i];
  }
  return text;
}

TEST_F(WebCommandsTest, RemoteDesktopFilesFromTheDefaultOrAUtf16Template) {
  THost host;
  host.WinUserName = "CORP\\jane";
  std::string text = FromUtf16(WriteRdpFile(&host, "10.0.0.5", ""));
  std::vector<std::string> lines = SplitTextLines(text);
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[0], "screen mode id:i:2");
  EXPECT_EQ(lines[5], "full address:s:10.0.0.5");
  EXPECT_EQ(lines[15], "username:s:jane");
  EXPECT_EQ(lines[16], "domain:s:CORP\\");
  EXPECT_EQ(lines[24], "bitmapcachepersistenable:i:1");
  EXPECT_EQ(text.find("\r\n\r\n"), std::string::npos);
  EXPECT_EQ(text.back(), '1');

  // Without a host the account is blanked; a colon also splits; no password survives.
  const std::string plain = "Full Address:s:old\r\nUSERNAME:s:someone\npassword:s:secret\ndomain:s:X\nother:i:1";
  EXPECT_EQ(FromUtf16(WriteRdpFile(nullptr, "h", plain)),
            "full address:s:h\r\nusername:s:\r\npassword:s:\r\ndomain:s:\r\nother:i:1");
  host.WinUserName = "WORK:bob";
  EXPECT_EQ(FromUtf16(WriteRdpFile(&host, "h", "username:s:\r\ndomain:s:")), "username:s:bob\r\ndomain:s:WORK:");
  host.WinUserName = "alone";
  EXPECT_EQ(FromUtf16(WriteRdpFile(&host, "h", "username:s:\r\ndomain:s:z")), "username:s:alone\r\ndomain:s:");

  // "default.rdp" in the program's folder, saved as UTF-16, served by the route.
  THost& a = Add("Desk", "192.0.2.7");
  a.WinUserName = "OFFICE\\max";
  std::string utf16 = "\xFF\xFE";
  for (char ch : std::string("username:s:\r\ndomain:s:\r\nfull address:s:x\r\naudiomode:i:2"))
    utf16 += std::string{ch, '\0'};
  WriteWholeFile(ProgramFolder() + "default.rdp", utf16);
  TWebRequest r;
  RdpRoute(r, Site, a.IDText());
  EXPECT_EQ(r.Status, "200");
  EXPECT_EQ(r.ContentType, "application/octet-stream");
  EXPECT_EQ(FromUtf16(r.Body), "username:s:max\r\ndomain:s:OFFICE\\\r\nfull address:s:192.0.2.7\r\naudiomode:i:2");

  // Unknown host, no hexadecimal number, a group row: 404.
  for (const std::string& name : {std::string("7FFFFF"), std::string("zz"), std::string(""), std::string("1 ")}) {
    TWebRequest missing;
    RdpRoute(missing, Site, name);
    EXPECT_EQ(missing.Status, "404") << name;
  }
  ::unlink((ProgramFolder() + "default.rdp").c_str());
  TWebRequest none;
  RdpRoute(none, Site, a.IDText());
  EXPECT_EQ(none.Status, "404");
}

}  // namespace

namespace {

using WebRdpFileTest = MonitorFixture;

TEST_F(WebRdpFileTest, TheHostsOwnFileInTheDataFolderIsServedUnchanged) {
  std::unique_ptr<TMonitor> monitor = NewMonitor();
  bool finished = false;
  QObject::connect(monitor.get(), &TMonitor::ShutdownFinished, [&] { finished = true; });
  monitor->Startup();
  ASSERT_EQ(monitor->DataFolder(), DataFolder());
  const auto add = [&](const std::string& name) {
    std::unique_ptr<THost> record = monitor->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = "192.0.2.9";
    return monitor->InsertHost(-1, std::move(record))->IDText();
  };
  const std::string desk = add("Desk");
  const std::string climber = add("../escape");
  const std::string own = "\xFF\xFEu\0s\0e\0r\0"s;
  WriteWholeFile(DataFolder() + "Desk.rdp", own);
  WriteWholeFile(FRoot.Path() + "/data/Quillmoor/escape.rdp", own);

  TWebSite site;
  site.Monitor = monitor.get();
  site.Folder = FRoot.Path() + "/program/webserver/";
  TWebRequest r;
  RdpRoute(r, site, desk);
  EXPECT_EQ(r.Status, "200");
  EXPECT_EQ(r.ContentType, "application/octet-stream");
  EXPECT_EQ(r.Body, own);
  EXPECT_GT(r.LastModified, 0);
  // A display name that leads out of the data folder names no file; no default.rdp either.
  TWebRequest out;
  RdpRoute(out, site, climber);
  EXPECT_EQ(out.Status, "404");

  monitor->Shutdown();
  for (int i = 0; i < 500 && !finished; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(finished);
}

}  // namespace
