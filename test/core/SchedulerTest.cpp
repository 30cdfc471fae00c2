// The scheduler pass: which hosts are tested when, overdue tests, dated error texts,
// capability probes, periodic traces, the tray hint, and the completion handlers.
#include <QHostAddress>
#include <QTcpServer>
#include <gtest/gtest.h>

#include "common/ErrorText.h"
#include "core/RecordingAlerts.h"
#include "core/SchedulerFixture.h"
#include "hosttests/TServiceKind.h"
#include "hosttests/TTCPKind.h"
#include "hosttests/TTCPThread.h"
#include "hosttests/WorkerTestSupport.h"

namespace {

using SchedulerTest = SchedulerFixture;

constexpr double Minute = 60;

TEST_F(SchedulerTest, HostIsDueAnIntervalAfterItsLastResultStretchedByItsFailures) {
  const TDateTime t0 = FClock.Now();
  // Started 70 s ago, answered 50 s ago: the minute runs from the answer.
  THost& slow = Add("Slow");
  slow.LastCheck = t0 - 70 / SecsPerDay;
  slow.LastSuccess = t0 - 50 / SecsPerDay;
  // A 2-minute interval with failures in a row, the last failure 9 minutes ago.
  const auto failing = [&](const char* name, std::uint32_t failures) -> THost& {
    THost& h = Add(name);
    h.TestInterval = 2;
    h.BackToBackFailures = failures;
    h.LastCheck = h.LastFailure = t0 - 9 * Minute / SecsPerDay;
    return h;
  };
  THost& f9 = failing("F9", 9);     // x1: 2 minutes
  THost& f10 = failing("F10", 10);  // x3: 6 minutes
  THost& f25 = failing("F25", 25);  // x5: 10 minutes
  THost& f49 = failing("F49", 49);  // x5
  THost& f50 = failing("F50", 50);  // x10: 20 minutes

  M.Timer1Timer();
  EXPECT_FALSE(Tested(slow));
  EXPECT_TRUE(Tested(f9));
  EXPECT_TRUE(Tested(f10));
  EXPECT_FALSE(Tested(f25));
  EXPECT_FALSE(Tested(f49));

  Advance(10);
  M.Timer1Timer();
  EXPECT_TRUE(Tested(slow));
  EXPECT_FALSE(Tested(f25));

  Advance(50);
  M.Timer1Timer();
  EXPECT_TRUE(Tested(f25));
  EXPECT_TRUE(Tested(f49));
  EXPECT_FALSE(Tested(f50));

  // Without the stretch the 2 minutes are long over.
  M.Settings().FailFreqAdj = false;
  M.Timer1Timer();
  EXPECT_TRUE(Tested(f50));
}

TEST_F(SchedulerTest, DisabledWindowGroupAndParentsKeepADueHostUntested) {
  const TDateTime t0 = FClock.Now();
  THost& expired = Add("Expired");
  expired.DisabledUntil = t0 - 1 / SecsPerDay;
  THost& later = Add("Later");
  later.DisabledUntil = t0 + 1.0 / 24;
  THost& forGood = Add("For good");
  forGood.DisabledUntil = 1.0;
  THost& group = Add(";Servers");
  THost& router = Add("Router");
  router.Status = StatusOffline;
  router.LastCheck = router.LastFailure = t0;
  THost& behind = Add("Behind router");
  behind.Parents = router.IDText();
  THost& night = Add("Night");
  night.WindowStart = EncodeTime(22, 0, 0);
  night.WindowEnd = EncodeTime(6, 0, 0);
  THost& nightMail = Add("Night mail");
  nightMail.WindowStart = night.WindowStart;
  nightMail.WindowEnd = night.WindowEnd;
  nightMail.EmailWindow = true;
  // A kind no worker is registered for (a plug-in test whose plug-in is not loaded).
  THost& service = Add("Service");
  service.TestKind = TestPlugin + 40;

  M.Timer1Timer();
  EXPECT_EQ(expired.DisabledUntil, 0);
  EXPECT_TRUE(Tested(expired));
  EXPECT_FALSE(Tested(later));
  EXPECT_EQ(later.DisabledUntil, t0 + 1.0 / 24);
  EXPECT_FALSE(Tested(forGood));
  EXPECT_FALSE(Tested(group));
  EXPECT_EQ(group.LastCheck, 0);
  EXPECT_FALSE(Tested(router));
  EXPECT_FALSE(Tested(behind));
  EXPECT_FALSE(Tested(night));  // 14:05
  EXPECT_TRUE(Tested(nightMail));
  // A kind without a worker starts nothing and is not counted as checked.
  EXPECT_FALSE(Tested(service));
  EXPECT_EQ(service.LastCheck, 0);

  router.Status = StatusOnline;
  M.Timer1Timer();
  EXPECT_TRUE(Tested(behind));

  for (const auto& [hour, inside] : {std::pair{23, true}, std::pair{5, true}, std::pair{6, false}, std::pair{12, false}}) {
    FClock.SetNow(EncodeDateTime(2026, 12, 9, hour, 0, 0));
    M.Timer1Timer();
    EXPECT_EQ(Tested(night), inside) << hour;
    ForgetAll();
  }

  // Testing switched off, or a program that is closing, tests nothing.
  M.SetTestingOn(false);
  M.Timer1Timer();
  EXPECT_FALSE(Tested(group) || Tested(expired) || Tested(nightMail) || Tested(behind));
  M.SetTestingOn(true);
  M.SetRunState(rsCloseRequested);
  M.Timer1Timer();
  EXPECT_FALSE(Tested(expired) || Tested(nightMail) || Tested(behind));
  M.SetRunState(rsRunning);
}

TEST_F(SchedulerTest, TestHostStartsOneWorkerAndRecordsTheCheck) {
  THost& alpha = Add("Alpha");
  THost& beta = Add("Beta");
  beta.TestKind = TestTCP;
  beta.Port = 1;
  THost& off = Add("Off");
  off.DisabledUntil = 1.0;
  off.Parents = beta.IDText();
  beta.Status = StatusOffline;
  const TDateTime before = FClock.Now() - 1;
  alpha.LastCheck = before;
  TChangedRows changed(M);

  M.TestHost(IndexOf(alpha));
  ASSERT_TRUE(alpha.RunningTest);
  const auto first = alpha.RunningTest;
  EXPECT_EQ(alpha.PreviousCheck, before);
  EXPECT_EQ(alpha.LastCheck, FClock.Now());
  EXPECT_EQ(RunningNamed("Ping Alpha"), 1);
  EXPECT_EQ(changed.Take(), std::vector<int>{IndexOf(alpha)});
  // A second start while the test runs does nothing.
  Advance(1);
  M.TestHost(IndexOf(alpha));
  EXPECT_EQ(alpha.RunningTest, first);
  EXPECT_EQ(alpha.PreviousCheck, before);
  EXPECT_EQ(RunningNamed("Ping Alpha"), 1);
  M.TestHost(-1);
  M.TestHost(M.Hosts().Count());
  EXPECT_EQ(M.RunningTests().size(), 1u);

  // A manual test ignores the disabled state and the parents.
  M.TestHostNow(IndexOf(off));
  EXPECT_TRUE(HasLine(M, "Manual test", 'T'));
  EXPECT_TRUE(Tested(off));

  // Refresh All Hosts tests every host that is not disabled.
  EXPECT_TRUE(Tested(alpha));
  M.RefreshAllHosts();
  EXPECT_TRUE(HasLine(M, "Refresh All Hosts", 'T'));
  EXPECT_TRUE(alpha.RunningTest);
  EXPECT_EQ(RunningNamed("TCP Beta"), 1);
  EXPECT_FALSE(off.RunningTest);
}

TEST_F(SchedulerTest, TrayHintCountsStatusesAndShowsDisabledOnlyWhenThereAreSome) {
  M.SetTestingOn(false);
  for (const char* name : {"A", "B", "C"}) Add(name).Status = StatusOnline;
  Add("D").Status = StatusWarning;
  THost& group = Add(";Group");
  group.Status = 1;  // collapsed
  group.DisabledUntil = 1.0;
  int hintChanges = 0;
  QObject receiver;
  QObject::connect(&M, &TMonitor::TrayHintChanged, &receiver, [&] { ++hintChanges; });

  M.Timer1Timer();
  EXPECT_EQ(M.TrayHint(), "Corvale - Okay: 3\rWarning: 1 Error: 0");
  M.Timer1Timer();
  EXPECT_EQ(hintChanges, 1);

  M.Hosts().Items(0)->DisabledUntil = 1.0;
  M.Hosts().Items(3)->Status = StatusOffline;
  M.Timer1Timer();
  EXPECT_EQ(M.TrayHint(), "Corvale - Okay: 3\rWarning: 0 Error: 1\rDisabled: 1");
  EXPECT_EQ(hintChanges, 2);
  EXPECT_EQ(M.StatusTrace().LastMessage().rfind("Timer1 Longest Op: ", 0), 0u);
}

TEST_F(SchedulerTest, OverdueTestIsAbandonedOnceAndItsLateResultIgnored) {
  // The only echo slot is taken, so the tests wait for it as long as the test wants.
  M.Settings().MaxPingThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(M.Tests().PingSlots, 1));
  THost& host = Add("Stuck");
  M.Timer1Timer();
  ASSERT_TRUE(host.RunningTest);
  const std::shared_ptr<TBackgroundTask> first = host.RunningTest;

