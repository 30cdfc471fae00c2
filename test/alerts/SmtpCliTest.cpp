#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "alerts/SmtpAuth.h"
#include "alerts/SmtpText.h"
#include "alerts/TSmtpCli.h"
#include "common/DateTime.h"
#include "support/TAiosmtpdServer.h"
#include "support/TSmtpTestServer.h"
#include "support/TTestCertificates.h"
#include "support/TestNetns.h"
#include "support/TestSupport.h"

using testsupport::TSmtpStep;
using testsupport::TSmtpTestServer;

namespace {

// Drives one client step by step through the event loop, the way the dispatcher does.
class TDriver {
public:
  explicit TDriver(TSmtpCli& client) : FClient(client) {
    client.OnRequestDone = [this](TSmtpCli&, TSmtpRequest request, int error) {
      ++Events;
      LastRequest = request;
      LastError = error;
    };
  }
  // The step's error code, or -1 when no event came while the loop ran for waitMs.
  int Run(void (TSmtpCli::*step)(), int waitMs = 15000) {
    int before = Events;
    (FClient.*step)();
    return WaitEvent(before, waitMs);
  }
  int WaitEvent(int before, int waitMs) {
    QElapsedTimer timer;
    timer.start();
    while (Events == before && timer.elapsed() < waitMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Events == before ? -1 : LastError;
  }
  int Events = 0;
  TSmtpRequest LastRequest = smtpConnect;
  int LastError = -1;

private:
  TSmtpCli& FClient;
};

void PointAt(TSmtpCli& client, std::uint16_t port) {
  client.Host = "127.0.0.1";
  client.Port = std::to_string(port);
  client.SignOn = "monitor host";
}

const char* const RfcChallenge = "<1896.697170952@postoffice.reston.mci.net>";

}  // namespace

TEST(SmtpText, AddressesInEveryForm) {
  EXPECT_EQ(SmtpAddress("ops@example.net"), "ops@example.net");
  EXPECT_EQ(SmtpAddress("  Ops Team <ops@example.net>"), "ops@example.net");
  EXPECT_EQ(SmtpAddress("\"Doe, John <boss>\" <john@example.net>"), "john@example.net");
  EXPECT_EQ(SmtpAddress("'Night Shift' night@example.net"), "night@example.net");
  EXPECT_EQ(SmtpAddress("ops ops@example.net"), "ops@example.net");
  EXPECT_EQ(SmtpAddress("<ops@example.net"), "ops@example.net");
  EXPECT_EQ(SmtpAddress("nobody"), "");
  EXPECT_EQ(SmtpAddress(""), "");
}

TEST(SmtpText, DateZoneAndMessageId) {
  EXPECT_EQ(SmtpZone(-60), "+0100");
  EXPECT_EQ(SmtpZone(0), "-0000");
  EXPECT_EQ(SmtpZone(240), "-0400");
  EXPECT_EQ(SmtpZone(-330), "+0530");
  EXPECT_EQ(SmtpDate(EncodeDateTime(2026, 12, 8, 14, 5, 9), -60), "Tue, 8 Dec 2026 14:05:09 +0100");
  std::string id = SmtpMessageId(EncodeDateTime(2026, 12, 8, 13, 5, 9, 42), "mon1");
  EXPECT_TRUE(std::regex_match(id, std::regex("20261208130509042\\.[0-9A-F]{16}@mon1"))) << id;
  EXPECT_NE(id, SmtpMessageId(EncodeDateTime(2026, 12, 8, 13, 5, 9, 42), "mon1"));
}

TEST(SmtpText, BodyLinesAndHeaderValues) {
  std::string longLine(5000, 'x');
  std::vector<std::string> lines = SmtpBodyLines({".x", "   ", "\tindented  ", "one\r\ntwo\r\n.", longLine, ""});
  std::vector<std::string> expected = {"..x", "", "indented", "one", "two", "..", longLine, ""};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(SmtpHeaderValue("  Host down\r\nBcc: victim@example.net \r\n"), "Host down  Bcc: victim@example.net");
  EXPECT_EQ(TrimSmtp("\x01 text\x7f\t"), "text\x7f");
}

TEST(SmtpAuth, KnownAnswers) {
  // The published CRAM-MD5 example.
  EXPECT_EQ(CramAuthAnswer(THmacHash::Md5, "tim", "tanstaaftanstaaf", RfcChallenge),
            "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
  // Published HMAC test cases, the last with a key longer than the block.
  EXPECT_EQ(HmacHex(THmacHash::Sha1, "Jefe", "what do ya want for nothing?"),
            "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79");
  EXPECT_EQ(HmacHex(THmacHash::Md5, "Jefe", "what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738");
  std::string bigKey(80, '\xaa');
  EXPECT_EQ(HmacHex(THmacHash::Sha1, bigKey, "Test Using Larger Than Block-Size Key - Hash Key First"),
            "aa4ae5e15272d00e95705637ce8a3b55ed402112");
  EXPECT_EQ(HmacHex(THmacHash::Md5, bigKey, "Test Using Larger Than Block-Size Key - Hash Key First"),
            "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
  EXPECT_EQ(Base64Encode(std::string("\0alerts\0pw", 10)), "AGFsZXJ0cwBwdw==");
  EXPECT_EQ(PlainAuthAnswer("alerts", "pw"), "AGFsZXJ0cwBwdw==");
  EXPECT_EQ(Base64Decode("PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+\r\n"), RfcChallenge);
  EXPECT_EQ(Base64Decode(Base64Encode("\xe9t\xe9\xff")), "\xe9t\xe9\xff");
}

TEST(SmtpCli, FullDialogueWithMultiLineGreetingAndAuthEqualsForm) {
  TSmtpTestServer server("220-mail.test first\r\n220-second\r\n220 ready",
                         {{"EHLO monitor_host", "250-mail.test\r\n250-AUTH=LOGIN PLAIN\r\n250-auth login\r\n250 HELP"},
                          {"AUTH LOGIN", "334 VXNlcm5hbWU6"},
                          {Base64Encode("alerts"), "334 UGFzc3dvcmQ6"},
                          {Base64Encode("pw"), "235 ok"},
                          {"MAIL FROM:<monitor@example.net>", "250 ok"},
                          {"RCPT TO:<ops@example.net>", "250 ok"},
                          {"RCPT TO:<boss@example.net>", "251 forwarded"},
                          {"DATA", "354 go on"},
                          {"", "250 queued", true},
                          {"QUIT", "221 bye"}});
  ASSERT_TRUE(server.Start());
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, server.Port());
  client.Username = "alerts";
  client.Password = "pw";
  client.AuthType = smtpAuthAutoSelect;
  client.FromName = "Monitor <monitor@example.net>";
  client.RcptName = {"\"Ops, Night\" <ops@example.net>", "boss@example.net"};
  client.HdrFrom = "monitor@example.net";
  client.HdrTo = "ops@example.net; boss@example.net";
  client.HdrSubject = " Host down ";
  client.HdrPriority = smtpPriorityHigh;
  client.MailMessage = {"first line", ".x", "   ", "  indented"};
  std::vector<std::string> lines;
  client.OnProcessHeader = [&lines](TSmtpCli&, std::vector<std::string>& header) {
    lines = header;
    header.push_back("X-User: tester");
  };

  EXPECT_EQ(driver.Run(&TSmtpCli::Connect), 0);
  EXPECT_EQ(driver.Events, 1);  // the greeting's three lines complete the connection once
  EXPECT_EQ(client.LastResponse(), "220 ready");
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
  EXPECT_EQ(client.AuthTypesSupported(), (std::vector<std::string>{"LOGIN", "PLAIN"}));
  EXPECT_EQ(driver.Run(&TSmtpCli::Auth), 0);
  EXPECT_EQ(driver.Run(&TSmtpCli::MailFrom), 0);
  EXPECT_EQ(driver.Run(&TSmtpCli::RcptTo), 0);
  EXPECT_EQ(driver.LastRequest, smtpRcptTo);
  EXPECT_EQ(driver.Run(&TSmtpCli::Data), 0);
  EXPECT_EQ(driver.Run(&TSmtpCli::Quit), 0);
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(server.Mismatches().empty()) << server.Mismatches().front();

  ASSERT_EQ(lines.size(), 12u);
  std::vector<std::string> fixed = {"From: monitor@example.net",
                                    "To: ops@example.net; boss@example.net",
                                    "Subject: Host down",
                                    "Sender: monitor@example.net",
                                    "Mime-Version: 1.0",
                                    "Content-Type: text/plain; charset=\"iso-8859-1\""};
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6), fixed);
  EXPECT_TRUE(std::regex_match(lines[6], std::regex("Date: [A-Z][a-z]{2}, \\d{1,2} [A-Z][a-z]{2} \\d{4} "
                                                    "\\d\\d:\\d\\d:\\d\\d [-+]\\d{4}")))
      << lines[6];
  EXPECT_EQ(lines[7], "X-Priority: 2");
  EXPECT_EQ(lines[8], "Priority: urgent");
  EXPECT_EQ(lines[9], "X-MSMail-Priority: High");
  EXPECT_EQ(lines[10], "Message-ID: <" + client.MessageId() + ">");
  EXPECT_EQ(lines[11].rfind("X-Mailer: ", 0), 0u);

  std::vector<std::string> data = server.DataLines();
  ASSERT_GE(data.size(), 5u);
  std::vector<std::string> tail(data.end() - 5, data.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"", "first line", "..x", "", "indented"}));
  EXPECT_EQ(data[12], "X-User: tester");
}

