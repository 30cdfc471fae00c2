// What only the network or the system can tell about an address is asked on the pool:
// the name of a host that goes down without a known address, and the names the list
// shows. The answers come back to the main thread as values, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/RecordingAlerts.h"
#include "core/SchedulerFixture.h"
#include "core/TAddressLookup.h"
#include "core/THostNameLookups.h"
#include "core/TStatusEvaluation.h"

namespace {

class AddressLookupTest : public SchedulerFixture {
protected:
  AddressLookupTest() {
    Alerts.MailRoute = true;
    Alerts.Templates = {{TAlertTemplate::OfflineSubject, "Down"}};
    M.SetAlertChannels(&Alerts);
  }
  void Result(THost& host, bool success, bool forced = false) {
    M.UpdateHostStatus(TTestResult{host.ID, success, forced, 5, {}, success ? "" : "down", {}});
  }
  bool Answered() {
    return RunUntil([this] { return M.Evaluation().LookupsWaiting() == 0; });
  }

  TRecordingAlerts Alerts;
};

TEST(AddressLookupValueTest, DottedAddressesNeedNoNameServerAndAnswersComeFromTheSystem) {
  for (const char* dotted : {"127.0.0.1", "192.0.2.10", "0.0.0.0"}) EXPECT_TRUE(TAddressLookup::IsDotted(dotted));
  for (const char* name : {"localhost", "", "127.0.0", "127.0.0.1.5", " 127.0.0.1", "127.000.0.1", "300.1.1.1"})
    EXPECT_FALSE(TAddressLookup::IsDotted(name)) << name;
  TAddressLookup lookup;
  lookup.Name = "localhost";
  lookup.Run();
  EXPECT_EQ(lookup.Resolved, "127.0.0.1");
  EXPECT_EQ(lookup.Mac, "");  // not asked
}

TEST_F(AddressLookupTest, HostGoingDownByNameIsTakenWhenItsAddressIsKnownAndLaterResultsWaitBehindIt) {
  THost& host = Add("named", "localhost");
  host.OfflineRecipients = "ops@example.com";
  host.Status = StatusOnline;
  Result(host, false, true);
  // Nothing is taken on the main thread while the name is asked.
  EXPECT_EQ(host.Status, StatusOnline);
  EXPECT_EQ(M.Evaluation().LookupsWaiting(), 1);
  const std::uint64_t taken = M.Evaluation().ResultCount();
  Result(host, true);
  EXPECT_EQ(M.Evaluation().ResultCount(), taken);
  ASSERT_TRUE(Answered());

  EXPECT_EQ(M.Evaluation().ResultCount(), taken + 2);
  // The failure first, with the address it was resolved to, then the success.
  EXPECT_EQ(host.CurrentIP, "127.0.0.1");
  EXPECT_EQ(host.Status, StatusOnline);
  EXPECT_EQ(host.PreviousStatus, StatusOffline);
  EXPECT_EQ(host.Failures, 1u);
  EXPECT_EQ(host.Successes, 1u);
  ASSERT_EQ(Alerts.Queued.size(), 1u);
  EXPECT_EQ(Alerts.Queued[0].Subject, "Down");
  // Loopback is no local subnet here: the down trace follows the resolved address.
  EXPECT_TRUE(Alerts.Called("StartHostDownTrace named"));
  EXPECT_EQ(host.TraceReport, "");
}

TEST_F(AddressLookupTest, DottedAddressesAndKnownAddressesAreTakenAtOnce) {
  THost& dotted = Add("dotted", "127.0.0.1");
  THost& known = Add("known", "localhost");
  known.CurrentIP = "127.0.0.2";
  THost& warned = Add("warned", "localhost");
  warned.LastSuccess = FClock.Now();  // within its error-after time: only a warning
  for (THost* h : {&dotted, &known}) h->Status = StatusOnline;
  Result(dotted, false, true);
  Result(known, false, true);
  Result(warned, false);
  // Loopback has no neighbour entries: nothing to ask for a local host's new address.
  THost& local = Add("local", "127.0.0.5");
  local.LocalSubnet = true;
  local.MACAddress = "02:00:00:00:00:05";
  M.UpdateHostStatus(TTestResult{local.ID, true, false, 1, "127.0.0.5", {}, {}});
  EXPECT_EQ(M.Evaluation().LookupsWaiting(), 0);
  EXPECT_EQ(local.CurrentIP, "127.0.0.5");
  EXPECT_EQ(local.MACAddress, "02:00:00:00:00:05");
  EXPECT_EQ(dotted.Status, StatusOffline);
  EXPECT_EQ(dotted.CurrentIP, "127.0.0.1");
  EXPECT_EQ(known.Status, StatusOffline);
  EXPECT_EQ(known.CurrentIP, "127.0.0.2");
  EXPECT_EQ(warned.Status, StatusWarning);
}

TEST_F(AddressLookupTest, HostRemovedWhileItsNameIsAskedDropsItsResults) {
  THost& host = Add("gone", "localhost");
  host.Status = StatusOnline;
  Result(host, false, true);
  Result(host, true);
  M.RemoveHost(IndexOf(host));
  ASSERT_TRUE(Answered());
  EXPECT_TRUE(Alerts.Queued.empty());
  EXPECT_FALSE(Alerts.Called("StartHostDownTrace gone"));
}

class NameLookupsTest : public SchedulerFixture {
protected:
  // Names are asked of a stand-in that records them; the test answers.
  NameLookupsTest() {
    M.NameLookups().SetStart([this](const std::string& name, THostNameLookups::TDone done) {
      Asked.push_back(name);
      Pending.push_back(std::move(done));
      return std::make_shared<TRecordedTask>("lookup " + name);
    });
  }
  std::vector<std::string> Asked;
  std::vector<THostNameLookups::TDone> Pending;
};

TEST_F(NameLookupsTest, OneLookupPerAddressForHostsWithoutCurrentIPAndTheAnswerFillsThemAll) {
  THost& a = Add("a", "printer.lan");
  THost& b = Add("b", "PRINTER.lan");
  THost& known = Add("known", "server.lan");
  known.CurrentIP = "192.0.2.5";
  Add("dotted", "192.0.2.6");
  Add(";group", "");
  Add("blank", "");

  M.LookUpDisplayAddresses();
  EXPECT_EQ(Asked, std::vector<std::string>{"printer.lan"});
  EXPECT_EQ(RunningNamed("HostName (for display) printer.lan"), 1);
  // A rebuild while the lookup runs asks nothing again.
  M.LookUpDisplayAddresses();
  EXPECT_EQ(Asked.size(), 1u);

  b.CurrentIP = "192.0.2.9";  // learned by a test meanwhile: kept
  Pending[0]("printer.lan", "192.0.2.8");
  EXPECT_EQ(a.CurrentIP, "192.0.2.8");
  EXPECT_EQ(b.CurrentIP, "192.0.2.9");
  EXPECT_EQ(RunningNamed("HostName (for display) printer.lan"), 0);
  EXPECT_EQ(M.NameLookups().Running(), 0);
}

TEST_F(NameLookupsTest, NameThatDoesNotResolveChangesNothingAndIsAskedAgainAtTheNextRebuild) {
  THost& host = Add("x", "nowhere.lan");
  M.LookUpDisplayAddresses();
  ASSERT_EQ(Pending.size(), 1u);
  Pending[0]("nowhere.lan", "");
  EXPECT_EQ(host.CurrentIP, "");
  M.LookUpDisplayAddresses();
  EXPECT_EQ(Asked, (std::vector<std::string>{"nowhere.lan", "nowhere.lan"}));
}

TEST_F(NameLookupsTest, NameThreadsOnThePoolAnswerOnTheMainThread) {
  M.NameLookups().SetStart(THostNameLookups::NameThreads(M.Tests()));
  THost& host = Add("loop", "localhost");
  M.LookUpDisplayAddresses();
  EXPECT_EQ(RunningNamed("HostName (for display) localhost"), 1);
  ASSERT_TRUE(RunUntil([&] { return !host.CurrentIP.empty(); }));
  EXPECT_EQ(host.CurrentIP, "127.0.0.1");
  EXPECT_TRUE(RunUntil([&] { return RunningNamed("HostName (for display) localhost") == 0; }));
}

}  // namespace
