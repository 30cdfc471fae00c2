// The main thread's longest stall: the headless monitor testing --stall_hosts loopback
// ping hosts (10,000 unless given) every minute, all due at once after start-up, while a
// second thread sends the show request (3023) to the window of the class "TfrmCorvale"
// every --stall_every_ms (20) for --stall_seconds (90), from before the start-up on. The
// answer comes from the main thread's event loop, so its latency is how long the main
// thread kept that loop waiting. Reports the latency's maximum, 99th percentile and
// median, the answers over 50 ms, and when the first answer came (from the making of the
// monitor).
// Each answer slower than --stall_report_ms (50) is printed to standard error with the
// steady clock's seconds of its send and answer (CLOCK_MONOTONIC, the clock of
// `perf record -k CLOCK_MONOTONIC`), so that a profile can be cut to the stalls.
// Needs root or CAP_NET_RAW (or datagram ICMP sockets allowed).
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchMonitor.h"
#include "common/Clock.h"
#include "platform/TEchoEngine.h"
#include "platform/WindowMessages.h"

namespace {

using TSteady = std::chrono::steady_clock;

int Hosts = 10000;
int StallSeconds = 90;
int EveryMs = 20;
int ReportMs = 50;
constexpr unsigned AnswerWaitMs = 60000;

double Seconds(TSteady::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }
double Ms(TSteady::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Sends the show request again and again from its own thread and keeps every answer's
// latency.
class TShowSender {
public:
  explicit TShowSender(TSteady::time_point origin) : FOrigin(origin), FThread([this] { Run(); }) {}
  ~TShowSender() { Stop(); }
  TShowSender(const TShowSender&) = delete;
  TShowSender& operator=(const TShowSender&) = delete;

  void Stop() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
  }
  std::vector<double> Latencies() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FLatencies;
  }
  double FirstAnswerMs() const { return FFirstAnswerMs; }
  double WindowFoundMs() const { return FWindowFoundMs; }
  int Failures() const { return FFailures; }
  double WorstAtSeconds() const { return FWorstAt; }

private:
  void Run() {
    std::uintptr_t window = 0;
    double worst = -1;
    while (!FStop) {
      if (!window) {
        window = FindWindow(CorvaleWindowClass);
        if (!window) {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
          continue;
        }
        FWindowFoundMs = Ms(TSteady::now() - FOrigin);
      }
      const auto sent = TSteady::now();
      std::intptr_t result = 0;
      const bool answered = SendMessageTimeout(window, WM_CORVALE_SHOW, 0, 0, AnswerWaitMs, result) && result == 1;
      const auto back = TSteady::now();
      if (!answered) {
        ++FFailures;
        window = 0;
        continue;
      }
      const double latency = Ms(back - sent);
      if (FFirstAnswerMs < 0) FFirstAnswerMs = Ms(back - FOrigin);
      if (latency > worst) {
        worst = latency;
        FWorstAt = Ms(sent - FOrigin) / 1000;
      }
      if (latency > ReportMs)
        std::fprintf(stderr, "stall %.1f ms: sent %.3f answered %.3f (run second %.1f)\n", latency, Seconds(sent),
                     Seconds(back), Ms(sent - FOrigin) / 1000);
      {
        std::lock_guard<std::mutex> lock(FLock);
        FLatencies.push_back(latency);
      }
      std::this_thread::sleep_until(sent + std::chrono::milliseconds(EveryMs));
    }
  }

  const TSteady::time_point FOrigin;
  std::atomic<bool> FStop = false;
  std::atomic<double> FFirstAnswerMs = -1, FWindowFoundMs = -1, FWorstAt = 0;
  std::atomic<int> FFailures = 0;
  mutable std::mutex FLock;
  std::vector<double> FLatencies;
  std::thread FThread;  // last: starts once the rest is ready
};

double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(rank, sorted.size() - 1)];
}

void BM_ShowRequestStall(benchmark::State& state) {
  for (auto _ : state) {
    TClock clock;
    // From the making of the monitor on: writing the hosts file is the benchmark's own.
    TSteady::time_point origin;
    std::unique_ptr<TShowSender> sender;
    benchmonitor::TBenchMonitor bench(clock, Hosts, 1.0, [&] {
      origin = TSteady::now();
      sender = std::make_unique<TShowSender>(origin);
    });
    TMonitor& m = bench.Monitor();
    if (!m.EchoEngine().Valid()) {
      state.SkipWithError(m.EchoEngine().InvalidReason().c_str());
      return;
    }
    const double startupMs = Ms(TSteady::now() - origin);
    QEventLoop loop;
    QTimer::singleShot(StallSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    // The answer to a request in flight needs the event loop: stop the sender from it.
    bool stopped = false;
    std::thread stopper([&] {
      sender->Stop();
      QMetaObject::invokeMethod(&loop, [&] { stopped = true; loop.quit(); }, Qt::QueuedConnection);
    });
    while (!stopped) loop.exec();
    stopper.join();

    std::vector<double> latencies = sender->Latencies();
    std::sort(latencies.begin(), latencies.end());
    state.counters["hosts"] = Hosts;
    state.counters["answers"] = static_cast<double>(latencies.size());
    state.counters["failures"] = sender->Failures();
    state.counters["max_ms"] = latencies.empty() ? 0 : latencies.back();
    state.counters["p99_ms"] = Percentile(latencies, 99);
    state.counters["p50_ms"] = Percentile(latencies, 50);
    state.counters["over_50ms"] = static_cast<double>(
        latencies.end() - std::upper_bound(latencies.begin(), latencies.end(), 50.0));
    state.counters["worst_at_s"] = sender->WorstAtSeconds();
    state.counters["startup_ms"] = startupMs;
    state.counters["window_found_ms"] = sender->WindowFoundMs();
    state.counters["first_answer_ms"] = sender->FirstAnswerMs();
    state.SetLabel(m.EchoEngine().Description());
  }
}
BENCHMARK(BM_ShowRequestStall)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Our own options go before the benchmark library sees the arguments.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    auto option = [&](const char* name, int& value, int low, int high) {
      const std::size_t length = std::strlen(name);
      if (std::strncmp(argv[i], name, length) != 0) return false;
      value = std::clamp(std::atoi(argv[i] + length), low, high);
      return true;
    };
    if (!option("--stall_seconds=", StallSeconds, 1, 86400) && !option("--stall_hosts=", Hosts, 1, 1000000) &&
        !option("--stall_every_ms=", EveryMs, 1, 60000) && !option("--stall_report_ms=", ReportMs, 0, 60000))
      argv[kept++] = argv[i];
  }
  return benchmonitor::RunWithApplication(kept, argv);
}
