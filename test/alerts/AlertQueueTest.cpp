// The alert queue against a moved clock: queueing, cancellation, windows, the trace
// wait, the order of routes and the pauses between cycles, the delivery time-out and
// the give-up, and real SMTP dialogues with a scripted server that may fail at any step.
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
#include <vector>

#include "alerts/TAlerts.h"
#include "common/SystemInfo.h"
#include "core/MonitorFixture.h"
#include "core/RecordingAlerts.h"
#include "core/THostList.h"
#include "support/TAiosmtpdServer.h"
#include "support/TSmtpTestServer.h"
#include "support/TTestCertificates.h"
#include "support/TestSupport.h"

using testsupport::TSmtpStep;
using testsupport::TSmtpTestServer;

namespace {

// A loopback port nobody listens on.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  close(fd);
  return ntohs(sa.sin_port);
}

std::vector<TSmtpStep> FullDialogue() {
  return {{"EHLO ", "250 hello"},           {"MAIL FROM:<mon@example.net>", "250 ok"},
          {"RCPT TO:<a@example.net>", "250 ok"}, {"RCPT TO:<b@example.net>", "251 forwarded"},
          {"DATA", "354 go on"},             {"", "250 queued", true},
          {"QUIT", "221 bye"}};
}

}  // namespace

class AlertQueue : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
    Q = &A->Queue();
  }

  THost* AddHost(const std::string& name, const std::string& address) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = address;
    return M->Hosts().Add(std::move(record));
  }

  // The relay route answers with the next of the given errors ("" is success).
  void UseRelay(std::vector<std::string> answers, const std::string& relay = "relay.corvale.example") {
    TEmailConfig& c = A->EmailConfig();
    c.RelayEnabled = true;
    c.RelaySender = "relay@example.net";
    Q->SetRelay(
        [this, answers](const std::string&, const std::string& recipients, const std::string& subject, int,
                        const std::string& body, const TAlertQueue::TRelayDone& done) {
          RelayCalls.push_back(recipients + "|" + subject + "|" + body);
          done(answers.empty() ? std::string() : answers[std::min(RelayCalls.size(), answers.size()) - 1]);
        },
        relay);
  }

  void UseServer(bool primary, const std::string& server) {
    TEmailConfig& c = A->EmailConfig();
    (primary ? c.PrimaryServer : c.SecondaryServer) = server;
    (primary ? c.PrimarySender : c.SecondarySender) = "mon@example.net";
  }

  void Queue(const std::string& recipients = "a@example.net", THost* host = nullptr, TDateTime from = 0,
             TDateTime to = 0, bool wantTrace = false) {
    Q->QueueAlert(recipients, "subject", "body", from, to, host, 3, -1, wantTrace);
  }

  void Tick(double ms = 5000) {
    FClock.Advance(ms);
    A->AlertTimer();
  }

  bool WaitFor(const std::function<bool()>& done, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  // Lets the entry's attempt end.
  bool AttemptEnds(const TEmailInfo* entry) {
    return WaitFor([&] {
      const auto& e = Q->Entries();
      return std::none_of(e.begin(), e.end(), [&](const auto& x) { return x.get() == entry && x->Sending; });
    });
  }

  int CountLines(const std::string& text) {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines()) n += l.Text.find(text) != std::string::npos;
    return n;
  }

  // Destroyed in reverse: the monitor goes before its alert channels.
  std::unique_ptr<TAlerts> A;
  std::unique_ptr<TMonitor> M;
  TAlertQueue* Q = nullptr;
  std::vector<std::string> RelayCalls;
};