TEST(SmtpCli, AutomaticChoiceFallsBackThroughLoginToPlain) {
  TSmtpTestServer server("220 ready", {{"EHLO", "250-mail.test\r\n250 SIZE 1000"},
                                       {"AUTH CRAM-MD5", "504 not that"},
                                       {"AUTH LOGIN", "504 nor that"},
                                       {"AUTH PLAIN " + PlainAuthAnswer("alerts", "pw"), "235 fine"}});
  ASSERT_TRUE(server.Start());
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, server.Port());
  client.Username = "alerts";
  client.Password = "pw";
  client.AuthType = smtpAuthAutoSelect;
  ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
  ASSERT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
  EXPECT_TRUE(client.AuthTypesSupported().empty());
  EXPECT_EQ(driver.Run(&TSmtpCli::Auth), 0);
  EXPECT_EQ(driver.Events, 3);
  EXPECT_TRUE(server.Mismatches().empty()) << server.Mismatches().front();
}

TEST(SmtpCli, ChallengeResponseAnswers) {
  // CRAM-SHA1 is preferred when offered; the answer is the published HMAC-SHA1 case.
  TSmtpTestServer sha1("220 ready", {{"EHLO", "250-mail.test\r\n250 AUTH LOGIN CRAM-MD5 cram-sha1"},
                                     {"AUTH CRAM-SHA1", "334 " + Base64Encode("what do ya want for nothing?")},
                                     {"", "235 ok"}});
  TSmtpTestServer md5("220 ready", {{"EHLO", "250-mail.test\r\n250 AUTH=CRAM-MD5"},
                                    {"AUTH CRAM-MD5", "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+"},
                                    {"", "535 no"}});
  ASSERT_TRUE(sha1.Start());
  ASSERT_TRUE(md5.Start());
  {
    TSmtpCli client;
    TDriver driver(client);
    PointAt(client, sha1.Port());
    client.Username = "tim";
    client.Password = "Jefe";
    client.AuthType = smtpAuthAutoSelect;
    ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
    ASSERT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
    EXPECT_EQ(client.AuthTypesSupported(), (std::vector<std::string>{"LOGIN", "CRAM-MD5", "CRAM-SHA1"}));
    EXPECT_EQ(driver.Run(&TSmtpCli::Auth), 0);
    std::vector<std::string> received = sha1.Received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[2], QByteArray("tim effcdf6ae5eb2fa2d27416d5f184df9c259a7c79").toBase64().toStdString());
  }
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, md5.Port());
  client.Username = "tim";
  client.Password = "tanstaaftanstaaf";
  client.AuthType = smtpAuthAutoSelect;
  ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
  ASSERT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
  // A refused answer under automatic choice keeps the server's code with the client's text.
  EXPECT_EQ(driver.Run(&TSmtpCli::Auth), 535);
  EXPECT_EQ(client.LastResponse(), "500 Authentication Type could not be determined.");
  std::vector<std::string> received = md5.Received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[2], "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
}

