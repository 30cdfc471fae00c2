// Relay mail: the check value, the form and the verdicts, then whole deliveries through
// the alert queue to a scripted loopback relay that succeeds, fails, says something else,
// answers 500 or never answers at all (the queue goes on meanwhile).
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "alerts/TAlerts.h"
#include "alerts/TRelayMail.h"
#include "common/FileUtils.h"
#include "common/SystemInfo.h"
#include "core/MonitorFixture.h"
#include "support/THttpTestServer.h"
#include "support/TTestCertificates.h"
#include "support/TestSupport.h"

using testsupport::THttpConnection;
using testsupport::THttpTestServer;

namespace {

TRelayMail::TOptions Options() {
  TRelayMail::TOptions o;
  o.ComputerName = "box";
  o.UserName = "ops";
  o.Application = "Corvale (corvale)";
  return o;
}

TRelayMail::TMessage Message() {
  TRelayMail::TMessage m;
  m.Sender = "relay@example.net";
  m.Recipients = "a@example.net;b@example.net";
  m.Subject = "web down";
  m.Body = "Host 192.0.2.7\r\nstopped";
  return m;
}

std::uint16_t SlowCheckValue(const std::string& text) {
  unsigned long sum = 0;
  for (std::size_t i = 0; i < text.size(); ++i) sum = (sum + (i + 1) * static_cast<unsigned char>(text[i])) % 65536;
  return static_cast<std::uint16_t>(sum);
}

// name -> value of an encoded form, in the order sent.
std::vector<std::pair<std::string, std::string>> DecodeForm(const std::string& body) {
  auto decode = [](const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '+') out += ' ';
      else if (text[i] == '%' && i + 2 < text.size()) {
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else out += text[i];
    }
    return out;
  };
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    const std::string item = body.substr(start, end - start);
    const std::size_t equals = item.find('=');
    fields.emplace_back(decode(item.substr(0, equals)), equals == std::string::npos ? "" : decode(item.substr(equals + 1)));
    start = end + 1;
  }
  return fields;
}

}  // namespace

TEST(RelayMailText, CheckValueFormAndVerdicts) {
  TRelayMail::TOptions o = Options();
  TRelayMail::TMessage m = Message();
  const std::string all = m.Sender + m.Recipients + m.Subject + m.Body + "box" + "ops";
  EXPECT_EQ(TRelayMail::CheckValue(o, m), SlowCheckValue(all));
  // Long enough to wrap the 16 bits, with bytes above 127 counted unsigned.
  m.Body = std::string(3000, '\xE9');
  EXPECT_EQ(TRelayMail::CheckValue(o, m), SlowCheckValue(m.Sender + m.Recipients + m.Subject + m.Body + "boxops"));
  EXPECT_EQ(TRelayMail::CheckValue({}, {}), 0);
  EXPECT_EQ(TRelayMail::CheckValue({}, TRelayMail::TMessage{"a", "", "", "", "", 0}), 97);

  m = Message();
  const std::string check = std::to_string(TRelayMail::CheckValue(o, m));
  EXPECT_EQ(TRelayMail::FormFields(o, m),
            (std::vector<std::string>{"from=relay@example.net", "username=a@example.net;b@example.net",
                                      "subject=web down", "message=Host 192.0.2.7\r\nstopped", "user=ops",
                                      "computer=box", "check=" + check, "app=Corvale (corvale)", "install="}));
  m.Priority = 2;
  m.Installation = "site 4";
  EXPECT_EQ(TRelayMail::FormFields(o, m).back(), "priority=2");
  EXPECT_EQ(TRelayMail::FormFields(o, m)[8], "install=site 4");

  EXPECT_EQ(TRelayMail::Verdict(200, "Success: queued", 0, ""), "");
  EXPECT_EQ(TRelayMail::Verdict(200, "Fail:  over quota \r\n", 0, ""), "over quota");
  EXPECT_EQ(TRelayMail::Verdict(200, "Fail:\n", 0, ""), "Fail: no reason given");
  EXPECT_EQ(TRelayMail::Verdict(200, "Fail: \t\r\n", 0, ""), "Fail: no reason given");
  EXPECT_EQ(TRelayMail::Verdict(200, "<html>maintenance</html>", 0, ""), "Other error: <html>maintenance</html>");
  EXPECT_EQ(TRelayMail::Verdict(200, std::string(5000, 'x'), 0, "").size(), 13 + TRelayMail::MaxAnswerInError);
  EXPECT_EQ(TRelayMail::Verdict(500, "oops", 0, ""), "HTTP Error 500/0");
  EXPECT_EQ(TRelayMail::Verdict(-4, "", 111, "refused"), "HTTP Error -4/111:refused");
  EXPECT_EQ(TRelayMail::Verdict(200, "success: lower case", 0, ""), "Other error: success: lower case");

  std::string host;
  int port = 0;
  const std::tuple<const char*, const char*, int, bool> servers[] = {
      {"relay.example", "relay.example", 80, true}, {" relay.example:8080 ", "relay.example", 8080, true},
      {"relay.example:x", "relay.example", 80, true}, {"[::1]:81", "::1", 81, true}, {"", "", 80, false},
      {"https://relay.example", "relay.example", 443, true}, {"HTTPS://relay.example:8443/", "relay.example", 8443, true},
      {"http://relay.example:81", "relay.example", 81, true}, {"https://", "", 443, false},
  };
  for (auto [text, h, p, ok] : servers) {
    EXPECT_EQ(TRelayMail::IsSecureServer(text), p == 443 || p == 8443) << text;
    EXPECT_EQ(TRelayMail::ParseServer(text, host, port), ok) << text;
    EXPECT_EQ(host, h) << text;
    EXPECT_EQ(port, p) << text;
  }

  // Checked before anything is sent.
  m = Message();
  m.Sender = "nobody";
  EXPECT_EQ(TRelayMail::SendViaRelay(o, m), "Missing recipient or sender");
  m = Message();
  m.Recipients = "ops";
  EXPECT_EQ(TRelayMail::SendViaRelay(o, m), "Missing recipient or sender");
  m = Message();
  m.Subject.clear();
  EXPECT_EQ(TRelayMail::SendViaRelay(o, m), "Missing subject");
}

