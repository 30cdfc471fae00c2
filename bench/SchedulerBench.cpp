// One scheduler pass (Timer1Timer) over 10,000 and 100,000 ping hosts of which none is due: the cost
// the main thread pays four times a second whatever the hosts do.
#include <benchmark/benchmark.h>

#include "BenchMonitor.h"
#include "common/Clock.h"

namespace {

void BM_Timer1NoneDue(benchmark::State& state) {
  // A clock that stands still keeps every host within its interval however long the
  // benchmark runs.
  TManualClock clock(EncodeDateTime(2026, 12, 8, 14, 5, 0), 1000);
  benchmonitor::TBenchMonitor bench(clock, static_cast<int>(state.range(0)), 1.0);
  TMonitor& m = bench.Monitor();
  const TDateTime now = clock.Now();
  // Every host answered just now and had its probes and trace: the steady state.
  for (int i = 0; i < m.Hosts().Count(); ++i) {
    THost& h = *m.Hosts().Items(i);
    if (h.IsGroup()) continue;
    h.Status = StatusOnline;
    h.LastCheck = h.LastSuccess = h.LastProbe = h.LastAutoTrace = now;
    h.CurrentIP = h.Address;
  }
  for (auto _ : state) m.Timer1Timer();
  if (!m.RunningTests().empty()) state.SkipWithError("a pass started tests: some host was due");
  state.counters["hosts"] = m.Hosts().Count();
}
BENCHMARK(BM_Timer1NoneDue)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return benchmonitor::RunWithApplication(argc, argv); }
