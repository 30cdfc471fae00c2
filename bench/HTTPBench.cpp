// Web-page tests. BM_PageDifference: the page measure on a 5 MB page against a copy with
// scattered edits, and against an equal copy (the measure's short cut). BM_HTTPHosts: the
// headless monitor testing --http_hosts (100) HTTP hosts every minute against a static
// web server on loopback (Python's http.server, a page of 50 kB each, change recipients
// set so that every test measures its page; no probes, no periodic traces) for
// --http_seconds (180): CPU time of the monitor per test, its peak resident memory and
// the tests done. The web server's own CPU is not counted. BM_HostileHTTPHosts: the
// monitor's resident memory while three hosts are tested every 6 seconds against servers
// that send endless header lines, an endless chunked body and a 40 MB body, for
// --hostile_seconds (600), sampled every 10 seconds.
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "BenchMonitor.h"
#include "common/Clock.h"
#include "hosttests/THTTPThread.h"

namespace {

int Hosts = 100;
int Seconds = 180;
int HostileSeconds = 600;
constexpr std::size_t PageBytes = 5 * 1024 * 1024;

// Text that looks like a web page: tags, words and numbers.
std::string MakePage(std::size_t bytes, unsigned seed) {
  static const char* const words[] = {"<div class=\"row\">", "</div>", "<p>", "</p>", "monitor", "host", "status",
                                      "Online", "Warning", "the", "and", "page", "\r\n", "<a href=\"/x\">", "</a>"};
  std::mt19937 random(seed);
  std::string page;
  page.reserve(bytes + 64);
  while (page.size() < bytes) {
    page += words[random() % std::size(words)];
    page += ' ';
    if (random() % 7 == 0) page += std::to_string(random() % 100000);
  }
  page.resize(bytes);
  return page;
}

void BM_PageDifference(benchmark::State& state) {
  const std::string page = MakePage(PageBytes, 1);
  std::string edited = page;
  // One edit of 16 bytes every 10 kB: about 0.2 % of the page.
  for (std::size_t at = 5000; at + 16 < edited.size(); at += 10000) edited.replace(at, 16, "EDITED-CONTENT!!");
  const bool same = state.range(0) == 0;
  const std::string& other = same ? page : edited;
  float change = 0;
  for (auto _ : state) {
    change = THTTPThread::PageDifference(page, other);
    benchmark::DoNotOptimize(change);
  }
  state.counters["change_percent"] = change * 100;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(2 * PageBytes));
  state.SetLabel(same ? "equal pages" : "scattered edits");
}
BENCHMARK(BM_PageDifference)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

const char* const ServerScript = R"PY(
import functools, http.server, sys

class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=sys.argv[1]))
print(srv.server_address[1], flush=True)
srv.serve_forever()
)PY";

double CpuSeconds() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_utime.tv_sec + r.ru_utime.tv_usec / 1e6 + r.ru_stime.tv_sec + r.ru_stime.tv_usec / 1e6;
}

std::uint64_t TestsDone(TMonitor& m) {
  std::uint64_t tests = 0;
  for (int i = 0; i < m.Hosts().Count(); ++i) {
    const THost& h = *m.Hosts().Items(i);
    if (!h.IsGroup()) tests += h.Successes + h.Failures;
  }
  return tests;
}

// A started headless monitor on count HTTP hosts tested every intervalMinutes, host i
// at url(i), each measuring its page (change recipients set); neither the periodic trace
// route nor the capability probes run, the tests alone.
struct THTTPMonitor {
  TClock Clock;
  TNoServiceControl Services;
  std::unique_ptr<TMonitor> Monitor;

  THTTPMonitor(const benchmonitor::TBenchFolder& folder, int count, double intervalMinutes,
               const std::function<std::string(int)>& url) {
    THostList list;
    benchhosts::AddLoopbackHosts(list, count, [&](THost& h, int i) {
      h.TestKind = TestHTTP;
      h.TestInterval = intervalMinutes;
      h.Address = "127.0.0.1";
      h.Parents.clear();
      h.LocalSubnet = true;
      h.HTTPTest.URL = url(i);
      h.HTTPTest.ChangeRecipients = "web@example.net";
      h.HTTPTest.ChangeThreshold = 5;
    });
    const std::string hosts = folder.File("bench.cvlh");
    SaveHosts(hosts, list);
    TStartOptions options;
    options.ServiceMode = true;
    options.HostsFileArg = hosts;
    Monitor = std::make_unique<TMonitor>(options, Clock, Services);
    Monitor->Startup();
    Monitor->Settings().TestHostServices = false;
  }
};