TEST_F(AlertQueue, QueueingExpandsFillsTraceVariablesAndNormalisesTheWindow) {
  THost* web = AddHost("web", "192.0.2.7");
  THost* local = AddHost("lan", "10.0.0.1");
  local->LocalSubnet = true;
  const TDateTime at = EncodeTime(13, 0, 0);
  Q->QueueAlert("a@example.net", "%displayname% down", "at %host%\r\n%traceroute%", at, at + 0.5 / 86400, web, 2, 0,
                false);
  Q->QueueAlert("b@example.net", "%displayname%", "%lasthost%/%droppedat%", at, at + 2.0 / 86400, local, 9, 0, true);
  Q->QueueAlert("c@example.net", "%displayname%", "%traceroute%", 0, 0, nullptr, 3, -1, true);

  const auto& e = Q->Entries();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0]->Subject, "web down");
  EXPECT_EQ(e[0]->Body, "at 192.0.2.7\r\n(Not Traced)");
  EXPECT_EQ(e[0]->WindowStart + e[0]->WindowEnd, 0) << "bounds less than a second apart mean no window";
  EXPECT_EQ(e[0]->Priority, 2);
  EXPECT_EQ(e[0]->QueuedAt, FClock.Now());
  EXPECT_EQ(e[1]->Body, "(Local)/(Local)") << "a host on the local subnet is never traced";
  EXPECT_FALSE(e[1]->WaitingForTrace);
  EXPECT_NE(e[1]->WindowStart, 0);
  EXPECT_EQ(e[1]->Priority, 5);
  EXPECT_EQ(e[2]->Subject, "%displayname%") << "without a host nothing is expanded";
  EXPECT_TRUE(e[2]->WaitingForTrace);
  EXPECT_TRUE(HasLine(*M, "Queued Alert to a@example.net, Subject: web down", 'M'));

  // A record an entry refers to is retired, not freed, when it leaves the list.
  M->Hosts().RetireOrFree(M->Hosts().Extract(M->Hosts().IndexOf(web)));
  EXPECT_EQ(M->Hosts().RetiredCount(), 1);
  EXPECT_EQ(e[0]->HostID, web->ID);

  Q->CancelPendingEmail(local);
  EXPECT_EQ(e.size(), 2u);
  EXPECT_EQ(CountLines("Email to b@example.net canceled.  Subject: lan"), 1);
  Q->CancelPendingEmail(nullptr);
  EXPECT_TRUE(e.empty());
  EXPECT_EQ(M->Hosts().RetiredCount(), 1) << "the queue no longer keeps it, but freeing is the list's business";
}

// The IP-change mail is expanded by the real channel set: it must tell the address the
// record has moved to, and the state the result that found it left the host in.
TEST_F(AlertQueue, IPChangeAlertCarriesTheNewAddressAndTheStateAfterTheResult) {
  THost* web = AddHost("web", "web.example");
  web->IPChangeRecipients = "net@example.net";
  TEmailConfig& c = A->EmailConfig();
  c.IPChangeSubject = "%displayname%: %oldip% -> %ip%";
  c.IPChangeBody = "New IP: %ip%; %status%; last success %lastsuccess%";
  M->UpdateHostStatus(TTestResult{web->ID, true, false, 5, "10.99.0.5", {}, {}});
  FClock.Advance(60000);
  M->UpdateHostStatus(TTestResult{web->ID, false, false, 0, {}, "lost", {}});
  ASSERT_EQ(web->Status, StatusWarning);
  ASSERT_TRUE(Q->Entries().empty()) << "the first address learned is no change";
  FClock.Advance(60000);
  M->UpdateHostStatus(TTestResult{web->ID, true, false, 5, "10.99.0.8", {}, {}});

  ASSERT_EQ(Q->Entries().size(), 1u);
  const TEmailInfo& mail = *Q->Entries()[0];
  EXPECT_EQ(mail.Subject, "web: 10.99.0.5 -> 10.99.0.8");
  EXPECT_EQ(mail.Body, "New IP: 10.99.0.8; Online; last success " + A->ExpandHostVariables("%lastsuccess%", *web));
  EXPECT_EQ(web->LastSuccess, FClock.Now());
  EXPECT_TRUE(HasLine(*M, "IP Address Change; New Address: 10.99.0.8; Old Address: 10.99.0.5 (During Ping)", 'I'));
  Q->FreePendingAlerts();
}

// With only the relay configured and no relay sender built, a host that goes down
// queues no mail that could never leave, and no command line is announced that never runs.
TEST_F(AlertQueue, OfflineHostWithOnlyTheRelayAndACommandClaimsNothing) {
  TEmailConfig& c = A->EmailConfig();
  c.RelayEnabled = true;
  c.RelaySender = "relay@example.net";
  c.OfflineSubject = "%displayname% down";
  c.OfflineBody = "down";
  THost* web = AddHost("web", "192.0.2.7");
  web->LocalSubnet = true;
  web->OfflineRecipients = "ops@example.net";
  web->OfflineCommand = "page %displayname%";
  M->UpdateHostStatus(TTestResult{web->ID, false, true, 0, {}, "down", {}});
  ASSERT_EQ(web->Status, StatusOffline);
  EXPECT_TRUE(Q->Entries().empty());
  EXPECT_EQ(CountLines("Launching Command Line"), 0);
  EXPECT_EQ(CountLines("Error State"), 1);
}

