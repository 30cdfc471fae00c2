// The web server against real HTTP exchanges on loopback, with a real monitor for the
// settings, the host list and the trace; the pages behind the routes are scripted so
// that what reaches them can be checked.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/DateTime.h"
#include "common/FileUtils.h"
#include "common/HttpDate.h"
#include "common/SystemInfo.h"
#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "hosttests/TQLHTTPDownload.h"
#include "web/TWebServer.h"
#include "web/WebStandardRoutes.h"
#include "web/TRawClient.h"

namespace {

std::string Basic(const std::string& credentials) {
  return "Authorization: Basic " + TQLHTTPDownload::EncodeBase64(credentials).value_or("") + "\r\n";
}

class WebServerTest : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    Folder = FRoot.Path() + "/site/webserver/";
    ForceDirectories(Folder);
    WriteWholeFile(Folder + "index.html", "<p>index</p>");
    WriteWholeFile(Folder + "style.css", "p { color: green }");
    WriteWholeFile(FRoot.Path() + "/site/outside.css", "secret");
    WriteWholeFile(FRoot.Path() + "/site/outside.html", "secret");
  }
  void TearDown() override {
    if (Server) Server->Stop();
    Server.reset();
    M.reset();
  }

  TWebRoutes Routes() {
    TWebRoutes routes;
    routes.Template = [this](TWebRequest& request, const TWebSite&, const std::string& name, const std::string& extension) {
      std::lock_guard lock(FSeenMutex);
      TemplatesSeen.push_back(name + extension);
      GroupFilterSeen = request.GroupFilter;
      if (name == "flaky" && FlakyFailures-- > 0) {
        request.Status = "500 flaky template";
        return;
      }
      if (name == "broken") {
        request.Status = "500 broken template";
        return;
      }
      request.Status = "200";
      request.ContentType = "text/html";
      request.Body = "page " + name + extension + (request.Client.Mobile ? " mobile" : "");
    };
    routes.Command = [this](TWebRequest& request, const TWebSite& site) {
      CommandEntered = true;
      if (HandOver) RanOnMainThread = site.RunOnMainThread([this] { CommandThread = std::this_thread::get_id(); });
      request.Status = "200";
      request.ContentType = "text/html";
      request.Body = "command done";
    };
    routes.Rdp = [](TWebRequest& request, const TWebSite&, const std::string& name) {
      request.Status = "200";
      request.ContentType = "application/x-rdp";
      request.Body = "rdp " + name;
    };
    routes.IconCount = [] { return 3; };
    routes.Icon = [](TIconKind kind, int n, std::string&) -> std::optional<std::string> {
      return "JPEG " + std::to_string(static_cast<int>(kind)) + " " + std::to_string(n);
    };
    routes.Metrics = [](const TWebSite&) { return std::string("corvale_tests_total 0\n"); };
    return routes;
  }

  void StartServer(TWebServerLimits limits = {}) {
    TWebSite site;
    site.Monitor = M.get();
    site.Folder = Folder;
    site.ProgramStart = EncodeDateTime(2026, 12, 8, 14, 0, 0);
    Server = std::make_unique<TWebServer>(site, Routes(), limits);
    ASSERT_TRUE(Server->Start(0)) << Server->StartError();
    Port = Server->Port();
  }

  void SetPasswords(const std::string& view, const std::string& manage) {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebServerPassword = view;
    M->Settings().WebAdminPassword = manage;
  }

  // One request on its own HTTP/1.0 connection.
  TReply Get(const std::string& path, const std::string& headers = {}, const std::string& method = "GET") {
    TRawClient client(Port);
    client.Send(method + " " + path + " HTTP/1.0\r\n" + headers + "\r\n");
    return client.Read(method == "HEAD");
  }

  std::unique_ptr<TMonitor> M;
  std::unique_ptr<TWebServer> Server;
  std::string Folder;
  int Port = 0;
  std::mutex FSeenMutex;
  std::vector<std::string> TemplatesSeen;
  int GroupFilterSeen = -1;
  int FlakyFailures = 0;
  std::atomic<bool> HandOver{false};  // the command waits for the main thread
  std::atomic<bool> CommandEntered{false};
  std::atomic<bool> RanOnMainThread{false};
  std::thread::id CommandThread;
};

