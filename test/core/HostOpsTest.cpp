// What the user does to hosts: disable for a while or for good, reset at three depths,
// reset a host's dependents, simulate a failure, switch testing off and on.
#include <QThread>
#include <gtest/gtest.h>

#include "core/RecordingAlerts.h"
#include "core/SchedulerFixture.h"

namespace {

using HostOpsTest = SchedulerFixture;

// A host with a history: Offline, counted, traced, addressed.
THost& Worn(THost& h, TDateTime now) {
  h.Status = StatusOffline;
  h.PreviousStatus = StatusWarning;
  h.HasBeenOffline = h.ParentHasBeenOffline = true;
  h.LastErrorText = "2:05p Request Timed Out (ICMP2B02)";
  h.SimulatedFailureUntil = now + 0.001;
  h.TraceLastReply = h.TraceDropPoint = h.TraceReport = "trace";
  h.CurrentIP = "127.0.0.1";
  h.MACAddress = "00:11:22:33:44:55";
  h.BaselineTime = now - 1;
  h.Successes = h.Failures = h.Warnings = h.BackToBackFailures = 7;
  h.Errors = 7;
  h.TotalResponse = 70;
  h.LastSuccess = h.LastFailure = h.LastProbe = now - 0.5;
  h.Uptime = h.Downtime = 2;
  h.StatusHistory.push_back({now - 0.5, StatusOffline, 0});
  h.LastCheck = now;  // tested just now: not due again for the scheduler
  return h;
}

TEST_F(HostOpsTest, DisableForATimeLogsTheEndAndChoosingItAgainEnables) {
  THost& host = Add("Web");
  const int index = IndexOf(host);
  TChangedRows changed(M);
  const std::vector<int> row{index};

  M.DisableHostFor(index, 60, false);
  EXPECT_DOUBLE_EQ(host.DisabledUntil, FClock.Now() + 1.0 / 24);
  EXPECT_EQ(changed.Take(), row);
  EXPECT_TRUE(HasLine(M, "Host Disabled Until Dec 8, 03:05p", 'I'));
  M.DisableHostFor(index, 60, true);
  EXPECT_EQ(host.DisabledUntil, 0);
  EXPECT_EQ(changed.Take(), row);
  EXPECT_TRUE(HasLine(M, "Host Testing Enabled", 'I'));
  M.Settings().Use24HourDate = 1;
  M.DisableHostFor(index, 30, false);
  EXPECT_EQ(changed.Take(), row);
  EXPECT_TRUE(HasLine(M, "Host Disabled Until Dec 8, 14:35", 'I'));

  // Indefinitely: no end, nothing logged.
  const std::size_t lines = M.Log().Count();
  M.DisableHost(index, false);
  EXPECT_EQ(host.DisabledUntil, 1.0);
  EXPECT_EQ(changed.Take(), row);
  M.DisableHost(index, true);
  EXPECT_EQ(host.DisabledUntil, 0);
  EXPECT_EQ(M.Log().Count(), lines);
  EXPECT_EQ(changed.Take(), row);

  // A host that is gone is left alone.
  M.DisableHost(5, false);
  M.DisableHostFor(-1, 60, false);
  M.ResetHostStatus(7, 2);
  M.ResetDependentHosts(7, 2);
  M.SimulateHostFailure(7);
  EXPECT_EQ(M.Log().Count(), lines);
}

TEST_F(HostOpsTest, ResetDepthsClearMoreAndTestTheHostUnlessDisabled) {
  const TDateTime now = FClock.Now();
  THost& flags = Worn(Add("Flags"), now);
  THost& status = Worn(Add("Status"), now);
  THost& stats = Worn(Add("Stats"), now);
  THost& off = Worn(Add("Off"), now);
  off.DisabledUntil = 1.0;

  M.ResetHostStatus(IndexOf(flags), 0);
  EXPECT_FALSE(flags.HasBeenOffline || flags.ParentHasBeenOffline);
  EXPECT_EQ(flags.LastErrorText, "");
  EXPECT_EQ(flags.SimulatedFailureUntil, 0);
  EXPECT_EQ(flags.Status, StatusOffline);
  EXPECT_EQ(flags.CurrentIP, "127.0.0.1");
  EXPECT_EQ(flags.Successes, 7u);
  EXPECT_TRUE(flags.RunningTest);
  EXPECT_TRUE(HasLine(M, "Host Status Reset", 'T'));

  M.ResetHostStatus(IndexOf(status), 1);
  EXPECT_EQ(status.Status, StatusUnknown);
  EXPECT_EQ(status.PreviousStatus, StatusUnknown);
  EXPECT_EQ(status.TraceLastReply + status.TraceDropPoint + status.TraceReport, "");
  EXPECT_EQ(status.BaselineTime, now);
  EXPECT_EQ(status.CurrentIP + status.MACAddress, "");
  EXPECT_EQ(status.Successes, 7u);
  EXPECT_EQ(status.StatusHistory.size(), 1u);

  M.ResetHostStatus(IndexOf(stats), 2);
  EXPECT_EQ(stats.Status, StatusUnknown);
  EXPECT_EQ(stats.Successes + stats.Failures + stats.Warnings, 0u);
  EXPECT_EQ(stats.TotalResponse, 0);
  EXPECT_EQ(stats.LastSuccess + stats.LastFailure + stats.LastProbe, 0);
  EXPECT_EQ(stats.Uptime + stats.Downtime, 0);
  EXPECT_TRUE(stats.StatusHistory.empty());
  // These weigh the failures still to come.
  EXPECT_EQ(stats.BackToBackFailures, 7u);
  EXPECT_EQ(stats.Errors, 7);

  M.ResetHostStatus(IndexOf(off), 2);
  EXPECT_EQ(off.Successes, 0u);
  EXPECT_FALSE(off.RunningTest);
}

TEST_F(HostOpsTest, ResetAllLeavesGroupRowsAndResetDependentsFollowsTheAncestors) {
  const TDateTime now = FClock.Now();
  THost& group = Worn(Add(";Network"), now);
  THost& router = Worn(Add("Router"), now);
  THost& sw = Worn(Add("Switch"), now);
  sw.Parents = router.IDText();
  THost& server = Worn(Add("Server"), now);
  server.Parents = sw.IDText();
  THost& other = Worn(Add("Other"), now);
  other.DisabledUntil = 1.0;
  M.Hosts().RecomputeAllAncestors();

  M.ResetDependentHosts(IndexOf(router), 1);
  EXPECT_TRUE(HasLine(M, "Host Status Reset (plus dependents)", 'T'));
  EXPECT_EQ(LinesWith("Host Status Reset (Dependent on " + HostLabel(router) + ")"), 2);
  for (THost* h : {&router, &sw, &server}) {
    EXPECT_EQ(h->Status, StatusUnknown) << h->DisplayName;
    EXPECT_TRUE(Tested(*h)) << h->DisplayName;
  }
  EXPECT_EQ(other.Status, StatusOffline);
  EXPECT_EQ(LinesWith("Host Status Reset (Dependent on "), 2);

  M.ResetAllHosts(0);
  EXPECT_TRUE(HasLine(M, "Reset All Hosts", 'I'));
  EXPECT_EQ(group.LastErrorText, "2:05p Request Timed Out (ICMP2B02)");
  EXPECT_FALSE(group.RunningTest);
  EXPECT_EQ(other.LastErrorText, "");
  EXPECT_FALSE(other.RunningTest);
  for (THost* h : {&router, &sw, &server}) EXPECT_TRUE(Tested(*h)) << h->DisplayName;
}

TEST_F(HostOpsTest, SimulatedFailureAlertsAtOnceAndEndingItBringsTheHostBack) {
  TRecordingAlerts alerts;
  alerts.MailRoute = alerts.PrimaryServer = true;
  alerts.Templates = {{TAlertTemplate::OfflineSubject, "down"}, {TAlertTemplate::OnlineSubject, "up"}};
  M.SetAlertChannels(&alerts);
  THost& host = Add("Web");
  host.OfflineRecipients = host.OnlineRecipients = "ops@example.com";
  host.Status = StatusOnline;
  host.LastCheck = host.LastSuccess = FClock.Now();
  // Its baseline would keep a real failure run from alerting; a simulation alerts anyway.
  host.BaselineTime = FClock.Now();
  const int index = IndexOf(host);

  M.SimulateHostFailure(index);
  EXPECT_TRUE(HasLine(M, "Simulated Host Failure", 'T'));
  EXPECT_DOUBLE_EQ(host.SimulatedFailureUntil, FClock.Now() + 5.0 / 1440);
  EXPECT_EQ(host.Status, StatusOffline);
  ASSERT_EQ(alerts.Queued.size(), 1u);
  EXPECT_EQ(alerts.Queued[0].Subject, "down");

  Advance(30);
  M.SimulateHostFailure(index);
  EXPECT_TRUE(HasLine(M, "Host Failure Simulation Ended", 'T'));
  EXPECT_EQ(host.SimulatedFailureUntil, 0);
  ASSERT_TRUE(host.RunningTest);
  ASSERT_TRUE(RunUntil([&] { return !host.RunningTest; }));
  EXPECT_EQ(host.Status, StatusOnline);
  ASSERT_EQ(alerts.Queued.size(), 2u);
  EXPECT_EQ(alerts.Queued[1].Subject, "up");
}

TEST_F(HostOpsTest, TestingOffStopsTheTimerAndOnResumesIt) {
  M.Startup();
  std::vector<bool> changes;
  QObject receiver;
  QObject::connect(&M, &TMonitor::TestingChanged, &receiver, [&](bool on) { changes.push_back(on); });
  M.SetTestingOn(false);
  M.SetTestingOn(false);
  THost& host = Add("Loopback");
  // Several timer periods pass without a pass that tests.
  RunUntil([] { return false; }, 800);
  EXPECT_EQ(host.LastCheck, 0);

  M.SetTestingOn(true);
  EXPECT_TRUE(RunUntil([&] { return host.LastCheck != 0; }));
  EXPECT_EQ(changes, (std::vector<bool>{false, true}));
  M.Shutdown();
}

}  // namespace

