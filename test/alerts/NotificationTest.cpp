// HTTP notifications of hosts that go down and come back, sent to a loopback server that
// records what it is sent: the form fields arrive with the host's variables filled in,
// and the end of each is logged for the host with the URL of the request that was sent.
#include <QCoreApplication>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "alerts/TAlerts.h"
#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "hosttests/TQLHTTPDownload.h"
#include "support/THttpTestServer.h"

using testsupport::THttpConnection;
using testsupport::THttpTestServer;

namespace {

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(fd);
  return ntohs(sa.sin_port);
}

}  // namespace

class Notification : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
    M->Settings().HTTPTimeout = 30;
    Server = std::make_unique<THttpTestServer>([this](THttpConnection& c) {
      if (c.Request().Target.rfind("/held", 0) == 0) {
        std::unique_lock<std::mutex> guard(Lock);
        Released.wait(guard, [this] { return Release; });
      }
      c.Send(THttpTestServer::Response(200, "OK"));
    });
    ASSERT_TRUE(Server->Start());
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> guard(Lock);
      Release = true;
    }
    Released.notify_all();
    M.reset();
    A.reset();
  }

  THost& Add(const std::string& name) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = "192.0.2.7";
    return *M->Hosts().Add(std::move(record));
  }

  void Down(THost& host) { M->UpdateHostStatus(TTestResult{host.ID, false, true, 0, {}, "down", {}}); }
  void Up(THost& host) { M->UpdateHostStatus(TTestResult{host.ID, true, false, 1, {}, {}, {}}); }

  bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  bool Running(const std::string& name) {
    for (const TRunningTask& t : M->RunningTests())
      if (t.Name == name) return true;
    return false;
  }

  int CountLines(const std::string& text) {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines()) n += l.Text.find(text) != std::string::npos;
    return n;
  }

  std::unique_ptr<TAlerts> A;
  std::unique_ptr<TMonitor> M;
  std::unique_ptr<THttpTestServer> Server;
  std::mutex Lock;
  std::condition_variable Released;
  bool Release = false;
};

TEST_F(Notification, FieldsArriveExpandedAndEachEndIsLoggedWithItsURL) {
  THost& host = Add("web & co");
  host.OfflineNotify = host.OnlineNotify = true;
  host.OfflineNotification.URL = Server->Url("/down");
  host.OfflineNotification.Post = true;
  host.OfflineNotification.Variables = "host=%host%\xFFname=%DisplayName%\xFF\xFFport=%port% (%host%)";
  const std::string upURL = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/up";
  host.OnlineNotification.URL = upURL;
  host.OnlineNotification.Variables = "id=%id%";

  Down(host);
  EXPECT_TRUE(Running("HTTP Down Alert web & co"));
  ASSERT_TRUE(WaitFor([&] { return CountLines("HTTP Notification") == 1; }));
  EXPECT_TRUE(HasLine(*M, "HTTP Notification Sent Using: " + Server->Url("/down"), 'M'));
  EXPECT_FALSE(Running("HTTP Down Alert web & co"));
  const auto requests = Server->Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Method, "POST");
  EXPECT_EQ(requests[0].Body, TQLHTTPDownload::EncodeQuery({"host=192.0.2.7", "name=web & co", "port=--- (192.0.2.7)"}));
  EXPECT_EQ(host.OfflineNotification.Variables, "host=%host%\xFFname=%DisplayName%\xFF\xFFport=%port% (%host%)")
      << "the host keeps its request as written";

  // The online notification fails: its own URL is logged, with the error.
  Up(host);
  EXPECT_TRUE(Running("HTTP Up Alert web & co"));
  ASSERT_TRUE(WaitFor([&] { return CountLines("HTTP Notification") == 2; }));
  EXPECT_EQ(CountLines("\tHTTP Notification Failed, URL: " + upURL + ", Error: "), 1);
  EXPECT_FALSE(Running("HTTP Up Alert web & co"));
  EXPECT_EQ(Server->Requests().size(), 1u);

  // A GET carries the fields in its query; a request without an address sends nothing.
  host.OnlineNotification.URL = Server->Url("/up");
  host.OfflineNotification.URL.clear();
  Down(host);
  Up(host);
  ASSERT_TRUE(WaitFor([&] { return CountLines("HTTP Notification") == 3; }));
  ASSERT_EQ(Server->Requests().size(), 2u);
  EXPECT_EQ(Server->Requests()[1].Method, "GET");
  char id[16];
  std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(host.ID));
  EXPECT_EQ(Server->Requests()[1].Target, std::string("/up?id=") + id);
  EXPECT_TRUE(HasLine(*M, "HTTP Notification Sent Using: " + Server->Url("/up"), 'M'));
}

TEST_F(Notification, HostGoneBeforeTheEndLogsNothing) {
  THost& host = Add("gone");
  host.OfflineNotify = true;
  host.OfflineNotification.URL = Server->Url("/held");
  Down(host);
  ASSERT_TRUE(WaitFor([&] { return Server->Requests().size() == 1; }));
  M->RemoveHost(M->Hosts().IndexOf(&host));
  {
    std::lock_guard<std::mutex> guard(Lock);
    Release = true;
  }
  Released.notify_all();
  ASSERT_TRUE(WaitFor([&] { return !Running("HTTP Down Alert gone"); }));
  EXPECT_EQ(CountLines("HTTP Notification"), 0);
}