TEST(SmtpCli, OwnRefusalsAndMisuse) {
  TSmtpTestServer server("220 ready", {{"HELO monitor_host", "250 hi"}, {"RCPT TO:<>", "501 bad address"}});
  ASSERT_TRUE(server.Start());
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, server.Port());
  EXPECT_THROW(client.MailFrom(), ESmtpError);
  try {
    client.Ehlo();
  } catch (const ESmtpError& e) {
    EXPECT_STREQ(e.what(), "SMTP component not connected");
  }
  EXPECT_EQ(driver.Run(&TSmtpCli::Quit), 0);  // nothing to quit
  EXPECT_EQ(driver.LastRequest, smtpQuit);

  int before = driver.Events;
  client.Connect();
  try {
    client.Connect();
    ADD_FAILURE() << "second connect accepted";
  } catch (const ESmtpError& e) {
    EXPECT_STREQ(e.what(), "SMTP component not ready");
  }
  ASSERT_EQ(driver.WaitEvent(before, 15000), 0);
  try {
    client.Connect();
    ADD_FAILURE() << "connect while connected accepted";
  } catch (const ESmtpError& e) {
    EXPECT_STREQ(e.what(), "SMTP component already connected");
  }
  ASSERT_EQ(driver.Run(&TSmtpCli::Helo), 0);
  EXPECT_EQ(driver.Run(&TSmtpCli::Auth), 500);
  EXPECT_EQ(client.LastResponse(), "500 ESMTP not supported.");

  try {
    client.RcptTo();
    ADD_FAILURE() << "empty recipient list accepted";
  } catch (const ESmtpError& e) {
    EXPECT_STREQ(e.what(), "RcptName list is empty");
  }
  client.RcptName = {"Nobody"};
  EXPECT_EQ(driver.Run(&TSmtpCli::RcptTo), 501);
  EXPECT_EQ(client.LastResponse(), "501 bad address");
  EXPECT_TRUE(server.Mismatches().empty()) << server.Mismatches().front();
}

