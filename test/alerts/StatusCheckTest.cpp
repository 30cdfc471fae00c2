// The status check against the real alert channels: unsent alerts, testing off and
// no complete mail route, first match wins; the web pages read what the main thread
// published.
#include <memory>
#include <string>

#include "alerts/TAlerts.h"
#include "core/MonitorFixture.h"
#include "core/THostList.h"

namespace {

class StatusCheck : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
  }
  void TearDown() override { M->SetAlertChannels(nullptr); }

  std::string Check(int& action) {
    const TMonitor::TStatusWarning warning = M->StatusCheck();
    action = warning.Action;
    return warning.Text;
  }

  std::unique_ptr<TMonitor> M;
  std::unique_ptr<TAlerts> A;
};

TEST_F(StatusCheck, RulesInOrderFirstMatchWins) {
  const char split = static_cast<char>(160);
  int action = -1;
  EXPECT_EQ(Check(action), "") << "no hosts: nothing to send";
  EXPECT_EQ(action, 0);

  auto record = M->Hosts().NewRecord(FClock.Now());
  record->DisplayName = "gateway";
  M->InsertHost(0, std::move(record));
  EXPECT_EQ(Check(action), std::string("Email servers have not been configured.") + split +
                               "To send email alerts you must configure outgoing email servers under "
                               "Configuration / Email Configuration.");
  EXPECT_EQ(action, 1);

  struct TRoute {
    const char* What;
    void (*Set)(TEmailConfig&);
    bool Complete;
  };
  const TRoute routes[] = {
      {"primary without sender", [](TEmailConfig& c) { c.PrimaryServer = "mail.example.net"; }, false},
      {"primary", [](TEmailConfig& c) { c.PrimaryServer = "mail.example.net"; c.PrimarySender = "m@example.net"; },
       true},
      {"secondary", [](TEmailConfig& c) { c.SecondaryServer = "mx"; c.SecondarySender = "m@example.net"; }, true},
      {"relay off", [](TEmailConfig& c) { c.RelaySender = "m@example.net"; }, false},
      {"relay", [](TEmailConfig& c) { c.RelayEnabled = true; c.RelaySender = "m@example.net"; }, true},
  };
  for (const TRoute& route : routes) {
    A->EmailConfig() = TEmailConfig();
    route.Set(A->EmailConfig());
    EXPECT_EQ(Check(action).empty(), route.Complete) << route.What;
  }

  M->SetTestingOn(false);
  EXPECT_EQ(Check(action), std::string("Host testing has been disabled.") + split +
                               "Your hosts are not currently being tested.  To test your hosts testing must be "
                               "turned back on.");
  EXPECT_EQ(action, 4);
  {
    std::shared_lock<std::shared_mutex> guard(M->StateLock());
    EXPECT_EQ(M->PublishedStatusWarning(), Check(action)) << "published when testing was switched";
  }

  // Two of four alerts unsent for over 30 minutes is not more than half; three is.
  for (int i = 0; i < 2; ++i) A->Queue().QueueAlert("a@example.net", "s", "b", 0, 0, nullptr, 3, -1, false);
  FClock.Advance(29 * 60 * 1000.0);
  A->Queue().QueueAlert("a@example.net", "s", "b", 0, 0, nullptr, 3, -1, false);
  FClock.Advance(2 * 60 * 1000.0);
  A->Queue().QueueAlert("a@example.net", "s", "b", 0, 0, nullptr, 3, -1, false);
  EXPECT_EQ(Check(action).substr(0, 31), "Host testing has been disabled.");
  FClock.Advance(27 * 60 * 1000.0);
  EXPECT_EQ(Check(action).substr(0, 31), "Host testing has been disabled.") << "the third is 29 minutes old";
  FClock.Advance(2 * 60 * 1000.0);
  EXPECT_EQ(Check(action), std::string("Outgoing email is not being sent.") + split +
                               "3 email messages have gone unsent for more than 30 minutes.  Please check your "
                               "email server configuration to make sure it is setup properly.");
  EXPECT_EQ(action, 1);
  M->tmrAlertTimer();
  std::shared_lock<std::shared_mutex> guard(M->StateLock());
  EXPECT_EQ(M->PublishedStatusWarning().substr(0, 33), "Outgoing email is not being sent.");
}

}  // namespace