  Advance(5 * Minute);
  M.Timer1Timer();
  EXPECT_EQ(host.RunningTest, first);
  Advance(1);
  M.Timer1Timer();
  EXPECT_EQ(LinesWith("Thread Forcibly Terminated"), 1);
  EXPECT_TRUE(HasLine(M, "Thread Forcibly Terminated", 'E'));
  EXPECT_FALSE(host.RunningTest);
  EXPECT_TRUE(first->Terminated());
  EXPECT_EQ(RunningNamed("Ping Stuck"), 0);

  // Its last result has not changed, so the host is due again at once.
  M.Timer1Timer();
  ASSERT_TRUE(host.RunningTest);
  const std::shared_ptr<TBackgroundTask> second = host.RunningTest;
  EXPECT_NE(second, first);
  EXPECT_EQ(LinesWith("Thread Forcibly Terminated"), 1);

  ASSERT_TRUE(RunUntil([&] { return !first->IsAlive(); }));
  EXPECT_EQ(host.RunningTest, second);
  EXPECT_EQ(host.Status, StatusUnknown);
  EXPECT_EQ(host.Successes + host.Failures, 0u);

  M.Tests().PingSlots.Release();
  ASSERT_TRUE(RunUntil([&] { return !host.RunningTest; }));
  EXPECT_EQ(host.Successes, 1u);
  EXPECT_EQ(host.Status, StatusOnline);

