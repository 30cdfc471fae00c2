#pragma once
// A simulated service control manager: services with exact states, pending states that
// last a given time or never end, dependants, refusals, and services that are real
// processes (started with their command line, stopped with SIGTERM, stop pending until
// the process has gone). Its clock moves only by the waits of the operations, so a
// 30-second wait costs no time. For tests and demonstrations; thread-safe.
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Processes.h"
#include "platform/TServiceControl.h"

class TSimServiceControl : public TServiceControl {
public:
  static constexpr int NeverMs = -1;

  TSimServiceControl() = default;
  ~TSimServiceControl() override;

  // A service of every machine; dependsOn names the services it needs.
  void AddService(const std::string& name, const std::string& displayName, int state,
                  const std::vector<std::string>& dependsOn = {});
  // A service that is a process: started with argv, stopped with SIGTERM.
  void AddProcessService(const std::string& name, const std::vector<std::string>& argv);
  // How long the pending states of a service last on the clock (NeverMs: for ever).
  void SetPendingMs(const std::string& name, int ms);
  // Every primitive on the service fails with code (0: none).
  void SetRefusal(const std::string& name, int code);
  void SetState(const std::string& name, int state);
  // Machines whose manager cannot be reached (1722).
  void SetUnreachable(const std::string& machine);
  // Runs at the start of every state query, outside the lock (a test holds queries here).
  void SetQueryHook(std::function<void()> hook);
  int State(const std::string& name);
  // Controls and starts in the order received, "Stop X", "Start X", ...
  std::vector<std::string> Requests();
  double ClockMs() const;

  int Connect(const std::string& machine) override;
  int QueryState(const std::string& machine, const std::string& service, int& state) override;
  int SendControl(const std::string& machine, const std::string& service, TServiceControlCode code,
                  int& state) override;
  int Launch(const std::string& machine, const std::string& service,
             const std::vector<std::string>& arguments) override;
  int Enumerate(const std::string& machine, std::vector<TServiceEntry>& services) override;
  int EnumerateDependents(const std::string& machine, const std::string& service,
                          std::vector<TServiceEntry>& services) override;

protected:
  double NowMs() const override;
  void SleepMs(int ms) override;

private:
  struct TService {
    TServiceEntry Entry;
    std::vector<std::string> DependsOn;
    std::vector<std::string> Argv;  // empty: no process
    TProcessHandle Process;
    int PendingMs = 0;
    double PendingSince = 0;
    int Refusal = 0;
  };
  // The service by name (any case); nullptr when none. Settles a pending state whose
  // time has come. Under FLock.
  TService* Find(const std::string& name);
  // The same without settling (the setters set exact states).
  TService* Lookup(const std::string& name);
  void Settle(TService& s);

  mutable std::mutex FLock;
  std::map<std::string, TService> FServices;  // by lower-case name
  std::set<std::string> FUnreachable;
  std::vector<std::string> FRequests;
  std::function<void()> FQueryHook;
  double FClockMs = 0;
};