TEST(SmtpCli, AuthRefusalsAfterEhlo) {
  TSmtpTestServer server("220 ready", {{"EHLO", "250-mail.test\r\n250 AUTH CRAM-MD5"}, {"AUTH CRAM-MD5", "334 "}});
  ASSERT_TRUE(server.Start());
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, server.Port());
  ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
  ASSERT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
  client.AuthType = smtpAuthNone;
  EXPECT_EQ(driver.Run(&TSmtpCli::Auth), 500);
  EXPECT_EQ(client.LastResponse(), "500 No Authentication Type Selected.");
  client.AuthType = smtpAuthCramMD5;
  EXPECT_EQ(driver.Run(&TSmtpCli::Auth), 500);
  EXPECT_EQ(client.LastResponse(), "500 Malformed MD5 Challege: 334 ");
  EXPECT_TRUE(server.Mismatches().empty()) << server.Mismatches().front();
}

TEST(SmtpCli, BrokenServers) {
  // Closes after MAIL FROM: the request in progress ends with 10004.
  TSmtpTestServer closing("220 ready", {{"EHLO", "250 ok"}, {"MAIL FROM", "", false, true}});
  // Never answers MAIL FROM.
  TSmtpTestServer silent("220 ready", {{"EHLO", "250 ok"}, {"", "", false, false, true}});
  // Replies without a number, then a line far longer than the receive buffer.
  TSmtpTestServer garbage("220 ready", {{"EHLO", "hello there"}, {"MAIL", "250 " + std::string(100000, 'z')}});
  TSmtpTestServer refusing("554 go away", {});
  for (auto* server : {&closing, &silent, &garbage, &refusing}) ASSERT_TRUE(server->Start());

  {
    TSmtpCli client;
    TDriver driver(client);
    PointAt(client, closing.Port());
    ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
    ASSERT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
    EXPECT_EQ(driver.Run(&TSmtpCli::MailFrom), 10004);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.LastResponse().rfind("500 ", 0), 0u);
    EXPECT_NE(client.LastResponse().find("(Winsock error #10004)"), std::string::npos);
  }
  {
    TSmtpCli client;
    TDriver driver(client);
    PointAt(client, silent.Port());
    ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
    ASSERT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
    EXPECT_EQ(driver.Run(&TSmtpCli::MailFrom, 300), -1);
    EXPECT_TRUE(client.Busy());
    int before = driver.Events;
    client.Abort();
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(driver.WaitEvent(before, 15000), 10004);
    EXPECT_EQ(driver.LastRequest, smtpMailFrom);
    EXPECT_FALSE(client.Busy());
  }
  {
    TSmtpCli client;
    TDriver driver(client);
    PointAt(client, garbage.Port());
    ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
    EXPECT_EQ(driver.Run(&TSmtpCli::Ehlo), 20600);
    EXPECT_FALSE(client.EsmtpAccepted());
    EXPECT_EQ(driver.Run(&TSmtpCli::MailFrom), TSmtpCli::ErrorReplyTooLong);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(driver.Events, 3);
  }
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, refusing.Port());
  EXPECT_EQ(driver.Run(&TSmtpCli::Connect), 554);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.LastResponse(), "554 go away");
}

