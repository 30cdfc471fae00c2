#pragma once
// A started monitor on a hosts file of loopback ping hosts, in a folder of its own with a
// private registry, data and window folder: what the monitor benchmarks share.
#include <QCoreApplication>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/THostList.h"
#include "core/THostsFile.h"
#include "core/TMonitor.h"
#include "platform/TServiceControl.h"

namespace benchmonitor {

// Host n (0-based) answers on loopback: 127.1.0.1 upwards, 250 to a /24 so that no
// address ends in 0 or 255.
inline std::string LoopbackAddress(int n) {
  return "127.1." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

// Groups of 100 ping hosts, every fifth depending on the first host of its group, each
// tested every intervalMinutes.
inline void WriteLoopbackHosts(const std::string& file, int count, double intervalMinutes) {
  THostList list;
  std::string groupHead;
  for (int i = 0; i < count; ++i) {
    if (i % 100 == 0) {
      auto group = list.NewRecord(1);
      group->DisplayName = ";Group " + std::to_string(i / 100);
      list.Add(std::move(group));
    }
    auto h = list.NewRecord(1);
    h->DisplayName = "Host " + std::to_string(i);
    h->Address = LoopbackAddress(i);
    h->TestKind = TestPing;
    h->TestInterval = intervalMinutes;
    if (i % 100 == 0) groupHead = h->IDText();
    else if (i % 5 == 0) h->Parents = groupHead;
    list.Add(std::move(h));
  }
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

// Peak resident set of this process (VmHWM), in MB.
inline double PeakRssMB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kb = 0;
      status >> kb;
      return kb / 1024.0;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

}  // namespace benchmonitor
