#include "core/THostList.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "hosttests/TBackgroundTask.h"

namespace {

constexpr TDateTime Now0 = 45000.5;

// A worker stand-in whose end the test decides.
class TFakeTask : public TBackgroundTask {
public:
  explicit TFakeTask(std::string name, bool echo = false) : TBackgroundTask(std::move(name)), FEcho(echo) {}
  bool IsAlive() const override { return FAlive.load(); }
  bool IsEchoTest() const override { return FEcho; }
  void Finish() { FAlive.store(false); }

private:
  std::atomic<bool> FAlive{true};
  bool FEcho;
};

// Random source that replays a fixed sequence, then repeats its last value.
THostList::TRandomSource Sequence(std::vector<uint32_t> values) {
  auto next = std::make_shared<size_t>(0);
  return [values, next] { return values[std::min(values.size() - 1, (*next)++)]; };
}

THost* AddHost(THostList& list, int32_t id, int32_t status, std::string parents = {}) {
  auto record = std::make_unique<THost>();
  record->ID = id;
  record->DisplayName = "Host " + std::to_string(id);
  record->Status = status;
  record->Parents = std::move(parents);
  return list.Add(std::move(record));
}

std::set<std::string> AncestorSet(const THost& host) {
  std::set<std::string> items;
  size_t start = 0;
  while (start < host.Ancestors.size()) {
    auto end = host.Ancestors.find(';', start);
    if (end == std::string::npos) end = host.Ancestors.size();
    EXPECT_TRUE(items.insert(host.Ancestors.substr(start, end - start)).second) << host.Ancestors;
    start = end + 1;
  }
  return items;
}

TEST(HostListTest, NewIDDrawsAgainUntilNoRecordHasIt) {
  THostList list(Sequence({5, 5, 0xFFFFFFFF, 0x00800003, 9, 9, 12, 12, 13}));
  AddHost(list, 5, StatusOnline);
  EXPECT_EQ(list.NewID(), MaxHostID);  // two collisions, then the draw kept to 23 bits
  EXPECT_EQ(list.NewID(), 3);

  auto retired = std::make_unique<THost>();
  retired->ID = 9;
  list.Retire(std::move(retired));
  EXPECT_EQ(list.NewID(), 12);  // retired IDs are taken too

  THostList other;
  AddHost(other, 12, StatusOnline);
  EXPECT_EQ(list.NewID(&other), 13);

  // A source stuck on a used value must not hang the caller.
  THostList stuck(Sequence({7}));
  AddHost(stuck, 7, StatusOnline);
  AddHost(stuck, 8, StatusOnline);
  EXPECT_EQ(stuck.NewID(), 9);

  THostList real;
  std::set<int32_t> ids;
  for (int i = 0; i < 200; ++i) {
    auto record = real.NewRecord(Now0);
    EXPECT_GE(record->ID, 0);
    EXPECT_LE(record->ID, MaxHostID);
    EXPECT_TRUE(ids.insert(record->ID).second);
    real.Add(std::move(record));
  }
}

TEST(HostListTest, FindsByIDAndByExactIDText) {
  THostList list;
  AddHost(list, 1000, StatusOnline);
  AddHost(list, 0xABCDE, StatusOnline);
  EXPECT_EQ(list.FindByID(1000), 0);
  EXPECT_EQ(list.FindByID(0xABCDE), 1);
  EXPECT_EQ(list.FindByID(1001), -1);
  EXPECT_EQ(list.FindByIDText("000003E8"), 0);
  EXPECT_EQ(list.FindByIDText("000ABCDE"), 1);
  EXPECT_EQ(list.FindByIDText("000abcde"), -1);
  EXPECT_EQ(list.FindByIDText("3E8"), -1);
  EXPECT_EQ(list.FindByIDText("0000003E8"), -1);
  EXPECT_EQ(list.FindByIDText(" 00003E8"), -1);
  EXPECT_EQ(list.FindByIDText(""), -1);
  EXPECT_EQ(list.FindRetired(1000), -1);
}

TEST(HostListTest, RecordsKeepTheirAddressesAndOrder) {
  THostList list;
  THost* a = AddHost(list, 1, StatusOnline);
  THost* c = AddHost(list, 3, StatusOnline);
  auto b = std::make_unique<THost>();
  b->ID = 2;
  THost* bp = list.Insert(1, std::move(b));
  for (int i = 0; i < 100; ++i) AddHost(list, 100 + i, StatusOnline);
  EXPECT_EQ(list.Items(0), a);
  EXPECT_EQ(list.Items(1), bp);
  EXPECT_EQ(list.Items(2), c);
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.Items(list.Count()), nullptr);
  EXPECT_EQ(list.IndexOf(c), 2);