  // An overdue trace goes the same way.
  THost& traced = Add("Traced");
  traced.TestKind = TestPlugin + 40;
  traced.LastCheck = FClock.Now() - 6 * Minute / SecsPerDay;
  auto trace = std::make_shared<TRecordedTask>("Host Down Auto-Trace Traced");
  traced.RunningTrace = trace;
  M.Running().Add(trace->Name(), trace);
  M.Timer1Timer();
  EXPECT_TRUE(HasLine(M, "Trace Thread Forcibly Terminated", 'E'));
  EXPECT_TRUE(trace->Terminated());
  EXPECT_FALSE(traced.RunningTrace);
  EXPECT_EQ(RunningNamed(trace->Name()), 0);
}

TEST_F(SchedulerTest, TestToldToStopLeavesTheHostAsItWas) {
  // As when the host list is replaced: the test waiting for its slot is told to stop and
  // reports at once, with a failure that says nothing about the host.
  M.Settings().MaxPingThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(M.Tests().PingSlots, 1));
  THost& host = Add("Stopped");
  M.Timer1Timer();
  ASSERT_TRUE(host.RunningTest);
  host.RunningTest->Terminate();
  ASSERT_TRUE(RunUntil([&] { return !host.RunningTest; }));
  EXPECT_EQ(host.Status, StatusUnknown);
  EXPECT_EQ(host.Successes + host.Failures + host.BackToBackFailures, 0u);
  EXPECT_EQ(RunningNamed("Ping Stopped"), 0);
  M.Tests().PingSlots.Release();
}

