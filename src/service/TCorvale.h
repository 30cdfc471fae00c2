#pragma once
// The service: keeps "corvale service" running while it runs, and stops it in order
// when the service is stopped. It watches the monitor through its window "TfrmCorvale"
// and asks it to close with window message 3022. TServiceApplication runs it; the
// install handlers are in TCorvaleInstall.cpp.
#include <cstdint>
#include <functional>
#include <string>

#include "common/ProcessLaunch.h"
#include "service/TNTEventLog.h"
#include "service/TServiceUnit.h"

class TRegistryStore;

// How long a stop waits; shortened by tests (CORVALE_SERVICE_WAIT_DIVISOR).
struct TStopWaits {
  int CloseRequestMs = 25000;  // each of the two close requests
  int StopTotalMs = 60000;     // from the stop request until the monitor is ended
  int FinalPauseMs = 1000;
  // A monitor whose window went away on its own gets this long to end before its
  // successor starts, so two copies never share the data folder.
  int PreviousEndMs = 30000;
  // Reads the divisor from the environment.
  static TStopWaits FromEnvironment();
};

class TCorvale {
public:
  static constexpr const char* ServiceName = "Corvale";
  static constexpr const char* DisplayName = "Corvale";
  static constexpr const char* Description =
      "Monitors remote and local services and hosts and issues alerts when they are offline.";
  static constexpr const char* ServiceKey = "\\System\\CurrentControlSet\\Services\\Corvale";
  static constexpr const char* WindowClass = "TfrmCorvale";
  static constexpr std::uint32_t CloseRequestMessage = 3022;

  // What the framework gives the service thread.
  struct TFramework {
    // Handles pending control requests (a stop calls ServiceStop) without blocking.
    std::function<void()> ProcessRequests;
    // True once the framework wants the service thread to end.
    std::function<bool()> Terminated;
    // The framework's own logger, for when the event log cannot be used.
    std::function<void(const std::string&)> LogWarning;
  };

  explicit TCorvale(TRegistryStore* store = nullptr);
  ~TCorvale();
  TCorvale(const TCorvale&) = delete;
  TCorvale& operator=(const TCorvale&) = delete;

  TNTEventLog& EventLog() { return FEventLog; }
  // The registry the service keeps its keys in; null: the one in the usual places.
  TRegistryStore* Store() const { return FStore; }
  void SetWaits(const TStopWaits& waits) { FWaits = waits; }
  // The monitor program; "corvale" beside this program unless set.
  void SetMonitorProgram(const std::string& path) { FMonitorProgram = path; }
  const std::string& MonitorProgram() const { return FMonitorProgram; }

  // Runs the supervision until a stop; false when it ended on an error (the monitor
  // could not be started, or ended before it was ever ready). Throws EEventLogError
  // when the event source cannot be registered.
  bool ServiceExecute(const TFramework& framework);
  void ServiceStop();
  void ServiceShutdown() { ServiceStop(); }
  bool Stopping() const { return FStopping; }
  std::int64_t ProcessHandle() const { return FProcess.Value; }

  // Installation (TCorvaleInstall.cpp). Each returns false when the program is to end
  // at once with exit code 0 and nothing more is done; messages go to report.
  bool ServiceBeforeInstall(TServiceAccount& account, const std::function<void(const std::string&)>& report);
  void ServiceAfterInstall(const TServiceAccount& account, const std::string& program);
  bool ServiceBeforeUninstall();
  void ServiceAfterUninstall();
  // The account proposed for the service: the package's own user when it exists, else
  // the user who asked for the installation.
  static std::string ProposedAccount();

private:
  bool Launch();
  bool WindowExists() const;
  bool ProcessEnded() const;
  int ProcessExitCode() const;
  // Waits for the previous monitor to end, handling control requests meanwhile; ends it
  // when it does not.
  void AwaitPreviousEnd(const TFramework& framework);
  void SleepMs(int ms) const;

  TRegistryStore* FStore;
  TNTEventLog FEventLog;
  TStopWaits FWaits;
  std::string FMonitorProgram;
  std::string FWorkDir;
  bool FStopping = false;
  TProcessHandle FProcess;
};