TEST_F(WebServerTest, AccessLevelsForEveryPasswordCombination) {
  StartServer();
  struct TCase {
    const char* View;
    const char* Manage;
    const char* Credentials;  // nullptr: no Authorization header
    const char* Page;         // status of "/index.html"
    const char* Command;      // status of "/command"
  };
  const TCase cases[] = {
      {"", "", nullptr, "200", "401"},
      {"", "", "anyone:", "200", "401"},
      {"", "", "anyone:x'y", "401", "401"},       // a quote refuses
      {"", "", "any\"one:pw", "401", "401"},
      {"", "", ":pw", "401", "401"},              // a password without a user
      {"view", "", nullptr, "401", "401"},
      {"view", "", "u:wrong", "401", "401"},
      {"view", "", "u:view", "200", "200"},       // the only password manages
      {"view", "", "other:view", "200", "200"},   // any user name
      {"view", "", "u:view:more", "200", "200"},  // a password ends at ":"
      {"view", "boss", "u:view", "200", "401"},
      {"view", "boss", "u:boss", "200", "200"},
      {"view", "boss", nullptr, "401", "401"},
      {"view", "boss", "u:nothing", "401", "401"},
      {"", "boss", nullptr, "200", "401"},
      {"", "boss", "u:boss", "200", "200"},
      {"", "boss", "u:wrong", "200", "401"},
  };
  const std::string realm = "Basic realm=\"" + LocalComputerName() + " Corvale\"";
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.View) + "/" + c.Manage + " with " + (c.Credentials ? c.Credentials : "(none)"));
    SetPasswords(c.View, c.Manage);
    const std::string auth = c.Credentials ? Basic(c.Credentials) : std::string();
    const TReply page = Get("/index.html", auth);
    EXPECT_EQ(page.StatusLine.substr(9, 3), c.Page);
    const TReply command = Get("/command", auth);
    EXPECT_EQ(command.StatusLine.substr(9, 3), c.Command);
    if (std::string(c.Command) == "401") {
      EXPECT_EQ(command.StatusLine, "HTTP/1.0 401 Authentication Required");
      EXPECT_EQ(command.Header("WWW-Authenticate"), realm);
      EXPECT_EQ(command.Body, "Error 401: Authentication Required\r\nPage: /command\r\n");
    }
  }
  SetPasswords("", "");
  EXPECT_EQ(Get("/index.html", "Authorization: Basic !!notbase64!!\r\n").StatusLine, "HTTP/1.0 200 OK");
}

