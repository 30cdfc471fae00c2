// Trace routes over a real route: the host, two routers and a far target in namespaces
// of their own. The trace stops at the target, the periodic trace records the route,
// and once the link behind the first router is cut the host-down trace names the first
// router as the last reply and the second as where the route dropped.
#include <QCoreApplication>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "common/FileUtils.h"
#include "core/MonitorFixture.h"
#include "support/TestSupport.h"
#include "core/THostList.h"
#include "support/TRoutedNet.h"
#include "support/TScopedHostsFile.h"
#include "support/TestNetns.h"
#include "tools/MagicWakeup.h"
#include "tools/TAutoTrace.h"
#include "tools/TRemoteTools.h"
#include "tools/TraceReport.h"

using testsupport::TRoutedNet;
using namespace std::string_literals;

class TraceRouteNet : public MonitorFixture {
protected:
  static void SetUpTestSuite() {
    FNet = std::make_unique<TRoutedNet>("cvtr-", true);
    FHostsFile = std::make_unique<testsupport::TScopedHostsFile>(
        "127.0.0.1 localhost\n192.0.2.1 cvr1\n203.0.113.226 cvr2\n203.0.113.234 cvfar\n");
  }
  static void TearDownTestSuite() {
    FHostsFile.reset();
    FNet.reset();
  }

  void SetUp() override {
    if (!FNet->Ready()) GTEST_SKIP() << "no namespaces: " << FNet->Error();
    ASSERT_TRUE(FHostsFile->Active()) << FHostsFile->Error();
    FInside = std::make_unique<testsupport::TInNetns>(FNet->Host());
    ASSERT_TRUE(FInside->Entered());
    M = NewMonitor();
    M->Settings().PingTimeout = 1500;  // a reply late on a loaded machine is not a lost one
    M->Settings().NumPings = 2;
  }

  void TearDown() override {
    if (FNet->Ready() && FInside) FNet->CutSecondRouter(false);
    M.reset();
    FInside.reset();
  }

  static bool WaitFor(const std::function<bool()>& done, int seconds = 20) {
    return testsupport::ProcessEventsUntil(done, seconds);
  }

  static inline std::unique_ptr<TRoutedNet> FNet;
  static inline std::unique_ptr<testsupport::TScopedHostsFile> FHostsFile;
  std::unique_ptr<testsupport::TInNetns> FInside;
  std::unique_ptr<TMonitor> M;
};

TEST_F(TraceRouteNet, TraceMeetsBothRoutersAndStopsAtTheTarget) {
  TTraceResults results;
  bool done = false;
  auto trace = TTraceRouteThread::Create(M->Tests(), "TraceRoute cvfar", "cvfar", 2, 400,
                                         [&](TTraceRouteThread&, const std::string& address, int highestPass,
                                             const TTraceResults& r) {
                                           EXPECT_EQ(address, "cvfar");
                                           EXPECT_EQ(highestPass, 1);
                                           results = r;
                                           done = true;
                                         });
  ASSERT_TRUE(WaitFor([&] { return done; }));
  EXPECT_FALSE(trace->IsAlive());
  EXPECT_EQ(trace->ResolvedAddress(), TRoutedNet::FarTarget);
  ASSERT_EQ(results.size(), 2u);
  for (const TTracePass& pass : results) {
    EXPECT_EQ(pass[0].ReplyAddress, TRoutedNet::Router);
    EXPECT_EQ(pass[0].Status, 11013);
    EXPECT_EQ(pass[0].HostName, "cvr1");
    EXPECT_EQ(pass[1].ReplyAddress, TRoutedNet::Router2);
    EXPECT_EQ(pass[1].HostName, "cvr2");
    EXPECT_EQ(pass[2].ReplyAddress, TRoutedNet::FarTarget);
    EXPECT_EQ(pass[2].Status, 0);
    EXPECT_EQ(pass[29].ReplyAddress, TRoutedNet::FarTarget);
  }
  const std::vector<std::string> lines = TraceReportLines(results, trace->ResolvedAddress());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("\tcvr1 [192.0.2.1]"), std::string::npos) << lines[0];
  EXPECT_NE(lines[2].find("\tcvfar [203.0.113.234]"), std::string::npos) << lines[2];
  EXPECT_EQ(RouteText(results), "cvr1,cvr2,cvfar");
}