TEST_F(AlertQueue, PluginRequestsAreQueuedAsGivenWithTheirHostsPriority) {
  THost* down = AddHost("down", "192.0.2.8");
  down->Status = StatusOffline;
  THost* up = AddHost("up", "192.0.2.9");
  up->Status = StatusOnline;
  EXPECT_TRUE(Q->QueuePluginEmail(down->ID, "ops@example.net,b@example.net", "%host% gone", "body"));
  EXPECT_TRUE(Q->QueuePluginEmail(up->ID, "ops@example.net", "s", "b"));
  EXPECT_TRUE(Q->QueuePluginEmail(12345, "ops@example.net", "s", "b"));
  EXPECT_FALSE(Q->QueuePluginEmail(down->ID, "not an address;ops@example.net", "s", "b"));
  EXPECT_FALSE(Q->QueuePluginEmail(down->ID, "ops@example.net", "", "b"));
  EXPECT_FALSE(Q->QueuePluginEmail(down->ID, "", "s", "b"));

  const auto& e = Q->Entries();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0]->Recipients, "ops@example.net;b@example.net");
  EXPECT_EQ(e[0]->Subject, "%host% gone") << "a plug-in's text is sent as given";
  EXPECT_EQ(e[0]->Priority, 2);
  EXPECT_EQ(e[0]->HostID, -1);
  EXPECT_EQ(e[0]->CancelStatus, -1);
  EXPECT_EQ(e[1]->Priority, 3);
  EXPECT_EQ(e[2]->Priority, 3);
}

TEST_F(AlertQueue, StaleAlertIsCancelledTogetherWithTheNewOneInOneLine) {
  THost* web = AddHost("web", "192.0.2.7");
  THost* other = AddHost("other", "192.0.2.8");
  web->Status = StatusOffline;
  other->Status = StatusOffline;
  Q->QueueAlert("ops@example.net", "%displayname% down", "", 0, 0, web, 2, StatusOnline, false);
  Q->QueueAlert("ops@example.net", "%displayname% down", "", 0, 0, other, 2, StatusOnline, false);
  web->Status = StatusOnline;
  Q->QueueAlert("ops@example.net", "%displayname% up", "", 0, 0, web, 3, StatusOffline, false);

  ASSERT_EQ(Q->Entries().size(), 1u);
  EXPECT_EQ(Q->Entries()[0]->HostID, other->ID);
  EXPECT_EQ(CountLines("Email canceled: "), 1);
  EXPECT_TRUE(HasLine(*M,
                      "Email canceled: ops@example.net, Subject: web down and web up; Host status has changed; "
                      "email is no longer valid.",
                      'M'));

  // A message on its way is not taken back; the new one is queued then.
  other->Status = StatusOnline;
  Q->Entries()[0]->Sending = true;
  Q->QueueAlert("ops@example.net", "%displayname% up", "", 0, 0, other, 3, StatusOffline, false);
  EXPECT_EQ(Q->Entries().size(), 2u);
}

TEST_F(AlertQueue, WindowAndTraceWaitHoldMessagesBack) {
  UseRelay({});
  // The clock stands at 14:05.
  Queue("early@example.net", nullptr, EncodeTime(13, 0, 0), EncodeTime(14, 0, 0));
  Queue("night@example.net", nullptr, EncodeTime(22, 0, 0), EncodeTime(14, 30, 0));
  THost* web = AddHost("web", "192.0.2.7");
  web->RunningTrace = std::make_shared<TRecordedTask>("trace");
  Q->QueueAlert("trace@example.net", "s", "route: %traceroute%", 0, 0, web, 2, 0, true);
  THost* quick = AddHost("quick", "192.0.2.9");
  quick->RunningTrace = std::make_shared<TRecordedTask>("trace");
  Q->QueueAlert("quick@example.net", "s", "%lasthost%", 0, 0, quick, 2, 0, true);

  Tick();
  ASSERT_EQ(RelayCalls.size(), 1u);
  EXPECT_EQ(RelayCalls[0], "night@example.net|subject|body") << "a window across midnight is open at 14:05";

  quick->RunningTrace.reset();  // the trace ended without filling the variables
  Tick(60000);
  ASSERT_EQ(RelayCalls.size(), 2u);
  EXPECT_EQ(RelayCalls[1], "quick@example.net|s|(Timeout)");
  EXPECT_EQ(CountLines("Forcing email to "), 0);

  Tick(114000);
  EXPECT_EQ(RelayCalls.size(), 2u) << "179 s after queueing the trace is still awaited";
  Tick(2000);
  ASSERT_EQ(RelayCalls.size(), 3u);
  EXPECT_EQ(RelayCalls[2], "trace@example.net|s|route: (Timeout)");
  EXPECT_TRUE(HasLine(*M, "Forcing email to trace@example.net (s); Auto-trace thread timed out", 'M'));
  EXPECT_TRUE(HasLine(*M, "Mail Sent To: trace@example.net Using Proxy: relay.corvale.example, Subject: s", 'M'));

  // Moving the clock into the window lets the last one go.
  FClock.SetNow(EncodeDateTime(2026, 12, 9, 13, 30, 0));
  Tick();
  ASSERT_EQ(RelayCalls.size(), 4u);
  EXPECT_EQ(RelayCalls[3], "early@example.net|subject|body");
  EXPECT_TRUE(Q->Entries().empty());
}