TEST_F(WebServerTest, RoutesAndTheResponseFormat) {
  WriteWholeFile(Folder + "status.json", "{}");
  StartServer();

  const TReply robots = Get("/robots.txt");
  EXPECT_EQ(robots.StatusLine, "HTTP/1.0 200 OK");
  EXPECT_EQ(robots.Body, "User-agent: *\r\nDisallow: /\r\n");
  EXPECT_EQ(robots.Header("Content-Type"), "text/plain");
  EXPECT_EQ(robots.Header("Server"), "QLM Corvale 1");
  EXPECT_NE(ParseHttpDate(robots.Header("Date")), -1);
  EXPECT_NE(ParseHttpDate(robots.Header("Last-Modified")), -1);
  EXPECT_NE(std::find(robots.HeaderLines.begin(), robots.HeaderLines.end(), "Cache-control: no-cache"), robots.HeaderLines.end());
  EXPECT_NE(std::find(robots.HeaderLines.begin(), robots.HeaderLines.end(), "Cache-control: must-revalidate"),
            robots.HeaderLines.end());
  EXPECT_EQ(robots.Header("Content-Length"), "28");
  EXPECT_TRUE(robots.Header("Connection").empty());  // HTTP/1.0 closes without saying so
  const std::vector<std::string> steps = M->StatusTrace().Lines();
  EXPECT_TRUE(std::any_of(steps.begin(), steps.end(), [](const std::string& l) { return l.ends_with("WS SendResp"); }))
      << "the server's steps reach the monitor's trace";

  EXPECT_EQ(Get("/").Body, "page index.html");
  EXPECT_EQ(Get("/INDEX.HTML").Body, "page index.html");
  EXPECT_EQ(Get("/Style.CSS").Body, "p { color: green }");
  EXPECT_EQ(Get("/index.html?groupid=4&x=%41").StatusLine, "HTTP/1.0 200 OK");
  EXPECT_EQ(GroupFilterSeen, 4);

  const TReply missing = Get("/missing.html");
  EXPECT_EQ(missing.StatusLine, "HTTP/1.0 404 Not found");
  EXPECT_EQ(missing.Body, "Error 404: Not found\r\nPage: /missing.html\r\n");
  EXPECT_EQ(Get("/file.exe").StatusLine, "HTTP/1.0 404 Not found");
  EXPECT_EQ(Get("/index.html", {}, "POST").StatusLine, "HTTP/1.0 400 Bad Request");
  EXPECT_EQ(Get("/index.html", {}, "DELETE").StatusLine, "HTTP/1.0 400 Bad Request");
  {
    TRawClient client(Port);
    client.Send("GET /index.html FTP/1.0\r\n\r\n");
    EXPECT_EQ(client.Read().StatusLine, "HTTP/1.0 400 Bad Request");
    TRawClient lower(Port);
    lower.Send("GET /index.html http/1.0\r\n\r\n");  // the version's letter case counts
    EXPECT_EQ(lower.Read().StatusLine, "HTTP/1.0 400 Bad Request");
  }
  EXPECT_EQ(Get("/" + std::string(254, 'a') + ".txt").StatusLine, "HTTP/1.0 400 Bad Request");  // 259
  EXPECT_EQ(Get("/" + std::string(250, 'a') + ".txt").StatusLine, "HTTP/1.0 404 Not found");    // 255
  EXPECT_EQ(Get("/" + std::string(250, 'a') + ".txt?" + std::string(300, 'q')).StatusLine, "HTTP/1.0 404 Not found");

  const TReply full = Get("/index.html");
  const TReply head = Get("/index.html", {}, "HEAD");
  EXPECT_EQ(head.StatusLine, "HTTP/1.0 200 OK");
  EXPECT_EQ(head.Header("Content-Length"), full.Header("Content-Length"));
  EXPECT_EQ(head.Header("Content-Type"), "text/html");
  {
    TRawClient client(Port);
    client.Send("HEAD /index.html HTTP/1.0\r\n\r\n");
    client.Read(true);
    EXPECT_TRUE(client.ClosedByServer());  // and no body came before the close
  }

  const TReply manage = Get("/managelogin", "Referer: http://back.example/page\r\n");
  EXPECT_EQ(manage.StatusLine, "HTTP/1.0 401 Authentication Required");
  SetPasswords("", "boss");
  const TReply managed = Get("/managelogin", "Referer: http://back.example/page\r\n" + Basic("u:boss"));
  EXPECT_EQ(managed.StatusLine, "HTTP/1.0 307 ");
  EXPECT_EQ(managed.Header("Location"), "http://back.example/page");
  const TReply logout = Get("/logout?username=someone", "Host: monitor:8080\r\n" + Basic("u:boss"));
  EXPECT_EQ(logout.StatusLine, "HTTP/1.0 307 ");
  EXPECT_EQ(logout.Header("Location"), "http://monitor:8080");
  EXPECT_EQ(Get("/logout?username=u", Basic("u:boss")).StatusLine, "HTTP/1.0 401 Authentication Required");
  EXPECT_EQ(Get("/1234ABCD.rdp", Basic("u:boss")).Body, "rdp 1234ABCD");
  EXPECT_EQ(Get("/1234ABCD.rdp").StatusLine, "HTTP/1.0 401 Authentication Required");
  SetPasswords("", "");

  const TReply json = Get("/status.json");
  EXPECT_EQ(json.Header("Content-Type"), "application/json");
  EXPECT_EQ(json.Body, "page status.json");
  const TReply metrics = Get("/metrics");
  EXPECT_EQ(metrics.Header("Content-Type"), "text/plain; version=0.0.4");
  EXPECT_EQ(metrics.Body, "corvale_tests_total 0\n");
  SetPasswords("view", "");
  EXPECT_EQ(Get("/metrics").StatusLine, "HTTP/1.0 401 Authentication Required");
  EXPECT_EQ(Get("/status.json").StatusLine, "HTTP/1.0 401 Authentication Required");
  SetPasswords("", "");

  // A failing page is built once more; the second answer is the one sent.
  FlakyFailures = 1;
  WriteWholeFile(Folder + "flaky.html", "x");
  EXPECT_EQ(Get("/flaky.html").Body, "page flaky.html");
  WriteWholeFile(Folder + "broken.html", "x");
  const TReply broken = Get("/broken.html");
  EXPECT_EQ(broken.StatusLine, "HTTP/1.0 500 Internal Server Error: broken template");
  EXPECT_EQ(broken.Body, "Error 500: Internal Server Error: broken template\r\nPage: /broken.html\r\n");
}