TEST_F(TraceRouteNet, HostDownTraceAfterTheCutNamesTheLastRouterAndTheDropPoint) {
  // Started, so that the report has its data folder; the test runs the traces itself.
  ASSERT_TRUE(M->Startup());
  M->SetTestingOn(false);
  THost& host = InsertTestHost(*M, "Far", TRoutedNet::FarTarget, StatusOnline);
  host.CurrentIP = TRoutedNet::FarTarget;
  struct TFinished {
    std::string LastHost, DroppedAt, Report;
    int Calls = 0;
  } finished;
  TAutoTrace traces(*M, [&](const THost& h, const std::string& lastHost, const std::string& droppedAt,
                            const std::string& report) {
    EXPECT_EQ(&h, &host);
    finished = {lastHost, droppedAt, report, finished.Calls + 1};
  });

  // The periodic trace records the route while it is whole.
  auto periodic = traces.StartPeriodicTrace(host);
  M->Running().Add("Automatic Trace Route", periodic);
  ASSERT_TRUE(WaitFor([&] { return !periodic->IsAlive(); }));
  EXPECT_EQ(host.KnownRoutes, "cvr1,cvr2,cvfar");
  EXPECT_TRUE(M->RunningTests().empty());

  ASSERT_TRUE(FNet->CutSecondRouter(true));
  host.Status = StatusOffline;
  host.RunningTrace = traces.StartHostDownTrace(host);
  ASSERT_TRUE(host.RunningTrace);
  M->Running().Add("Host Down Auto-Trace Far", host.RunningTrace);
  ASSERT_TRUE(WaitFor([&] { return finished.Calls > 0; }));

  EXPECT_EQ(finished.Calls, 1);
  EXPECT_EQ(finished.LastHost, "cvr1 [192.0.2.1]");
  EXPECT_EQ(finished.DroppedAt, "cvr2");
  EXPECT_EQ(host.TraceLastReply, "cvr1 [192.0.2.1] (Dropped at cvr2)");
  EXPECT_EQ(host.TraceDropPoint, "cvr2");
  EXPECT_EQ(host.TraceReport, finished.Report);
  EXPECT_EQ(host.RunningTrace, nullptr);
  EXPECT_TRUE(M->RunningTests().empty());
  EXPECT_TRUE(HasLine(*M, "Automatic Trace Route performed; last reply from: cvr1 [192.0.2.1] (Dropped at cvr2)", 'E'));
  std::string file;
  ASSERT_TRUE(ReadWholeFile(M->DataFolder() + "203.0.113.234 AutoTrace.txt", file)) << M->DataFolder();
  EXPECT_EQ(file, finished.Report);
  EXPECT_EQ(file.rfind("0ms\t0ms\tcvr1 [192.0.2.1]\r\n", 0), std::string::npos);
  EXPECT_NE(file.find("\tcvr1 [192.0.2.1]\r\n"), std::string::npos) << file;
  // Behind the cut only the first router answers, that it cannot reach the target: all
  // thirty hops are reported, each further one with an error line per pass.
  EXPECT_EQ(std::count(file.begin(), file.end(), '['), TraceMaxHops) << file;
  EXPECT_NE(file.find("*\t*\tcvr1 [192.0.2.1]\r\n     (Other error)\r\n     (Other error)\r\n"), std::string::npos)
      << file;
}