  auto taken = list.Extract(1);
  EXPECT_EQ(taken.get(), bp);
  EXPECT_EQ(list.Items(1), c);
  EXPECT_EQ(list.Extract(500), nullptr);
  EXPECT_EQ(list.Insert(99999, std::move(taken)), bp);
  EXPECT_EQ(list.Items(list.Count() - 1), bp);
}

THost& FillSource(THost& source) {
  source.ID = 4242;
  source.DisplayName = "Router";
  source.Address = "192.0.2.1";
  source.CurrentIP = "192.0.2.1";
  source.PreviousIP = "192.0.2.9";
  source.MACAddress = "00:11:22:33:44:55";
  source.TestInterval = 2.5;
  source.ErrorAfter = 7;
  source.WindowStart = 0.25;
  source.WindowEnd = 0.75;
  source.LastCheck = Now0 - 0.01;
  source.LastSuccess = Now0 - 0.02;
  source.LastFailure = Now0 - 0.03;
  source.BaselineTime = Now0 - 9;
  source.PreviousCheck = Now0 - 0.04;
  source.Successes = 11;
  source.Failures = 12;
  source.BackToBackFailures = 3;
  source.Warnings = 4;
  source.Errors = 5;
  source.Uptime = 1.5;
  source.Downtime = 0.5;
  source.TotalResponse = 1234;
  source.ResponseHistory.back() = 42;
  source.LastErrorText = "1:00p Request timed out";
  source.TraceLastReply = "192.0.2.254";
  source.TraceDropPoint = "192.0.2.253";
  source.TraceReport = "report";
  source.HasBeenOffline = true;
  source.ParentHasBeenOffline = true;
  source.DoubleClickCommand = "ssh router";
  source.WinUserName = "DOM\\admin";
  source.WinPassword = "secret";
  source.OfflineRecipients = "ops@example.test";
  source.OnlineRecipients = "ops2@example.test";
  source.Parents = "00000001";
  source.OfflineCommand = "down.sh";
  source.OnlineCommand = "up.sh";
  source.Status = StatusOffline;
  source.PreviousStatus = StatusWarning;
  source.GroupNumber = 3;
  source.RunningTest = std::make_shared<TFakeTask>("Ping Router");
  source.RunningTrace = std::make_shared<TFakeTask>("Host Down Auto-Trace Router");
  source.TestKind = TestHTTP;
  source.Port = 8080;
  source.Service = "svc|Service";
  source.SharePath = "Public";
  source.DisabledUntil = Now0 + 1;
  source.AlertWindow = false;
  source.OnlinePopup = true;
  source.GlobalOfflineSound = false;
  source.GlobalOnlineSound = false;
  source.EmailWindow = true;
  source.Dependable = true;
  source.ParentsUp = true;
  source.OfflineSound = "off.wav";
  source.OnlineSound = "on.wav";
  source.SimulatedFailureUntil = Now0 + 0.1;
  source.HTTPTest.URL = "http://192.0.2.1/";
  source.HTTPTest.ChangeThreshold = 12.5f;
  source.OfflineNotification.URL = "http://192.0.2.2/down";
  source.OfflineNotification.Post = true;
  source.OnlineNotification.URL = "http://192.0.2.2/up";
  source.OfflineNotify = true;
  source.OnlineNotify = true;
  source.StatusHistory = {{Now0 - 0.1, StatusOnline, 3}, {Now0 - 0.05, StatusOffline, 0}};
  source.IPChangeRecipients = "ip@example.test";
  source.Ancestors = "stale";
  source.ShareCapability = 1;
  source.RDPCapability = 2;
  source.LastProbe = Now0 - 0.2;
  source.PluginParam = "param";
  source.PluginText = "text";
  source.ShareConnection = "\\\\192.0.2.1\\IPC$";
  source.KnownRoutes = "192.0.2.254,192.0.2.1";
  source.LastAutoTrace = Now0 - 0.3;
  source.LocalSubnet = true;
  return source;
}

