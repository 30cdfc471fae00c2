// Trace routes over a real route: the host, two routers and a far target in namespaces
// of their own. The trace stops at the target, the periodic trace records the route,
// and once the link behind the first router is cut the host-down trace names the first
// router as the last reply and the second as where the route dropped.
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "common/FileUtils.h"
#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "support/TRoutedNet.h"
#include "support/TScopedHostsFile.h"
#include "support/TestNetns.h"
#include "tools/TAutoTrace.h"
#include "tools/TraceReport.h"

using testsupport::TRoutedNet;

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
    M->Settings().PingTimeout = 400;
    M->Settings().NumPings = 2;
  }

  void TearDown() override {
    if (FNet->Ready() && FInside) FNet->CutSecondRouter(false);
    M.reset();
    FInside.reset();
  }

  bool WaitFor(const std::function<bool()>& done, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
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