TEST_F(AlertQueue, RoutesAlternateAndEachCyclePausesThirtySeconds) {
  UseRelay({"Fail: no"});
  UseServer(true, "127.0.0.1:" + std::to_string(ClosedPort()));
  UseServer(false, "127.0.0.2:" + std::to_string(ClosedPort()));
  Queue();
  const TEmailInfo* entry = Q->Entries()[0].get();

  Tick();
  EXPECT_EQ(RelayCalls.size(), 1u);
  EXPECT_TRUE(HasLine(*M, "Mail Send Error [Fail: no]", 'M'));
  Tick();
  EXPECT_TRUE(HasLine(*M, "Sending Alert to a@example.net Using: 127.0.0.1, Subject: subject", 'M'));
  ASSERT_TRUE(AttemptEnds(entry));
  EXPECT_EQ(CountLines("Error sending mail: a@example.net Using: 127.0.0.1, Error: "), 1);
  Tick();
  EXPECT_TRUE(HasLine(*M, "Sending Alert to a@example.net Using: 127.0.0.2, Subject: subject", 'M'));
  ASSERT_TRUE(AttemptEnds(entry));
  EXPECT_EQ(entry->Attempts, 3);

  Tick(25000);
  Tick(5000);
  EXPECT_EQ(entry->Attempts, 3) << "exactly 30 s after the cycle's last attempt is still the pause";
  EXPECT_EQ(RelayCalls.size(), 1u);
  Tick(1);
  EXPECT_EQ(entry->Attempts, 4);
  EXPECT_EQ(RelayCalls.size(), 2u) << "the new cycle starts with the relay";
  EXPECT_EQ(Q->Entries().size(), 1u) << "failed attempts keep the message";
}

TEST_F(AlertQueue, OneFailingRouteIsTriedEveryThirtySecondsAndGivenUpAtTheTwentiethAttempt) {
  UseRelay({"Fail: down"});
  THost* web = AddHost("web", "192.0.2.7");
  Queue("a@example.net", web);
  Tick();
  EXPECT_EQ(RelayCalls.size(), 1u);
  for (int i = 0; i < 6; ++i) Tick();
  EXPECT_EQ(RelayCalls.size(), 1u);
  Tick();
  EXPECT_EQ(RelayCalls.size(), 2u);

  for (int i = 0; i < 40 && !Q->Entries().empty(); ++i) Tick(31000);
  EXPECT_TRUE(Q->Entries().empty());
  EXPECT_EQ(RelayCalls.size(), 19u);
  EXPECT_EQ(CountLines("Email Send Failure - Too Many Attempts"), 1);
  EXPECT_EQ(CountLines("Mail Send Error [Fail: down]"), 19);
  EXPECT_EQ(M->Hosts().RetiredCount(), 0);
}

// The relay answers later, in any order: an answer is taken only for the attempt that
// still waits for it.
TEST_F(AlertQueue, LateRelayAnswersCountOnlyForTheAttemptStillWaiting) {
  TEmailConfig& c = A->EmailConfig();
  c.RelayEnabled = true;
  c.RelaySender = "relay@example.net";
  std::vector<TAlertQueue::TRelayDone> pending;
  Q->SetRelay([&](const std::string&, const std::string&, const std::string&, int, const std::string&,
                  TAlertQueue::TRelayDone done) { pending.push_back(std::move(done)); },
              "relay.corvale.example");
  THost* web = AddHost("web", "192.0.2.7");
  Queue("a@example.net", web);
  Queue("b@example.net", web);
  Tick();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_TRUE(Q->Entries()[0]->Sending);

  // The first attempts outlive the delivery time-out and the second ones begin (the
  // queue is walked newest first: b@, then a@).
  Tick(121000);
  ASSERT_EQ(pending.size(), 4u);
  EXPECT_EQ(Q->Entries()[1]->Attempts, 2);
  pending[0]("");
  EXPECT_EQ(CountLines("Mail Sent To"), 0) << "the answer of an attempt given up is no delivery";
  EXPECT_TRUE(Q->Entries()[1]->Sending);
  pending[2]("Fail: full");
  EXPECT_EQ(CountLines("Mail Send Error [Fail: full]"), 1);
  EXPECT_FALSE(Q->Entries()[1]->Sending);
  pending[2]("");
  EXPECT_EQ(CountLines("Mail Sent To"), 0) << "one answer per attempt";

  // a@ was removed meanwhile (shutdown drops everything): its answers change nothing.
  Q->FreePendingAlerts();
  Queue("c@example.net", web);
  pending[1]("");
  pending[3]("");
  EXPECT_EQ(CountLines("Mail Sent To"), 0);
  EXPECT_EQ(Q->Entries().size(), 1u);
  EXPECT_FALSE(Q->Entries()[0]->Sending);
}