TEST_F(TraceRouteNet, TraceThatReachesTheHostItselfLeavesNoLastReply) {
  THost& host = InsertTestHost(*M, "Far", TRoutedNet::FarTarget, StatusOffline);
  host.CurrentIP = TRoutedNet::FarTarget;
  host.TraceLastReply = "stale";
  int calls = 0;
  TAutoTrace traces(*M, [&](const THost&, const std::string& lastHost, const std::string&, const std::string&) {
    EXPECT_EQ(lastHost, "cvfar [203.0.113.234]");
    ++calls;
  });
  host.RunningTrace = traces.StartHostDownTrace(host);
  ASSERT_TRUE(WaitFor([&] { return calls > 0; }));
  EXPECT_EQ(host.TraceLastReply, "");
  EXPECT_EQ(host.TraceReport, "");
  EXPECT_FALSE(HasLine(*M, "Automatic Trace Route performed", 'E'));
}

// ---- the interactive tools on the same route

namespace {
// Moves the monitor's clock past the path ping's spacing again and again instead of
// waiting for it; each hop's requests then go out as fast as the timer runs. A request
// that is not answered still waits for its real time-out.
bool RunPathPing(TRemoteTools& tools, TManualClock& clock, const std::function<bool(const std::function<bool()>&, int)>& wait) {
  for (int step = 0; step < TRemoteTools::PathPingRequests + 5 && !tools.ToolsEnabled(); ++step) {
    clock.Advance(TRemoteTools::PathPingSpacingMs + 1);
    tools.tmrPathPingsTimer();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return wait([&] { return tools.ToolsEnabled(); }, 20);
}
}  // namespace

TEST_F(TraceRouteNet, PathPingCountsRepliesAndLossesPerHop) {
  TRemoteTools tools(*M);
  std::vector<QString> messages;
  QObject::connect(&tools, &TRemoteTools::Message, [&](bool, const QString& text) { messages.push_back(text); });
  tools.StartTrace("cvfar", true);
  EXPECT_FALSE(tools.ToolsEnabled());
  // The first request of each hop; the grid ends at the hop where the target answered.
  ASSERT_TRUE(WaitFor([&] { return tools.Rows().size() == 3 && tools.Rows()[2].Received == 1; }));
  EXPECT_EQ(tools.Caption(), "Path Ping to cvfar [203.0.113.234]");
  EXPECT_EQ(tools.FirstHeading(), "Host");
  ASSERT_TRUE(WaitFor([&] { return tools.Rows()[0].Cells[TRemoteTools::colHost] == "cvr1"; }));
  EXPECT_EQ(tools.Rows()[0].Cells[TRemoteTools::colAddress], TRoutedNet::Router);
  EXPECT_EQ(tools.Rows()[1].Cells[TRemoteTools::colAddress], TRoutedNet::Router2);

  // From now on the far target's answers are dropped: its hop loses every further request.
  ASSERT_TRUE(FNet->Run({"ip -n " + FNet->FarTargetNetns() + " route add blackhole 192.0.2.0/24"})) << FNet->Error();
  ASSERT_TRUE(RunPathPing(tools, FClock, [&](const std::function<bool()>& done, int seconds) { return WaitFor(done, seconds); }));
  FNet->Run({"ip -n " + FNet->FarTargetNetns() + " route del blackhole 192.0.2.0/24"});
  EXPECT_TRUE(messages.empty());
  const auto& rows = tools.Rows();
  for (int hop = 0; hop < 2; ++hop) {
    EXPECT_EQ(rows[hop].Cells[TRemoteTools::colSuccess], "50/50 (100%)") << hop;
    EXPECT_EQ(rows[hop].Received, 50);
    // average "/" last time " ms"
    const std::string& response = rows[hop].Cells[TRemoteTools::colResponse];
    EXPECT_NE(response.find('/'), std::string::npos) << response;
    EXPECT_EQ(response.substr(response.size() - 3), " ms") << response;
  }
  EXPECT_EQ(rows[2].Cells[TRemoteTools::colSuccess], "1/50 (2%)");
  EXPECT_EQ(rows[2].Lost, 49);
  EXPECT_EQ(tools.Pending(), 0);
  for (const TRunningTask& task : M->RunningTests()) ADD_FAILURE() << "still listed: " << task.Name;
}

TEST_F(TraceRouteNet, TraceRouteRefusesBroadcastAndUnknownHosts) {
  TRemoteTools tools(*M);
  std::vector<std::string> messages;
  QObject::connect(&tools, &TRemoteTools::Message,
                   [&](bool, const QString& text) { messages.push_back(text.toStdString()); });
  tools.StartTrace("192.0.2.255", false);
  ASSERT_TRUE(WaitFor([&] { return tools.ToolsEnabled(); }));
  tools.StartTrace("no-such-host.invalid", false);
  ASSERT_TRUE(WaitFor([&] { return tools.ToolsEnabled() && messages.size() == 2; }));
  EXPECT_EQ(messages, (std::vector<std::string>{"You may not ping a broadcast address.",
                                                "Host no-such-host.invalid is not valid or is not available."}));
  EXPECT_TRUE(tools.Rows().empty());
}

TEST_F(TraceRouteNet, RangePingSkipsTheBroadcastAddressAndNamesWhoAnswered) {
  TRemoteTools tools(*M);
  ASSERT_TRUE(tools.StartRangePing("192.0.2.0", "192.0.2.255"));
  EXPECT_EQ(tools.Caption(), "Ping Range 192.0.2.0-192.0.2.255");
  // Every address of the host's network but its broadcast address.
  ASSERT_EQ(tools.Rows().size(), 255u);
  EXPECT_EQ(tools.Rows().back().Cells[TRemoteTools::colAddress], "192.0.2.254");
  ASSERT_TRUE(WaitFor([&] { return !tools.RangeRunning(); }, 30));
  int answered = 0;
  for (const TRemoteTools::TRow& row : tools.Rows()) answered += row.Cells[TRemoteTools::colSuccess] == "1";
  // The router and the host itself.
  EXPECT_EQ(answered, 2);
  ASSERT_TRUE(WaitFor([&] { return tools.Rows()[1].Cells[TRemoteTools::colHost] == "cvr1"; }));
  EXPECT_EQ(tools.Rows()[0].Cells[TRemoteTools::colHost], "---");
  EXPECT_EQ(tools.Rows()[0].Cells[TRemoteTools::colResponse], "---");
  EXPECT_FALSE(tools.StartRangePing("10.0.0.0", "10.2.0.0"));
}

TEST_F(TraceRouteNet, MagicPacketReachesAListenerOnTheLocalNetwork) {
  // The router's side of the host's link listens on the echo port for broadcasts.
  int fd = -1;
  {
    testsupport::TInNetns inside(FNet->RouterNetns());
    ASSERT_TRUE(inside.Entered());
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(WakeOnLanPort);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  }
  const TToolMessage sent = SendMagicWakeup("00:11:22:33:44:55");
  EXPECT_FALSE(sent.Warning) << sent.Text;
  EXPECT_EQ(sent.Text, "Magic wakeup packet sent to 00:11:22:33:44:55");
  std::string packet(200, '\0');
  timeval wait{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  int received = 0;
  for (;;) {
    const ssize_t n = recv(fd, packet.data(), packet.size(), 0);
    if (n < 0) break;
    ++received;
    ASSERT_EQ(n, 102);
    EXPECT_EQ(packet.substr(0, 6), std::string(6, '\xFF'));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(packet.substr(6 + 6 * i, 6), "\x00\x11\x22\x33\x44\x55"s) << i;
    timeval shortWait{0, 200000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &shortWait, sizeof shortWait);
  }
  close(fd);
  EXPECT_EQ(received, 4);
  const TToolMessage refused = SendMagicWakeup("not a mac");
  EXPECT_TRUE(refused.Warning);
  EXPECT_EQ(refused.Text.rfind("Magic wakeup packet not sent to not a mac\r\rError: ", 0), 0u) << refused.Text;
}
