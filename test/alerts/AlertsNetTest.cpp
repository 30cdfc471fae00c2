// Alerts end to end: a namespaced host stops answering, the monitor finds it Offline and
// the alert, its variables filled in, reaches a real SMTP server on the host namespace's
// loopback; a host that recovers before its alert leaves sends nothing.
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "alerts/TAlerts.h"
#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "support/TAiosmtpdServer.h"
#include "support/TRoutedNet.h"
#include "support/TestNetns.h"

using testsupport::TRoutedNet;

class AlertsNet : public MonitorFixture {
protected:
  static void SetUpTestSuite() { FNet = std::make_unique<TRoutedNet>("cvan-"); }
  static void TearDownTestSuite() { FNet.reset(); }

  void SetUp() override {
    if (!FNet->Ready()) GTEST_SKIP() << "no namespaces: " << FNet->Error();
    if (!testsupport::TAiosmtpdServer::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed";
    // The monitor, its sockets and the mail server all live in the host namespace.
    FInside = std::make_unique<testsupport::TInNetns>(FNet->Host());
    ASSERT_TRUE(FInside->Entered());
    FServer = std::make_unique<testsupport::TAiosmtpdServer>();
    ASSERT_TRUE(FServer->Start()) << FServer->Error();
    M = NewMonitor();
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
    TSettings& s = M->Settings();
    s.PingTimeout = 300;
    s.NumPings = 1;
    s.FailFreqAdj = false;
    s.TestHostServices = false;

    TEmailConfig& c = A->EmailConfig();
    c.PrimaryServer = "127.0.0.1:" + std::to_string(FServer->Port());
    c.PrimarySender = "Corvale Monitor <monitor@example.net>";
    c.PrimaryUser = "alerts";
    c.PrimaryPassword = "s3cret pass";
    c.OfflineSubject = "%displayname% is %status%";
    c.OfflineBody = "Host %host% stopped answering.\r\nRoute: %traceroute%\r\n";
    c.OnlineSubject = "%displayname% is %status%";
    c.OnlineBody = "Host %host% is back.\r\n";
  }

  void TearDown() override {
    if (FNet->Ready() && FInside) FNet->Run({"ip -n " + FNet->TargetNetns() + " route flush type blackhole"});
    M.reset();
    A.reset();
    FServer.reset();
    FInside.reset();
  }

  THost* AddHost() {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = "Target";
    record->Address = TRoutedNet::Target;
    record->TestInterval = 1;
    record->ErrorAfter = 3;
    record->OfflineRecipients = "ops@example.net; oncall@example.net";
    record->OnlineRecipients = "ops@example.net";
    return M->Hosts().Add(std::move(record));
  }

  void TargetAnswers(bool answers) {
    ASSERT_TRUE(FNet->Run({"ip -n " + FNet->TargetNetns() + " route " + (answers ? "del" : "add") +
                           " blackhole 192.0.2.0/24"}))
        << FNet->Error();
  }

  bool WaitFor(const std::function<bool()>& done, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  void PassAfter(double minutes) {
    FClock.Advance(minutes * 60000);
    M->Timer1Timer();
    ASSERT_TRUE(WaitFor([&] {
      for (const auto& record : M->Hosts().Records())
        if (record->RunningTest) return false;
      return true;
    })) << "tests did not finish";
  }

  void GoOffline(THost* host) {
    PassAfter(0.5);
    ASSERT_EQ(host->Status, StatusOnline) << host->LastErrorText;
    TargetAnswers(false);
    PassAfter(1);
    PassAfter(1);
    PassAfter(2);
    ASSERT_EQ(host->Status, StatusOffline) << host->LastErrorText;
  }

  int CountLines(const std::string& text) {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines()) n += l.Text.find(text) != std::string::npos;
    return n;
  }

  static inline std::unique_ptr<TRoutedNet> FNet;
  std::unique_ptr<testsupport::TInNetns> FInside;
  std::unique_ptr<testsupport::TAiosmtpdServer> FServer;
  // The monitor goes before its alert channels.
  std::unique_ptr<TAlerts> A;
  std::unique_ptr<TMonitor> M;
};

TEST_F(AlertsNet, HostGoingOfflineSendsTheExpandedAlert) {
  THost* host = AddHost();
  GoOffline(host);
  ASSERT_EQ(A->Queue().Entries().size(), 1u);
  EXPECT_TRUE(HasLine(*M, "Queued Alert to ops@example.net; oncall@example.net, Subject: Target is Offline", 'M'));
  // The alert waits for the host-down trace, which ends at the router: the target's
  // answers are dropped.
  ASSERT_TRUE(WaitFor([&] { return host->RunningTrace == nullptr; }, 60)) << "the trace did not end";

  FClock.Advance(5000);
  A->AlertTimer();
  ASSERT_TRUE(WaitFor([&] { return !FServer->Deliveries().empty(); })) << "no mail arrived";
  ASSERT_TRUE(WaitFor([&] { return A->Queue().Entries().empty(); }));
  const testsupport::TSmtpDelivery mail = FServer->Deliveries().front();
  EXPECT_EQ(mail.MailFrom, "monitor@example.net");
  EXPECT_EQ(mail.Rcpts, (std::vector<std::string>{"ops@example.net", "oncall@example.net"}));
  EXPECT_EQ(mail.AuthLogin, "alerts");
  EXPECT_NE(mail.Raw.find("Subject: Target is Offline"), std::string::npos) << mail.Raw;
  EXPECT_NE(mail.Raw.find("Host 198.51.100.2 stopped answering."), std::string::npos) << mail.Raw;
  // The trace report: the router's line first.
  EXPECT_NE(mail.Raw.find("ms\t(Unknown Host) [192.0.2.1]"), std::string::npos) << mail.Raw;
  EXPECT_LT(mail.Raw.find("Route: "), mail.Raw.find("ms\t(Unknown Host) [192.0.2.1]")) << mail.Raw;
  EXPECT_NE(mail.Raw.find("X-Priority: 2"), std::string::npos) << mail.Raw;
  EXPECT_TRUE(HasLine(*M, "Mail Sent To: ops@example.net; oncall@example.net Using: 127.0.0.1, Subject: Target is Offline",
                      'M'));
  EXPECT_EQ(FServer->Deliveries().size(), 1u);
}

TEST_F(AlertsNet, HostRecoveringBeforeItsAlertLeavesSendsNothing) {
  THost* host = AddHost();
  // Mail for this host goes out only at night, so the offline alert waits.
  host->EmailWindow = true;
  host->WindowStart = EncodeTime(2, 0, 0);
  host->WindowEnd = EncodeTime(3, 0, 0);
  // Outside its window the status text tells when mail resumes; the name is enough here.
  A->EmailConfig().OfflineSubject = "%displayname% down";
  A->EmailConfig().OnlineSubject = "%displayname% up";
  GoOffline(host);
  FClock.Advance(5000);
  A->AlertTimer();
  ASSERT_EQ(A->Queue().Entries().size(), 1u);

  TargetAnswers(true);
  PassAfter(1);
  ASSERT_EQ(host->Status, StatusOnline);
  EXPECT_TRUE(A->Queue().Entries().empty());
  EXPECT_EQ(CountLines("Email canceled: "), 1);
  EXPECT_TRUE(HasLine(*M,
                      "Email canceled: ops@example.net; oncall@example.net, Subject: Target down and Target up; "
                      "Host status has changed; email is no longer valid.",
                      'M'));
  FClock.SetNow(EncodeDateTime(2026, 12, 9, 2, 30, 0));
  A->AlertTimer();
  EXPECT_TRUE(FServer->Deliveries().empty());
}