TEST_F(SchedulerTest, LastErrorTextGetsItsDayOnceTheDayIsOver) {
  M.SetTestingOn(false);
  THost& timed = Add("Timed");
  timed.LastErrorText = "11:58p Request Timed Out (ICMP2B02)";
  THost& plain = Add("Plain");
  plain.LastErrorText = "Error: no time here";
  FClock.SetNow(EncodeDateTime(2026, 12, 8, 23, 59, 59, 800));
  M.Timer1Timer();
  EXPECT_EQ(timed.LastErrorText, "11:58p Request Timed Out (ICMP2B02)");

  Advance(0.4);
  M.Timer1Timer();
  EXPECT_EQ(timed.LastErrorText, "Dec 8, 11:58p Request Timed Out (ICMP2B02)");
  EXPECT_EQ(plain.LastErrorText, "Error: no time here");
  // Dated once: the next day finds the date in front.
  FClock.SetNow(EncodeDateTime(2026, 12, 10, 9, 0, 0));
  M.Timer1Timer();
  EXPECT_EQ(timed.LastErrorText, "Dec 8, 11:58p Request Timed Out (ICMP2B02)");
}

TEST_F(SchedulerTest, CapabilityProbesMarkEveryRecordWithTheAddress) {
  QTcpServer shares;
  if (!shares.listen(QHostAddress("127.77.13.9"), 139)) GTEST_SKIP() << "cannot listen on port 139 (not root?)";
  M.SetTestingOn(false);
  M.Settings().TestHostServices = true;
  THost& files = Add("Files", "127.77.13.9");
  THost& filesToo = Add("Files too", "127.77.13.9");
  THost& other = Add("Other", "127.77.13.10");
  THost& fourth = Add("Fourth", "127.77.13.11");
  Add(";Group", "127.77.13.9");

  // Started while at most 4 are in flight: three hosts, then no more.
  M.Timer1Timer();
  EXPECT_EQ(M.ProbesInFlight(), 6);
  EXPECT_EQ(RunningNamed("Test WinShare"), 3);
  EXPECT_EQ(RunningNamed("Test WinRDP"), 3);
  EXPECT_EQ(files.LastProbe, FClock.Now());
  EXPECT_EQ(fourth.LastProbe, 0);
  EXPECT_FALSE(files.RunningTest);

  ASSERT_TRUE(RunUntil([&] { return M.ProbesInFlight() == 0; }, 60000));
  EXPECT_EQ(M.RunningTests().size(), 0u);
  for (THost* h : {&files, &filesToo}) {
    EXPECT_EQ(h->ShareCapability, 1) << h->DisplayName;
    EXPECT_EQ(h->RDPCapability, 2) << h->DisplayName;
  }
  EXPECT_EQ(other.ShareCapability, 2);
  EXPECT_EQ(other.RDPCapability, 2);

  // The next pass probes the fourth; the others wait their 4 hours.
  M.Timer1Timer();
  EXPECT_EQ(M.ProbesInFlight(), 2);
  EXPECT_EQ(fourth.LastProbe, FClock.Now());
  ASSERT_TRUE(RunUntil([&] { return M.ProbesInFlight() == 0; }, 60000));
  Advance(4 * 60 * Minute);
  M.Timer1Timer();
  EXPECT_EQ(M.ProbesInFlight(), 0);
  Advance(1);
  M.Timer1Timer();
  EXPECT_EQ(M.ProbesInFlight(), 6);
}

TEST_F(SchedulerTest, ProbeResultComparesAddressesWithoutCase) {
  THost& upper = Add("Upper", "FileServer.example");
  THost& lower = Add("Lower", "fileserver.EXAMPLE");
  THost& rest = Add("Rest", "printer.example");
  auto probe = TTCPThread::Create(M.Tests(), "Test WinRDP", "127.0.0.1", true, upper.ID, {}, 0, 3389);
  Forget(probe);
  M.Scheduler().ProbeCallback(*probe, upper.Address, "", 3389, true, "", upper.ID, 0);
  EXPECT_EQ(upper.RDPCapability, 1);
  EXPECT_EQ(lower.RDPCapability, 1);
  EXPECT_EQ(rest.RDPCapability, 0);
  EXPECT_EQ(upper.ShareCapability, 0);
  EXPECT_EQ(M.ProbesInFlight(), 0);
  // A host that left the list meanwhile changes nothing.
  M.Scheduler().ProbeCallback(*probe, upper.Address, "", 139, true, "", MaxHostID + 1, 0);
  EXPECT_EQ(lower.ShareCapability, 0);
}

