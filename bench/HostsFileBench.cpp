// Loading and saving a hosts file of 10,000 hosts, and what a loaded host costs in memory.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "BenchHosts.h"
#include "core/THostList.h"
#include "core/THostsFile.h"

namespace {

constexpr int HostCount = 10000;

// A folder of its own with a hosts file of HostCount hosts: groups of 100, a mix of
// test kinds, every fifth host depending on the first host of its group.
class TBenchFiles {
public:
  TBenchFiles() {
    char name[] = "/tmp/corvale-bench-XXXXXX";
    FFolder = ::mkdtemp(name) ? name : "/tmp";
    THostList list;
    benchhosts::AddLoopbackHosts(list, HostCount, [](THost& h, int i) {
      h.TestKind = i % 4 == 3 ? TestHTTP : static_cast<TTestKind>(i % 4);
      h.Port = h.TestKind == TestTCP ? 8000 + i % 1000 : 0;
      if (h.TestKind == TestHTTP) h.HTTPTest.URL = "http://" + h.Address + ":8080/status?id=" + std::to_string(i);
      h.OfflineRecipients = "ops@example.com";
      h.Successes = static_cast<uint32_t>(i * 7);
      h.LastSuccess = 46000.123456789 + i / 1000.0;
      h.Uptime = 12.5L + i / 7.0L;
      h.TotalResponse = i * 13;
    });
    SaveHosts(File(), list);
  }
  ~TBenchFiles() {
    std::error_code ec;
    std::filesystem::remove_all(FFolder, ec);
  }
  std::string File() const { return FFolder + "/hosts.cvlh"; }
  const std::string& Folder() const { return FFolder; }

private:
  std::string FFolder;
};

TBenchFiles& Files() {
  static TBenchFiles files;
  return files;
}

void BM_LoadHosts(benchmark::State& state) {
  const std::string file = Files().File();
  THostsLoadOptions options;
  options.Now = 46100;
  double bytesPerHost = 0;
  int count = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<THostList>();
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    if (!LoadHosts(file, *list, options)) state.SkipWithError("load failed");
    state.PauseTiming();
    count = list->Count();
    bytesPerHost = static_cast<double>(mallinfo2().uordblks - before) / count;
    list.reset();
    state.ResumeTiming();
  }
  state.counters["records"] = count;
  state.counters["bytes_per_host"] = bytesPerHost;
  state.counters["file_bytes"] = static_cast<double>(std::filesystem::file_size(file));
}
BENCHMARK(BM_LoadHosts)->Unit(benchmark::kMillisecond);

void BM_SaveHosts(benchmark::State& state) {
  THostList list;
  LoadHosts(Files().File(), list, {});
  const std::string target = Files().Folder() + "/saved.cvlh";
  for (auto _ : state) {
    if (!SaveHosts(target, list)) state.SkipWithError("save failed");
  }
  state.counters["records"] = list.Count();
}
BENCHMARK(BM_SaveHosts)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
