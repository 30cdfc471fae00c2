// The web interface under load: wrk against Corvale's web server (one thread) on a monitor
// of loopback ping hosts, and against nginx (one worker, our own process on loopback with
// a temporary configuration) serving the same rendered page and the same static file in
// the same run. Meanwhile the main thread runs a scheduler pass every 100 ms beside the
// monitor's own timer; the longest of them says whether the web load disturbs the test
// rhythm.
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "BenchMonitor.h"
#include "common/Clock.h"
#include "web/TWebRowCache.h"
#include "web/TWebServer.h"
#include "web/WebTemplate.h"
#include "web/WebStandardRoutes.h"

namespace {

int Hosts = 1000;
int Seconds = 10;
int Connections = 20;

int FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t length = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(s);
  return ntohs(a.sin_port);
}

// The body of one HTTP/1.0 GET on loopback.
std::string Fetch(int port, const std::string& path) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
    if (::send(s, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
      char buffer[65536];
      ssize_t n;
      while ((n = ::recv(s, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(s);
  const auto body = reply.find("\r\n\r\n");
  return body == std::string::npos ? std::string() : reply.substr(body + 4);
}

struct TWrkRun {
  double RequestsPerSecond = 0;
  double LongestPassMs = 0;
  std::string Errors;
};

// wrk for Seconds against the URL while the main thread keeps serving the monitor and
// times a scheduler pass every 100 ms.
TWrkRun RunWrk(TMonitor& m, int port, const std::string& path) {
  TWrkRun run;
  QProcess wrk;
  QEventLoop loop;
  QObject::connect(&wrk, &QProcess::finished, &loop, &QEventLoop::quit);
  QTimer passes;
  QObject::connect(&passes, &QTimer::timeout, [&] {
    const auto start = std::chrono::steady_clock::now();
    m.Timer1Timer();
    run.LongestPassMs = std::max(
        run.LongestPassMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  });
  passes.start(100);
  wrk.start("wrk", {"-t1", "-c" + QString::number(Connections), "-d" + QString::number(Seconds) + "s",
                    QString::fromStdString("http://127.0.0.1:" + std::to_string(port) + path)});
  if (wrk.waitForStarted()) loop.exec();
  passes.stop();
  const std::string out = wrk.readAllStandardOutput().toStdString();
  std::smatch match;
  if (std::regex_search(out, match, std::regex(R"(Requests/sec:\s+([0-9.]+))")))
    run.RequestsPerSecond = std::stod(match[1].str());
  if (std::regex_search(out, match, std::regex(R"(Non-2xx or 3xx responses: \d+)"))) run.Errors = match[0].str();
  if (run.RequestsPerSecond == 0) run.Errors = out + wrk.readAllStandardError().toStdString();
  return run;
}

void BM_WebServer(benchmark::State& state) {
  if (QStandardPaths::findExecutable("wrk").isEmpty() || QStandardPaths::findExecutable("nginx", {"/usr/sbin"}).isEmpty()) {
    state.SkipWithError("needs wrk and nginx (scripts/install-deps.sh)");
    return;
  }
  for (auto _ : state) {
    TClock clock;
    benchmonitor::TBenchMonitor bench(clock, Hosts, 1.0);
    TMonitor& m = bench.Monitor();

    TWebSite site;
    site.Monitor = &m;
    site.Folder = std::string(CORVALE_SOURCE_DIR) + "/webserver/";
    site.ProgramStart = clock.Now();
    TWebServer server(site, StandardWebRoutes());
    if (!server.Start(FreeLoopbackPort())) {
      state.SkipWithError(server.StartError().c_str());
      return;
    }

    // nginx gets the page as Corvale renders it now, and the same stylesheet.
    benchmonitor::TBenchFolder nginxFolder;
    const std::string root = nginxFolder.File("root");
    std::filesystem::create_directories(root);
    const std::string page = Fetch(server.Port(), "/index.html");
    std::ofstream(root + "/index.html", std::ios::binary) << page;
    std::filesystem::copy_file(site.Folder + "corvale.css", root + "/corvale.css");
    const int nginxPort = FreeLoopbackPort();
    std::ofstream(nginxFolder.File("nginx.conf"))
        << "daemon off;\nmaster_process off;\nworker_processes 1;\nuser root;\n"
        << "pid " << nginxFolder.File("nginx.pid") << ";\nerror_log " << nginxFolder.File("error.log") << ";\n"
        << "events { worker_connections 256; }\nhttp {\n  access_log off;\n"
        << "  client_body_temp_path " << nginxFolder.File("tmp") << ";\n"
        << "  default_type text/html;\n"
        << "  server { listen 127.0.0.1:" << nginxPort << "; root " << root << "; }\n}\n";
    QProcess nginx;
    nginx.start("/usr/sbin/nginx", {"-c", QString::fromStdString(nginxFolder.File("nginx.conf")), "-p",
                                    QString::fromStdString(nginxFolder.File(""))});
    nginx.waitForStarted();
    for (int tries = 0; tries < 100 && Fetch(nginxPort, "/corvale.css").empty(); ++tries) ::usleep(20000);

    const TWrkRun index = RunWrk(m, server.Port(), "/index.html");
    const TWrkRun json = RunWrk(m, server.Port(), "/status.json");
    const TWrkRun metrics = RunWrk(m, server.Port(), "/metrics");
    const TWrkRun file = RunWrk(m, server.Port(), "/corvale.css");
    const TWrkRun nginxIndex = RunWrk(m, nginxPort, "/index.html");
    const TWrkRun nginxFile = RunWrk(m, nginxPort, "/corvale.css");
    nginx.kill();
    nginx.waitForFinished();

    const std::pair<const char*, const TWrkRun*> runs[] = {{"index", &index}, {"json", &json},
                                                           {"metrics", &metrics}, {"file", &file},
                                                           {"nginx index", &nginxIndex}, {"nginx file", &nginxFile}};
    for (const auto& [name, r] : runs)
      if (!r->Errors.empty()) std::fprintf(stderr, "wrk %s: %s\n", name, r->Errors.c_str());
    if (!metrics.Errors.empty()) std::fprintf(stderr, "/metrics: %s\n", Fetch(server.Port(), "/metrics").substr(0, 200).c_str());
    server.Stop();
    state.counters["hosts"] = Hosts;
    state.counters["page_kb"] = static_cast<double>(page.size()) / 1024.0;
    state.counters["index_rps"] = index.RequestsPerSecond;
    state.counters["json_rps"] = json.RequestsPerSecond;
    state.counters["metrics_rps"] = metrics.RequestsPerSecond;
    state.counters["file_rps"] = file.RequestsPerSecond;
    state.counters["nginx_index_rps"] = nginxIndex.RequestsPerSecond;
    state.counters["nginx_file_rps"] = nginxFile.RequestsPerSecond;
    state.counters["file_ratio"] = nginxFile.RequestsPerSecond > 0 ? file.RequestsPerSecond / nginxFile.RequestsPerSecond : 0;
    state.counters["index_ratio"] =
        nginxIndex.RequestsPerSecond > 0 ? index.RequestsPerSecond / nginxIndex.RequestsPerSecond : 0;
    state.counters["longest_pass_ms"] =
        std::max({index.LongestPassMs, json.LongestPassMs, metrics.LongestPassMs, file.LongestPassMs});
  }
}
BENCHMARK(BM_WebServer)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// A loopback client socket from the address given, non-blocking once connected.
int ConnectFrom(int port, const char* from, int receiveBuffer = 0) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (receiveBuffer > 0) ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in source{};
  source.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &source.sin_addr);
  ::bind(s, reinterpret_cast<sockaddr*>(&source), sizeof source);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
  return s;
}

double ResidentMB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

// The web server under attack while a browser-like client loads "index.html" every
// 200 ms on a connection of its own: 100 clients (each from its own loopback address)
// that send their request head a byte every 500 ms and come back when closed, and one
// client that pipelines 10,000 requests for the page and never reads. The browser's page
// latency and the process's resident memory over the run.
void BM_WebUnderAttack(benchmark::State& state) {
  for (auto _ : state) {
    TClock clock;
    benchmonitor::TBenchMonitor bench(clock, Hosts, 1.0);
    TMonitor& m = bench.Monitor();
    TWebSite site;
    site.Monitor = &m;
    site.Folder = std::string(CORVALE_SOURCE_DIR) + "/webserver/";
    site.ProgramStart = clock.Now();
    TWebServer server(site, StandardWebRoutes());
    if (!server.Start(FreeLoopbackPort())) {
      state.SkipWithError(server.StartError().c_str());
      return;
    }
    const int port = server.Port();
    Fetch(port, "/index.html");
    const double rssBefore = ResidentMB();
    std::atomic<bool> stop{false};
    std::atomic<double> rssPeak{rssBefore};

    std::thread slow([&] {
      std::vector<int> sockets(100, -1);
      std::vector<std::string> addresses;
      for (int i = 0; i < 100; ++i) addresses.push_back("127.0.1." + std::to_string(i + 1));
      while (!stop) {
        for (int i = 0; i < 100; ++i) {
          if (sockets[i] < 0) sockets[i] = ConnectFrom(port, addresses[i].c_str());
          if (sockets[i] < 0) continue;
          char sink[256];
          if (::recv(sockets[i], sink, sizeof sink, 0) == 0 ||
              ::send(sockets[i], "G", 1, MSG_NOSIGNAL) < 0) {
            ::close(sockets[i]);
            sockets[i] = -1;
          }
        }
        for (int t = 0; t < 10 && !stop; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      for (const int s : sockets)
        if (s >= 0) ::close(s);
    });
    std::thread pipeline([&] {
      std::string burst;
      for (int i = 0; i < 10000; ++i) burst += "GET /index.html HTTP/1.1\r\nHost: x\r\n\r\n";
      const int s = ConnectFrom(port, "127.0.2.1", 4096);
      std::size_t sent = 0;
      while (!stop && s >= 0) {
        if (sent < burst.size()) {
          const ssize_t n = ::send(s, burst.data() + sent, burst.size() - sent, MSG_NOSIGNAL);
          if (n > 0) sent += static_cast<std::size_t>(n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (s >= 0) ::close(s);
    });

    std::vector<double> latencies;
    int failures = 0;
    std::thread browser([&] {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
      while (std::chrono::steady_clock::now() < end) {
        const auto start = std::chrono::steady_clock::now();
        const std::string body = Fetch(port, "/index.html");
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (body.find("</html>") == std::string::npos) ++failures;
        else latencies.push_back(ms);
        rssPeak = std::max(rssPeak.load(), ResidentMB());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      stop = true;
    });
    // The main thread goes on serving the monitor (its timers, the change batches).
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (stop) loop.quit();
    });
    poll.start(50);
    loop.exec();
    browser.join();
    slow.join();
    pipeline.join();
    server.Stop();
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
      return latencies.empty() ? 0.0 : latencies[std::min(latencies.size() - 1, static_cast<std::size_t>(q * latencies.size()))];
    };
    state.counters["hosts"] = Hosts;
    state.counters["pages"] = static_cast<double>(latencies.size());
    state.counters["failed_pages"] = failures;
    state.counters["page_p50_ms"] = at(0.5);
    state.counters["page_p99_ms"] = at(0.99);
    state.counters["page_max_ms"] = latencies.empty() ? 0 : latencies.back();
    state.counters["rss_before_mb"] = rssBefore;
    state.counters["rss_growth_mb"] = rssPeak - rssBefore;
  }
}
BENCHMARK(BM_WebUnderAttack)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The cost of one "index.html" of Hosts hosts on the server thread, without the network:
// the template engine alone, as a viewer (no command links) and as a manager.
void BM_IndexPageRender(benchmark::State& state) {
  TClock clock;
  benchmonitor::TBenchMonitor bench(clock, Hosts, 1.0);
  TWebSite site;
  site.Monitor = &bench.Monitor();
  site.Folder = std::string(CORVALE_SOURCE_DIR) + "/webserver/";
  site.ProgramStart = clock.Now();
  std::size_t bytes = 0;
  for (auto _ : state) {
    TWebRequest request;
    request.Client.Host = "127.0.0.1:8080";
    request.Client.Path = "/index.html";
    request.Client.Peer = "127.0.0.1";
    request.Client.AccessLevel = static_cast<std::int32_t>(state.range(0));
    RenderTemplate(request, site, "index", ".html");
    bytes = request.Body.size();
    if (request.Status != "200") state.SkipWithError(request.Status.c_str());
    benchmark::DoNotOptimize(request.Body.data());
  }
  state.counters["hosts"] = Hosts;
  state.counters["page_kb"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(BM_IndexPageRender)->Arg(WebAccessView)->Arg(WebAccessManage)->Unit(benchmark::kMillisecond);

// The same page with the rows kept between pages, as the web server keeps them: the cost
// when no host changed.
void BM_IndexPageKeptRows(benchmark::State& state) {
  TClock clock;
  benchmonitor::TBenchMonitor bench(clock, Hosts, 1.0);
  TWebSite site;
  site.Monitor = &bench.Monitor();
  site.Folder = std::string(CORVALE_SOURCE_DIR) + "/webserver/";
  site.ProgramStart = clock.Now();
  site.RowCache = std::make_shared<TWebRowCache>();
  for (auto _ : state) {
    TWebRequest request;
    request.Client.Host = "127.0.0.1:8080";
    request.Client.Path = "/index.html";
    request.Client.Peer = "127.0.0.1";
    request.Client.AccessLevel = static_cast<std::int32_t>(state.range(0));
    RenderTemplate(request, site, "index", ".html");
    benchmark::DoNotOptimize(request.Body.data());
  }
  state.counters["hosts"] = Hosts;
}
BENCHMARK(BM_IndexPageKeptRows)->Arg(WebAccessView)->Arg(WebAccessManage)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--web_seconds=", 14) == 0) Seconds = std::max(1, std::atoi(argv[i] + 14));
    else if (std::strncmp(argv[i], "--web_hosts=", 12) == 0) Hosts = std::clamp(std::atoi(argv[i] + 12), 1, 100000);
    else if (std::strncmp(argv[i], "--web_connections=", 18) == 0) Connections = std::clamp(std::atoi(argv[i] + 18), 1, 90);
    else argv[kept++] = argv[i];
  }
  return benchmonitor::RunWithApplication(kept, argv);
}
