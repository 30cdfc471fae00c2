// One result through the status evaluation, the parents of the dependants and the alert
// channels, with 10,000 hosts of which 100 depend on the host: every result changes the
// host's status (Offline, then Online again), so each is a transition with alerts queued.
// Beside it, the walk of every record's parents that each result used to cost.
#include <benchmark/benchmark.h>

#include "BenchMonitor.h"
#include "alerts/TAlerts.h"
#include "common/Clock.h"

namespace {

constexpr int Hosts = 10000;
constexpr int Dependants = 100;

struct TEvaluationBench {
  TManualClock Clock{EncodeDateTime(2026, 12, 8, 14, 5, 0), 1000};
  benchmonitor::TBenchFolder Folder;
  TNoServiceControl Services;
  std::unique_ptr<TMonitor> Monitor;
  std::unique_ptr<TAlerts> Alerts;
  THost* Router = nullptr;

  TEvaluationBench() {
    TStartOptions options;
    options.ServiceMode = true;
    Monitor = std::make_unique<TMonitor>(options, Clock, Services);
    Alerts = std::make_unique<TAlerts>(*Monitor);
    TEmailConfig& mail = Alerts->EmailConfig();
    mail.PrimaryServer = "127.0.0.1";
    mail.PrimarySender = "corvale@example.net";
    mail.OfflineSubject = "%displayname% down since %lastfailure%";
    mail.OfflineBody = "%displayname% (%ip%) is %status%";
    mail.OnlineSubject = "%displayname% up";
    mail.OnlineBody = "%displayname% is %status%";
    Monitor->SetAlertChannels(Alerts.get());
    THostList& list = Monitor->Hosts();
    benchhosts::AddLoopbackHosts(list, Hosts - Dependants);
    auto router = list.NewRecord(Clock.Now());
    router->DisplayName = "Router";
    router->Address = "127.0.0.1";
    router->OfflineRecipients = router->OnlineRecipients = "ops@example.net";
    Router = list.Add(std::move(router));
    for (int i = 0; i < Dependants; ++i) {
      auto h = list.NewRecord(Clock.Now());
      h->DisplayName = "Behind " + std::to_string(i);
      h->Address = "127.2.0." + std::to_string(i + 1);
      h->Parents = Router->IDText();
      list.Add(std::move(h));
    }
    list.RecomputeAllAncestors();
    Monitor->Evaluation().CheckAllParents();
  }
  ~TEvaluationBench() {
    Monitor->SetAlertChannels(nullptr);
    Alerts->FreePendingAlerts();
  }
};

void BM_OneResultWithTransition(benchmark::State& state) {
  TEvaluationBench bench;
  TMonitor& m = *bench.Monitor;
  bool up = false;
  std::int64_t results = 0;
  for (auto _ : state) {
    bench.Clock.Advance(60000);
    m.UpdateHostStatus(TTestResult{bench.Router->ID, up, !up, 3, up ? "127.0.0.1" : "", up ? "" : "down", ""});
    up = !up;
    if (++results % 64 == 0) {
      state.PauseTiming();
      bench.Alerts->Queue().FreePendingAlerts();
      m.Changes().Flush();
      state.ResumeTiming();
    }
  }
  state.counters["dependants"] = Dependants;
  state.counters["hosts"] = m.Hosts().Count();
}
BENCHMARK(BM_OneResultWithTransition)->Unit(benchmark::kMicrosecond);

void BM_WalkOfEveryRecordsParents(benchmark::State& state) {
  TEvaluationBench bench;
  for (auto _ : state) bench.Monitor->Evaluation().CheckAllParents();
  state.counters["hosts"] = bench.Monitor->Hosts().Count();
}
BENCHMARK(BM_WalkOfEveryRecordsParents)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return benchmonitor::RunWithApplication(argc, argv); }