class RelayMail : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    // The data folder, where the relay's answer is kept.
    ASSERT_TRUE(M->Startup());
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
    TEmailConfig& c = A->EmailConfig();
    c.RelayEnabled = true;
    c.RelaySender = "relay@example.net";
  }
  void TearDown() override {
    // Requests still out are cut short before the pool is waited for.
    if (A) A->FreePendingAlerts();
    if (M) M->Shutdown();
    M.reset();
    A.reset();
  }

  // The server answers each request with the next answer; the last one repeats.
  void Serve(std::vector<std::string> answers) {
    Server = std::make_unique<THttpTestServer>([this, answers](THttpConnection& c) {
      std::size_t n;
      {
        std::lock_guard<std::mutex> guard(Lock);
        n = Served++;
      }
      const std::string& answer = answers[std::min(n, answers.size() - 1)];
      if (answer == "hang") c.Hang();
      else c.Send(answer);
    });
    ASSERT_TRUE(Server->Start());
    // Wired by the next dispatch pass.
    M->Settings().RelayServer = "127.0.0.1:" + std::to_string(Server->Port());
  }

  bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  int CountLines(const std::string& text) {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines()) n += l.Text.find(text) != std::string::npos;
    return n;
  }

  void Tick(double ms = 5000) {
    FClock.Advance(ms);
    A->AlertTimer();
  }

  // Queues one message and works the queue until its attempt has ended.
  void SendOne(const std::string& subject) {
    A->Queue().QueueAlert("ops@example.net", subject, "body of " + subject, 0, 0, nullptr, 2, -1, false);
    const TEmailInfo* entry = A->Queue().Entries().back().get();
    Tick(31000);
    ASSERT_TRUE(WaitFor([&] {
      const auto& e = A->Queue().Entries();
      return std::none_of(e.begin(), e.end(), [&](const auto& x) { return x.get() == entry && x->Sending; });
    }));
    // No retry of a failed one meets the next answer.
    A->Queue().CancelPendingEmail(nullptr);
  }

  std::unique_ptr<TAlerts> A;
  std::unique_ptr<TMonitor> M;
  std::unique_ptr<THttpTestServer> Server;
  std::mutex Lock;
  std::size_t Served = 0;
};