void ExpectConfigurationCopied(const THost& source, const THost& target) {
  EXPECT_EQ(target.DisplayName, source.DisplayName);
  EXPECT_EQ(target.Address, source.Address);
  EXPECT_EQ(target.TestInterval, source.TestInterval);
  EXPECT_EQ(target.ErrorAfter, source.ErrorAfter);
  EXPECT_EQ(target.WindowStart, source.WindowStart);
  EXPECT_EQ(target.WindowEnd, source.WindowEnd);
  EXPECT_EQ(target.LastCheck, source.LastCheck);
  EXPECT_EQ(target.LastSuccess, source.LastSuccess);
  EXPECT_EQ(target.LastFailure, source.LastFailure);
  EXPECT_EQ(target.PreviousCheck, source.PreviousCheck);
  EXPECT_EQ(target.Parents, source.Parents);
  EXPECT_EQ(target.ParentHasBeenOffline, source.ParentHasBeenOffline);
  EXPECT_EQ(target.DoubleClickCommand, source.DoubleClickCommand);
  EXPECT_EQ(target.WinUserName, source.WinUserName);
  EXPECT_EQ(target.WinPassword, source.WinPassword);
  EXPECT_EQ(target.OfflineRecipients, source.OfflineRecipients);
  EXPECT_EQ(target.OnlineRecipients, source.OnlineRecipients);
  EXPECT_EQ(target.OfflineCommand, source.OfflineCommand);
  EXPECT_EQ(target.OnlineCommand, source.OnlineCommand);
  EXPECT_EQ(target.IPChangeRecipients, source.IPChangeRecipients);
  EXPECT_EQ(target.GroupNumber, source.GroupNumber);
  EXPECT_EQ(target.TestKind, source.TestKind);
  EXPECT_EQ(target.Port, source.Port);
  EXPECT_EQ(target.Service, source.Service);
  EXPECT_EQ(target.SharePath, source.SharePath);
  EXPECT_EQ(target.DisabledUntil, source.DisabledUntil);
  EXPECT_EQ(target.AlertWindow, source.AlertWindow);
  EXPECT_EQ(target.OnlinePopup, source.OnlinePopup);
  EXPECT_EQ(target.GlobalOfflineSound, source.GlobalOfflineSound);
  EXPECT_EQ(target.GlobalOnlineSound, source.GlobalOnlineSound);
  EXPECT_EQ(target.EmailWindow, source.EmailWindow);
  EXPECT_EQ(target.Dependable, source.Dependable);
  EXPECT_EQ(target.ParentsUp, source.ParentsUp);
  EXPECT_EQ(target.OfflineSound, source.OfflineSound);
  EXPECT_EQ(target.OnlineSound, source.OnlineSound);
  EXPECT_EQ(target.HTTPTest, source.HTTPTest);
  EXPECT_EQ(target.OfflineNotification, source.OfflineNotification);
  EXPECT_EQ(target.OnlineNotification, source.OnlineNotification);
  EXPECT_EQ(target.OfflineNotify, source.OfflineNotify);
  EXPECT_EQ(target.OnlineNotify, source.OnlineNotify);
  EXPECT_EQ(target.PluginParam, source.PluginParam);
  EXPECT_EQ(target.PluginText, source.PluginText);
  EXPECT_EQ(target.LocalSubnet, source.LocalSubnet);
  // What a copy never carries over.
  EXPECT_EQ(target.CurrentIP, "");
  EXPECT_EQ(target.PreviousIP, "");
  EXPECT_EQ(target.MACAddress, "");
  EXPECT_EQ(target.KnownRoutes, "");
  EXPECT_EQ(target.LastAutoTrace, 0);
  EXPECT_EQ(target.BaselineTime, Now0);
  EXPECT_FALSE(target.RunningTest);
  EXPECT_FALSE(target.RunningTrace);
  EXPECT_EQ(target.SimulatedFailureUntil, 0);
  EXPECT_EQ(target.Ancestors, "00000001");
}