TEST_F(WebServerTest, MobileBrowsersGroupsAndTheHostHeader) {
  StartServer();
  const std::string blackberry = "user-agent: BlackBerry/9000 Profile/MIDP-2.0\r\n";
  EXPECT_EQ(Get("/", blackberry).Body, "page index.html mobile");  // no mobile page yet
  WriteWholeFile(Folder + "mobile.html", "m");
  {
    TRawClient client(Port);
    client.Send("GET / HTTP/1.0\r\n" + blackberry + "\r\n");
    EXPECT_EQ(client.Read().Body, "page mobile.html mobile");
    EXPECT_TRUE(client.ClosedByServer());
  }
  EXPECT_EQ(Get("/", "User-Agent: mot-v3/1.0\r\n").Body, "page mobile.html mobile");
  EXPECT_EQ(Get("/", "User-Agent: Mozilla/4.0 (compatible; MSIE 4.01; Windows CE; PPC; 240x320)\r\n").Body,
            "page mobile.html mobile");
  EXPECT_EQ(Get("/", "User-Agent: Mozilla/5.0 (X11; Linux x86_64)\r\n").Body, "page index.html");

  // Group rows name the filter by the user or by the folder of the path.
  {
    std::unique_lock lock(M->StateLock());
    THost* group = M->Hosts().Add(M->Hosts().NewRecord(0));
    group->DisplayName = ";Servers";
    group->GroupNumber = 7;
    THost* other = M->Hosts().Add(M->Hosts().NewRecord(0));
    other->DisplayName = ";Web Farm";
    other->GroupNumber = 9;
  }
  Get("/index.html?groupid=3");
  EXPECT_EQ(GroupFilterSeen, 3);
  Get("/index.html", Basic("SERVERS:"));
  EXPECT_EQ(GroupFilterSeen, 7);
  Get("/web%20farm/index.html");
  EXPECT_EQ(GroupFilterSeen, 9);
}

