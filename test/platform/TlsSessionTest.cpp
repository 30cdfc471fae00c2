#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/TTlsSession.h"
#include "support/TSmtpTestServer.h"
#include "support/TTestCertificates.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TSmtpStep;
using testsupport::TSmtpTestServer;
using testsupport::TTestCert;
using testsupport::TTestCertificates;

// A blocking loopback client that moves the session's bytes; a silent peer ends the
// exchange after a generous wait instead of hanging the suite.
class TClient {
public:
  explicit TClient(std::uint16_t port) {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(FFd);
      FFd = -1;
    }
  }
  ~TClient() {
    if (FFd >= 0) ::close(FFd);
  }

  bool Flush(TTlsSession& session) {
    std::string out = session.TakeNetworkOutput();
    return out.empty() || ::send(FFd, out.data(), out.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(out.size());
  }
  bool Receive(TTlsSession& session) {
    pollfd fd{FFd, POLLIN, 0};
    if (::poll(&fd, 1, 20000) != 1) return false;
    char chunk[4096];
    ssize_t n = ::recv(FFd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    session.FeedNetwork(std::string_view(chunk, static_cast<std::size_t>(n)));
    return true;
  }

  TTlsSession::TStep Handshake(TTlsSession& session) {
    for (;;) {
      TTlsSession::TStep step = session.Handshake();
      Flush(session);
      if (step != TTlsSession::TStep::WantNetwork || !Receive(session)) return step;
    }
  }
  // Plain text up to and including the first line end.
  std::string ReadLine(TTlsSession& session) {
    std::string text;
    while (text.find('\n') == std::string::npos) {
      text += session.ReadPlain();
      if (text.find('\n') != std::string::npos || session.PeerClosed() || session.Failed() || !Receive(session))
        break;
    }
    return text;
  }

  bool Connected() const { return FFd >= 0; }

private:
  int FFd = -1;
};

class TlsSession : public ::testing::Test {
protected:
  void SetUp() override {
    if (!TTestCertificates::Available()) GTEST_SKIP() << "/usr/bin/openssl is missing (package openssl)";
    ASSERT_TRUE(FCerts.Ok()) << FCerts.Error();
  }
  TTestCertificates FCerts;
};

TEST_F(TlsSession, VerifiesChainNameAndValidityAgainstARealServer) {
  testsupport::TScopedEnv trust("SSL_CERT_FILE", FCerts.CAFile());
  testsupport::TScopedEnv noDir("SSL_CERT_DIR", FCerts.CAFile() + ".none");

  TTestCert good = FCerts.Server("localhost", 30);
  TTestCert byIp = FCerts.Server("127.0.0.1", 30);
  TTestCert selfSigned = FCerts.Server("localhost", 30, true);
  TTestCert other = FCerts.Server("other.test", 30);
  TTestCert expired = FCerts.Server("localhost", -2);
  for (const TTestCert* cert : {&good, &byIp, &selfSigned, &other, &expired}) ASSERT_TRUE(cert->Ok()) << FCerts.Error();

  struct TCase {
    const char* What;
    const TTestCert& Cert;
    std::string Name;
    std::string Error;  // empty: the handshake succeeds
  };
  const std::vector<TCase> cases = {
      {"CA-signed, right name", good, "localhost", ""},
      {"CA-signed for an address", byIp, "127.0.0.1", ""},
      {"address in brackets", byIp, "[127.0.0.1]", ""},
      {"self-signed", selfSigned, "localhost", "Certificate verify failed: self-signed certificate"},
      {"another host's certificate", other, "localhost", "Certificate verify failed: hostname mismatch"},
      {"a name's certificate asked by address", good, "127.0.0.1", "Certificate verify failed: IP address mismatch"},
      {"expired", expired, "localhost", "Certificate verify failed: certificate has expired"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TSmtpTestServer server("220 tls ready", {{"PING", "250 PONG"}});
    ASSERT_TRUE(server.UseTls(c.Cert.CertFile, c.Cert.KeyFile, true));
    ASSERT_TRUE(server.Start());
    TClient client(server.Port());
    ASSERT_TRUE(client.Connected());
    TTlsSession session(c.Name);
    TTlsSession::TStep step = client.Handshake(session);
    if (!c.Error.empty()) {
      EXPECT_EQ(session.PeerNotAfter(), 0);
      EXPECT_EQ(step, TTlsSession::TStep::Failed);
      EXPECT_TRUE(session.Failed());
      EXPECT_FALSE(session.Established());
      EXPECT_EQ(session.ErrorText(), c.Error);
      EXPECT_FALSE(session.WritePlain("PING\r\n"));
      continue;
    }
    ASSERT_EQ(step, TTlsSession::TStep::Done) << session.ErrorText();
    EXPECT_TRUE(session.Established());
    EXPECT_EQ(session.PeerNotAfter(), c.Cert.NotAfter);
    EXPECT_EQ(session.ErrorText(), "");
    EXPECT_EQ(session.Description().rfind("TLSv1.", 0), 0u) << session.Description();
    // A stale error in the thread's queue belongs to someone else: it fails nothing here.
    ERR_raise(ERR_LIB_SYS, 9999);
    EXPECT_EQ(client.ReadLine(session), "220 tls ready\r\n");
    ERR_raise(ERR_LIB_SYS, 9999);
    ASSERT_TRUE(session.WritePlain("PING\r\n"));
    ASSERT_TRUE(client.Flush(session));
    EXPECT_EQ(client.ReadLine(session), "250 PONG\r\n");
    session.Close();
    EXPECT_TRUE(session.HasNetworkOutput()) << "close notify";
    client.Flush(session);
    server.Stop();
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"<tls>", "PING"}));
  }

  // Without the CA in the trust store the same certificate is refused.
  testsupport::TScopedEnv elsewhere("SSL_CERT_FILE", FCerts.CAFile() + ".none");
  TSmtpTestServer server("220 tls ready", {});
  ASSERT_TRUE(server.UseTls(good.CertFile, good.KeyFile, true));
  ASSERT_TRUE(server.Start());
  TClient client(server.Port());
  TTlsSession session("localhost");
  EXPECT_EQ(client.Handshake(session), TTlsSession::TStep::Failed);
  EXPECT_EQ(session.ErrorText(), "Certificate verify failed: unable to get local issuer certificate");
  // The trust file appearing under the same name is read by the next session.
  testsupport::WriteFileBytes(FCerts.CAFile() + ".none", testsupport::ReadFileBytes(FCerts.CAFile()));
  TClient later(server.Port());
  TTlsSession trusted("localhost");
  EXPECT_EQ(later.Handshake(trusted), TTlsSession::TStep::Done) << trusted.ErrorText();
  later.Flush(trusted);
}