// A hostile server floods the EHLO reply with lines of distinct AUTH words (about 2 MB).
// The attempt must fail with the client's own error once the reply passes its bounds,
// without ever holding more than the bounded list of mechanisms.
TEST(SmtpCli, FloodedEhloReplyFailsTheAttemptWithinBounds) {
  std::string flood;
  for (int line = 0; flood.size() < 2 * 1024 * 1024; ++line) {
    flood += "250-AUTH";
    for (int word = 0; word < 400; ++word) flood += " M" + std::to_string(line) + "X" + std::to_string(word);
    flood += "\r\n";
  }
  flood += "250 OK\r\n";
  // Within the bounds: 60 lines repeating few mechanisms still read as a normal reply.
  std::string busy;
  for (int line = 0; line < 60; ++line) busy += "250-AUTH LOGIN PLAIN CRAM-MD5 X" + std::to_string(line % 30) + "\r\n";
  busy += "250 OK\r\n";
  TSmtpTestServer hostile("220 ready", {{"EHLO", flood}, {"", "", false, false, true}});
  TSmtpTestServer chatty("220 ready", {{"EHLO", busy}});
  ASSERT_TRUE(hostile.Start());
  ASSERT_TRUE(chatty.Start());

  {
    TSmtpCli client;
    TDriver driver(client);
    PointAt(client, hostile.Port());
    ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
    EXPECT_EQ(driver.Run(&TSmtpCli::Ehlo), TSmtpCli::ErrorReplyTooLong);
    EXPECT_EQ(driver.LastRequest, smtpEhlo);
    EXPECT_EQ(client.LastResponse(), "500 Reply longer than 100 lines or 65536 bytes.");
    EXPECT_FALSE(client.Connected());
    EXPECT_FALSE(client.EsmtpAccepted());
    EXPECT_LE(client.AuthTypesSupported().size(), TSmtpCli::MaxAuthTypes);
    EXPECT_EQ(driver.Events, 2);
  }
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, chatty.Port());
  ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0);
  EXPECT_EQ(driver.Run(&TSmtpCli::Ehlo), 0);
  EXPECT_TRUE(client.EsmtpAccepted());
  const auto& offered = client.AuthTypesSupported();
  ASSERT_EQ(offered.size(), TSmtpCli::MaxAuthTypes);
  EXPECT_EQ(std::vector<std::string>(offered.begin(), offered.begin() + 4),
            (std::vector<std::string>{"LOGIN", "PLAIN", "CRAM-MD5", "X0"}));
}

TEST(SmtpCli, RefusedConnectionReportsTheSocketError) {
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
  std::uint16_t port = probe.serverPort();
  probe.close();
  TSmtpCli client;
  TDriver driver(client);
  PointAt(client, port);
  EXPECT_EQ(driver.Run(&TSmtpCli::Connect), 10061);
  EXPECT_EQ(client.LastResponse(), "500 The remote host refused the connection. (Winsock error #10061)");
  EXPECT_FALSE(client.Connected());
  EXPECT_FALSE(client.Busy());
}

