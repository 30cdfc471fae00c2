// The web server against clients that do not play by the rules, on loopback: requests
// pipelined by a client that never reads, heads that never end, more clients than the
// server takes, hosts actions asked for by other sites, header values with line breaks;
// and the kept host rows of the real pages after a change batch.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/FileUtils.h"
#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "core/THostChanges.h"
#include "hosttests/TQLHTTPDownload.h"
#include "web/TRawClient.h"
#include "web/TWebServer.h"
#include "web/WebStandardRoutes.h"

namespace {

class WebHardeningTest : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    Folder = FRoot.Path() + "/site/webserver/";
    ForceDirectories(Folder);
    WriteWholeFile(Folder + "index.html", "<p>index</p>");
  }
  void TearDown() override {
    if (Server) Server->Stop();
    Server.reset();
    M.reset();
  }

  // Pages of pageBytes; every answer built is counted.
  TWebRoutes CountingRoutes(std::size_t pageBytes) {
    TWebRoutes routes = StandardWebRoutes();
    routes.Template = [this, pageBytes](TWebRequest& request, const TWebSite&, const std::string&, const std::string&) {
      ++Answers;
      request.Status = "200";
      request.ContentType = "text/html";
      request.Body.assign(pageBytes, 'x');
    };
    return routes;
  }

  void Start(TWebServerLimits limits, TWebRoutes routes) {
    TWebSite site;
    site.Monitor = M.get();
    site.Folder = Folder;
    site.RunOnMainThread = [](std::function<void()> work) {
      work();
      return true;
    };
    Server = std::make_unique<TWebServer>(site, std::move(routes), limits);
    ASSERT_TRUE(Server->Start(0)) << Server->StartError();
    Port = Server->Port();
  }

  TReply Get(const std::string& path, const std::string& headers = {}, const char* from = nullptr) {
    TRawClient client(Port, from);
    client.Send("GET " + path + " HTTP/1.0\r\n" + headers + "\r\n");
    return client.Read();
  }

  std::unique_ptr<TMonitor> M;
  std::unique_ptr<TWebServer> Server;
  std::string Folder;
  int Port = 0;
  std::atomic<int> Answers{0};
};

