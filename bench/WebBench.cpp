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
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "BenchMonitor.h"
#include "common/Clock.h"
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
    benchmark::DoNotOptimize(request.Body.data());
  }
  state.counters["hosts"] = Hosts;
  state.counters["page_kb"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(BM_IndexPageRender)->Arg(WebAccessView)->Arg(WebAccessManage)->Unit(benchmark::kMillisecond);

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