TEST_F(AlertQueue, ServerTextGivesHostAndPortAndNoRouteKeepsTheMessage) {
  Queue();
  Tick();
  EXPECT_EQ(Q->Entries()[0]->Attempts, 0) << "no route: the message waits";
  for (const auto& [server, host, port] :
       std::vector<std::tuple<std::string, std::string, std::string>>{{"127.0.0.1", "127.0.0.1", "25"},
                                                                      {"127.0.0.1:2525", "127.0.0.1", "2525"},
                                                                      {"127.0.0.1:", "127.0.0.1", "25"},
                                                                      {"127.0.0.1:smtp2", "127.0.0.1", "25"},
                                                                      {"127.0.0.1:99999", "127.0.0.1", "25"}}) {
    Q->FreePendingAlerts();
    UseServer(true, server);
    Queue();
    const TEmailInfo* entry = Q->Entries()[0].get();
    Tick();
    ASSERT_TRUE(entry->Client) << server;
    EXPECT_EQ(entry->Client->Host, host) << server;
    EXPECT_EQ(entry->Client->Port, port) << server;
    AttemptEnds(entry);
  }
}

TEST_F(AlertQueue, DialogueDeliversWithOurHeadersAndDropsEmptyRecipients) {
  TSmtpTestServer server("220 ready", FullDialogue());
  ASSERT_TRUE(server.Start());
  UseServer(true, "127.0.0.1:" + std::to_string(server.Port()));
  THost* web = AddHost("web", "192.0.2.7");
  Q->QueueAlert("a@example.net,;b@example.net;", "%displayname% down", "line 1\r\n.dot", 0, 0, web, 2, 0, false);
  Tick();
  ASSERT_TRUE(WaitFor([&] { return Q->Entries().empty(); })) << "mail not delivered";
  EXPECT_TRUE(server.Mismatches().empty()) << server.Mismatches().front();
  const auto lines = server.DataLines();
  auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_TRUE(has("X-Mailer: Corvale 1.00 (01-Dec-2026)"));
  EXPECT_TRUE(has("X-Application-URL: https://corvale.example/"));
  EXPECT_TRUE(has("X-User: " + LocalUserName()));
  EXPECT_TRUE(has("To: a@example.net,;b@example.net;"));
  EXPECT_TRUE(has("Subject: web down"));
  EXPECT_TRUE(has("..dot"));
  EXPECT_TRUE(HasLine(*M, "Mail Sent To: a@example.net,;b@example.net; Using: 127.0.0.1, Subject: web down", 'M'));
  // The released client is freed on the next pass, outside its own events.
  Tick();
}

TEST_F(AlertQueue, ServerFailingAtAnyStepCostsOneAttemptAndKeepsTheMessage) {
  const std::vector<TSmtpStep> full = FullDialogue();
  int failures = 0;
  // At each step the server answers garbage, refuses, or hangs up.
  for (std::size_t step = 0; step <= full.size(); ++step) {
    for (int how = 0; how < 3; ++how) {
      std::vector<TSmtpStep> script(full.begin(), full.begin() + static_cast<long>(step));
      std::string greeting = "220 ready";
      if (step == full.size()) {
        // The greeting itself fails.
        script.clear();
        greeting = how == 0 ? "hello there" : how == 1 ? "554 go away" : "421-busy\r\n421 try later";
      } else {
        TSmtpStep bad = full[step];
        bad.Reply = how == 0 ? "no code at all" : how == 1 ? "550 refused" : "";
        bad.Close = how == 2;
        script.push_back(bad);
      }
      TSmtpTestServer server(greeting, script);
      ASSERT_TRUE(server.Start());
      Q->FreePendingAlerts();
      UseServer(true, "127.0.0.1:" + std::to_string(server.Port()));
      Queue("a@example.net;b@example.net");
      const TEmailInfo* entry = Q->Entries()[0].get();
      Tick(31000);
      ASSERT_TRUE(AttemptEnds(entry)) << "step " << step << " way " << how;
      if (step + 1 == full.size()) {
        EXPECT_TRUE(Q->Entries().empty()) << "a server that fails QUIT has taken the message already";
        EXPECT_TRUE(HasLine(*M, "Mail Sent To: a@example.net;b@example.net Using: 127.0.0.1, Subject: subject", 'M'));
        continue;
      }
      ++failures;
      EXPECT_EQ(CountLines("Error sending mail: a@example.net;b@example.net Using: 127.0.0.1, Error: "), failures)
          << "step " << step << " way " << how;
      ASSERT_EQ(Q->Entries().size(), 1u);
      EXPECT_EQ(entry->Attempts, 1);
    }
  }
  EXPECT_GE(CountLines("Error: SMTP 550"), 1);
  EXPECT_GE(CountLines("Error: SMTP 421"), 1);
  // A reply without a code is reported with the number the client gives it.
  EXPECT_GE(CountLines(" 20600 "), 1);
}

