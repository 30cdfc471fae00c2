// The main thread's longest stall with the main window showing the host list: a monitor
// testing 1,000 and 10,000 loopback ping hosts every minute (all due at once after
// start-up) with TfrmCorvale shown (offscreen unless a display is set), while a 1 ms
// timer notes how late each of its ticks comes. Runs --wstall_seconds (60) per size.
// Reports the lateness's maximum (and when it came, in seconds from the window's show),
// 99th percentile and median, and the ticks over 50 ms.
// Needs root or CAP_NET_RAW (or datagram ICMP sockets allowed).
//
// BM_ToolStall: the same lateness while the remote tools work, in a network namespace
// of the benchmark's own (root): a trace route of 30 hops that all stay silent (to an
// address behind a link that drops everything) from the page and a host-down trace of two passes beside
// it, then a range ping of a /22 of loopback addresses (1,022 hosts, every one answers
// and is named). Runs --tstall_seconds (15).
#include <QApplication>
#include <QPushButton>
#include <sched.h>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "BenchMonitor.h"
#include "common/Clock.h"
#include "platform/TEchoEngine.h"
#include "tools/TRemoteTools.h"
#include "tools/TTraceRouteThread.h"
#include "ui/TRemoteToolsPage.h"
#include "ui/TfrmCorvale.h"

namespace {

int StallSeconds = 60;
int ToolSeconds = 15;
bool NoWindow = false;  // --wstall_nowindow: the same run without the window, to compare

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

// A 1 ms timer that notes how late each of its ticks comes while an event loop runs.
class TLatenessProbe {
public:
  TLatenessProbe() {
    FTick.setTimerType(Qt::PreciseTimer);
    FTick.setInterval(1);
    QObject::connect(&FTick, &QTimer::timeout, [this] {
      const double late = std::max(0.0, static_cast<double>(FSince.nsecsElapsed()) / 1e6 - 1.0);
      FLateness.push_back(late);
      if (late > FWorst) {
        FWorst = late;
        FWorstAt = static_cast<double>(FRun.elapsed()) / 1000;
      }
      FSince.restart();
    });
  }
  // Runs the event loop for the seconds given, the probe ticking.
  void Run(int seconds) {
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    FSince.start();
    FRun.start();
    FTick.start();
    loop.exec();
    FTick.stop();
    std::sort(FLateness.begin(), FLateness.end());
  }
  void Report(benchmark::State& state) const {
    state.counters["ticks"] = static_cast<double>(FLateness.size());
    state.counters["max_ms"] = FLateness.empty() ? 0 : FLateness.back();
    state.counters["p99_ms"] = Percentile(FLateness, 99);
    state.counters["p50_ms"] = Percentile(FLateness, 50);
    state.counters["over_50ms"] =
        static_cast<double>(FLateness.end() - std::upper_bound(FLateness.begin(), FLateness.end(), 50.0));
    state.counters["worst_at_s"] = FWorstAt;
  }

private:
  QTimer FTick;
  QElapsedTimer FSince, FRun;
  std::vector<double> FLateness;
  double FWorst = -1, FWorstAt = 0;
};

void BM_WindowStall(benchmark::State& state) {
  const int hosts = static_cast<int>(state.range(0));
  for (auto _ : state) {
    TClock clock;
    benchmonitor::TBenchMonitor bench(clock, hosts, 1.0);
    TMonitor& m = bench.Monitor();
    if (!m.EchoEngine().Valid()) {
      state.SkipWithError(m.EchoEngine().InvalidReason().c_str());
      return;
    }
    std::unique_ptr<TfrmCorvale> window;
    if (!NoWindow) {
      window = std::make_unique<TfrmCorvale>(m);
      window->resize(1100, 700);
      window->show();
    }

    TLatenessProbe probe;
    probe.Run(StallSeconds);
    state.counters["hosts"] = hosts;
    probe.Report(state);
    state.counters["window"] = NoWindow ? 0 : 1;
    state.SetLabel(m.EchoEngine().Description());
  }
}
BENCHMARK(BM_WindowStall)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ToolStall(benchmark::State& state) {
  for (auto _ : state) {
    // Last of the benchmarks: the process stays in the namespace.
    if (::unshare(CLONE_NEWNET) != 0 ||
        std::system("ip link set lo up && ip link add cvb0 type veth peer name cvb1 && ip link set cvb1 up && "
                    "ip addr add 192.0.2.1/24 dev cvb0 && "
                    "ip link set cvb0 up && ip neigh add 192.0.2.99 lladdr 02:00:00:00:00:63 dev cvb0 nud permanent") != 0) {
      state.SkipWithError("needs root for a network namespace of its own");
      return;
    }
    TClock clock;
    benchmonitor::TBenchMonitor bench(clock, 0, 1.0);
    TMonitor& m = bench.Monitor();
    if (!m.EchoEngine().Valid()) {
      state.SkipWithError(m.EchoEngine().InvalidReason().c_str());
      return;
    }
    m.UpdateSettings([](TSettings& s) { s.PingTimeout = 2000; });
    TfrmCorvale window(m);
    window.resize(1100, 700);
    window.show();
    TRemoteTools& tools = window.pnlRemote->Tools();

    TLatenessProbe probe;
    std::shared_ptr<TTraceRouteThread> trace;
    QTimer::singleShot(500, [&] {
      window.pnlRemote->SetHost("192.0.2.99");
      window.pnlRemote->btnTrace->click();
      trace = TTraceRouteThread::Create(m.Tests(), "TraceRoute bench", "192.0.2.99", 2, 2000, {});
    });
    QTimer::singleShot(6000, [&] { tools.StartRangePing("127.1.0.1", "127.1.3.254"); });
    probe.Run(ToolSeconds);

    int answered = 0;
    for (const TRemoteTools::TRow& row : tools.Rows()) answered += row.Cells[TRemoteTools::colSuccess] == "1";
    state.counters["range_answered"] = answered;
    state.counters["range_rows"] = static_cast<double>(tools.Rows().size());
    probe.Report(state);
    if (trace) trace->Terminate();
  }
}
BENCHMARK(BM_ToolStall)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const char* name = "--wstall_seconds=";
    const char* toolName = "--tstall_seconds=";
    if (std::strcmp(argv[i], "--wstall_nowindow") == 0) NoWindow = true;
    else if (std::strncmp(argv[i], toolName, std::strlen(toolName)) == 0)
      ToolSeconds = std::clamp(std::atoi(argv[i] + std::strlen(toolName)), 1, 86400);
    else if (std::strncmp(argv[i], name, std::strlen(name)) == 0)
      StallSeconds = std::clamp(std::atoi(argv[i] + std::strlen(name)), 1, 86400);
    else argv[kept++] = argv[i];
  }
  if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(kept, argv);
  benchmark::Initialize(&kept, argv);
  if (benchmark::ReportUnrecognizedArguments(kept, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
