// What a finished test does to its host: status, statistics, events and alerts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <atomic>
#include <random>
#include <shared_mutex>
#include <thread>

#include "common/ErrorText.h"
#include "core/MonitorFixture.h"
#include "core/RecordingAlerts.h"
#include "core/THostList.h"
#include "support/TestNetns.h"

namespace {

using TLines = std::vector<std::string>;

class StatusTest : public MonitorFixture {
protected:
  StatusTest() { Use(NewMonitor()); }

  void Use(std::unique_ptr<TMonitor> monitor) {
    M = std::move(monitor);
    M->SetAlertChannels(&Alerts);
    Refreshed = std::make_unique<TChangedRows>(*M);
    FSeen = 0;
  }

  THost& Add(const std::string& name, const std::string& address = "192.0.2.10") {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = address;
    return *M->Hosts().Add(std::move(record));
  }

  void At(int hour, int minute, int second = 0, int ms = 0) {
    FClock.SetNow(EncodeDateTime(2026, 12, 8, hour, minute, second, ms));
  }

  void Result(THost& host, bool success, const std::string& text = {}, const std::string& ip = {},
              const std::string& detail = {}, std::int32_t response = 0) {
    M->UpdateHostStatus(TTestResult{host.ID, success, false, response, ip, text, detail});
  }
  void Forced(THost& host) { M->UpdateHostStatus(TTestResult{host.ID, false, true, 0, {}, "down", {}}); }

  // The events logged since the last call, as category, a blank and the message.
  TLines Events() {
    TLines out;
    const auto& lines = M->Log().Lines();
    for (std::size_t i = FSeen; i < lines.size(); ++i) {
      const std::string& t = lines[i].Text;
      const auto message = t.find('\t', t.find('\t') + 1) + 1;
      out.push_back(t.back() + (" " + t.substr(message, t.size() - message - 2)));
    }
    FSeen = lines.size();
    return out;
  }

