// Alert routes are subscribers of their own: an alert side registers them, they act in
// order on one transition, and one that fails keeps none of the others from acting.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/RecordingAlerts.h"
#include "core/SchedulerFixture.h"

namespace {

// A route of its own, as a new alert route would be: one class, one registration.
class TPagerRoute : public TTransitionSubscriber {
public:
  explicit TPagerRoute(std::vector<std::string>& calls) : FCalls(calls) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork&) override {
    if (transition.Kind == TTransitionKind::WentOffline) FCalls.push_back("Page " + host.DisplayName);
  }

private:
  std::vector<std::string>& FCalls;
};

class TBrokenRoute : public TTransitionSubscriber {
public:
  void HostTransition(const THostTransition&, THost&, TTransitionWork&) override {
    throw std::runtime_error("pager gateway broken");
  }
};

class TPagerAlerts : public TRecordingAlerts {
public:
  void AddRoutes(TAlertRoutes& routes, const TAlertContext& context) override {
    routes.Add(std::make_unique<TBrokenRoute>());
    TRecordingAlerts::AddRoutes(routes, context);
    routes.Add(std::make_unique<TPagerRoute>(Calls));
  }
};

using AlertRoutesTest = SchedulerFixture;

TEST_F(AlertRoutesTest, NewRouteActsAfterTheOthersAndOneThatFailsStopsNone) {
  TPagerAlerts alerts;
  alerts.MailRoute = true;
  alerts.Templates = {{TAlertTemplate::OfflineSubject, "Down"}};
  M.SetAlertChannels(&alerts);
  // The alert side's nine, then the monitor's own: the host updates to other programs.
  EXPECT_EQ(M.AlertRoutes().Count(), 10);
  THost& host = Add("web");
  host.OfflineRecipients = "ops@example.com";
  host.OfflineCommand = "notify";
  host.Status = StatusOnline;
  M.UpdateHostStatus(TTestResult{host.ID, false, true, 0, {}, "down", {}});

  EXPECT_EQ(host.Status, StatusOffline);
  EXPECT_EQ(alerts.Calls, (std::vector<std::string>{"StartHostDownTrace web", "QueueAlert Down",
                                                    "RunCommandLine notify", "Page web"}));
  EXPECT_EQ(alerts.Queued.size(), 1u);
  // The mail knows of the trace an earlier route started for the same transition.
  EXPECT_TRUE(alerts.Queued[0].WantTrace);
  EXPECT_TRUE(HasLine(M, "Exception in UpdateHostStatus: pager gateway broken", 'E'));

  // Another alert side brings its own routes; none brings none.
  M.SetAlertChannels(nullptr);
  EXPECT_EQ(M.AlertRoutes().Count(), 1);
  host.Status = StatusOnline;
  alerts.Calls.clear();
  M.UpdateHostStatus(TTestResult{host.ID, false, true, 0, {}, "down", {}});
  EXPECT_TRUE(alerts.Calls.empty());
}

TEST_F(AlertRoutesTest, SettingsAndHostsChangeThroughTheMonitorsCommands) {
  THost& host = Add("web");
  M.UpdateSettings([](TSettings& s) { s.PlaySounds = false; });
  EXPECT_FALSE(M.Settings().PlaySounds);
  const bool before = host.AlertWindow;
  EXPECT_TRUE(M.UpdateHost(IndexOf(host), [](THost& h) { h.AlertWindow = !h.AlertWindow; }, "test"));
  EXPECT_NE(host.AlertWindow, before);
  EXPECT_FALSE(M.UpdateHost(M.Hosts().Count(), [](THost&) { FAIL() << "no record there"; }, "test"));
}

}  // namespace
