// One echo request to each of 10,000 loopback addresses (127.1.0.0 upwards): through the
// echo engine with 25 requests in flight (the default limit of echo tests) and without a
// limit, and through the system's fping over the same list, in hosts per second.
// Needs root or CAP_NET_RAW (or datagram ICMP sockets allowed) and fping on the PATH.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/TEchoEngine.h"

namespace {

constexpr int Hosts = 10000;
constexpr std::uint32_t TimeoutMs = 2000;

std::uint32_t Target(int n) { return htonl((127u << 24) | (1u << 16) | static_cast<std::uint32_t>(n)); }

// Best hosts per second of each run, for the comparison printed at the end.
std::map<std::string, double>& BestRates() {
  static std::map<std::string, double> rates;
  return rates;
}

void Record(benchmark::State& state, const std::string& name, int answered, double seconds) {
  double rate = Hosts / seconds;
  state.counters["hosts_per_s"] = rate;
  state.counters["answered"] = answered;
  double& best = BestRates()[name];
  if (rate > best) best = rate;
}

// Every host once, keeping at most `limit` requests in flight (0: no limit); the number
// of hosts that answered.
int Sweep(TEchoEngine& engine, int limit) {
  std::mutex lock;
  std::condition_variable finished;
  int next = 0, done = 0, answered = 0;
  std::function<void()> startOne = [&] {
    int n;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (next == Hosts) return;
      n = next++;
    }
    engine.SendEchoAsync(Target(n), 255, TimeoutMs, TEchoEngine::DefaultPayload, [&](const TEchoReply& r) {
      {
        std::lock_guard<std::mutex> guard(lock);
        ++done;
        if (r.Replied && r.Status == 0) ++answered;
        if (done == Hosts) finished.notify_all();
      }
      if (limit) startOne();
    });
  };
  for (int i = 0; i < (limit ? limit : Hosts); ++i) startOne();
  std::unique_lock<std::mutex> guard(lock);
  finished.wait(guard, [&] { return done == Hosts; });
  return answered;
}

void BM_EngineSweep(benchmark::State& state) {
  TEchoEngine engine;
  if (!engine.Valid()) {
    state.SkipWithError(engine.InvalidReason().c_str());
    return;
  }
  int limit = static_cast<int>(state.range(0));
  state.SetLabel(engine.Description());
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int answered = Sweep(engine, limit);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    Record(state, limit ? "engine, 25 in flight" : "engine, no limit", answered, elapsed.count());
  }
}
BENCHMARK(BM_EngineSweep)->ArgName("in_flight")->Arg(25)->Arg(0)->Iterations(3)->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// fping -c 1 over the same list with no retries, a 20 ms per-host period and the given
// interval between any two requests: 1 ms is the least an ordinary user may ask for, 0
// the least root may.
void BM_FpingSweep(benchmark::State& state) {
  int interval = static_cast<int>(state.range(0));
  if (interval == 0 && geteuid() != 0) {
    state.SkipWithError("an interval of 0 is for root only");
    return;
  }
  char folder[] = "/tmp/echosweepXXXXXX";
  if (!mkdtemp(folder)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  std::string list = std::string(folder) + "/hosts", output = std::string(folder) + "/out";
  {
    std::ofstream hosts(list);
    for (int n = 0; n < Hosts; ++n) {
      in_addr a{Target(n)};
      hosts << inet_ntoa(a) << '\n';
    }
  }
  std::string command = "fping -c 1 -q -i " + std::to_string(interval) + " -p 20 -r 0 -t " +
                        std::to_string(TimeoutMs) + " -f " + list + " 2>" + output;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) {
      state.SkipWithError(("fping failed: " + command).c_str());
      break;
    }
    int answered = 0;
    std::ifstream summary(output);
    for (std::string line; std::getline(summary, line);)
      if (line.find("= 1/1/") != std::string::npos) ++answered;
    Record(state, "fping -i " + std::to_string(interval), answered, elapsed.count());
  }
  std::remove(list.c_str());
  std::remove(output.c_str());
  rmdir(folder);
}
BENCHMARK(BM_FpingSweep)->ArgName("interval_ms")->Arg(0)->Iterations(3)->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FpingSweep)->ArgName("interval_ms")->Arg(1)->Iterations(1)->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const auto& rates = BestRates();
  std::printf("\nBest sweep of %d loopback hosts, hosts per second:\n", Hosts);
  for (const auto& [name, rate] : rates) std::printf("  %-22s %10.0f\n", name.c_str(), rate);
  for (const char* engine : {"engine, 25 in flight", "engine, no limit"})
    for (const char* fping : {"fping -i 0", "fping -i 1"})
      if (rates.count(engine) && rates.count(fping))
        std::printf("  %s / %s: %.2f\n", engine, fping, rates.at(engine) / rates.at(fping));
  return 0;
}