TEST_F(WebServerTest, FilesOnlyFromTheFolderWithConditionalRequests) {
  const TDateTime fileTime = EncodeDateTime(2026, 1, 1, 12, 0, 0);
  StartServer();
  utimbuf times{};
  times.actime = times.modtime = static_cast<time_t>(DateTimeToUnix(fileTime));
  ASSERT_EQ(::utime((Folder + "style.css").c_str(), &times), 0);

  const TReply css = Get("/style.css");
  EXPECT_EQ(css.StatusLine, "HTTP/1.0 200 OK");
  EXPECT_EQ(css.Body, "p { color: green }");
  EXPECT_EQ(css.Header("Content-Type"), "text/css");
  EXPECT_EQ(css.Header("Last-Modified"), HttpDateText(fileTime, true));
  EXPECT_FALSE(css.Header("Expires").empty());

  const TReply same = Get("/style.css", "If-Modified-Since: " + HttpDateText(fileTime, true) + "\r\n");
  EXPECT_EQ(same.StatusLine, "HTTP/1.0 304 Not modified");
  EXPECT_TRUE(same.Body.empty());
  EXPECT_EQ(same.Header("Content-Length"), "0");
  EXPECT_EQ(Get("/style.css", "If-Modified-Since: " + HttpDateText(fileTime - 1, true) + "\r\n").StatusLine,
            "HTTP/1.0 200 OK");
  EXPECT_EQ(Get("/style.css", "If-Modified-Since: yesterday\r\n").StatusLine, "HTTP/1.0 200 OK");

  // Folders in the path never reach the file system, however they are written.
  for (const char* path : {"/../style.css", "/a/b/../../style.css", "/..\\..\\style.css", "/%2e%2e/style.css",
                           "//style.css", "/sub/dir/style.css"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Get(path).Body, "p { color: green }");
  }
  for (const char* path : {"/../outside.css", "/..%2foutside.css", "/%2e%2e%2foutside.css", "/..\\outside.css",
                           "/....//outside.css", "/%2E%2E%5Coutside.css", "/../outside.html", "/..%2foutside.html",
                           "/..%5c..%5coutside.html", "/..", "/.css", "/webserver/../outside.css"}) {
    SCOPED_TRACE(path);
    const TReply reply = Get(path);
    EXPECT_EQ(reply.StatusLine, "HTTP/1.0 404 Not found");
    EXPECT_EQ(reply.Body.find("secret"), std::string::npos);
  }
  {
    std::lock_guard lock(FSeenMutex);
    for (const std::string& name : TemplatesSeen) EXPECT_EQ(name.find_first_of("/\\"), std::string::npos) << name;
  }

  // Generated icons: numbers from 0 to the count less one, a file of the name wins.
  EXPECT_EQ(Get("/hosticon0.jpg").Body, "JPEG 0 0");
  EXPECT_EQ(Get("/largeicon2.jpg").Body, "JPEG 1 2");
  EXPECT_EQ(Get("/SMALLICON1.JPEG").Body, "JPEG 2 1");
  const TReply icon = Get("/hosticon2.jpg");
  EXPECT_EQ(icon.Header("Content-Type"), "image/jpeg");
  EXPECT_EQ(icon.Header("Last-Modified"), HttpDateText(EncodeDateTime(2026, 12, 8, 14, 0, 0), true));
  for (const char* path : {"/hosticon3.jpg", "/hosticon-1.jpg", "/hosticon99999999999.jpg", "/hosticon.jpg",
                           "/hosticonx.jpg", "/othericon1.jpg"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Get(path).StatusLine, "HTTP/1.0 404 Not found");
  }
  EXPECT_EQ(Get("/hosticon1.jpg", "If-Modified-Since: " + HttpDateText(EncodeDateTime(2026, 12, 8, 14, 0, 0), true) + "\r\n")
                .StatusLine,
            "HTTP/1.0 304 Not modified");
  EXPECT_EQ(Get("/hosticon1.jpg", "If-Modified-Since: " + HttpDateText(EncodeDateTime(2026, 12, 8, 13, 0, 0), true) + "\r\n")
                .StatusLine,
            "HTTP/1.0 304 Not modified");
  EXPECT_EQ(Get("/hosticon1.jpg", "If-Modified-Since: " + HttpDateText(EncodeDateTime(2026, 12, 8, 15, 0, 0), true) + "\r\n")
                .StatusLine,
            "HTTP/1.0 200 OK");
  WriteWholeFile(Folder + "hosticon1.jpg", "drawn by hand");
  EXPECT_EQ(Get("/hosticon1.jpg").Body, "drawn by hand");
}