TEST_F(SchedulerTest, AtMostThreePeriodicTracesRunAndAnEndedOneMakesRoom) {
  TRecordingAlerts alerts;
  M.SetAlertChannels(&alerts);
  M.SetTestingOn(false);
  std::vector<THost*> hosts;
  for (int i = 1; i <= 4; ++i) {
    THost& h = Add("Remote " + std::to_string(i));
    h.CurrentIP = "127.0.0." + std::to_string(i);
    hosts.push_back(&h);
  }
  THost& local = Add("Local");
  local.CurrentIP = "127.0.0.9";
  local.LocalSubnet = true;
  Add("Unresolved");
  const auto started = [&] {
    std::vector<std::string> calls;
    for (const std::string& c : alerts.Calls)
      if (c.rfind("StartPeriodicTrace ", 0) == 0) calls.push_back(c.substr(19));
    return calls;
  };

  M.Timer1Timer();
  EXPECT_EQ(started(), (std::vector<std::string>{"Remote 1", "Remote 2", "Remote 3"}));
  EXPECT_EQ(M.PeriodicTracesRunning(), 3);
  EXPECT_EQ(RunningNamed("Automatic Trace Route"), 3);
  EXPECT_EQ(hosts[3]->LastAutoTrace, 0);

  M.Timer1Timer();
  EXPECT_EQ(started().size(), 3u);
  // A trace that ends without a word is no longer counted.
  alerts.Tasks[1]->Terminate();
  M.Timer1Timer();
  EXPECT_EQ(started().size(), 4u);
  EXPECT_EQ(started().back(), "Remote 4");
  EXPECT_EQ(RunningNamed("Automatic Trace Route"), 3);
  EXPECT_EQ(local.LastAutoTrace, 0);
}

TEST_F(SchedulerTest, CompletionsReachOnlyTheHostWhoseTestTheyAre) {
  // A real echo test of loopback, from the pass to the status evaluation.
  THost& ping = Add("Loopback");
  M.Timer1Timer();
  ASSERT_TRUE(ping.RunningTest);
  ASSERT_TRUE(RunUntil([&] { return !ping.RunningTest; }));
  EXPECT_EQ(RunningNamed("Ping Loopback"), 0);
  EXPECT_EQ(ping.Status, StatusOnline);
  EXPECT_EQ(ping.CurrentIP, "127.0.0.1");

  // A TCP time-out reads as the connection attempt timing out.
  THost& tcp = Add("Port");
  tcp.TestKind = TestTCP;
  tcp.Port = 1;
  tcp.LastSuccess = FClock.Now();
  // Without attempts and without a handler of its own, the worker only has to end.
  auto worker = TTCPThread::Create(M.Tests(), "TCP Port", "127.0.0.1", false, tcp.ID, {}, 0, 1);
  FForgotten.push_back(worker);
  tcp.RunningTest = worker;
  M.Running().Add(worker->Name(), worker);
  M.Scheduler().TestDone(*worker, TCPTestResult(tcp.ID, false, 21000, "127.0.0.1", ErrorText(10060)), "TCP Callback");
  EXPECT_FALSE(tcp.RunningTest);
  EXPECT_EQ(RunningNamed("TCP Port"), 0);
  EXPECT_EQ(tcp.Failures, 1u);
  EXPECT_NE(tcp.LastErrorText.find("Connection attempt timed out (0000274C)"), std::string::npos);
  // The same result again finds no running test of its own.
  M.Scheduler().TestDone(*worker, TCPTestResult(tcp.ID, false, 21000, "127.0.0.1", ErrorText(10060)), "TCP Callback");
  EXPECT_EQ(tcp.Failures, 1u);

  // A retired record is freed once its test reports.
  THost& gone = Add("Gone");
  auto late = TTCPThread::Create(M.Tests(), "TCP Gone", "127.0.0.1", false, gone.ID, {}, 0, 1);
  FForgotten.push_back(late);
  gone.RunningTest = late;
  const std::int32_t goneID = gone.ID;
  M.Hosts().RetireOrFree(M.Hosts().Extract(IndexOf(gone)));
  ASSERT_EQ(M.Hosts().RetiredCount(), 1);
  M.Scheduler().TestDone(*late, TCPTestResult(goneID, false, 0, "", ""), "TCP Callback");
  EXPECT_EQ(M.Hosts().RetiredCount(), 0);
}

}  // namespace

