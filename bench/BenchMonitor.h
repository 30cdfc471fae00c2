#pragma once
// A started monitor on a hosts file of loopback ping hosts, in a folder of its own with a
// private registry, data and window folder: what the monitor benchmarks share.
#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BenchHosts.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "core/TMonitor.h"
#include "platform/TServiceControl.h"

namespace benchmonitor {

// A hosts file of count loopback ping hosts, each tested every intervalMinutes.
inline void WriteLoopbackHosts(const std::string& file, int count, double intervalMinutes) {
  THostList list;
  benchhosts::AddLoopbackHosts(list, count, [&](THost& h, int) { h.TestInterval = intervalMinutes; });
  SaveHosts(file, list);
}

// The environment of one run; everything it wrote goes with it.
class TBenchFolder {
public:
  TBenchFolder() {
    char name[] = "/tmp/corvale-bench-XXXXXX";
    FPath = ::mkdtemp(name) ? name : "/tmp/corvale-bench";
    for (const char* sub : {"reg", "data", "run"}) std::filesystem::create_directories(FPath + "/" + sub);
    ::setenv("CORVALE_REGISTRY_DIR", (FPath + "/reg").c_str(), 1);
    ::setenv("CORVALE_DATA_DIR", (FPath + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (FPath + "/run").c_str(), 1);
  }
  ~TBenchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TBenchFolder(const TBenchFolder&) = delete;
  TBenchFolder& operator=(const TBenchFolder&) = delete;
  std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

// A headless monitor started on a fresh hosts file of count ping hosts.
class TBenchMonitor {
public:
  TBenchMonitor(TClock& clock, int count, double intervalMinutes) {
    const std::string hosts = FFolder.File("bench.cvlh");
    WriteLoopbackHosts(hosts, count, intervalMinutes);
    TStartOptions options;
    options.ServiceMode = true;
    options.HostsFileArg = hosts;
    FMonitor = std::make_unique<TMonitor>(options, clock, FServices);
    FMonitor->Startup();
  }
  ~TBenchMonitor() {
    FMonitor->Shutdown();
    FMonitor.reset();
  }
  TBenchMonitor(const TBenchMonitor&) = delete;
  TBenchMonitor& operator=(const TBenchMonitor&) = delete;
  TMonitor& Monitor() { return *FMonitor; }

private:
  TBenchFolder FFolder;
  TNoServiceControl FServices;
  std::unique_ptr<TMonitor> FMonitor;
};

// A number of /proc/self/status ("VmHWM:" in kB, "Threads:"); 0 when missing.
inline double ProcStatusValue(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string name;
  while (status >> name) {
    if (name == key) {
      double value = 0;
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

// The main of a monitor benchmark: the monitor needs the Qt application object.
inline int RunWithApplication(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace benchmonitor