// Runs only inside the namespace the next test makes: there the hosts file is the only
// name source, so the lookup fails without ever asking a name server.
TEST(SmtpCliInNamespace, NameThatDoesNotResolve) {
  if (!std::getenv("CORVALE_SMTP_NETNS_CHILD")) GTEST_SKIP() << "runs inside the name-lookup test's namespace";
  TSmtpCli client;
  TDriver driver(client);
  client.Host = "no-such-mail-host.corvale-test";
  client.Port = "25";
  EXPECT_EQ(driver.Run(&TSmtpCli::Connect), 11001);
  EXPECT_EQ(client.LastResponse(), "500 The host name is not known. (Winsock error #11001)");
}

TEST(SmtpCli, NameThatDoesNotResolveFailsWithHostNotFound) {
  testsupport::TTestNetns net("cvsmtp", {"dns"});
  if (!net.Ready()) GTEST_SKIP() << "no namespace: " << net.Error();
  const std::string name = net.Name("dns");
  const std::string etc = "/etc/netns/" + name;
  std::filesystem::create_directories(etc);
  testsupport::WriteFileBytes(etc + "/nsswitch.conf", "hosts: files\n");
  testsupport::WriteFileBytes(etc + "/hosts", "127.0.0.1 localhost\n");
  testsupport::WriteFileBytes(etc + "/resolv.conf", "nameserver 127.0.0.1\n");
  std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::string output;
  int status = testsupport::Shell("CORVALE_SMTP_NETNS_CHILD=1 ip netns exec " + name + " " + self +
                                      " --gtest_filter=SmtpCliInNamespace.NameThatDoesNotResolve",
                                  &output);
  std::filesystem::remove_all(etc);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

TEST(SmtpCli, RealServerDelivery) {
  if (!testsupport::TAiosmtpdServer::Available()) GTEST_SKIP() << "python3-aiosmtpd is not installed";
  testsupport::TAiosmtpdServer server("alerts", "s3cret pass");
  ASSERT_TRUE(server.Start()) << server.Error();
  for (TSmtpAuthType auth : {smtpAuthAutoSelect, smtpAuthPlain}) {
    TSmtpCli client;
    TDriver driver(client);
    PointAt(client, server.Port());
    client.Username = "alerts";
    client.Password = "s3cret pass";
    client.AuthType = auth;
    client.FromName = "Monitor <monitor@example.net>";
    client.RcptName = {"ops@example.net", "'Boss' <boss@example.net>"};
    client.HdrFrom = "monitor@example.net";
    client.HdrTo = "ops@example.net";
    client.HdrSubject = "Host web1 is down";
    client.HdrPriority = smtpPriorityLowest;
    client.MailMessage = {"web1 stopped answering.\r\n.\r\n..two", "  last  "};
    ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0) << client.LastResponse();
    ASSERT_EQ(driver.Run(&TSmtpCli::Ehlo), 0) << client.LastResponse();
    ASSERT_EQ(driver.Run(&TSmtpCli::Auth), 0) << client.LastResponse();
    ASSERT_EQ(driver.Run(&TSmtpCli::MailFrom), 0) << client.LastResponse();
    ASSERT_EQ(driver.Run(&TSmtpCli::RcptTo), 0) << client.LastResponse();
    ASSERT_EQ(driver.Run(&TSmtpCli::Data), 0) << client.LastResponse();
    ASSERT_EQ(driver.Run(&TSmtpCli::Quit), 0) << client.LastResponse();
  }
  std::vector<testsupport::TSmtpDelivery> deliveries = server.Deliveries();
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(server.AuthLog(), (std::vector<std::string>{"LOGIN alerts ok", "PLAIN alerts ok"}));
  for (const auto& delivery : deliveries) {
    EXPECT_EQ(delivery.MailFrom, "monitor@example.net");
    EXPECT_EQ(delivery.Rcpts, (std::vector<std::string>{"ops@example.net", "boss@example.net"}));
    EXPECT_EQ(delivery.AuthLogin, "alerts");
    const std::string& raw = delivery.Raw;
    std::size_t body = raw.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(raw.substr(body + 4), "web1 stopped answering.\r\n.\r\n..two\r\nlast\r\n");
    std::size_t last = 0;
    for (const char* header : {"From: monitor@example.net\r\n", "To: ops@example.net\r\n",
                               "Subject: Host web1 is down\r\n", "Sender: ", "Mime-Version: 1.0\r\n",
                               "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n", "Date: ", "X-Priority: 5\r\n",
                               "Priority: non-urgent\r\n", "X-MSMail-Priority: Low\r\n", "Message-ID: <", "X-Mailer: "}) {
      std::size_t at = raw.find(header);
      ASSERT_NE(at, std::string::npos) << header;
      EXPECT_GE(at, last) << header;
      last = at;
    }
  }
}