namespace {

// Hosts joining and leaving the list are told by ID, after the changes pending before
// them; a parent that leaves lets its dependant be tested, and a host that leaves while
// its test runs is kept until the test has ended.
TEST_F(HostOpsTest, AddedAndRemovedHostsAreToldByIDAndTheirDependantsFollow) {
  std::vector<std::string> told;
  QObject receiver;
  const auto record = [&](const char* what) {
    return [&told, what](const QList<qint32>& ids) {
      for (qint32 id : ids) told.push_back(std::string(what) + " " + std::to_string(id));
    };
  };
  QObject::connect(&M.Changes(), &THostChanges::HostsChanged, &receiver, record("changed"));
  QObject::connect(&M.Changes(), &THostChanges::HostsAdded, &receiver, record("added"));
  QObject::connect(&M.Changes(), &THostChanges::HostsAboutToBeRemoved, &receiver, record("removing"));

  THost& router = Add("router");
  router.Status = StatusOffline;
  auto child = M.Hosts().NewRecord(FClock.Now());
  child->DisplayName = "server";
  child->Parents = router.IDText();
  M.DisableHost(IndexOf(router), false);  // a change pending when the server comes
  THost* server = M.InsertHost(0, std::move(child));
  ASSERT_EQ(M.Hosts().Items(0), server);
  EXPECT_FALSE(server->ParentsUp);
  const std::string r = std::to_string(router.ID), s = std::to_string(server->ID);
  EXPECT_EQ(told, (std::vector<std::string>{"changed " + r, "added " + s}));

  told.clear();
  M.TestHost(0);
  ASSERT_TRUE(server->RunningTest);
  const int routerID = router.ID;
  M.RemoveHost(IndexOf(router));
  EXPECT_EQ(told, (std::vector<std::string>{"changed " + s, "removing " + std::to_string(routerID)}));
  EXPECT_EQ(M.Hosts().FindByID(routerID), -1);
  EXPECT_TRUE(server->ParentsUp);

  const std::int32_t serverID = server->ID;
  M.RemoveHost(0);
  EXPECT_EQ(M.Hosts().Count(), 0);
  EXPECT_EQ(M.Hosts().FindRetired(serverID), 0) << "kept while its test runs";
}

}  // namespace