TEST(HostListTest, FullCopyTakesIdentityStatisticsAndHistory) {
  THostList list;
  AddHost(list, 1, StatusOnline);
  THost source;
  FillSource(source);
  THost target;
  target.ShareConnection = "kept";
  auto targetTest = std::make_shared<TFakeTask>("Ping old");
  target.RunningTest = targetTest;

  list.CopyRecord(source, target, true, Now0);
  ExpectConfigurationCopied(source, target);
  EXPECT_TRUE(targetTest->Terminated());  // told to stop before it was let go
  EXPECT_EQ(target.ShareConnection, "kept");
  EXPECT_EQ(target.ID, source.ID);
  EXPECT_EQ(target.Successes, source.Successes);
  EXPECT_EQ(target.Failures, source.Failures);
  EXPECT_EQ(target.BackToBackFailures, source.BackToBackFailures);
  EXPECT_EQ(target.Warnings, source.Warnings);
  EXPECT_EQ(target.Errors, source.Errors);
  EXPECT_EQ(target.Uptime, source.Uptime);
  EXPECT_EQ(target.Downtime, source.Downtime);
  EXPECT_EQ(target.TotalResponse, source.TotalResponse);
  EXPECT_EQ(target.ResponseHistory, source.ResponseHistory);
  EXPECT_EQ(target.LastErrorText, source.LastErrorText);
  EXPECT_EQ(target.TraceLastReply, source.TraceLastReply);
  EXPECT_EQ(target.TraceDropPoint, source.TraceDropPoint);
  EXPECT_EQ(target.TraceReport, source.TraceReport);
  EXPECT_TRUE(target.HasBeenOffline);
  EXPECT_EQ(target.Status, StatusOffline);
  EXPECT_EQ(target.PreviousStatus, StatusWarning);
  EXPECT_EQ(target.ShareCapability, 1);
  EXPECT_EQ(target.RDPCapability, 2);
  EXPECT_EQ(target.LastProbe, source.LastProbe);
  EXPECT_EQ(target.StatusHistory, source.StatusHistory);
  // The source keeps what it had, its threads included.
  EXPECT_TRUE(source.RunningTest);
  EXPECT_EQ(source.CurrentIP, "192.0.2.1");
}

TEST(HostListTest, PartialCopyGetsAFreshIdentity) {
  THostList list(Sequence({4242, 77}));
  AddHost(list, 1, StatusOnline);
  AddHost(list, 4242, StatusOnline);
  THost source;
  FillSource(source);
  auto target = list.NewRecord(Now0 - 5);
  EXPECT_EQ(target->ID, 77);
  list.Retire(std::make_unique<THost>());  // ID 0, to be avoided as well
  list.CopyRecord(source, *target, false, Now0);

  ExpectConfigurationCopied(source, *target);
  EXPECT_NE(target->ID, source.ID);
  EXPECT_NE(target->ID, 1);
  EXPECT_NE(target->ID, 0);
  EXPECT_EQ(target->Status, StatusUnknown);
  EXPECT_EQ(target->PreviousStatus, StatusUnknown);
  EXPECT_EQ(target->Successes, 0u);
  EXPECT_EQ(target->TotalResponse, 0);
  EXPECT_EQ(target->LastResponse(), -1);
  EXPECT_EQ(target->LastErrorText, "");
  EXPECT_EQ(target->TraceReport, "");
  EXPECT_FALSE(target->HasBeenOffline);
  EXPECT_EQ(target->ShareCapability, 0);
  EXPECT_TRUE(target->StatusHistory.empty());
  EXPECT_EQ(target->ShareConnection, "");
}