  TRecordingAlerts Alerts;  // outlives the monitor
  std::unique_ptr<TChangedRows> Refreshed;
  std::unique_ptr<TMonitor> M;
  std::size_t FSeen = 0;
};

bool HasRunningTest(TMonitor& m, const std::string& name) {
  for (const TRunningTask& t : m.RunningTests())
    if (t.Name == name) return true;
  return false;
}

TEST_F(StatusTest, FailuresStayWarningUntilTheErrorAfterTimeHasPassedThenTurnOfflineOnce) {
  THost& host = Add("web");
  At(14, 6);
  host.LastCheck = FClock.Now();  // the history keeps the check times of the last day
  Result(host, true, {}, "192.0.2.10");
  At(14, 7);
  Result(host, false, "Request timed out for %displayname%", {}, "[192.0.2.1]");
  EXPECT_EQ(host.Status, StatusWarning);
  EXPECT_EQ(host.LastErrorText, "2:07p Request timed out for web");
  At(14, 11);  // exactly the error-after time since the last success
  Result(host, false, "Request timed out for %displayname%");
  EXPECT_EQ(host.Status, StatusWarning);
  At(14, 11, 0, 500);
  Result(host, false, "Request timed out for %displayname%");
  EXPECT_EQ(host.Status, StatusOffline);
  At(14, 12);
  Result(host, false, "Request timed out for %displayname%");

  EXPECT_EQ(Events(), (TLines{"W Warning State; Error: [192.0.2.1] Request timed out for web",
                              "E Error State: 3 successive failures over 00:00:05:00, Error: Request timed out for web"}));
  EXPECT_EQ(host.PreviousStatus, StatusOffline);
  EXPECT_EQ(host.Warnings, 2u);
  EXPECT_EQ(host.Errors, 2);
  EXPECT_EQ(host.Failures, 4u);
  EXPECT_TRUE(host.HasBeenOffline);
  EXPECT_EQ(host.StatusHistory.size(), 5u);
  EXPECT_EQ(std::count(Alerts.Calls.begin(), Alerts.Calls.end(), "StartHostDownTrace web"), 1);
  EXPECT_TRUE(host.RunningTrace);
  EXPECT_TRUE(HasRunningTest(*M, "Host Down Auto-Trace web"));
}

TEST_F(StatusTest, HardErrorCodesAndForcedFailuresAreOfflineAtOnce) {
  THost& unreachable = Add("unreachable");
  THost& slow = Add("slow");
  THost& forced = Add("forced");
  At(14, 6);
  for (THost* h : {&unreachable, &slow, &forced}) Result(*h, true);
  At(14, 6, 1);
  Result(unreachable, false, ErrorText(11003));
  Result(slow, false, ErrorText(10060));
  Forced(forced);
  EXPECT_EQ(unreachable.Status, StatusOffline);
  EXPECT_EQ(slow.Status, StatusWarning);
  EXPECT_EQ(forced.Status, StatusOffline);
  EXPECT_TRUE(HasLine(*M, "Error State: 1 successive failure over 00:00:00:01, Error: " + ErrorText(11003), 'E'));
}

TEST_F(StatusTest, OnlyHostsSeenUpSinceTheBaselineRaiseOfflineAlerts) {
  THost& stale = Add("stale");
  stale.LastSuccess = FClock.Now() - 1;  // stored from before the load
  THost& never = Add("never");
  At(14, 10, 1);
  Result(stale, false, "Request timed out");
  EXPECT_EQ(Events(), (TLines{"W Warning State; Error: Request timed out",
                              "E Error State: 1 successive failure over 00:00:05:01, Error: Request timed out",
                              "I No alerts issued; host has not been up since the last alert"}));
  EXPECT_TRUE(stale.HasBeenOffline);
  Result(never, false, "Request timed out");
  EXPECT_EQ(Events().size(), 2u);
  EXPECT_EQ(Alerts.Calls, (TLines{"SendHostUpdate stale", "StartHostDownTrace never", "SendHostUpdate never"}));
  // Resolved for the trace, since no test had reported an address yet.
  EXPECT_EQ(never.CurrentIP, "192.0.2.10");
  Result(never, true);
  EXPECT_EQ(Events(), TLines{"O Okay State; Is Responding After 1 Failure"});

  M->Settings().OfflineAlertsAtStartup = true;
  THost& startup = Add("startup");
  startup.LastSuccess = stale.LastSuccess;
  startup.BaselineTime = stale.BaselineTime;
  Forced(startup);
  EXPECT_TRUE(Alerts.Called("StartHostDownTrace startup"));
}

TEST_F(StatusTest, RecoveryFromWarningOnlyLogsAndRecoveryFromOfflineAlertsOnline) {
  THost& host = Add("web");
  host.OnlineRecipients = "ops@example.com";
  host.OnlineCommand = "notify-up %name%";
  host.OnlineNotify = true;
  host.EmailWindow = true;
  host.WindowStart = 22.0L / 24;
  host.WindowEnd = 6.0L / 24;
  Alerts.Templates = {{TAlertTemplate::OnlineSubject, "Back"}, {TAlertTemplate::OnlineBody, "Body"}};
  Alerts.MailRoute = Alerts.PrimaryServer = true;
  At(14, 6);
  Result(host, true);
  At(14, 7);
  Result(host, false, "lost");
  At(14, 8);
  Alerts.Calls.clear();
  Result(host, true);
  EXPECT_EQ(Alerts.Calls, (TLines{"RemoveFromAlertWindow web", "SendHostUpdate web"}));
  EXPECT_EQ(Events(), (TLines{"W Warning State; Error: lost", "O Okay State; Is Responding After 00:00:02:00 (1 Failure)"}));

  const std::pair<int, int> failureTimes[] = {{9, 0}, {12, 0}, {14, 30}};
  for (auto [minute, second] : failureTimes) {
    At(14, minute, second);
    Result(host, false, "lost");
  }
  EXPECT_EQ(Events(), (TLines{"W Warning State; Up for: 00:00:02:00, Error: lost",
                              "E Error State: 3 successive failures over 00:00:06:30, Error: lost"}));
  At(14, 18);
  Alerts.Calls.clear();
  Result(host, true);
  EXPECT_EQ(Events(), (TLines{"O Okay State; Is Responding After 00:00:10:00 (3 Failures)",
                              "M Queuing Alert to ops@example.com", "I Launching Command Line: notify-up %name%"}));
  EXPECT_EQ(Alerts.Calls, (TLines{"QueueAlert Back", "RunCommandLine notify-up web", "StartHttpNotification web online",
                                  "RemoveFromAlertWindow web", "SendHostUpdate web"}));
  EXPECT_EQ(Alerts.Queued, (std::vector<TQueuedAlert>{
                               {"ops@example.com", "Back", "Body", 22.0 / 24, 6.0 / 24, host.ID, 3, 2, false}}));
  EXPECT_TRUE(HasRunningTest(*M, "HTTP Up Alert web"));
}

TEST_F(StatusTest, OnlyCommandLinesThatStartAreAnnounced) {
  THost& host = Add("web");
  host.OfflineCommand = "missing-program %name%";
  host.OnlineCommand = "notify-up %name%";
  Alerts.CommandsStart = false;
  Forced(host);
  Alerts.CommandsStart = true;
  Result(host, true);
  EXPECT_TRUE(Alerts.Called("RunCommandLine missing-program web"));
  EXPECT_FALSE(HasLine(*M, "Launching Command Line: missing-program %name%", 'I'));
  EXPECT_TRUE(HasLine(*M, "Launching Command Line: notify-up %name%", 'I'));
}

TEST_F(StatusTest, OfflineAlertsFollowTheMailRouteTraceAndHostConditions) {
  Alerts.Templates = {{TAlertTemplate::OfflineSubject, "Down"}, {TAlertTemplate::OfflineBody, "Body"}};
  Alerts.MailRoute = true;
  const auto add = [&](const std::string& name) -> THost& {
    THost& h = Add(name);
    h.OfflineRecipients = "ops";
    h.CurrentIP = "192.0.2.10";
    h.TraceLastReply = h.TraceDropPoint = h.TraceReport = "old";
    return h;
  };
  THost& mailed = add("mailed");
  mailed.OfflineCommand = "page %name%";
  mailed.OfflineNotify = true;
  THost& local = add("local");
  local.LocalSubnet = true;
  THost& noip = add("noip");
  noip.CurrentIP = "0.0.0.0";
  THost& busy = add("busy");
  busy.RunningTrace = std::make_shared<TRecordedTask>("earlier trace");
  for (THost* h : {&mailed, &local, &noip, &busy}) Forced(*h);
  Alerts.StartTasks = false;
  THost& untraced = add("untraced");
  Forced(untraced);
  Alerts.MailRoute = false;
  Forced(add("noroute"));
  Alerts.MailRoute = true;
  Alerts.Templates.erase(TAlertTemplate::OfflineSubject);
  Forced(add("nosubject"));

  std::vector<TQueuedAlert> expected;
  const std::pair<THost*, bool> mailedWithTrace[] = {
      {&mailed, true}, {&local, false}, {&noip, false}, {&busy, true}, {&untraced, false}};
  for (auto [host, trace] : mailedWithTrace)
    expected.push_back({"ops", "Down", "Body", 0, 0, host->ID, 2, 0, trace});
  EXPECT_EQ(Alerts.Queued, expected);
  EXPECT_TRUE(HasLine(*M, "Launching Command Line: page %name%", 'I'));
  EXPECT_TRUE(Alerts.Called("RunCommandLine page mailed"));
  EXPECT_TRUE(HasRunningTest(*M, "HTTP Down Alert mailed"));
  EXPECT_EQ(mailed.TraceLastReply + mailed.TraceDropPoint + mailed.TraceReport, "");
  EXPECT_EQ(local.TraceLastReply + "|" + local.TraceDropPoint + "|" + local.TraceReport, "N/A: Local Host||N/A: Local Host");
  EXPECT_EQ(noip.TraceLastReply + "|" + noip.TraceDropPoint + "|" + noip.TraceReport, "N/A||N/A");
  EXPECT_EQ(busy.TraceReport, "old");
  EXPECT_EQ(busy.RunningTrace->Name(), "earlier trace");
  EXPECT_FALSE(Alerts.Called("StartHostDownTrace local") || Alerts.Called("StartHostDownTrace noip") ||
               Alerts.Called("StartHostDownTrace busy"));
}

TEST_F(StatusTest, SoundsAlertWindowAndPopupOnlyOutsideServiceMode) {
  const auto add = [&](const std::string& name, bool global) -> THost& {
    THost& h = Add(name);
    h.CurrentIP = "0.0.0.0";
    h.OfflineSound = "down.wav";
    h.OnlineSound = "up.wav";
    h.OnlinePopup = global;
    h.GlobalOfflineSound = h.GlobalOnlineSound = h.AlertWindow = global;
    return h;
  };
  Forced(add("service", true));
  Result(*M->Hosts().Items(0), true);
  EXPECT_EQ(Alerts.Calls, (TLines{"SendHostUpdate service", "RemoveFromAlertWindow service", "SendHostUpdate service"}));

  Use(std::make_unique<TMonitor>(TStartOptions(), FClock, FServices));
  THost& loud = add("loud", true);
  THost& quiet = add("quiet", false);
  Alerts.Calls.clear();
  Forced(loud);
  Result(loud, true);
  EXPECT_EQ(Alerts.Calls, (TLines{"PlaySound Error.wav wait", "PlaySound down.wav", "AddToAlertWindow loud",
                                  "SendHostUpdate loud", "PlaySound Okay.wav wait", "ShowOnlinePopup loud (192.0.2.10)",
                                  "PlaySound up.wav", "RemoveFromAlertWindow loud", "SendHostUpdate loud"}));
  Alerts.Calls.clear();
  Forced(quiet);
  Result(quiet, true);
  // Without the global flag neither offline sound plays; the host's own online sound does.
  EXPECT_EQ(Alerts.Calls, (TLines{"SendHostUpdate quiet", "PlaySound up.wav", "RemoveFromAlertWindow quiet",
                                  "SendHostUpdate quiet"}));
}

TEST_F(StatusTest, StatisticsWeighLongFailureRunsAndCreditTimeToTheCurrentState) {
  THost& host = Add("web");
  for (int i = 0; i < 24; ++i) Forced(host);
  const std::int32_t errors = host.Errors;
  const std::uint32_t failures = host.Failures;
  Forced(host);
  EXPECT_EQ(host.Errors - errors, 5);
  EXPECT_EQ(host.Failures - failures, 5u);
  EXPECT_EQ(host.Errors, 9 * 1 + 10 * 3 + 6 * 5);
  M->Settings().FailFreqAdj = false;
  Forced(host);
  EXPECT_EQ(host.Errors, 70);
  EXPECT_EQ(host.Downtime, 0);  // never checked twice

  THost& timed = Add("timed");
  timed.PreviousCheck = EncodeDateTime(2026, 12, 8, 14, 0, 0);
  timed.LastCheck = EncodeDateTime(2026, 12, 8, 14, 4, 0);
  Result(timed, true, {}, {}, {}, 30);
  timed.PreviousCheck = timed.LastCheck;
  timed.LastCheck += 1 / MinsPerDay;
  Result(timed, false, "lost");
  timed.PreviousCheck = timed.LastCheck;
  timed.LastCheck += 2 / MinsPerDay;
  Result(timed, true, {}, {}, {}, 40);
  EXPECT_NEAR(static_cast<double>(timed.Uptime * MinsPerDay), 6, 1e-6);
  EXPECT_NEAR(static_cast<double>(timed.Downtime * MinsPerDay), 1, 1e-6);
  EXPECT_EQ(timed.TotalResponse, 70);
  EXPECT_EQ(timed.ResponseHistory[ResponseHistorySize - 2], 30);
  EXPECT_EQ(timed.ResponseHistory.back(), 40);
  EXPECT_EQ(timed.ResponseHistory[ResponseHistorySize - 3], -1);
}

TEST_F(StatusTest, AddressChangesAfterTheFirstLearnedAddressAreLoggedAndMailed) {
  THost& host = Add("web");
  host.MACAddress = "02:00:00:00:00:01";
  host.IPChangeRecipients = "net@example.com";
  Alerts.Templates = {{TAlertTemplate::IPChangeSubject, "Moved"}, {TAlertTemplate::IPChangeBody, "Body"}};
  Result(host, true, {}, "192.0.2.10");
  Result(host, true, {}, "0.0.0.0");
  Result(host, false, "lost", "192.0.2.12");
  EXPECT_EQ(host.CurrentIP, "192.0.2.10");
  EXPECT_EQ(host.MACAddress, "");  // not on a local subnet
  EXPECT_TRUE(Alerts.Queued.empty());
  host.TestKind = TestTCP;
  Events();
  Result(host, true, {}, "192.0.2.11");
  EXPECT_EQ(Events(), (TLines{"I IP Address Change; New Address: 192.0.2.11; Old Address: 192.0.2.10 (During TCP)",
                              "O Okay State; Is Responding After 1 Failure"}));
  EXPECT_EQ(host.PreviousIP, "192.0.2.10");
  EXPECT_EQ(Alerts.Queued,
            (std::vector<TQueuedAlert>{{"net@example.com", "Moved", "Body", 0, 0, host.ID, 3, -1, false}}));
  host.TestKind = TestPlugin + 2;
  Alerts.Templates.erase(TAlertTemplate::IPChangeBody);
  Result(host, true, {}, "192.0.2.13");
  EXPECT_EQ(Events(), TLines{"I IP Address Change; New Address: 192.0.2.13; Old Address: 192.0.2.11 (During Unknown test)"});
  EXPECT_EQ(Alerts.Queued.size(), 1u);
}

TEST_F(StatusTest, LocalSubnetHostTakesItsMacFromTheNeighbourTable) {
  if (geteuid() != 0) GTEST_SKIP() << "a network namespace needs root";
  testsupport::TTestNetns net("cvst", {"n"});
  const std::string n = " -n " + net.Name("n");
  ASSERT_TRUE(net.Run({"ip" + n + " link add v0 type veth peer name v1", "ip" + n + " addr add 192.0.2.2/24 dev v0",
                       "ip" + n + " link set v0 up", "ip" + n + " link set v1 up",
                       "ip" + n + " neigh add 192.0.2.99 lladdr 02:00:00:00:00:63 dev v0 nud permanent"}))
      << net.Error();
  testsupport::TInNetns inside(net.Name("n"));
  ASSERT_TRUE(inside.Entered());
  THost& host = Add("printer", "192.0.2.99");
  host.LocalSubnet = true;
  // The neighbour table is asked on the pool; the result is taken when it answers.
  const auto answered = [this] {
    for (int i = 0; i < 500 && M->Evaluation().LookupsWaiting() > 0; ++i) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  Result(host, true, {}, "192.0.2.99");
  answered();
  EXPECT_EQ(host.MACAddress, "02:00:00:00:00:63");
  // Nobody answers for the new address: the MAC address stays as it was.
  Result(host, true, {}, "192.0.2.77");
  answered();
  EXPECT_EQ(host.CurrentIP, "192.0.2.77");
  EXPECT_EQ(host.MACAddress, "02:00:00:00:00:63");
}

TEST_F(StatusTest, ResultsAreIgnoredWhileTestingIsOffOrTheHostIsDisabledGroupedOrCutOffUnlessSimulated) {
  THost& router = Add("router");
  router.Status = StatusOffline;
  THost& child = Add("child");
  child.Parents = router.IDText();
  THost& group = Add(";Servers");
  THost& disabled = Add("disabled");
  disabled.DisabledUntil = 1.0;
  THost& later = Add("later");
  later.DisabledUntil = FClock.Now() + 1.0 / 24;
  THost& normal = Add("normal");
  for (THost* h : {&child, &group, &disabled, &later}) Forced(*h);
  M->SetTestingOn(false);
  Forced(normal);
  M->SetTestingOn(true);
  M->SetRunState(rsClosed);
  Forced(normal);
  M->SetRunState(rsRunning);
  M->UpdateHostStatus(TTestResult{MaxHostID + 1, false, true, 0, {}, {}, {}});
  for (THost* h : {&child, &group, &disabled, &later, &normal}) {
    EXPECT_EQ(h->Status, StatusUnknown) << h->DisplayName;
    EXPECT_EQ(h->Failures, 0u) << h->DisplayName;
    EXPECT_EQ(h->LastFailure, 0) << h->DisplayName;
    EXPECT_TRUE(h->StatusHistory.empty()) << h->DisplayName;
  }
  EXPECT_EQ(Refreshed->Take(), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(Events().empty());
  EXPECT_TRUE(Alerts.Calls.empty());

  disabled.SimulatedFailureUntil = FClock.Now() + 5 / MinsPerDay;
  disabled.LastSuccess = FClock.Now() - 1;
  disabled.OfflineRecipients = "ops";
  Alerts.MailRoute = true;
  Alerts.Templates = {{TAlertTemplate::OfflineSubject, "Down"}};
  Result(disabled, true, {}, "192.0.2.99", "[192.0.2.1]");
  EXPECT_EQ(disabled.Status, StatusOffline);
  EXPECT_EQ(disabled.LastErrorText, "2:05p Simulated Failure");
  EXPECT_EQ(disabled.CurrentIP, "192.0.2.10");  // from the address for the trace, not from the test
  EXPECT_EQ(Events(), (TLines{"W Warning State; Error: Simulated Failure",
                              "E Error State: 1 successive failure over 00:00:00:00, Error: Simulated Failure"}));
  EXPECT_TRUE(Alerts.Called("StartHostDownTrace disabled"));
  EXPECT_TRUE(Alerts.Queued.empty());  // no mail for a disabled host
  FClock.Advance(5 * 60000);
  Result(disabled, true);
  EXPECT_EQ(disabled.SimulatedFailureUntil, 0);
  EXPECT_EQ(disabled.Status, StatusOffline);
}

TEST_F(StatusTest, ParentsOutageAndRecoveryReachTheDependents) {
  THost& router = Add("router");
  THost& server = Add("server");
  server.Parents = router.IDText();
  M->Hosts().RecomputeAllAncestors();
  At(14, 6);
  Result(router, true);
  Result(server, true);
  EXPECT_TRUE(server.ParentsUp);
  At(14, 7);
  Refreshed->Take();
  Forced(router);
  EXPECT_FALSE(server.ParentsUp);
  EXPECT_TRUE(server.ParentHasBeenOffline);
  EXPECT_EQ(Refreshed->Take(), (std::vector<int>{0, 1}));
  At(14, 20);
  Result(router, true);
  EXPECT_TRUE(server.ParentsUp);
  EXPECT_EQ(server.BaselineTime, FClock.Now());
  EXPECT_EQ(router.BaselineTime, EncodeDateTime(2026, 12, 8, 14, 5, 0));
  At(14, 21);
  Events();
  Forced(server);
  EXPECT_EQ(Events().back(), "I No alerts issued; host has not been up since the last alert");
}

// Router -> switch -> server: the recovery of the router starts a new watch two levels
// down too, so the server's failure right after it raises no alert.
TEST_F(StatusTest, RecoveryOfAnAncestorResetsTheBaselineOfEveryHostBelowIt) {
  THost& router = Add("router");
  THost& sw = Add("switch");
  THost& server = Add("server");
  sw.Parents = router.IDText();
  server.Parents = sw.IDText();
  M->Hosts().RecomputeAllAncestors();
  At(14, 6);
  for (THost* h : {&router, &sw, &server}) Result(*h, true);
  At(14, 7);
  Forced(router);
  EXPECT_FALSE(sw.ParentsUp);
  EXPECT_FALSE(server.ParentsUp);
  At(14, 20);
  Result(router, true);
  EXPECT_TRUE(server.ParentsUp);
  EXPECT_EQ(sw.BaselineTime, FClock.Now());
  EXPECT_EQ(server.BaselineTime, FClock.Now());
  At(14, 21);
  Events();
  Forced(server);
  EXPECT_EQ(Events().back(), "I No alerts issued; host has not been up since the last alert");
}

TEST_F(StatusTest, RemarkOnASuccessIsLoggedOnceWhateverTheHour) {
  THost& host = Add("web");
  At(11, 0);
  Result(host, true, "Page changed by 12% on %displayname%");
  At(11, 1);
  Result(host, true, "Page changed by 12% on %displayname%");
  EXPECT_EQ(host.LastErrorText, "11:01a Page changed by 12% on web");
  host.LastErrorText = "Dec 7, " + host.LastErrorText;  // dated after midnight
  Result(host, true, "Page changed by 12% on %displayname%");
  Result(host, true, "Page changed by 30% on %displayname%");
  EXPECT_EQ(Events(), (TLines{"I Page changed by 12% on web", "I Page changed by 30% on web"}));
}

// A partner list that fails on every update.
class TThrowingUpdates : public TRecordingAlerts {
public:
  void SendHostUpdate(THost&) override { throw std::runtime_error("partner list broken"); }
};

TEST_F(StatusTest, SwallowedErrorsLeaveOneErrorEventPerPlaceAndMinuteWithTheCountHeldBack) {
  TThrowingUpdates throwing;
  M->SetAlertChannels(&throwing);
  THost& host = Add("web");
  for (int i = 0; i < 3; ++i) Result(host, true);
  // The evaluation went on: every result counted.
  EXPECT_EQ(host.Successes, 3u);
  EXPECT_EQ(Events(), (TLines{"E Exception in UpdateHostStatus: partner list broken"}));

  // Another place is a report of its own; from another thread it is logged on this one.
  std::thread([this] { M->ReportFault("echo receive thread", "socket closed"); }).join();
  EXPECT_EQ(Events(), TLines{});
  QCoreApplication::processEvents();
  EXPECT_EQ(Events(), (TLines{"E Exception in echo receive thread: socket closed"}));

  // A minute on, the two held back are told, and the place may log again a minute later.
  FClock.Advance(30000);
  M->tmrAlertTimer();
  EXPECT_EQ(Events(), TLines{});
  FClock.Advance(30001);
  M->tmrAlertTimer();
  EXPECT_EQ(Events(), (TLines{"E Exception in UpdateHostStatus: partner list broken (1 more since the last report)"}));
  Result(host, false, "down");
  Result(host, false, "down");
  FClock.Advance(60001);
  Result(host, false, "down");
  TLines events = Events();
  EXPECT_EQ(std::count(events.begin(), events.end(),
                       "E Exception in UpdateHostStatus: partner list broken (2 more since the last report)"),
            1);
  M->SetAlertChannels(&Alerts);
}

}  // namespace

namespace {

// Random results, warnings and outages, and hosts disabled and enabled again, on random
// dependency graphs (shared ancestors and cycles included): the flags kept up to date only
// for the dependants of a host whose status or testing changed are those a walk of every
// record gives.
TEST_F(StatusTest, ParentsCheckedOnChangeMatchAWalkOfEveryRecord) {
  std::mt19937 random(20261209);
  for (int graph = 0; graph < 4; ++graph) {
    Use(NewMonitor());
    std::vector<THost*> hosts;
    for (int i = 0; i < 40; ++i) hosts.push_back(&Add("h" + std::to_string(i)));
    for (int i = 1; i < 40; ++i) {
      const int parents = static_cast<int>(random() % 3);
      for (int p = 0; p < parents; ++p) {
        // Mostly earlier hosts; now and then a later one, which may close a cycle.
        const int parent = random() % 8 == 0 ? static_cast<int>(random() % 40) : static_cast<int>(random() % i);
        if (parent == i) continue;
        hosts[i]->Parents += (hosts[i]->Parents.empty() ? "" : ";") + hosts[parent]->IDText();
      }
    }
    M->Hosts().RecomputeAllAncestors();
    M->Evaluation().CheckAllParents();
    At(14, 6);
    for (int step = 0; step < 400; ++step) {
      THost& host = *hosts[random() % 40];
      const int index = M->Hosts().IndexOf(&host);
      switch (random() % 6) {
        case 0: Result(host, true); break;
        case 1: Result(host, false, "Request timed out"); break;
        case 2: Forced(host); break;
        case 3: M->DisableHost(index, host.DisabledUntil != 0); break;
        case 4: M->ResetHostStatus(index, 1); break;
        default: FClock.Advance(61000); break;
      }
      const TDateTime now = FClock.Now();
      for (THost* record : hosts) {
        ASSERT_EQ(record->ParentsUp, M->Hosts().ParentsUp(*record, now))
            << "graph " << graph << ", step " << step << ", " << record->DisplayName;
        if (M->Hosts().ParentsDown(*record, now)) {
          ASSERT_TRUE(record->ParentHasBeenOffline) << record->DisplayName;
        }
      }
    }
  }
}

// A reader on another thread (the web server) that takes the state lock shared never sees a
// host half way through a result: an Offline status beside the text of the last success, or
// a new address beside the remark of the old one.
TEST_F(StatusTest, ReaderOnAnotherThreadSeesEveryResultWholeOrNotAtAll) {
  THost& host = Add("web");
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::string torn;
  std::thread reader([&] {
    while (!done.load()) {
      std::shared_lock<std::shared_mutex> guard(M->StateLock());
      const std::string text = host.LastErrorText;
      const bool whole = host.Status == StatusUnknown ||
                         (host.Status == StatusOnline && text.ends_with("fine " + host.CurrentIP)) ||
                         (host.Status == StatusOffline && text.ends_with("down"));
      if (!whole && torn.empty()) torn = std::to_string(host.Status) + " " + host.CurrentIP + " " + text;
      reads.fetch_add(1);
    }
  });
  At(14, 6);
  for (int k = 1; k <= 3000 || reads.load() < 1000; ++k) {
    if (k % 2 == 1) {
      const std::string ip = "10.0." + std::to_string(k / 256 % 256) + "." + std::to_string(k % 256);
      Result(host, true, "fine " + ip, ip);
    } else {
      M->UpdateHostStatus(TTestResult{host.ID, false, true, 0, {}, "down", {}});
    }
    if (k > 100000) break;
  }
  done.store(true);
  reader.join();
  EXPECT_EQ(torn, "");
}

}  // namespace

TEST_F(StatusTest, PageChangesAboveTheThresholdAreNotedAndAlertedOnSuccessOnly) {
  THost& host = Add("site");
  host.TestKind = TestHTTP;
  host.HTTPTest.ChangeRecipients = "web@example.com";
  host.HTTPTest.ChangeThreshold = 1;
  Alerts.Templates = {{TAlertTemplate::PageChangeSubject, "Changed"}, {TAlertTemplate::PageChangeBody, "Body"}};
  const auto page = [&](bool success, float change, const std::string& text = {}) {
    TTestResult r{host.ID, success, false, 5, "192.0.2.10", text, {}};
    r.PageTest = true;
    r.PageChange = change;
    M->UpdateHostStatus(r);
  };
  At(14, 6);
  page(true, 0.012f);
  EXPECT_FLOAT_EQ(host.HTTPTest.LastChange, 0.012f);
  EXPECT_EQ(host.LastErrorText, "2:06p Page content changed 1.2%");
  EXPECT_EQ(Alerts.Queued,
            (std::vector<TQueuedAlert>{{"web@example.com", "Changed", "Body", 0, 0, host.ID, 3, -1, false}}));

  // Exactly at the threshold is not above it; the last change is kept all the same.
  At(14, 7);
  page(true, 0.01f);
  EXPECT_FLOAT_EQ(host.HTTPTest.LastChange, 0.01f);
  EXPECT_EQ(host.LastErrorText, "2:06p Page content changed 1.2%");
  EXPECT_EQ(Alerts.Queued.size(), 1u);

  // Inside the host's e-mail window the alert waits for it; whole percents lose the decimal.
  host.EmailWindow = true;
  host.WindowStart = EncodeTime(2, 0, 0);
  host.WindowEnd = EncodeTime(3, 0, 0);
  page(true, 0.2f);
  EXPECT_EQ(host.LastErrorText, "2:07p Page content changed 20%");
  ASSERT_EQ(Alerts.Queued.size(), 2u);
  EXPECT_EQ(Alerts.Queued.back().WindowStart, EncodeTime(2, 0, 0));
  EXPECT_EQ(Alerts.Queued.back().WindowEnd, EncodeTime(3, 0, 0));

  // A failed test still tells a change (none is measured then, in practice) but never mails.
  page(false, 0.5f, "[500] Internal Server Error");
  EXPECT_EQ(host.LastErrorText, "2:07p Page content changed 50%");
  EXPECT_EQ(Alerts.Queued.size(), 2u);

  // Recipients of separators only get nothing; a result of another kind leaves the change.
  host.HTTPTest.ChangeRecipients = "; ";
  page(true, 0.3f);
  EXPECT_EQ(Alerts.Queued.size(), 2u);
  Result(host, true);
  EXPECT_FLOAT_EQ(host.HTTPTest.LastChange, 0.3f);
  // Without a template there is no mail either.
  host.HTTPTest.ChangeRecipients = "web@example.com";
  Alerts.Templates.clear();
  page(true, 0.3f);
  EXPECT_EQ(Alerts.Queued.size(), 2u);
}