void BM_HTTPHosts(benchmark::State& state) {
  for (auto _ : state) {
    benchmonitor::TBenchFolder folder;
    const std::string www = folder.File("www");
    std::filesystem::create_directories(www);
    for (int i = 0; i < Hosts; ++i)
      std::ofstream(www + "/page" + std::to_string(i) + ".html", std::ios::binary) << MakePage(50 * 1024, 100 + i);
    std::ofstream(folder.File("server.py")) << ServerScript;
    QProcess server;
    server.start("/usr/bin/python3", {QString::fromStdString(folder.File("server.py")), QString::fromStdString(www)});
    if (!server.waitForStarted(10000) || !server.waitForReadyRead(20000)) {
      state.SkipWithError("the web server did not start");
      return;
    }
    const std::string base = "http://127.0.0.1:" + server.readLine().trimmed().toStdString() + "/page";

    THTTPMonitor run(folder, Hosts, 1, [&](int i) { return base + std::to_string(i) + ".html"; });
    TMonitor& m = *run.Monitor;

    const double cpuStart = CpuSeconds();
    const std::uint64_t testsStart = TestsDone(m);
    QEventLoop loop;
    QTimer::singleShot(Seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = CpuSeconds() - cpuStart;
    const std::uint64_t tests = TestsDone(m) - testsStart;
    int online = 0;
    for (int i = 0; i < m.Hosts().Count(); ++i)
      online += !m.Hosts().Items(i)->IsGroup() && m.Hosts().Items(i)->Status == StatusOnline;

    state.counters["hosts"] = Hosts;
    state.counters["tests"] = static_cast<double>(tests);
    state.counters["online"] = online;
    state.counters["cpu_percent"] = 100.0 * cpu / Seconds;
    if (tests > 0) state.counters["cpu_us_per_test"] = 1e6 * cpu / static_cast<double>(tests);
    state.counters["peak_rss_mb"] = benchmonitor::ProcStatusValue("VmHWM:") / 1024.0;
    state.counters["rss_mb"] = benchmonitor::ProcStatusValue("VmRSS:") / 1024.0;
    run.Monitor->Shutdown();
    run.Monitor.reset();
    server.terminate();
    server.waitForFinished(5000);
  }
}
BENCHMARK(BM_HTTPHosts)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

const char* const HostileScript = R"PY(
import http.server, socketserver, sys

class Hostile(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass
    def do_GET(self):
        w = self.wfile
        try:
            if self.path == "/headers":
                w.write(b"HTTP/1.1 200 OK\r\n")
                line = b"X-Filler: " + b"h" * 90 + b"\r\n"
                while True:
                    w.write(line * 100)
            elif self.path == "/chunked":
                w.write(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                chunk = b"%x\r\n" % 65536 + b"c" * 65536 + b"\r\n"
                while True:
                    w.write(chunk)
            else:
                size = 40 * 1024 * 1024
                w.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % size)
                block = (b"x" * 99 + b"\n") * 10486
                sent = 0
                while sent < size:
                    piece = block[: size - sent]
                    w.write(piece)
                    sent += len(piece)
        except OSError:
            pass

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

srv = Server(("127.0.0.1", 0), Hostile)
print(srv.server_address[1], flush=True)
srv.serve_forever()
)PY";

// The monitor's resident memory under web servers that send without end. Three hosts,
// each tested every 6 seconds (failures do not stretch the interval), so a 20-minute
// attack is about 600 tests of 16 MB bodies and 64 kB headers.
void BM_HostileHTTPHosts(benchmark::State& state) {
  for (auto _ : state) {
    benchmonitor::TBenchFolder folder;
    std::ofstream(folder.File("hostile.py")) << HostileScript;
    QProcess server;
    server.start("/usr/bin/python3", {QString::fromStdString(folder.File("hostile.py"))});
    if (!server.waitForStarted(10000) || !server.waitForReadyRead(20000)) {
      state.SkipWithError("the web server did not start");
      return;
    }
    const std::string base = "http://127.0.0.1:" + server.readLine().trimmed().toStdString();
    const char* const paths[] = {"/headers", "/chunked", "/big"};
    // Failures must not stretch the interval: the attack goes on at the same rhythm.
    THTTPMonitor run(folder, 3, 0.1, [&](int i) { return base + paths[i % 3]; });
    TMonitor& m = *run.Monitor;
    m.Settings().FailFreqAdj = false;

    const double startRss = benchmonitor::ProcStatusValue("VmRSS:") / 1024.0;
    double peak = startRss;
    QEventLoop loop;
    QTimer sampler;
    int samples = 0;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
      const double rss = benchmonitor::ProcStatusValue("VmRSS:") / 1024.0;
      peak = std::max(peak, rss);
      if (++samples % 6 == 0)
        std::fprintf(stderr, "hostile: %4d s  rss %.1f MB  tests %llu\n", samples * 10, rss,
                     static_cast<unsigned long long>(TestsDone(m)));
      if (samples * 10 >= HostileSeconds) loop.quit();
    });
    sampler.start(10000);
    loop.exec();

    state.counters["tests"] = static_cast<double>(TestsDone(m));
    state.counters["start_rss_mb"] = startRss;
    state.counters["sampled_peak_rss_mb"] = peak;
    state.counters["rss_mb"] = benchmonitor::ProcStatusValue("VmRSS:") / 1024.0;
    state.counters["peak_rss_mb"] = benchmonitor::ProcStatusValue("VmHWM:") / 1024.0;
    run.Monitor->Shutdown();
    run.Monitor.reset();
    server.terminate();
    server.waitForFinished(5000);
  }
}
BENCHMARK(BM_HostileHTTPHosts)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--http_seconds=", 15) == 0) Seconds = std::max(1, std::atoi(argv[i] + 15));
    else if (std::strncmp(argv[i], "--hostile_seconds=", 18) == 0) HostileSeconds = std::max(10, std::atoi(argv[i] + 18));
    else if (std::strncmp(argv[i], "--http_hosts=", 13) == 0) Hosts = std::clamp(std::atoi(argv[i] + 13), 1, 10000);
    else argv[kept++] = argv[i];
  }
  return benchmonitor::RunWithApplication(kept, argv);
}