TEST_F(WebServerTest, KeepAliveCloseAndTheHeadBound) {
  StartServer();
  {
    TRawClient client(Port);
    // Two requests in one packet, then a third: one connection answers them all.
    client.Send("GET /robots.txt HTTP/1.1\r\nHost: x\r\n\r\nHEAD /index.html HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.Read().StatusLine, "HTTP/1.1 200 OK");
    const TReply head = client.Read(true);
    EXPECT_EQ(head.StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(head.Header("Content-Length"), "15");
    client.Send("GET /missing.html HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.Read().StatusLine, "HTTP/1.1 404 Not found");
    client.Send("GET /index.html HTTP/1.1\r\nConnection: CLOSE\r\n\r\n");
    const TReply last = client.Read();
    EXPECT_EQ(last.Body, "page index.html");
    EXPECT_EQ(last.Header("Connection"), "close");
    EXPECT_TRUE(client.ClosedByServer());
  }
  {
    TRawClient client(Port);
    client.Send("GET /index.html HTTP/1.1\r\nX-Pad: " + std::string(15000, 'a') + "\r\n\r\n");
    EXPECT_EQ(client.Read().StatusLine, "HTTP/1.1 200 OK");
    client.Send("GET /index.html HTTP/1.1\r\nX-Pad: " + std::string(17000, 'a') + "\r\n\r\n");
    EXPECT_EQ(client.Read().StatusLine, "HTTP/1.1 400 Bad Request");
    EXPECT_TRUE(client.ClosedByServer());
  }
  {
    // A head that never ends is cut at the bound too.
    TRawClient client(Port);
    client.Send("GET /index.html HTTP/1.1\r\nX-Pad: " + std::string(40000, 'a'));
    EXPECT_EQ(client.Read().StatusLine, "HTTP/1.0 400 Bad Request");
    EXPECT_TRUE(client.ClosedByServer());
  }
  {
    TRawClient client(Port);
    client.Send("\r\n\r\n");
    EXPECT_EQ(client.Read().StatusLine, "HTTP/1.0 400 Bad Request");
    EXPECT_TRUE(client.ClosedByServer());
  }
  // The server still serves after all that.
  EXPECT_EQ(Get("/robots.txt").StatusLine, "HTTP/1.0 200 OK");
}

TEST_F(WebServerTest, IdleLimitsCutSlowAndSurplusClients) {
  TWebServerLimits limits;
  limits.Idle = std::chrono::milliseconds(300);
  limits.BusyIdle = std::chrono::milliseconds(0);
  limits.Sweep = std::chrono::milliseconds(20);
  limits.BusyClients = 3;
  limits.MaxClients = 6;
  StartServer(limits);

  // A byte now and then never completes the head and never counts as activity.
  {
    TRawClient slow(Port);
    const std::string head = "GET /index.html HTTP/1.1\r\nX-Pad: " + std::string(16000, 'a');
    std::size_t sent = 0;
    while (sent < head.size() && slow.Send(head.substr(sent, 1))) {
      ++sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(sent, head.size());
    EXPECT_TRUE(slow.ClosedByServer());
  }

  // Beyond the maximum every request is answered "too busy".
  limits.Idle = std::chrono::hours(1);
  limits.BusyIdle = std::chrono::hours(1);
  const auto restart = [this, &limits] {
    Server->Stop();
    Server = std::make_unique<TWebServer>(Server->Site(), Routes(), limits);
    ASSERT_TRUE(Server->Start(0));
    Port = Server->Port();
  };
  restart();
  std::vector<std::unique_ptr<TRawClient>> clients;
  for (int i = 0; i < 7; ++i) {
    clients.push_back(std::make_unique<TRawClient>(Port));
    clients.back()->Send("GET /robots.txt HTTP/1.1\r\n\r\n");
    const TReply reply = clients.back()->Read();
    if (i < 6) {
      EXPECT_EQ(reply.StatusLine, "HTTP/1.1 200 OK") << i;
    } else {
      EXPECT_EQ(reply.StatusLine, "HTTP/1.1 500 Server too busy - try again later");
      EXPECT_EQ(reply.Body, "Error 500-13: Server too busy - try again later\r\nPage: /robots.txt\r\n");
    }
  }

  // Beyond the busy count a client answered gets the short limit; the first keep theirs.
  limits.BusyIdle = std::chrono::milliseconds(0);
  restart();
  clients.clear();
  for (int i = 0; i < 5; ++i) {
    clients.push_back(std::make_unique<TRawClient>(Port));
    clients.back()->Send("GET /robots.txt HTTP/1.1\r\n\r\n");
    EXPECT_EQ(clients.back()->Read().StatusLine, "HTTP/1.1 200 OK") << i;
  }
  EXPECT_TRUE(clients[3]->ClosedByServer());
  EXPECT_TRUE(clients[4]->ClosedByServer());
  clients[0]->Send("GET /robots.txt HTTP/1.1\r\n\r\n");
  EXPECT_EQ(clients[0]->Read().StatusLine, "HTTP/1.1 200 OK");
}

TEST_F(WebServerTest, TheHundredAndFirstClientIsTooBusy) {
  StartServer();
  std::vector<std::unique_ptr<TRawClient>> clients;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<TRawClient>(Port));
    clients.back()->Send("GET /robots.txt HTTP/1.1\r\n\r\n");
    ASSERT_EQ(clients.back()->Read().StatusLine, "HTTP/1.1 200 OK") << i;
  }
  TRawClient last(Port);
  last.Send("GET /robots.txt HTTP/1.1\r\n\r\n");
  EXPECT_EQ(last.Read().StatusLine, "HTTP/1.1 500 Server too busy - try again later");
  clients.pop_back();
  // One fewer and the same connection is served again (the server may see the close
  // only after this request, so it asks until it is).
  std::string status;
  for (int tries = 0; tries < 1000 && status != "HTTP/1.1 200 OK"; ++tries) {
    last.Send("GET /robots.txt HTTP/1.1\r\n\r\n");
    status = last.Read().StatusLine;
  }
  EXPECT_EQ(status, "HTTP/1.1 200 OK");
}

TEST_F(WebServerTest, StopReleasesARequestWaitingForTheMainThread) {
  StartServer();
  HandOver = true;
  SetPasswords("", "boss");
  // The main thread answers the hand-over while it runs its event loop...
  std::thread first([this] { EXPECT_EQ(Get("/command", Basic("u:boss")).Body, "command done"); });
  while (!CommandEntered) QCoreApplication::processEvents();
  while (!RanOnMainThread) QCoreApplication::processEvents();
  first.join();
  EXPECT_EQ(CommandThread, std::this_thread::get_id());

  // ...and a stop while it does not answer lets the waiting request go.
  CommandEntered = false;
  RanOnMainThread = true;
  CommandThread = {};
  std::thread second([this] { Get("/command", Basic("u:boss")); });
  while (!CommandEntered) std::this_thread::yield();
  Server->Stop();
  second.join();
  EXPECT_FALSE(RanOnMainThread);
  QCoreApplication::processEvents();
  EXPECT_EQ(CommandThread, std::thread::id());  // the cancelled work never runs
}

TEST_F(WebServerTest, TheDefaultPagesThroughTheStandardRoutes) {
  for (const auto& entry : std::filesystem::directory_iterator(testsupport::SourceDir() + "/webserver"))
    std::filesystem::copy_file(entry.path(), Folder + entry.path().filename().string(),
                               std::filesystem::copy_options::overwrite_existing);
  {
    std::unique_lock lock(M->StateLock());
    for (const char* name : {"Router \"core\" \\ main", "Files\x01\tserver \xe9t\xe9"}) {
      auto record = M->Hosts().NewRecord(FClock.Now());
      record->DisplayName = name;
      record->Address = "127.0.0.1";
      M->Hosts().Add(std::move(record));
    }
  }
  TWebSite site;
  site.Monitor = M.get();
  site.Folder = Folder;
  Server = std::make_unique<TWebServer>(site, StandardWebRoutes());
  ASSERT_TRUE(Server->Start(0));
  Port = Server->Port();

  const TReply index = Get("/");
  EXPECT_EQ(index.StatusLine, "HTTP/1.0 200 OK");
  EXPECT_EQ(index.Header("Content-Type"), "text/html");
  EXPECT_NE(index.Body.find("Router"), std::string::npos);
  EXPECT_EQ(Get("/corvale.css").Header("Content-Type"), "text/css");

  const TReply json = Get("/status.json");
  EXPECT_EQ(json.Header("Content-Type"), "application/json");
  const std::string jsonFile = FRoot.Path() + "/status.json";
  WriteWholeFile(jsonFile, json.Body);
  EXPECT_EQ(std::system(("python3 -c 'import json,sys; d=json.load(open(sys.argv[1],encoding=\"utf-8\")); "
                         "sys.exit(0 if len(d[\"hosts\"]) == 2 else 3)' " + jsonFile).c_str()),
            0)
      << json.Body;

  const TReply metrics = Get("/metrics");
  EXPECT_EQ(metrics.Header("Content-Type"), "text/plain; version=0.0.4");
  EXPECT_NE(metrics.Body.find("corvale_host_status{"), std::string::npos);

  const TReply icon = Get("/hosticon0.jpg");
  EXPECT_EQ(icon.Header("Content-Type"), "image/jpeg");
  ASSERT_GE(icon.Body.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(icon.Body[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(icon.Body[1]), 0xD8);
  EXPECT_EQ(Get("/smallicon" + std::to_string(StatusIconCount()) + ".jpg").StatusLine, "HTTP/1.0 404 Not found");
  EXPECT_EQ(Get("/smallicon" + std::to_string(StatusIconCount() - 1) + ".jpg").StatusLine, "HTTP/1.0 200 OK");
  EXPECT_EQ(Get("/command?hostid=00000001&cmd=1").StatusLine, "HTTP/1.0 401 Authentication Required");
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

TEST_F(WebServerTest, TheMonitorStartsRestartsAndStopsItsServer) {
  TWebSite site;
  site.Monitor = M.get();
  site.Folder = Folder;
  TWebServer server(site, Routes());
  M->SetWebServer(&server);
  const int first = FreePort();
  {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebServerPort = first;
  }
  M->ApplyWebServerPort();
  ASSERT_TRUE(server.Running());
  EXPECT_EQ(server.Port(), first);
  Port = first;
  EXPECT_EQ(Get("/robots.txt").StatusLine, "HTTP/1.0 200 OK");

  const int second = FreePort();
  {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebServerPort = second;
  }
  M->ApplyWebServerPort();
  EXPECT_EQ(server.Port(), second);
  Port = second;
  EXPECT_EQ(Get("/robots.txt").StatusLine, "HTTP/1.0 200 OK");
  EXPECT_FALSE(TRawClient(first).Connected);

  // A port that is taken is logged.
  const int taken = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_any;
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::listen(taken, 1);
  socklen_t length = sizeof address;
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);
  const int takenPort = ntohs(address.sin6_port);
  {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebServerPort = takenPort;
  }
  M->ApplyWebServerPort();
  EXPECT_FALSE(server.Running());
  EXPECT_TRUE(HasLine(*M, "Unable to start the web server on port " + std::to_string(takenPort), 'E'));
  ::close(taken);

  {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebServerPort = 0;
  }
  M->ApplyWebServerPort();
  EXPECT_FALSE(server.Running());
  M->SetWebServer(nullptr);
}

}  // namespace