TEST_F(TlsSession, WithoutVerificationAnyCertificateGoes) {
  TTestCert selfSigned = FCerts.Server("localhost", -1, true);
  ASSERT_TRUE(selfSigned.Ok()) << FCerts.Error();
  TSmtpTestServer server("220 tls ready", {});
  ASSERT_TRUE(server.UseTls(selfSigned.CertFile, selfSigned.KeyFile, true));
  ASSERT_TRUE(server.Start());
  TClient client(server.Port());
  TTlsSession unchecked("whatever.test", false);
  EXPECT_EQ(client.Handshake(unchecked), TTlsSession::TStep::Done) << unchecked.ErrorText();
  EXPECT_EQ(client.ReadLine(unchecked), "220 tls ready\r\n");
}

TEST_F(TlsSession, APeerThatIsNoTlsServerFailsWithItsOwnErrorOnEveryThread) {
  testsupport::TScopedEnv trust("SSL_CERT_FILE", FCerts.CAFile());
  TTestCert good = FCerts.Server("localhost", 30);
  ASSERT_TRUE(good.Ok()) << FCerts.Error();
  TSmtpTestServer plain("220 plain text greeting, no TLS here", {});
  ASSERT_TRUE(plain.Start());
  TClient client(plain.Port());
  TTlsSession session("localhost");
  // The thread's queue holds a stale error from elsewhere: no session reports it.
  ERR_raise(ERR_LIB_SYS, 9999);
  EXPECT_EQ(client.Handshake(session), TTlsSession::TStep::Failed);
  EXPECT_EQ(session.ErrorText().rfind("TLS error: ", 0), 0u) << session.ErrorText();
  EXPECT_EQ(session.ErrorText().find("system library"), std::string::npos);
  EXPECT_EQ(session.PeerNotAfter(), 0);
  EXPECT_FALSE(session.Established());
  EXPECT_EQ(session.Description(), "");

  // Sessions failing and succeeding at once on several threads keep their own outcome.
  std::vector<std::string> outcomes(8);
  std::vector<std::thread> threads;
  std::vector<std::unique_ptr<TSmtpTestServer>> servers;
  for (int i = 0; i < 8; ++i) {
    servers.push_back(std::make_unique<TSmtpTestServer>("220 hello", std::vector<TSmtpStep>{}));
    ASSERT_TRUE(i % 2 == 1 || servers.back()->UseTls(good.CertFile, good.KeyFile, true));
    ASSERT_TRUE(servers.back()->Start());
  }
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&outcomes, i, port = servers[i]->Port()] {
      TClient c(port);
      TTlsSession s("localhost");
      ERR_raise(ERR_LIB_SYS, 9999);
      outcomes[i] = c.Handshake(s) == TTlsSession::TStep::Done ? "done" : s.ErrorText();
      ERR_clear_error();
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(outcomes[i], i % 2 == 0 ? "done" : session.ErrorText()) << i;
  }
  ERR_clear_error();
}

}  // namespace