// A server that does not know EHLO gets HELO on the same connection, but only where
// neither TLS nor credentials need EHLO.
TEST_F(AlertQueue, RefusedEhloFallsBackToHeloOnlyWhenNothingNeedsIt) {
  using TMode = TSettings::TSmtpTls;
  struct TCase {
    const char* What;
    TMode Mode;
    std::string User;
    std::vector<TSmtpStep> Script;
    bool Sent;
  };
  std::vector<TSmtpStep> fallback = {{"EHLO ", "502 command not implemented"}};
  const std::vector<TSmtpStep> full = FullDialogue();
  fallback.push_back({"HELO ", "250 hello"});
  fallback.insert(fallback.end(), full.begin() + 1, full.end());
  const TCase cases[] = {
      {"auto", TMode::Auto, "", fallback, true},
      {"auto refused for good", TMode::Auto, "", {{"EHLO ", "550 go away"}}, false},
      {"required", TMode::Required, "", {{"EHLO ", "502 command not implemented"}}, false},
      {"credentials", TMode::Auto, "alerts", {{"EHLO ", "502 command not implemented"}}, false},
      {"off, no credentials: HELO at once", TMode::Off, "", full, true},
  };
  for (const TCase& c : cases) {
    std::vector<TSmtpStep> script = c.Script;
    if (c.Mode == TMode::Off) script[0] = {"HELO ", "250 hello"};
    TSmtpTestServer server("220 ready", script);
    ASSERT_TRUE(server.Start());
    Q->FreePendingAlerts();
    M->Settings().SmtpTls = c.Mode;
    A->EmailConfig().PrimaryUser = c.User;
    A->EmailConfig().PrimaryPassword = c.User.empty() ? "" : "pw";
    UseServer(true, "127.0.0.1:" + std::to_string(server.Port()));
    Queue("a@example.net;b@example.net");
    const TEmailInfo* entry = Q->Entries()[0].get();
    Tick(31000);
    ASSERT_TRUE(AttemptEnds(entry)) << c.What;
    EXPECT_EQ(Q->Entries().empty(), c.Sent) << c.What;
    EXPECT_EQ(server.Connections(), 1) << c.What;
    if (c.Sent) {
      EXPECT_TRUE(server.Mismatches().empty()) << c.What << ": " << server.Mismatches().front();
    } else {
      const std::vector<std::string> received = server.Received();
      EXPECT_TRUE(std::none_of(received.begin(), received.end(), [](const std::string& l) { return l.rfind("HELO", 0) == 0; }))
          << c.What;
    }
  }
}

// Under SmtpTls=required the relay takes mail only at an https address.
TEST_F(AlertQueue, RequiredTlsSkipsARelayThatIsNotHttps) {
  M->Settings().SmtpTls = TSettings::TSmtpTls::Required;
  UseRelay({});
  Queue();
  Tick();
  EXPECT_TRUE(RelayCalls.empty());
  ASSERT_EQ(Q->Entries().size(), 1u) << "no route is left, so the message waits";
  const std::string skipped =
      "The mail relay relay.corvale.example is not used: SmtpTls=required and the relay's address is not https";
  EXPECT_TRUE(HasLine(*M, skipped, 'W'));
  Tick(31000);
  EXPECT_EQ(CountLines(skipped), 1);

  UseRelay({}, "HTTPS://relay.corvale.example:8443");
  Tick(31000);
  EXPECT_EQ(RelayCalls.size(), 1u);
  EXPECT_TRUE(Q->Entries().empty());

  M->Settings().SmtpTls = TSettings::TSmtpTls::Auto;
  UseRelay({});
  Queue();
  Tick(31000);
  EXPECT_EQ(RelayCalls.size(), 2u) << "auto keeps the plain relay";
}

TEST_F(AlertQueue, AttemptThatHangsIsAbortedAfterTwoMinutes) {
  TSmtpTestServer server("220 ready", {{"EHLO", "", false, false, true}});
  ASSERT_TRUE(server.Start());
  UseServer(true, "127.0.0.1:" + std::to_string(server.Port()));
  Queue();
  const TEmailInfo* entry = Q->Entries()[0].get();
  Tick();
  ASSERT_TRUE(WaitFor([&] { return !server.Received().empty(); }));
  Tick(110000);
  EXPECT_TRUE(entry->Sending);
  EXPECT_EQ(entry->Attempts, 1);
  Tick(11000);
  EXPECT_TRUE(HasLine(*M, "Mail attempt to a@example.net (subject) aborted; message delivery timeout", 'M'));
  EXPECT_EQ(entry->Attempts, 2) << "long past the pause, the next attempt starts on the same pass";
  ASSERT_TRUE(WaitFor([&] { return server.Connections() == 2; }));
  Q->FreePendingAlerts();
}

