#include "platform/TServiceControl.h"

#include <chrono>
#include <thread>

namespace {

thread_local int LastError = 0;

// Dependency chains deeper than this are taken for a loop a backend failed to refuse.
constexpr int MaxDependencyDepth = 32;

bool IsActive(int state) { return state != svcstate::Stopped; }

}  // namespace

int TServiceControl::LastServiceError() { return LastError; }

bool TServiceControl::Fail(int code) {
  LastError = code;
  return false;
}

double TServiceControl::NowMs() const {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void TServiceControl::SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool TServiceControl::OpenManager(const std::string& machine) {
  LastError = 0;
  const int code = Connect(machine);
  return code == 0 || Fail(code);
}

bool TServiceControl::StartService(const std::string& machine, const std::string& service,
                                   const std::vector<std::string>& arguments) {
  LastError = 0;
  int code = Connect(machine);
  if (code == 0) code = Launch(machine, service, arguments);
  return code == 0 || Fail(code);
}

bool TServiceControl::StopService(const std::string& machine, const std::string& service, int waitMs,
                                  std::vector<std::string>* stopped, bool stopDependents) {
  LastError = 0;
  return Settle(machine, service, waitMs, stopped, stopDependents, TServiceControlCode::Stop, svcstate::Stopped,
                svcstate::StopPending, 0);
}

bool TServiceControl::PauseService(const std::string& machine, const std::string& service, int waitMs,
                                   std::vector<std::string>* paused, bool pauseDependents) {
  LastError = 0;
  return Settle(machine, service, waitMs, paused, pauseDependents, TServiceControlCode::Pause, svcstate::Paused,
                svcstate::PausePending, 0);
}

bool TServiceControl::Settle(const std::string& machine, const std::string& service, int waitMs,
                             std::vector<std::string>* done, bool withDependents, TServiceControlCode code, int target,
                             int pendingTarget, int depth) {
  if (depth > MaxDependencyDepth) return Fail(svcerr::ERROR_DEPENDENT_SERVICES_RUNNING);
  int state = 0;
  int error = Connect(machine);
  if (error == 0) error = QueryState(machine, service, state);
  if (error != 0) return Fail(error);
  if (state < svcstate::Running || state > svcstate::Paused) return Fail(0);
  if (withDependents) {
    std::vector<TServiceEntry> dependents;
    if (EnumerateDependents(machine, service, dependents) == 0)
      for (const TServiceEntry& dependent : dependents)
        if (IsActive(dependent.State))
          Settle(machine, dependent.Name, waitMs, done, true, code, target, pendingTarget, depth + 1);
    LastError = 0;  // a dependant that would not go shows in this service's own control
  }
  error = SendControl(machine, service, code, state);
  if (error != 0) return Fail(error);
  if (waitMs <= 0) {
    if (state != target && state != pendingTarget) return Fail(0);
  } else {
    const double start = NowMs();
    while (state != target) {
      if (NowMs() - start >= waitMs) return Fail(svcerr::ERROR_TIMEOUT);
      SleepMs(PollMs);
      error = QueryState(machine, service, state);
      if (error != 0) return Fail(error);
    }
  }
  if (done) done->push_back(service);
  return true;
}

bool TServiceControl::ContinueService(const std::string& machine, const std::string& service,
                                      std::vector<std::string>* continued) {
  LastError = 0;
  int state = 0;
  int error = Connect(machine);
  if (error == 0) error = QueryState(machine, service, state);
  if (error != 0) return Fail(error);
  if (state < svcstate::Running || state > svcstate::Paused) return Fail(0);
  error = SendControl(machine, service, TServiceControlCode::Continue, state);
  if (error != 0) return Fail(error);
  if (continued) continued->push_back(service);
  return true;
}

bool TServiceControl::IsServiceRunning(const std::string& machine, const std::string& service) {
  LastError = 0;
  int state = 0;
  int error = Connect(machine);
  if (error == 0) error = QueryState(machine, service, state);
  if (error != 0) return Fail(error);
  return state == svcstate::StartPending || state == svcstate::Running || state == svcstate::ContinuePending;
}

std::string TServiceControl::EntryText(const TServiceEntry& entry, const std::string& separator, int form) {
  if (form == 1) return entry.DisplayName;
  if (form == 2) return entry.Name + separator + entry.DisplayName;
  return entry.Name;
}

void TServiceControl::Fill(const std::vector<TServiceEntry>& services, std::vector<TListedService>& list,
                           bool withStates, bool activeOnly, const std::string& separator, int form) {
  for (const TServiceEntry& entry : services)
    if (!activeOnly || IsActive(entry.State))
      list.push_back(TListedService{EntryText(entry, separator, form), withStates ? entry.State : 0});
}

bool TServiceControl::ListServices(const std::string& machine, std::vector<TListedService>& list, int serviceTypes,
                                   bool withStates, bool activeOnly, const std::string& separator, int form) {
  LastError = 0;
  int error = Connect(machine);
  std::vector<TServiceEntry> services;
  if (error == 0) error = Enumerate(machine, services);
  if (error != 0) return Fail(error);
  // Drivers are no services of the systems reached here.
  if ((serviceTypes & SERVICE_WIN32) != 0) Fill(services, list, withStates, activeOnly, separator, form);
  return true;
}

bool TServiceControl::ListDependentServices(const std::string& machine, const std::string& service,
                                            std::vector<TListedService>& list, bool withStates, bool activeOnly,
                                            const std::string& separator, int form) {
  LastError = 0;
  int error = Connect(machine);
  std::vector<TServiceEntry> services;
  if (error == 0) error = EnumerateDependents(machine, service, services);
  if (error != 0) return Fail(error);
  Fill(services, list, withStates, activeOnly, separator, form);
  return false;
}

int TNoServiceControl::Connect(const std::string&) { return 0; }
int TNoServiceControl::QueryState(const std::string&, const std::string&, int&) {
  return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
}
int TNoServiceControl::SendControl(const std::string&, const std::string&, TServiceControlCode, int&) {
  return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
}
int TNoServiceControl::Launch(const std::string&, const std::string&, const std::vector<std::string>&) {
  return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
}
int TNoServiceControl::Enumerate(const std::string&, std::vector<TServiceEntry>&) { return 0; }
int TNoServiceControl::EnumerateDependents(const std::string&, const std::string&, std::vector<TServiceEntry>&) {
  return 0;
}