TEST(HostListTest, ParentsUpWhenAnyChainIsUp) {
  THostList list;
  THost* a = AddHost(list, 0xA, StatusOffline);
  THost* b = AddHost(list, 0xB, StatusOnline);
  THost* host = AddHost(list, 0x10, StatusOnline, "0000000A;0000000B");
  EXPECT_TRUE(list.ParentsUp(*host, Now0));
  EXPECT_FALSE(list.ParentsDown(*host, Now0));

  b->Status = StatusOffline;
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_TRUE(list.ParentsDown(*host, Now0));

  // Warning is down for parents-up but up for parents-down.
  a->Status = StatusWarning;
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_FALSE(list.ParentsDown(*host, Now0));

  // Unknown and Online parents are up.
  a->Status = StatusUnknown;
  EXPECT_TRUE(list.ParentsUp(*host, Now0));

  // A parent that is up itself is down when its own parent is Offline.
  a->Status = StatusOnline;
  a->Parents = "0000000B";
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_TRUE(list.ParentsDown(*host, Now0));
  b->Status = StatusWarning;
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_FALSE(list.ParentsDown(*host, Now0));
  // A parent in Warning is down for parents-up whether or not it has parents itself.
  a->Status = StatusWarning;
  b->Status = StatusOnline;
  host->Parents = "0000000A";
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_FALSE(list.ParentsDown(*host, Now0));
}

TEST(HostListTest, ParentsThatDoNotExistCountAsUp) {
  THostList list;
  THost* host = AddHost(list, 0x10, StatusOffline, "00000099;;");
  EXPECT_TRUE(list.ParentsUp(*host, Now0));
  EXPECT_FALSE(list.ParentsDown(*host, Now0));
  host->Parents = ";;";
  EXPECT_TRUE(list.ParentsUp(*host, Now0));
  EXPECT_FALSE(list.ParentsDown(*host, Now0));
  // Only the listed parent that exists decides.
  AddHost(list, 0xA, StatusOffline);
  host->Parents = "00000099;0000000A;0000000a";
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_TRUE(list.ParentsDown(*host, Now0));
}

TEST(HostListTest, DisabledHostCountsAsParentsUpAndNotDown) {
  THostList list;
  AddHost(list, 0xA, StatusOffline);
  THost* host = AddHost(list, 0x10, StatusOnline, "0000000A");
  for (TDateTime until : {1.0, Now0 + 0.1}) {
    host->DisabledUntil = until;
    EXPECT_TRUE(list.ParentsUp(*host, Now0));
    EXPECT_FALSE(list.ParentsDown(*host, Now0));
  }
  host->DisabledUntil = Now0 - 0.1;  // ran out
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_TRUE(list.ParentsDown(*host, Now0));
}

TEST(HostListTest, ParentCyclesTerminate) {
  THostList list;
  THost* a = AddHost(list, 0xA, StatusOnline, "0000000B");
  THost* b = AddHost(list, 0xB, StatusOnline, "0000000A");
  EXPECT_TRUE(list.ParentsUp(*a, Now0));
  EXPECT_TRUE(list.ParentsUp(*b, Now0));
  b->Status = StatusOffline;
  EXPECT_FALSE(list.ParentsUp(*a, Now0));
  EXPECT_TRUE(list.ParentsDown(*a, Now0));
  EXPECT_TRUE(list.ParentsUp(*b, Now0));  // its only parent A is Online
  EXPECT_FALSE(list.ParentsDown(*b, Now0));

  // A host that lists itself, and a longer loop through an Offline member.
  THost* self = AddHost(list, 0xC, StatusOnline, "0000000C");
  EXPECT_TRUE(list.ParentsUp(*self, Now0));
  THost* c = AddHost(list, 0xD, StatusOnline, "0000000E");
  AddHost(list, 0xE, StatusOnline, "0000000F");
  AddHost(list, 0xF, StatusOnline, "0000000D;0000000B");
  EXPECT_FALSE(list.ParentsUp(*c, Now0));
  b->Status = StatusOnline;
  EXPECT_TRUE(list.ParentsUp(*c, Now0));
}