// 2,000 pipelined requests from each of three clients that never read: answers are built
// only while few of them wait unsent, per client and for all together; the others wait
// in the sockets. A browser is served meanwhile, and the readers get every answer once
// they read.
TEST_F(WebHardeningTest, PipelinedRequestsOfAClientThatDoesNotReadWaitInTheSocket) {
  TWebServerLimits limits;
  limits.MaxUnsent = 256 * 1024;
  limits.MaxUnsentTotal = 512 * 1024;
  constexpr std::size_t Page = 32 * 1024;
  Start(limits, CountingRoutes(Page));
  std::string burst;
  for (int i = 0; i < 2000; ++i) burst += "GET /index.html HTTP/1.1\r\n\r\n";
  std::vector<std::unique_ptr<TRawClient>> readers;
  for (int c = 0; c < 3; ++c) {
    readers.push_back(std::make_unique<TRawClient>(Port, nullptr, 16384));
    std::thread([client = readers.back().get(), &burst] { client->Send(burst); }).detach();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const int built = Answers.load();
  // What the sockets hold besides the bound is the kernel's: a few MB on loopback.
  EXPECT_LT(built, 400) << "answers built for requests nobody reads";
  EXPECT_EQ(Get("/robots.txt").StatusLine, "HTTP/1.0 200 OK");

  std::size_t received = 0;
  readers[0]->SetReadLimit(2000);
  while (received < 2000 * Page) {
    const std::size_t got = readers[0]->Drain();
    if (got == 0) break;
    received += got;
  }
  EXPECT_GE(received, 2000 * Page);
}

// A head sent a byte at a time ends at its own limit though the idle limit is long; with
// the house full of such clients a browser still gets its page (the oldest unfinished
// one goes), clients that never send get the short limit once there are many, and one
// address may hold only so many connections.
TEST_F(WebHardeningTest, SlowHeadsAndCrowdsDoNotShutOutABrowser) {
  TWebServerLimits limits;
  limits.Idle = std::chrono::hours(1);
  limits.BusyIdle = std::chrono::hours(1);
  limits.HeadTime = std::chrono::milliseconds(300);
  limits.Sweep = std::chrono::milliseconds(20);
  limits.BusyClients = 3;
  limits.MaxClients = 6;
  limits.MaxPerPeer = 4;
  Start(limits, StandardWebRoutes());

  {
    TRawClient slow(Port);
    const std::string head = "GET /robots.txt HTTP/1.1\r\nX-Pad: " + std::string(2000, 'a');
    std::size_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    while (sent < head.size() && slow.Send(head.substr(sent, 1)) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
      ++sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_LT(sent, head.size());
    EXPECT_TRUE(slow.ClosedByServer());
  }

  limits.HeadTime = std::chrono::hours(1);
  Server->Stop();
  Start(limits, StandardWebRoutes());
  const char* peers[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7"};
  std::vector<std::unique_ptr<TRawClient>> crowd;
  for (const char* peer : peers) {
    crowd.push_back(std::make_unique<TRawClient>(Port, peer));
    crowd.back()->Send("GET /robots.txt HTTP/1.1\r\nX-Slow: ");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(Get("/robots.txt").StatusLine, "HTTP/1.0 200 OK");
  crowd[0]->SetReadLimit(2000);
  EXPECT_TRUE(crowd[0]->ClosedByServer()) << "the oldest unfinished head makes room";

  // Beyond the busy count, clients that never sent a whole request get the short limit.
  limits.BusyIdle = std::chrono::milliseconds(50);
  Server->Stop();
  crowd.clear();
  Start(limits, StandardWebRoutes());
  std::vector<std::unique_ptr<TRawClient>> answered, silent;
  for (int i = 0; i < 2; ++i) {
    answered.push_back(std::make_unique<TRawClient>(Port, peers[i]));
    answered.back()->Send("GET /robots.txt HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answered.back()->Read().StatusLine, "HTTP/1.1 200 OK");
  }
  for (int i = 2; i < 5; ++i) silent.push_back(std::make_unique<TRawClient>(Port, peers[i]));
  for (auto& client : silent) {
    client->SetReadLimit(3000);
    EXPECT_TRUE(client->ClosedByServer());
  }
  answered[0]->Send("GET /robots.txt HTTP/1.1\r\n\r\n");
  EXPECT_EQ(answered[0]->Read().StatusLine, "HTTP/1.1 200 OK") << "a client that was answered keeps its limit";

  // One address, four connections.
  limits.BusyClients = 50;
  limits.MaxClients = 100;
  Server->Stop();
  answered.clear();
  silent.clear();
  Start(limits, StandardWebRoutes());
  std::vector<std::unique_ptr<TRawClient>> same;
  for (int i = 0; i < 4; ++i) same.push_back(std::make_unique<TRawClient>(Port, "127.0.0.9"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  TRawClient fifth(Port, "127.0.0.9");
  fifth.SetReadLimit(2000);
  EXPECT_TRUE(fifth.ClosedByServer());
  EXPECT_EQ(Get("/robots.txt", {}, "127.0.0.10").StatusLine, "HTTP/1.0 200 OK");
}

// A manager's browser on another site's page must not act on hosts; Corvale's own links
// and requests that say nothing of where they come from do.
TEST_F(WebHardeningTest, HostActionsAskedForByAnotherSiteAreRefused) {
  {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebServerPassword = "pw";
  }
  Start({}, StandardWebRoutes());
  WriteWholeFile(Folder + "message.html", "%message%");
  const std::string manager = "Authorization: Basic " + TQLHTTPDownload::EncodeBase64("admin:pw").value_or("") + "\r\n";
  const std::string own = "127.0.0.1:" + std::to_string(Port);
  const struct {
    std::string Headers;
    const char* Status;
  } cases[] = {
      {"", "HTTP/1.0 200 OK"},
      {"Sec-Fetch-Site: same-origin\r\nReferer: http://" + own + "/index.html\r\n", "HTTP/1.0 200 OK"},
      {"Sec-Fetch-Site: none\r\n", "HTTP/1.0 200 OK"},
      {"Origin: http://" + own + "\r\n", "HTTP/1.0 200 OK"},
      {"Referer: HTTP://" + own + "/index.html?x=1\r\n", "HTTP/1.0 200 OK"},
      {"Sec-Fetch-Site: cross-site\r\n", "HTTP/1.0 403 Forbidden"},
      {"Origin: http://evil.example\r\n", "HTTP/1.0 403 Forbidden"},
      {"Origin: null\r\n", "HTTP/1.0 403 Forbidden"},
      {"Referer: http://evil.example/page.html\r\n", "HTTP/1.0 403 Forbidden"},
      {"Referer: http://" + own + ".evil.example/\r\n", "HTTP/1.0 403 Forbidden"},
      {"Origin: http://127.0.0.1:1\r\n", "HTTP/1.0 403 Forbidden"},
  };
  for (const auto& c : cases) {
    const TReply reply = Get("/command?command=4&hostid=0", manager + "Host: " + own + "\r\n" + c.Headers);
    EXPECT_EQ(reply.StatusLine, c.Status) << c.Headers;
    if (std::string(c.Status).find("403") != std::string::npos) {
      EXPECT_NE(reply.Body.find("another site"), std::string::npos) << reply.Body;
    }
  }
}

// Line breaks of a request never reach a response header; what programs read for the
// state now is never cached.
TEST_F(WebHardeningTest, HeadersCarryNoLineBreaksAndStateIsNotCached) {
  {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebServerPassword = "pw";
  }
  Start({}, StandardWebRoutes());
  const std::string manager = "Authorization: Basic " + TQLHTTPDownload::EncodeBase64("admin:pw").value_or("") + "\r\n";
  WriteWholeFile(Folder + "status.json", "{}");
  const TReply logout = Get("/logout?username=x", manager + "Host: a\rSet-Cookie: b=1\r\n");
  EXPECT_EQ(logout.StatusLine, "HTTP/1.0 307 ");
  EXPECT_EQ(logout.Header("Location"), "http://aSet-Cookie: b=1");
  EXPECT_EQ(logout.Header("Set-Cookie"), "");
  for (const std::string& line : logout.HeaderLines) EXPECT_EQ(line.find('\r'), std::string::npos) << line;
  const TReply login = Get("/managelogin", manager + "Referer: http://x/\rLocation: http://evil/\r\n");
  EXPECT_EQ(login.Header("Location"), "http://x/Location: http://evil/");

  for (const char* path : {"/status.json", "/metrics"}) {
    const TReply reply = Get(path, manager);
    EXPECT_EQ(reply.StatusLine, "HTTP/1.0 200 OK") << path;
    EXPECT_EQ(reply.Header("Cache-control"), "must-revalidate") << path;
    EXPECT_EQ(reply.Header("Expires"), reply.Header("Date")) << path;
  }
}

// The real pages keep each host's row: a host named in a change batch shows its new
// state at once; one whose record changed without a batch keeps its row for a while.
TEST_F(WebHardeningTest, KeptRowsAreMadeAgainForTheHostsOfAChangeBatch) {
  WriteWholeFile(Folder + "rows.txt", "<starthost>%displayname%=%error%;</starthost>");
  THost& told = InsertTestHost(*M, "told", "127.0.0.1", StatusOnline);
  THost& silent = InsertTestHost(*M, "silent", "127.0.0.1", StatusOnline);
  M->Changes().Flush();
  Start({}, StandardWebRoutes());
  EXPECT_EQ(Get("/rows.txt").Body, "told=;silent=;");
  {
    std::unique_lock lock(M->StateLock());
    told.LastErrorText = "new";
    silent.LastErrorText = "unseen";
  }
  M->HostChanged(told, "test");
  M->Changes().Flush();
  EXPECT_EQ(Get("/rows.txt").Body, "told=new;silent=;");
  M->Changes().Rebuilt();
  emit M->Changes().HostListRebuilt();
  EXPECT_EQ(Get("/rows.txt").Body, "told=new;silent=unseen;") << "a new list makes every row again";
}

}  // namespace
