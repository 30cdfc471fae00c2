#include "platform/TSimServiceControl.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool IsPending(int state) {
  return state == svcstate::StartPending || state == svcstate::StopPending || state == svcstate::ContinuePending ||
         state == svcstate::PausePending;
}

int SettledState(int state) {
  switch (state) {
    case svcstate::StartPending:
    case svcstate::ContinuePending:
      return svcstate::Running;
    case svcstate::StopPending:
      return svcstate::Stopped;
    case svcstate::PausePending:
      return svcstate::Paused;
    default:
      return state;
  }
}

bool ProcessEnded(const TProcessHandle& process) { return !process.State || WaitForProcess(process, 0); }

}  // namespace

TSimServiceControl::~TSimServiceControl() {
  std::lock_guard lock(FLock);
  for (auto& [name, s] : FServices)
    if (s.Process.State) {
      if (!ProcessEnded(s.Process)) TerminateProcessGroup(s.Process, 1);
      CloseProcessHandle(s.Process);
    }
}

void TSimServiceControl::AddService(const std::string& name, const std::string& displayName, int state,
                                    const std::vector<std::string>& dependsOn) {
  std::lock_guard lock(FLock);
  TService& s = FServices[Lower(name)];
  s.Entry = TServiceEntry{name, displayName, state};
  s.DependsOn = dependsOn;
}

void TSimServiceControl::AddProcessService(const std::string& name, const std::vector<std::string>& argv) {
  AddService(name, name, svcstate::Stopped);
  std::lock_guard lock(FLock);
  FServices[Lower(name)].Argv = argv;
}

void TSimServiceControl::SetPendingMs(const std::string& name, int ms) {
  std::lock_guard lock(FLock);
  if (TService* s = Lookup(name)) s->PendingMs = ms;
}

void TSimServiceControl::SetRefusal(const std::string& name, int code) {
  std::lock_guard lock(FLock);
  if (TService* s = Lookup(name)) s->Refusal = code;
}

void TSimServiceControl::SetState(const std::string& name, int state) {
  std::lock_guard lock(FLock);
  if (TService* s = Lookup(name)) {
    s->Entry.State = state;
    s->PendingSince = FClockMs;
  }
}

void TSimServiceControl::SetUnreachable(const std::string& machine) {
  std::lock_guard lock(FLock);
  FUnreachable.insert(Lower(machine));
}

void TSimServiceControl::SetQueryHook(std::function<void()> hook) {
  std::lock_guard lock(FLock);
  FQueryHook = std::move(hook);
}

int TSimServiceControl::State(const std::string& name) {
  std::lock_guard lock(FLock);
  const TService* s = Find(name);
  return s ? s->Entry.State : 0;
}

std::vector<std::string> TSimServiceControl::Requests() {
  std::lock_guard lock(FLock);
  return FRequests;
}

double TSimServiceControl::ClockMs() const {
  std::lock_guard lock(FLock);
  return FClockMs;
}

double TSimServiceControl::NowMs() const { return ClockMs(); }