TEST(HostListTest, SharedOfflineGrandparentHoldsEveryPathDown) {
  THostList list;
  THost* g = AddHost(list, 0x1, StatusOffline);
  AddHost(list, 0x2, StatusOnline, "00000001");
  AddHost(list, 0x3, StatusOnline, "00000001");
  THost* host = AddHost(list, 0x10, StatusOnline, "00000002;00000003");
  EXPECT_FALSE(list.ParentsUp(*host, Now0));
  EXPECT_TRUE(list.ParentsDown(*host, Now0));
  g->Status = StatusOnline;
  EXPECT_TRUE(list.ParentsUp(*host, Now0));
  EXPECT_FALSE(list.ParentsDown(*host, Now0));
}

TEST(HostListTest, AncestorsFollowParentsOnceEach) {
  THostList list;
  AddHost(list, 0x1, StatusOnline, "00000099");  // unknown ID skipped
  AddHost(list, 0x2, StatusOnline, "00000001");
  AddHost(list, 0x3, StatusOnline, "00000001");
  THost* host = AddHost(list, 0x10, StatusOnline, "00000002;;00000003;00000002");
  list.RecomputeAncestors(*host);
  EXPECT_EQ(AncestorSet(*host), (std::set<std::string>{"00000001", "00000002", "00000003"}));

  // A cycle ends and never names the host as its own ancestor.
  THost* a = AddHost(list, 0xA, StatusOnline, "0000000B");
  THost* b = AddHost(list, 0xB, StatusOnline, "0000000C;0000000A");
  AddHost(list, 0xC, StatusOnline, "0000000B");
  list.RecomputeAllAncestors();
  EXPECT_EQ(AncestorSet(*a), (std::set<std::string>{"0000000B", "0000000C"}));
  EXPECT_EQ(AncestorSet(*b), (std::set<std::string>{"0000000A", "0000000C"}));
  EXPECT_EQ(list.Items(0)->Ancestors, "");

  host->Parents = "";
  list.RecomputeAncestors(*host);
  EXPECT_EQ(host->Ancestors, "");
}

TEST(HostListTest, LookupByIDFollowsInsertionsRemovalsAndChangedIDs) {
  THostList list;
  for (int32_t id : {10, 20, 30}) {
    auto record = std::make_unique<THost>();
    record->ID = id;
    list.Add(std::move(record));
  }
  EXPECT_EQ(list.FindByID(30), 2);
  auto first = std::make_unique<THost>();
  first->ID = 5;
  list.Insert(0, std::move(first));
  EXPECT_EQ(list.FindByID(30), 3);
  EXPECT_EQ(list.FindByIDText(HostIDText(5)), 0);
  list.Extract(1);
  EXPECT_EQ(list.FindByID(10), -1);
  EXPECT_EQ(list.FindByID(20), 1);
  list.Items(1)->ID = 99;
  EXPECT_EQ(list.FindByID(20), -1);
  EXPECT_EQ(list.FindByID(99), 1);
  // With two records of one ID, the first is the one found.
  list.Items(2)->ID = 99;
  EXPECT_EQ(list.FindByID(99), 1);
  list.Extract(1);
  EXPECT_EQ(list.FindByID(99), 1);
  EXPECT_EQ(list.FindByIDText("0000001e"), -1);
}

