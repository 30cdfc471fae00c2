#pragma once
// A started monitor on a hosts file of loopback ping hosts, in a folder of its own with a
// private registry, data and window folder: what the monitor benchmarks share.
#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <dirent.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
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
  // beforeStartup runs once the folder and the hosts file are ready (a sender of window
  // messages started there sees the start-up too).
  TBenchMonitor(TClock& clock, int count, double intervalMinutes, const std::function<void()>& beforeStartup = {}) {
    const std::string hosts = FFolder.File("bench.cvlh");
    WriteLoopbackHosts(hosts, count, intervalMinutes);
    TStartOptions options;
    options.ServiceMode = true;
    options.HostsFileArg = hosts;
    if (beforeStartup) beforeStartup();
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

// CPU seconds (user and system) of each live thread of this process, by thread id.
struct TThreadTime {
  std::string Name;
  double Seconds = 0;
};
inline std::map<int, TThreadTime> ThreadTimes() {
  std::map<int, TThreadTime> times;
  static const double ticksPerSecond = static_cast<double>(::sysconf(_SC_CLK_TCK));
  DIR* tasks = ::opendir("/proc/self/task");
  if (!tasks) return times;
  while (const dirent* entry = ::readdir(tasks)) {
    const int tid = std::atoi(entry->d_name);
    if (tid <= 0) continue;
    std::ifstream file("/proc/self/task/" + std::string(entry->d_name) + "/stat");
    std::string line;
    std::getline(file, line);
    // "tid (name) state ..." where the name may hold spaces and parentheses.
    const auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    double utime = 0, stime = 0;
    // After the name: state is field 3, utime 14, stime 15.
    for (int n = 3; n <= 15 && fields >> field; ++n) {
      if (n == 14) utime = std::atof(field.c_str());
      if (n == 15) stime = std::atof(field.c_str());
    }
    times[tid] = {line.substr(open + 1, close - open - 1), (utime + stime) / ticksPerSecond};
  }
  ::closedir(tasks);
  return times;
}

// The CPU seconds the threads spent between two samples, in the kinds the monitor's
// threads fall into: "main", "echo" (the echo engine's receive thread), "pool" (the test
// workers' pool) and "other"; threads that ended in between are missing.
inline std::map<std::string, double> ThreadKindSeconds(const std::map<int, TThreadTime>& from,
                                                       const std::map<int, TThreadTime>& to) {
  std::map<std::string, double> kinds{{"main", 0}, {"echo", 0}, {"pool", 0}, {"other", 0}};
  for (const auto& [tid, now] : to) {
    const auto before = from.find(tid);
    const double spent = now.Seconds - (before != from.end() ? before->second.Seconds : 0);
    const std::string kind = tid == ::getpid()                 ? "main"
                             : now.Name == "echo receive"      ? "echo"
                             : now.Name == "Thread (pooled)"   ? "pool"
                                                               : "other";
    kinds[kind] += spent;
  }
  return kinds;
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
