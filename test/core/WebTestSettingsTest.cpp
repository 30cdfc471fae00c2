// The web-page test as the program runs it: hosts and settings read from their files
// at start-up, tests started by the scheduler, against scripted servers on loopback.
// What the settings file says (HTTPTimeout, CertExpiryDays) must reach the test, and
// every status the test counts as success must be one.
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "support/THttpTestServer.h"
#include "support/TTestCertificates.h"

using testsupport::THttpConnection;
using testsupport::THttpTestServer;

namespace {

// /status/N answers with status N; /hang never answers.
void Answer(THttpConnection& c) {
  const std::string& target = c.Request().Target;
  if (target == "/hang") {
    c.Hang();
  } else if (target.rfind("/status/", 0) == 0) {
    const int status = std::stoi(target.substr(8));
    c.Send(THttpTestServer::Response(status, status == 204 ? "" : "page"));
    c.Hang();
  } else {
    c.Send(THttpTestServer::Response(200, "page"));
  }
}

}  // namespace

class WebTestSettings : public MonitorFixture {
protected:
  // Writes the hosts file (one HTTP host per address) and the settings file, then
  // starts the monitor on them.
  void Start(const std::vector<std::string>& urls, const std::string& settings) {
    THostList list;
    for (const std::string& url : urls) {
      auto record = list.NewRecord(FClock.Now());
      record->DisplayName = url;
      record->Address = "127.0.0.1";
      record->TestKind = TestHTTP;
      record->TestInterval = 1;
      record->LocalSubnet = true;
      record->HTTPTest.URL = url;
      list.Add(std::move(record));
    }
    ASSERT_TRUE(SaveHosts(DataFolder() + "hosts.cvlh", list));
    testsupport::WriteFileBytes(DataFolder() + "hosts.cvlp", settings);
    M = NewMonitor();
    ASSERT_TRUE(M->Startup());
    ASSERT_EQ(M->Hosts().Count(), static_cast<int>(urls.size()));
  }

  // One scheduled test of every host, a minute after the last.
  void TestAll() {
    FClock.Advance(60000);
    M->Timer1Timer();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto running = [&] {
      for (int i = 0; i < M->Hosts().Count(); ++i)
        if (M->Hosts().Items(i)->RunningTest) return true;
      return false;
    };
    while (running() && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(running()) << "a test did not finish";
  }

  const THost& Host(const std::string& url) const {
    for (int i = 0; i < M->Hosts().Count(); ++i)
      if (M->Hosts().Items(i)->HTTPTest.URL == url) return *M->Hosts().Items(i);
    throw std::runtime_error("no host tests " + url);
  }

  void TearDown() override {
    if (M) M->Shutdown();
  }

  std::unique_ptr<TMonitor> M;
};

TEST_F(WebTestSettings, StatusesFrom200To205AreOnlineAndOthersAreNot) {
  THttpTestServer server(Answer);
  ASSERT_TRUE(server.Start());
  const std::vector<int> statuses = {200, 201, 202, 203, 204, 205, 206, 199, 300, 404};
  std::vector<std::string> urls;
  for (int status : statuses) urls.push_back(server.Url("/status/" + std::to_string(status)));
  Start(urls, "NumPings=2\r\n");
  TestAll();
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    const THost& host = Host(urls[i]);
    const bool success = statuses[i] >= 200 && statuses[i] <= 205;
    EXPECT_EQ(host.Status == StatusOnline, success) << statuses[i] << ": " << host.LastErrorText;
    EXPECT_EQ(host.Successes, success ? 1u : 0u) << statuses[i];
  }
}

TEST_F(WebTestSettings, HTTPTimeoutAndCertExpiryDaysFromTheSettingsFileReachTheTest) {
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "the openssl command is not installed";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  testsupport::TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  // Valid for 30 more days: fine by the default of 14, too soon by the file's 40.
  const auto cert = certs.Server("localhost", 30);
  ASSERT_TRUE(cert.Ok()) << certs.Error();
  THttpTestServer plain(Answer), secure(Answer);
  ASSERT_TRUE(plain.Start());
  ASSERT_TRUE(secure.StartTls(cert.CertFile, cert.KeyFile));
  const std::string hang = plain.Url("/hang");
  const std::string page = "https://localhost:" + std::to_string(secure.Port()) + "/";
  // Without the file's 1 second the silent server would hold the test for 60.
  Start({hang, page}, "HTTPTimeout=1\r\nCertExpiryDays=40\r\n");
  EXPECT_EQ(M->Settings().HTTPTimeout, 1);
  TestAll();
  EXPECT_NE(Host(hang).Status, StatusOnline);
  EXPECT_NE(Host(hang).LastErrorText.find("No answer within 1 seconds"), std::string::npos) << Host(hang).LastErrorText;
  EXPECT_NE(Host(page).Status, StatusOnline);
  const std::string& expiry = Host(page).LastErrorText;
  EXPECT_TRUE(expiry.find("Certificate expires in 29 days") != std::string::npos ||
              expiry.find("Certificate expires in 30 days") != std::string::npos)
      << expiry;
}