TEST_F(AlertQueue, ChannelSetReadsTheSettingsAndTellsWhichRoutesExist) {
  const std::string folder = DataFolder();
  testsupport::WriteFileBytes(folder + EmailConfigFileName,
                              "Corvale1.01\r\nmail.example.net\r\nMonitor <mon@example.net>\r\n\r\n\r\n\r\n\r\n\r\n\r\n"
                              "%displayname% down\r\n1\r\nbody\r\nup\r\n0\r\n0\r\n\r\n\r\n0\r\nip\r\n1\r\nchanged\r\n");
  A->LoadConfiguration(folder);
  EXPECT_TRUE(A->MailRouteConfigured());
  EXPECT_TRUE(A->PrimaryServerConfigured());
  EXPECT_EQ(A->Template(TAlertTemplate::OfflineSubject), "%displayname% down");
  EXPECT_EQ(A->Template(TAlertTemplate::OfflineBody), "body\r\n");
  EXPECT_EQ(A->Template(TAlertTemplate::IPChangeBody), "changed\r\n");

  TEmailConfig& c = A->EmailConfig();
  c.PrimarySender = "not an address";
  EXPECT_FALSE(A->MailRouteConfigured()) << "the sender must be a valid address";
  EXPECT_TRUE(A->PrimaryServerConfigured());
  c.RelayEnabled = true;
  c.RelaySender = "relay@example.net";
  EXPECT_FALSE(A->MailRouteConfigured()) << "a relay without a relay sender is no route";
  UseRelay({});
  EXPECT_TRUE(A->MailRouteConfigured());

  testsupport::WriteFileBytes(folder + EmailConfigFileName, "Something else\r\nmail.example.net\r\n");
  A->LoadConfiguration(folder);
  EXPECT_FALSE(A->MailRouteConfigured());
  EXPECT_EQ(CountLines("is not an e-mail settings file"), 1);

  // A finished trace fills the variables of the messages waiting for it.
  THost* web = AddHost("web", "192.0.2.7");
  web->RunningTrace = std::make_shared<TRecordedTask>("trace");
  Q->QueueAlert("a@example.net", "%lasthost%", "%droppedat% %traceroute%", 0, 0, web, 2, 0, true);
  Q->TraceFinished(*web, "192.0.2.1", "hop 3", "1 192.0.2.1");
  EXPECT_FALSE(Q->Entries()[0]->WaitingForTrace);
  EXPECT_EQ(Q->Entries()[0]->Subject, "192.0.2.1");
  EXPECT_EQ(Q->Entries()[0]->Body, "hop 3 1 192.0.2.1");
}

TEST_F(AlertQueue, EmailSettingsOthersCanReadAreWarnedAbout) {
  const std::string file = DataFolder() + EmailConfigFileName;
  const std::string warning = file + " can be read by other users though it holds the mail passwords as plain text";
  testsupport::WriteFileBytes(file, "Corvale1.01\r\nmail.example.net\r\nmon@example.net\r\nuser\r\nsecret\r\n");
  for (const mode_t mode : {0644, 0640, 0604, 0600, 0400}) {
    ::chmod(file.c_str(), mode);
    const int before = CountLines(warning);
    A->LoadConfiguration(DataFolder());
    EXPECT_EQ(A->EmailConfig().PrimaryPassword, "secret");
    EXPECT_EQ(CountLines(warning) - before, (mode & 044) != 0 ? 1 : 0) << std::oct << mode;
  }
  EXPECT_TRUE(HasLine(*M, warning, 'W'));
}

