// The whole monitor testing --soak_hosts loopback ping hosts (10,000 unless given;
// 127.1.0.1 upwards) every minute, for --soak_seconds (300 unless given): CPU time of all
// its threads as a share of one core, peak resident memory, the most threads at once,
// and the tests done. The first interval starts every host at once; the figures of
// minutes 1 to 3 (from the 60th to the 180th second, or to the end of a shorter run) are
// the steady state, and they are also split by thread (main, echo engine, pool, other).
// Needs root or CAP_NET_RAW (or datagram ICMP sockets allowed). A monitor that keeps up
// does hosts / 60 tests a second; when its main thread cannot, the run also lasts longer
// than asked, as the end waits for its turn in the event loop.
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "BenchMonitor.h"
#include "common/Clock.h"
#include "platform/TEchoEngine.h"

namespace {

int Hosts = 10000;
int SoakSeconds = 300;
constexpr int SteadyFromSeconds = 60;
constexpr int SteadyToSeconds = 180;
// The older steady figure, from here to the end of the run.
constexpr int SteadyAfterSeconds = 70;

struct TSample {
  double CpuSeconds = 0;
  std::chrono::steady_clock::time_point At;
  std::map<int, benchmonitor::TThreadTime> Threads;
  std::uint64_t Tests = 0;
};

std::uint64_t TestsDone(TMonitor& m) {
  std::uint64_t tests = 0;
  for (int i = 0; i < m.Hosts().Count(); ++i) {
    const THost& h = *m.Hosts().Items(i);
    if (!h.IsGroup()) tests += h.Successes + h.Failures;
  }
  return tests;
}

TSample Sample(TMonitor& m, bool threads = false) {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  TSample s{seconds(r.ru_utime) + seconds(r.ru_stime), std::chrono::steady_clock::now(), {}, TestsDone(m)};
  if (threads) s.Threads = benchmonitor::ThreadTimes();
  return s;
}

double WallSeconds(const TSample& from, const TSample& to) {
  return std::chrono::duration<double>(to.At - from.At).count();
}

double CpuPercent(const TSample& from, const TSample& to) {
  const double wall = WallSeconds(from, to);
  return wall > 0 ? 100.0 * (to.CpuSeconds - from.CpuSeconds) / wall : 0;
}

void BM_Soak(benchmark::State& state) {
  for (auto _ : state) {
    TClock clock;
    const auto startAt = std::chrono::steady_clock::now();
    benchmonitor::TBenchMonitor bench(clock, Hosts, 1.0);
    TMonitor& m = bench.Monitor();
    if (!m.EchoEngine().Valid()) {
      state.SkipWithError(m.EchoEngine().InvalidReason().c_str());
      return;
    }
    const double startupSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startAt).count();
    const TSample start = Sample(m);
    TSample steady, from, to;
    int maxThreads = 0;
    QEventLoop loop;
    QTimer threads;
    QObject::connect(&threads, &QTimer::timeout, [&] {
      maxThreads = std::max(maxThreads, static_cast<int>(benchmonitor::ProcStatusValue("Threads:")));
    });
    threads.start(1000);
    if (SoakSeconds > SteadyAfterSeconds + 30)
      QTimer::singleShot(SteadyAfterSeconds * 1000, &loop, [&] { steady = Sample(m); });
    // Minutes 1 to 3, measured from the end of start-up like the rest.
    if (SoakSeconds > SteadyFromSeconds + 20) {
      QTimer::singleShot(SteadyFromSeconds * 1000, &loop, [&] { from = Sample(m, true); });
      if (SoakSeconds > SteadyToSeconds)
        QTimer::singleShot(SteadyToSeconds * 1000, &loop, [&] { to = Sample(m, true); });
    }
    QTimer::singleShot(SoakSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const TSample end = Sample(m, true);
    if (from.CpuSeconds > 0 && to.CpuSeconds == 0) to = end;

    int online = 0;
    for (int i = 0; i < m.Hosts().Count(); ++i) {
      const THost& h = *m.Hosts().Items(i);
      if (!h.IsGroup() && h.Status == StatusOnline) ++online;
    }
    state.counters["hosts"] = Hosts;
    state.counters["startup_s"] = startupSeconds;
    state.counters["cpu_percent"] = CpuPercent(start, end);
    if (steady.CpuSeconds > 0) state.counters["cpu_percent_steady"] = CpuPercent(steady, end);
    if (from.CpuSeconds > 0) {
      const double wall = WallSeconds(from, to);
      state.counters["cpu_percent_min1_3"] = CpuPercent(from, to);
      state.counters["tests_per_s_min1_3"] = wall > 0 ? (to.Tests - from.Tests) / wall : 0;
      double perThread = 0;
      for (const auto& [kind, seconds] : benchmonitor::ThreadKindSeconds(from.Threads, to.Threads)) {
        state.counters["cpu_percent_min1_3_" + kind] = wall > 0 ? 100.0 * seconds / wall : 0;
        perThread += seconds;
      }
      // What threads that ended in between spent: the process's total less the live ones.
      state.counters["cpu_percent_min1_3_ended"] =
          wall > 0 ? std::max(0.0, 100.0 * (to.CpuSeconds - from.CpuSeconds - perThread) / wall) : 0;
      if (wall > 0 && to.Tests > from.Tests)
        state.counters["cpu_us_per_test_min1_3"] = 1e6 * (to.CpuSeconds - from.CpuSeconds) / (to.Tests - from.Tests);
    }
    state.counters["peak_rss_mb"] = benchmonitor::ProcStatusValue("VmHWM:") / 1024.0;
    state.counters["rss_mb"] = benchmonitor::ProcStatusValue("VmRSS:") / 1024.0;
    state.counters["max_threads"] = maxThreads;
    state.counters["tests"] = static_cast<double>(end.Tests);
    state.counters["tests_per_s"] = end.Tests / WallSeconds(start, end);
    state.counters["online"] = online;
    state.SetLabel(m.EchoEngine().Description());
  }
}
BENCHMARK(BM_Soak)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Our own options go before the benchmark library sees the arguments.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--soak_seconds=", 15) == 0) SoakSeconds = std::max(1, std::atoi(argv[i] + 15));
    else if (std::strncmp(argv[i], "--soak_hosts=", 13) == 0) Hosts = std::clamp(std::atoi(argv[i] + 13), 1, 1000000);
    else argv[kept++] = argv[i];
  }
  return benchmonitor::RunWithApplication(kept, argv);
}
