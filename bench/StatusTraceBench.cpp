// Status traces per second into a registry store in a temporary folder, written the way
// the monitor writes them (HKCU "Software\Quillmoor\Corvale\LastStatus"): every trace
// written through, and traces kept in memory with the changed values written in the
// background. Traces come from one thread and from four at once (the main thread and
// workers trace together in the running monitor).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/Clock.h"
#include "common/QLRegistry.h"
#include "core/TStatusTrace.h"

namespace {

constexpr const char* LastStatusKey = "Software\\Quillmoor\\Corvale\\LastStatus";

class TBenchStore {
public:
  TBenchStore() {
    char name[] = "/tmp/corvale-trace-bench-XXXXXX";
    FFolder = ::mkdtemp(name) ? name : "/tmp";
    FStore = std::make_unique<TRegistryStore>(FFolder);
  }
  ~TBenchStore() {
    FStore.reset();
    std::error_code ec;
    std::filesystem::remove_all(FFolder, ec);
  }
  TStatusTrace::TWriter Writer() {
    return [this](const std::string& name, const std::string& text) {
      WriteRegText(*FStore, HKEY_CURRENT_USER, LastStatusKey, name, text);
    };
  }

private:
  std::string FFolder;
  std::unique_ptr<TRegistryStore> FStore;
};

TClock& BenchClock() {
  static TClock clock;
  return clock;
}

// A typical message of a busy monitor.
std::string Message(std::int64_t n) { return "Start UpdateHostStatus " + std::to_string(n % 10000); }

void TraceLoop(benchmark::State& state, TStatusTrace& trace) {
  std::int64_t n = 0;
  for (auto _ : state) trace.Trace(Message(n++));
  state.SetItemsProcessed(state.iterations());
}

// Shared by the threads of one run; made before and removed after it.
std::unique_ptr<TBenchStore> Store;
std::unique_ptr<TStatusTrace> Trace;

void WriteThroughSetup(const benchmark::State&) {
  Store = std::make_unique<TBenchStore>();
  Trace = std::make_unique<TStatusTrace>(BenchClock(), 10, Store->Writer());
}

void BufferedSetup(const benchmark::State&) {
  Store = std::make_unique<TBenchStore>();
  Trace = std::make_unique<TStatusTrace>(BenchClock(), 10, Store->Writer(), TStatusTrace::DefaultFlushMs);
}

void Teardown(const benchmark::State&) {
  Trace.reset();
  Store.reset();
}

void BM_TraceWriteThrough(benchmark::State& state) { TraceLoop(state, *Trace); }
BENCHMARK(BM_TraceWriteThrough)->Setup(WriteThroughSetup)->Teardown(Teardown)->Threads(1)->Threads(4)->UseRealTime();

// CPU time here includes only the tracing threads; the flusher's share is a few file
// writes every DefaultFlushMs.
void BM_TraceBuffered(benchmark::State& state) { TraceLoop(state, *Trace); }
BENCHMARK(BM_TraceBuffered)->Setup(BufferedSetup)->Teardown(Teardown)->Threads(1)->Threads(4)->UseRealTime();

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// One background write of a full ring, what a busy monitor pays every DefaultFlushMs;
// cpu_percent is that cost as a share of one core.
void BM_FlushFullRing(benchmark::State& state) {
  TBenchStore store;
  TStatusTrace trace(BenchClock(), 10, store.Writer(), 3600000);
  std::int64_t n = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 10; ++i) trace.Trace(Message(n++));
    state.ResumeTiming();
    const double before = ThreadCpuMs();
    trace.Flush();
    cpuMs += ThreadCpuMs() - before;
  }
  state.counters["cpu_percent"] = 100.0 * cpuMs / static_cast<double>(state.iterations()) / TStatusTrace::DefaultFlushMs;
}
BENCHMARK(BM_FlushFullRing)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