namespace {

TSmtpStep StartTlsStep(std::string reply = "220 go ahead") {
  TSmtpStep step{"STARTTLS", std::move(reply)};
  step.StartTls = true;
  return step;
}

}  // namespace

// The TLS dialogue in each mode against a scripted server, which records "<tls>" where
// its handshake completed: nothing but EHLO and STARTTLS may come before it when TLS is
// to be had, and no AUTH ever goes out in the clear to a server that offers STARTTLS.
TEST(SmtpCli, TlsDialogueInEveryMode) {
  using testsupport::TTestCert;
  using testsupport::TTestCertificates;
  if (!TTestCertificates::Available()) GTEST_SKIP() << "/usr/bin/openssl is missing (package openssl)";
  TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  testsupport::TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  const TTestCert good = certs.Server("127.0.0.1");
  const TTestCert selfSigned = certs.Server("127.0.0.1", 30, true);
  ASSERT_TRUE(good.Ok() && selfSigned.Ok()) << certs.Error();

  using TMode = TSmtpCli::TTlsMode;
  using TStep = void (TSmtpCli::*)();
  // In the clear the server offers CRAM-MD5, encrypted only PLAIN: the mechanism chosen
  // tells which capabilities were kept.
  const std::string offer = "250-mail.test\r\n250-STARTTLS\r\n250 AUTH CRAM-MD5";
  const std::string encrypted = "250-mail.test\r\n250 AUTH PLAIN";
  const std::string plainAuth = "AUTH PLAIN " + PlainAuthAnswer("alerts", "pw");
  const std::string ehlo = "EHLO monitor_host", mail = "MAIL FROM:<monitor@example.net>";
  struct TCase {
    const char* What;
    TMode Mode;
    const TTestCert* Cert;  // the server's; null: no TLS at all
    bool Implicit;
    std::vector<TSmtpStep> Script;
    std::vector<std::pair<TStep, int>> Steps;  // after Connect, each with its expected error
    std::string TlsError;                      // of the last step
    std::vector<std::string> Received;
    bool Encrypted;
    bool OnImplicitPort = false;  // the server's port is the client's ImplicitPort
  };
  const std::vector<TCase> cases = {
      {"auto, offered: STARTTLS, EHLO again, AUTH encrypted", TMode::Auto, &good, false,
       {{"EHLO", offer}, StartTlsStep(), {"EHLO", encrypted}, {"AUTH PLAIN", "235 ok"}, {"MAIL FROM", "250 ok"}},
       {{&TSmtpCli::Ehlo, 0}, {&TSmtpCli::Auth, 0}, {&TSmtpCli::MailFrom, 0}},
       "",
       {ehlo, "STARTTLS", "<tls>", ehlo, plainAuth, mail},
       true},
      {"required, not offered: fails before AUTH", TMode::Required, nullptr, false,
       {{"EHLO", "250-mail.test\r\n250 AUTH PLAIN LOGIN"}},
       {{&TSmtpCli::Ehlo, 500}, {&TSmtpCli::Auth, 500}, {&TSmtpCli::MailFrom, 500}},
       "TLS required, but the connection is not encrypted",
       {ehlo},
       false},
      {"required: no HELO in the clear", TMode::Required, nullptr, false, {}, {{&TSmtpCli::Helo, 500}},
       "TLS required, but the connection is not encrypted", {}, false},
      {"auto, STARTTLS refused with 454: no AUTH in the clear", TMode::Auto, &good, false,
       {{"EHLO", offer}, {"STARTTLS", "454 TLS not available"}},
       {{&TSmtpCli::Ehlo, 454}, {&TSmtpCli::Auth, 500}},
       "The server offers STARTTLS: no authentication without it",
       {ehlo, "STARTTLS"},
       false},
      {"auto, self-signed certificate", TMode::Auto, &selfSigned, false, {{"EHLO", offer}, StartTlsStep()},
       {{&TSmtpCli::Ehlo, 500}}, "Certificate verify failed: self-signed certificate",
       {ehlo, "STARTTLS", "<tls failed>"}, false},
      {"auto, nonsense instead of a handshake", TMode::Auto, nullptr, false,
       {{"EHLO", offer}, {"STARTTLS", "220 go ahead\r\n250 this is no TLS at all", false, true}}, {{&TSmtpCli::Ehlo, 500}},
       "TLS error: ", {ehlo, "STARTTLS"}, false},
      {"auto, hang-up instead of a handshake", TMode::Auto, nullptr, false,
       {{"EHLO", offer}, {"STARTTLS", "220 go ahead", false, true}}, {{&TSmtpCli::Ehlo, 10004}}, "",
       {ehlo, "STARTTLS"}, false},
      {"off: STARTTLS is never sent", TMode::Off, &good, false, {{"EHLO", offer}, {"MAIL FROM", "250 ok"}},
       {{&TSmtpCli::Ehlo, 0}, {&TSmtpCli::MailFrom, 0}}, "", {ehlo, mail}, false},
      {"implicit: handshake before the greeting", TMode::Required, &good, true,
       {{"HELO", "250 hi"}, {"MAIL FROM", "250 ok"}}, {{&TSmtpCli::Helo, 0}, {&TSmtpCli::MailFrom, 0}}, "",
       {"<tls>", "HELO monitor_host", mail}, true},
      {"the implicit port: handshake before the greeting", TMode::Auto, &good, false,
       {{"HELO", "250 hi"}, {"MAIL FROM", "250 ok"}}, {{&TSmtpCli::Helo, 0}, {&TSmtpCli::MailFrom, 0}}, "",
       {"<tls>", "HELO monitor_host", mail}, true, true},
      {"off: no handshake even on the implicit port", TMode::Off, nullptr, false, {{"HELO", "250 hi"}},
       {{&TSmtpCli::Helo, 0}}, "", {"HELO monitor_host"}, false, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TSmtpTestServer server("220 ready", c.Script);
    ASSERT_TRUE(!c.Cert || server.UseTls(c.Cert->CertFile, c.Cert->KeyFile, c.Implicit || c.OnImplicitPort));
    ASSERT_TRUE(server.Start());
    TSmtpCli client;
    TDriver driver(client);
    PointAt(client, server.Port());
    client.TlsMode = c.Mode;
    client.ImplicitTls = c.Implicit;
    if (c.OnImplicitPort) client.ImplicitPort = server.Port();
    client.Username = "alerts";
    client.Password = "pw";
    client.AuthType = smtpAuthAutoSelect;
    client.FromName = "monitor@example.net";
    std::vector<std::string> agreed;
    client.OnTlsEstablished = [&](TSmtpCli&, const std::string& description) { agreed.push_back(description); };
    ASSERT_EQ(driver.Run(&TSmtpCli::Connect), 0) << client.LastResponse();
    for (const auto& [step, error] : c.Steps) {
      EXPECT_EQ(driver.Run(step), error) << client.LastResponse();
      if (!client.Connected()) break;
    }
    if (c.TlsError.empty()) {
      EXPECT_EQ(client.TlsError(), "");
    } else {
      EXPECT_EQ(client.TlsError().rfind(c.TlsError, 0), 0u) << client.TlsError();
      EXPECT_EQ(client.LastResponse(), "500 " + client.TlsError());
    }
    EXPECT_EQ(client.TlsActive(), c.Encrypted);
    EXPECT_EQ(agreed.size(), c.Encrypted ? 1u : 0u);
    if (c.Encrypted) {
      EXPECT_EQ(agreed[0], client.TlsDescription());
      EXPECT_EQ(client.TlsDescription().rfind("TLSv1.", 0), 0u) << client.TlsDescription();
    }
    if (c.Encrypted && !c.Implicit && !c.OnImplicitPort) {
      EXPECT_EQ(client.AuthTypesSupported(), std::vector<std::string>{"PLAIN"});
    }
    client.Abort();
    server.Stop();
    EXPECT_EQ(server.Received(), c.Received);
  }
}