TEST(HostListTest, RetiredRecordsAreFreedWhenNothingRefersToThem) {
  std::set<int32_t> queuedAlerts;
  THostList list;
  list.SetBusyCheck([&](int32_t id) { return queuedAlerts.count(id) > 0; });

  auto testing = std::make_unique<THost>();
  testing->ID = 1;
  auto task = std::make_shared<TFakeTask>("Ping one");
  testing->RunningTest = task;
  auto tracing = std::make_unique<THost>();
  tracing->ID = 2;
  tracing->RunningTest = std::make_shared<TFakeTask>("Ping two");
  tracing->RunningTrace = std::make_shared<TFakeTask>("Host Down Auto-Trace two");
  auto mailed = std::make_unique<THost>();
  mailed->ID = 3;
  queuedAlerts.insert(3);
  auto idle = std::make_unique<THost>();
  idle->ID = 4;

  list.RetireOrFree(std::move(testing));
  list.RetireOrFree(std::move(tracing));
  list.RetireOrFree(std::move(mailed));
  list.RetireOrFree(std::move(idle));
  ASSERT_EQ(list.RetiredCount(), 3);
  EXPECT_EQ(list.FindRetired(4), -1);
  EXPECT_EQ(list.FindByID(1), -1);  // retired hosts are not in the host list

  task->Finish();
  EXPECT_TRUE(list.ReleaseRetired(1));
  EXPECT_EQ(list.FindRetired(1), -1);
  EXPECT_EQ(task.use_count(), 1);  // the record let go of its test

  // The trace still runs: the test is cleared but the record stays.
  EXPECT_TRUE(list.ReleaseRetired(2));
  ASSERT_GE(list.FindRetired(2), 0);
  EXPECT_FALSE(list.RetiredItems(list.FindRetired(2))->RunningTest);

  EXPECT_TRUE(list.ReleaseRetired(3));
  EXPECT_GE(list.FindRetired(3), 0);
  queuedAlerts.clear();
  EXPECT_TRUE(list.ReleaseRetired(3));
  EXPECT_EQ(list.FindRetired(3), -1);

  EXPECT_FALSE(list.ReleaseRetired(99));
  EXPECT_EQ(list.RetiredCount(), 1);

  // A record kept only for a queued alert, whose test had long ended, goes once the
  // alert has left the queue; the one whose trace still runs stays.
  auto waiting = std::make_unique<THost>();
  waiting->ID = 5;
  queuedAlerts.insert(5);
  list.RetireOrFree(std::move(waiting));
  list.ReleaseIdleRetired();
  EXPECT_EQ(list.RetiredCount(), 2);
  queuedAlerts.clear();
  list.ReleaseIdleRetired();
  EXPECT_EQ(list.FindRetired(5), -1);
  EXPECT_GE(list.FindRetired(2), 0);
}

TEST(HostListTest, FreeRecordAbortsEchoTestsAndWaitsForThem) {
  auto echo = std::make_shared<TFakeTask>("Ping echo", true);
  std::thread worker([echo] {
    while (!echo->Aborted()) std::this_thread::yield();
    echo->Finish();
  });
  auto record = std::make_unique<THost>();
  record->RunningTest = echo;
  THostList::FreeRecord(std::move(record));
  worker.join();
  EXPECT_TRUE(echo->Aborted());
  EXPECT_FALSE(echo->IsAlive());
  EXPECT_EQ(echo.use_count(), 1);

  // Other kinds are not aborted; a worker that never ends is abandoned after the wait.
  auto stuck = std::make_shared<TFakeTask>("TCP stuck");
  record = std::make_unique<THost>();
  record->RunningTest = stuck;
  THostList::FreeRecord(std::move(record), std::nullopt, false, 30);
  EXPECT_FALSE(stuck->Aborted());
  EXPECT_TRUE(stuck->IsAlive());
  EXPECT_EQ(stuck.use_count(), 1);
}

TEST(HostListTest, FreeRecordKeepsTheEventLoopRunningWhenAsked) {
  // The trace ends only through a queued call, as completion steps arrive on the main
  // thread while the record is being freed.
  auto trace = std::make_shared<TFakeTask>("Host Down Auto-Trace x");
  QTimer::singleShot(0, QCoreApplication::instance(), [trace] { trace->Finish(); });
  auto record = std::make_unique<THost>();
  record->RunningTrace = trace;
  THostList::FreeRecord(std::move(record), std::nullopt, true);
  EXPECT_FALSE(trace->IsAlive());
}

TEST(HostListTest, FreeAllEmptiesBothLists) {
  THostList list;
  AddHost(list, 1, StatusOnline)->RunningTest = std::make_shared<TFakeTask>("Ping one");
  auto retired = std::make_unique<THost>();
  retired->RunningTrace = std::make_shared<TFakeTask>("Trace");
  list.Retire(std::move(retired));
  list.FreeAll(std::chrono::steady_clock::now(), false, 20);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.RetiredCount(), 0);
}

}  // namespace
