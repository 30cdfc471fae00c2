// The whole monitor testing 10,000 loopback ping hosts (127.1.0.1 upwards) every minute,
// for --soak_seconds (300 unless given): CPU time of all its threads as a share of one
// core, peak resident memory, the most threads at once, and the tests done.
// Needs root or CAP_NET_RAW (or datagram ICMP sockets allowed). A monitor that keeps up
// does about 167 tests a second; when its main thread cannot, the run also lasts longer
// than asked, as the end waits for its turn in the event loop.
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "BenchMonitor.h"
#include "common/Clock.h"
#include "platform/TEchoEngine.h"

namespace {

constexpr int Hosts = 10000;
int SoakSeconds = 300;
// The first interval starts every host at once; the share after it is the steady state.
constexpr int SteadyAfterSeconds = 70;

struct TSample {
  double CpuSeconds = 0;
  std::chrono::steady_clock::time_point At;
};

TSample Sample() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return {seconds(r.ru_utime) + seconds(r.ru_stime), std::chrono::steady_clock::now()};
}

double CpuPercent(const TSample& from, const TSample& to) {
  const double wall = std::chrono::duration<double>(to.At - from.At).count();
  return wall > 0 ? 100.0 * (to.CpuSeconds - from.CpuSeconds) / wall : 0;
}

void BM_Soak(benchmark::State& state) {
  for (auto _ : state) {
    TClock clock;
    benchmonitor::TBenchMonitor bench(clock, Hosts, 1.0);
    TMonitor& m = bench.Monitor();
    if (!m.EchoEngine().Valid()) {
      state.SkipWithError(m.EchoEngine().InvalidReason().c_str());
      return;
    }
    const TSample start = Sample();
    TSample steady;
    int maxThreads = 0;
    QEventLoop loop;
    QTimer threads;
    QObject::connect(&threads, &QTimer::timeout, [&] {
      maxThreads = std::max(maxThreads, static_cast<int>(benchmonitor::ProcStatusValue("Threads:")));
    });
    threads.start(1000);
    if (SoakSeconds > SteadyAfterSeconds + 30)
      QTimer::singleShot(SteadyAfterSeconds * 1000, &loop, [&] { steady = Sample(); });
    QTimer::singleShot(SoakSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const TSample end = Sample();

    std::uint64_t tests = 0;
    int online = 0;
    for (int i = 0; i < m.Hosts().Count(); ++i) {
      const THost& h = *m.Hosts().Items(i);
      if (h.IsGroup()) continue;
      tests += h.Successes + h.Failures;
      if (h.Status == StatusOnline) ++online;
    }
    state.counters["cpu_percent"] = CpuPercent(start, end);
    if (steady.CpuSeconds > 0) state.counters["cpu_percent_steady"] = CpuPercent(steady, end);
    state.counters["peak_rss_mb"] = benchmonitor::ProcStatusValue("VmHWM:") / 1024.0;
    state.counters["max_threads"] = maxThreads;
    state.counters["tests"] = static_cast<double>(tests);
    state.counters["tests_per_s"] = tests / std::chrono::duration<double>(end.At - start.At).count();
    state.counters["online"] = online;
    state.SetLabel(m.EchoEngine().Description());
  }
}
BENCHMARK(BM_Soak)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Our own option goes before the benchmark library sees the arguments.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--soak_seconds=", 15) == 0) SoakSeconds = std::max(1, std::atoi(argv[i] + 15));
    else argv[kept++] = argv[i];
  }
  argc = kept;
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