namespace {

// A first round of more due hosts than a pass may start is spread over passes that come
// moments apart, each host started once, in list order.
TEST_F(SchedulerTest, ManyDueHostsStartOverSeveralPassesInListOrder) {
  M.Scheduler().SetMaxStartsPerPass(3);
  std::vector<THost*> hosts;
  for (int i = 0; i < 7; ++i) hosts.push_back(&Add("Host " + std::to_string(i)));
  const auto running = [&] {
    std::string out;
    for (THost* h : hosts) out += h->RunningTest ? '1' : '0';
    return out;
  };
  M.Timer1Timer();
  EXPECT_EQ(running(), "1110000");
  EXPECT_TRUE(M.Scheduler().CatchingUp());
  M.Timer1Timer();
  EXPECT_EQ(running(), "1111110");
  M.Timer1Timer();
  EXPECT_EQ(running(), "1111111");
  EXPECT_FALSE(M.Scheduler().CatchingUp());
  EXPECT_EQ(RunningNamed("Ping Host 0"), 1);
  ForgetAll();
}

}  // namespace

namespace {

// A list longer than a pass may walk is visited in a round of passes, each host once,
// and the tray tells the counts of whole rounds only.
TEST_F(SchedulerTest, LongListIsWalkedInRoundsAndTheTrayCountsWholeRounds) {
  M.Scheduler().SetMinHostsPerPass(3);
  std::vector<THost*> hosts;
  for (int i = 0; i < 7; ++i) hosts.push_back(&Add("Host " + std::to_string(i)));
  hosts[0]->Status = StatusOnline;
  hosts[5]->Status = StatusOffline;
  hosts[6]->DisabledUntil = 1.0;
  const auto running = [&] {
    std::string out;
    for (THost* h : hosts) out += h->RunningTest ? '1' : '0';
    return out;
  };
  const std::string before = M.TrayHint();
  M.Timer1Timer();
  EXPECT_EQ(running(), "1110000");
  EXPECT_EQ(M.TrayHint(), before);
  M.Timer1Timer();
  EXPECT_EQ(running(), "1111110");
  EXPECT_EQ(M.TrayHint(), before);
  M.Timer1Timer();
  EXPECT_EQ(running(), "1111110") << "the disabled host is counted, not tested";
  EXPECT_EQ(M.TrayHint(), "Corvale - Okay: 1\rWarning: 0 Error: 1\rDisabled: 1");
  // The next round starts at the top again and counts afresh.
  hosts[0]->Status = StatusWarning;
  for (int pass = 0; pass < 3; ++pass) M.Timer1Timer();
  EXPECT_EQ(M.TrayHint(), "Corvale - Okay: 0\rWarning: 1 Error: 1\rDisabled: 1");
  ForgetAll();
}

TEST_F(SchedulerTest, NameSyntaxErrorOfAServiceTestIsDroppedOnlyWhileOnline) {
  THost& service = Add("Db");
  service.TestKind = TestService;
  for (const std::int32_t status : {StatusOnline, StatusOffline}) {
    service.Status = status;
    const std::uint32_t failures = service.Failures;
    auto worker = TTCPThread::Create(M.Tests(), "Service Db", "127.0.0.1", false, service.ID, {}, 0, 1);
    FForgotten.push_back(worker);
    service.RunningTest = worker;
    M.Running().Add(worker->Name(), worker);
    M.Scheduler().TestDone(*worker, ServiceTestResult(service.ID, false, 123, 0, ""), "Service callback 127.0.0.1");
    EXPECT_FALSE(service.RunningTest);
    EXPECT_EQ(service.Failures, failures + (status == StatusOnline ? 0u : 1u)) << status;
  }
}

}  // namespace