TEST_F(RelayMail, RouteExistsOnlyWhileTheRelayServerIsSet) {
  EXPECT_FALSE(A->MailRouteConfigured()) << "no relay server: the relay sender alone is no route";
  A->Queue().QueueAlert("ops@example.net", "s", "b", 0, 0, nullptr, 2, -1, false);
  Tick();
  EXPECT_FALSE(A->Queue().Entries().front()->Sending);
  EXPECT_EQ(A->Queue().Entries().front()->Attempts, 0);

  M->Settings().RelayServer = "127.0.0.1:1";
  EXPECT_TRUE(A->MailRouteConfigured()) << "counts as soon as it is set";
  M->Settings().RelayServer.clear();
  EXPECT_FALSE(A->MailRouteConfigured());
  A->EmailConfig().RelaySender = "not an address";
  M->Settings().RelayServer = "127.0.0.1:1";
  EXPECT_FALSE(A->MailRouteConfigured());
}

TEST_F(RelayMail, FormReachesTheRelayAndEachAnswerGivesItsVerdict) {
  Serve({THttpTestServer::Response(200, "Success: sent\r\n", "X-Relay: 1\r\n"),
         THttpTestServer::Response(200, "Fail: sender blocked \r\n"), THttpTestServer::Response(200, "Hello"),
         THttpTestServer::Response(500, "broken")});
  A->Queue().QueueAlert("a@example.net;b@example.net", "web down", "Host 192.0.2.7\r\nstopped", 0, 0, nullptr, 2,
                        -1, false);
  Tick();
  ASSERT_TRUE(WaitFor([&] { return A->Queue().Entries().empty(); }));
  EXPECT_EQ(CountLines("Mail Sent To: a@example.net;b@example.net Using Proxy: " + M->Settings().RelayServer +
                       ", Subject: web down"),
            1);

  const auto requests = Server->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Method, "POST");
  EXPECT_EQ(requests[0].Target, "/customermail.php");
  const auto form = DecodeForm(requests[0].Body);
  std::vector<std::string> names;
  std::map<std::string, std::string> values;
  for (const auto& [name, value] : form) {
    names.push_back(name);
    values[name] = value;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"from", "username", "subject", "message", "user", "computer", "check",
                                             "app", "install", "priority"}));
  EXPECT_EQ(values["from"], "relay@example.net");
  EXPECT_EQ(values["username"], "a@example.net;b@example.net");
  EXPECT_EQ(values["subject"], "web down");
  EXPECT_EQ(values["message"], "Host 192.0.2.7\r\nstopped");
  EXPECT_EQ(values["user"], LocalUserName());
  EXPECT_EQ(values["computer"], LocalComputerName());
  EXPECT_EQ(values["check"], std::to_string(SlowCheckValue("relay@example.neta@example.net;b@example.netweb down"
                                                           "Host 192.0.2.7\r\nstopped" +
                                                           LocalComputerName() + LocalUserName())));
  EXPECT_EQ(values["app"], "Corvale (" + ExtractFileName(M->ProgramPath()) + ")");
  EXPECT_EQ(values["install"], "");
  EXPECT_EQ(values["priority"], "2");

  // The answer is kept for diagnosis in the data folder.
  std::string diagnosis;
  ASSERT_TRUE(ReadWholeFile(DataFolder() + "qlmmail.txt", diagnosis));
  EXPECT_NE(diagnosis.find("X-Relay: 1\r\n"), std::string::npos) << diagnosis;
  EXPECT_TRUE(diagnosis.ends_with("\r\n\r\nSuccess: sent\r\n")) << diagnosis;

  SendOne("second");
  EXPECT_EQ(CountLines("Mail Send Error [sender blocked]"), 1);
  ASSERT_TRUE(ReadWholeFile(DataFolder() + "qlmmail.txt", diagnosis));
  EXPECT_EQ(diagnosis.find("Success"), std::string::npos) << "replaced, not appended";
  EXPECT_TRUE(diagnosis.ends_with("\r\n\r\nFail: sender blocked \r\n")) << diagnosis;
  SendOne("third");
  EXPECT_EQ(CountLines("Mail Send Error [Other error: Hello]"), 1);
  SendOne("fourth");
  EXPECT_EQ(CountLines("Mail Send Error [HTTP Error 500/"), 1);
  EXPECT_EQ(CountLines("Mail Sent To"), 1);
}