// Alert mail over TLS with a real server, in the mode the settings give: STARTTLS with
// the authentication after the handshake, a server that requires it met without it, a
// certificate that fails verification, a server without TLS, and port 465.
TEST_F(AlertQueue, MailOverTlsFollowsTheSettingsMode) {
  using testsupport::TAiosmtpdServer;
  using TMode = TSettings::TSmtpTls;
  if (!TAiosmtpdServer::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed";
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "/usr/bin/openssl is missing (package openssl)";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  testsupport::TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  const testsupport::TTestCert good = certs.Server("localhost");
  const testsupport::TTestCert selfSigned = certs.Server("localhost", 30, true);
  ASSERT_TRUE(good.Ok() && selfSigned.Ok()) << certs.Error();
  TAiosmtpdServer starttls, untrusted, plain;
  starttls.UseTls(TAiosmtpdServer::TTls::StartTls, good.CertFile, good.KeyFile);
  untrusted.UseTls(TAiosmtpdServer::TTls::StartTls, selfSigned.CertFile, selfSigned.KeyFile);
  for (TAiosmtpdServer* server : {&starttls, &untrusted, &plain}) ASSERT_TRUE(server->Start()) << server->Error();
  A->EmailConfig().PrimaryUser = "alerts";
  A->EmailConfig().PrimaryPassword = "s3cret pass";

  // One attempt; true when the message went.
  auto attempt = [&](TAiosmtpdServer& server, TMode mode) {
    Q->FreePendingAlerts();
    M->Settings().SmtpTls = mode;
    UseServer(true, "localhost:" + std::to_string(server.Port()));
    Queue();
    const TEmailInfo* entry = Q->Entries()[0].get();
    Tick(31000);
    EXPECT_TRUE(AttemptEnds(entry));
    return Q->Entries().empty();
  };
  const std::string failed = "Error sending mail: a@example.net Using: localhost, Error: ";

  EXPECT_TRUE(attempt(starttls, TMode::Auto));
  ASSERT_EQ(starttls.Deliveries().size(), 1u);
  EXPECT_TRUE(starttls.Deliveries()[0].Tls);
  EXPECT_EQ(starttls.AuthLog(), std::vector<std::string>{"LOGIN alerts ok tls"});
  EXPECT_EQ(CountLines("Mail connection to localhost encrypted: TLSv1."), 1);

  EXPECT_FALSE(attempt(starttls, TMode::Off));
  EXPECT_EQ(CountLines(failed + "SMTP 530"), 1) << "the server refuses everything in the clear";

  EXPECT_FALSE(attempt(plain, TMode::Required));
  EXPECT_EQ(CountLines(failed + "TLS required, but the server does not offer STARTTLS"), 1);
  EXPECT_FALSE(attempt(untrusted, TMode::Auto));
  EXPECT_EQ(CountLines(failed + "Certificate verify failed: self-signed certificate"), 1);
  EXPECT_TRUE(plain.AuthLog().empty() && untrusted.AuthLog().empty()) << "credentials went out in the clear";
  EXPECT_TRUE(plain.Deliveries().empty() && untrusted.Deliveries().empty());

  const std::string clear = "The mail credentials for localhost go out without TLS (the server offers no STARTTLS); "
                            "set SmtpTls=required to send no mail without TLS";
  EXPECT_EQ(CountLines(clear), 0);
  EXPECT_TRUE(attempt(plain, TMode::Auto)) << "without STARTTLS on offer, auto sends in the clear";
  EXPECT_EQ(plain.AuthLog(), std::vector<std::string>{"LOGIN alerts ok"});
  EXPECT_EQ(CountLines("Mail connection to localhost encrypted: "), 1);
  // Said once a run, however often it happens.
  EXPECT_TRUE(HasLine(*M, clear, 'W'));
  EXPECT_TRUE(attempt(plain, TMode::Auto));
  EXPECT_EQ(CountLines(clear), 1);

  // Without credentials a required TLS still takes EHLO, the only greeting that can
  // agree on it.
  A->EmailConfig().PrimaryUser.clear();
  EXPECT_TRUE(attempt(starttls, TMode::Required));
  ASSERT_EQ(starttls.Deliveries().size(), 2u);
  EXPECT_TRUE(starttls.Deliveries()[1].Tls);
  EXPECT_EQ(starttls.Deliveries()[1].AuthLogin, "");
  // And so does auto: STARTTLS whenever it is offered, credentials or not.
  EXPECT_TRUE(attempt(starttls, TMode::Auto));
  ASSERT_EQ(starttls.Deliveries().size(), 3u);
  EXPECT_TRUE(starttls.Deliveries()[2].Tls);
  EXPECT_EQ(CountLines(clear), 1);

  // Port 465 speaks TLS from the first byte (SmtpCli's own tests cover the rule on a
  // port of their choosing; this is the real port, where the test may open it).
  TAiosmtpdServer implicit;
  implicit.UseTls(TAiosmtpdServer::TTls::Implicit, good.CertFile, good.KeyFile);
  if (!implicit.Start(TSmtpCli::ImplicitTlsPort)) GTEST_SKIP() << "port 465 is not to be had: " << implicit.Error();
  EXPECT_TRUE(attempt(implicit, TMode::Auto));
  ASSERT_EQ(implicit.Deliveries().size(), 1u);
  EXPECT_TRUE(implicit.Deliveries()[0].Tls);
  EXPECT_EQ(CountLines("Mail connection to localhost encrypted: TLSv1."), 4);
  Q->FreePendingAlerts();
}