void TSimServiceControl::SleepMs(int ms) {
  bool realWait = false;
  {
    std::lock_guard lock(FLock);
    FClockMs += ms;
    for (const auto& [name, s] : FServices) realWait = realWait || (s.Process.State && IsPending(s.Entry.State));
  }
  // A process takes real time to go.
  if (realWait) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TSimServiceControl::TService* TSimServiceControl::Lookup(const std::string& name) {
  const auto it = FServices.find(Lower(name));
  return it == FServices.end() ? nullptr : &it->second;
}

TSimServiceControl::TService* TSimServiceControl::Find(const std::string& name) {
  TService* s = Lookup(name);
  if (s) Settle(*s);
  return s;
}

void TSimServiceControl::Settle(TService& s) {
  int& state = s.Entry.State;
  if (s.Process.State) {
    if (state != svcstate::Stopped && ProcessEnded(s.Process)) {
      state = svcstate::Stopped;
      CloseProcessHandle(s.Process);
    }
    return;
  }
  if (IsPending(state) && s.PendingMs != NeverMs && FClockMs - s.PendingSince >= s.PendingMs)
    state = SettledState(state);
}

int TSimServiceControl::Connect(const std::string& machine) {
  std::lock_guard lock(FLock);
  return FUnreachable.count(Lower(machine)) ? svcerr::RPC_S_SERVER_UNAVAILABLE : 0;
}

int TSimServiceControl::QueryState(const std::string&, const std::string& service, int& state) {
  std::function<void()> hook;
  {
    std::lock_guard lock(FLock);
    hook = FQueryHook;
  }
  if (hook) hook();
  std::lock_guard lock(FLock);
  const TService* s = Find(service);
  if (!s) return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
  if (s->Refusal != 0) return s->Refusal;
  state = s->Entry.State;
  return 0;
}

int TSimServiceControl::SendControl(const std::string&, const std::string& service, TServiceControlCode code,
                                    int& state) {
  std::lock_guard lock(FLock);
  TService* s = Find(service);
  if (!s) return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
  if (s->Refusal != 0) return s->Refusal;
  int& current = s->Entry.State;
  switch (code) {
    case TServiceControlCode::Stop:
      for (auto& [name, other] : FServices) {
        if (&other == s) continue;
        Settle(other);
        const bool needsIt = std::any_of(other.DependsOn.begin(), other.DependsOn.end(),
                                         [&](const std::string& d) { return Lower(d) == Lower(service); });
        if (needsIt && other.Entry.State != svcstate::Stopped) return svcerr::ERROR_DEPENDENT_SERVICES_RUNNING;
      }
      FRequests.push_back("Stop " + s->Entry.Name);
      if (s->Process.State) {
        kill(static_cast<pid_t>(s->Process.Value), SIGTERM);
        current = svcstate::StopPending;
      } else {
        current = s->PendingMs == 0 ? svcstate::Stopped : svcstate::StopPending;
      }
      break;
    case TServiceControlCode::Pause:
      if (s->Process.State) return svcerr::ERROR_INVALID_SERVICE_CONTROL;
      FRequests.push_back("Pause " + s->Entry.Name);
      current = s->PendingMs == 0 ? svcstate::Paused : svcstate::PausePending;
      break;
    case TServiceControlCode::Continue:
      if (s->Process.State) return svcerr::ERROR_INVALID_SERVICE_CONTROL;
      FRequests.push_back("Continue " + s->Entry.Name);
      current = s->PendingMs == 0 ? svcstate::Running : svcstate::ContinuePending;
      break;
  }
  s->PendingSince = FClockMs;
  state = current;
  return 0;
}

int TSimServiceControl::Launch(const std::string&, const std::string& service, const std::vector<std::string>&) {
  std::lock_guard lock(FLock);
  TService* s = Find(service);
  if (!s) return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
  if (s->Refusal != 0) return s->Refusal;
  if (s->Entry.State != svcstate::Stopped) return svcerr::ERROR_SERVICE_ALREADY_RUNNING;
  FRequests.push_back("Start " + s->Entry.Name);
  if (!s->Argv.empty()) {
    TSpawnOptions options;
    options.Program = s->Argv.front();
    options.Arguments.assign(s->Argv.begin() + 1, s->Argv.end());
    s->Process = SpawnProcess(options);
    if (s->Process.Value <= 0) {
      const int code = static_cast<int>(-s->Process.Value);
      CloseProcessHandle(s->Process);
      return code != 0 ? code : svcerr::ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    s->Entry.State = svcstate::Running;
    return 0;
  }
  s->Entry.State = s->PendingMs == 0 ? svcstate::Running : svcstate::StartPending;
  s->PendingSince = FClockMs;
  return 0;
}

int TSimServiceControl::Enumerate(const std::string&, std::vector<TServiceEntry>& services) {
  std::lock_guard lock(FLock);
  for (auto& [name, s] : FServices) {
    Settle(s);
    services.push_back(s.Entry);
  }
  return 0;
}

int TSimServiceControl::EnumerateDependents(const std::string&, const std::string& service,
                                            std::vector<TServiceEntry>& services) {
  std::lock_guard lock(FLock);
  if (!Find(service)) return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
  for (auto& [name, s] : FServices) {
    Settle(s);
    if (std::any_of(s.DependsOn.begin(), s.DependsOn.end(), [&](const std::string& d) { return Lower(d) == Lower(service); }))
      services.push_back(s.Entry);
  }
  return 0;
}