// An https relay takes the message over TLS, also where TLS is required.
TEST_F(RelayMail, HttpsRelayIsUsedWhenTlsIsRequired) {
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "the openssl command is not installed";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  testsupport::TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  const auto cert = certs.Server("localhost", 30);
  ASSERT_TRUE(cert.Ok()) << certs.Error();
  Server = std::make_unique<THttpTestServer>(
      [](THttpConnection& c) { c.Send(THttpTestServer::Response(200, "Success: sent\r\n")); });
  ASSERT_TRUE(Server->StartTls(cert.CertFile, cert.KeyFile));
  M->Settings().SmtpTls = TSettings::TSmtpTls::Required;
  M->Settings().RelayServer = "https://localhost:" + std::to_string(Server->Port());
  A->Queue().QueueAlert("ops@example.net", "secure", "body", 0, 0, nullptr, 2, -1, false);
  Tick();
  ASSERT_TRUE(WaitFor([&] { return A->Queue().Entries().empty(); }));
  ASSERT_EQ(Server->Requests().size(), 1u);
  EXPECT_EQ(Server->Requests()[0].Target, "/customermail.php");
  EXPECT_EQ(Server->FailedHandshakes(), 0);
}

TEST_F(RelayMail, RelayThatNeverAnswersLeavesTheQueueServing) {
  // A request that blocked the main thread would hold this test for the hour.
  M->Settings().HTTPTimeout = 3600;
  Serve({"hang"});
  A->Queue().QueueAlert("a@example.net", "first", "b", 0, 0, nullptr, 2, -1, false);
  Tick();
  ASSERT_EQ(A->Queue().Entries().size(), 1u);
  EXPECT_TRUE(A->Queue().Entries()[0]->Sending);
  ASSERT_TRUE(WaitFor([&] { return Server->Requests().size() == 1; }));

  // Meanwhile the queue takes and sends another message, and cancels what it may.
  A->Queue().QueueAlert("b@example.net", "second", "b", 0, 0, nullptr, 2, -1, false);
  A->Queue().QueueAlert("c@example.net", "third", "b", 0, 0, nullptr, 2, -1, false);
  A->Queue().CancelPendingEmail(nullptr);
  EXPECT_EQ(A->Queue().Entries().size(), 1u) << "the message being sent is left alone";
  A->Queue().QueueAlert("d@example.net", "fourth", "b", 0, 0, nullptr, 2, -1, false);
  Tick();
  ASSERT_TRUE(WaitFor([&] { return Server->Requests().size() == 2; }));
  EXPECT_TRUE(A->Queue().Entries()[1]->Sending);

  // The queue's own delivery time-out ends the attempt, and the next one begins.
  Tick(116000);
  EXPECT_EQ(CountLines("Mail attempt to a@example.net (first) aborted; message delivery timeout"), 1);
  EXPECT_TRUE(A->Queue().Entries()[0]->Sending);
  EXPECT_EQ(A->Queue().Entries()[0]->Attempts, 2);
  EXPECT_EQ(A->Queue().Entries()[1]->Attempts, 1);
  ASSERT_TRUE(WaitFor([&] { return Server->Requests().size() == 3; }));

  // Cut short, the three requests answer: the first attempt's verdict is no longer
  // awaited, the others end their attempts.
  A->RelayMail().AbortAll();
  ASSERT_TRUE(WaitFor([&] { return CountLines("Mail Send Error [") >= 2 && M->Completions().HTTP.load() == 0; }));
  EXPECT_EQ(CountLines("Mail Send Error ["), 2);
  EXPECT_FALSE(A->Queue().Entries()[0]->Sending);
  EXPECT_FALSE(A->Queue().Entries()[1]->Sending);

  // Shutdown drops the queue; late verdicts of what is still out change nothing.
  Tick(31000);
  ASSERT_TRUE(WaitFor([&] { return Server->Requests().size() == 5; }));
  A->FreePendingAlerts();
  EXPECT_TRUE(A->Queue().Entries().empty());
  ASSERT_TRUE(WaitFor([&] { return M->Tests().PendingCompletions() == 0 && M->Completions().HTTP.load() == 0; }));
  EXPECT_EQ(CountLines("Mail Sent To"), 0);
}
