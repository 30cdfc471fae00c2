// What the user does to hosts: disable, reset, simulate a failure.
#include "core/TMonitor.h"

#include <mutex>

#include "common/Clock.h"
#include "common/Fields.h"
#include "core/THostList.h"

namespace {
constexpr double SimulationDays = 5.0 / MinsPerDay;
}  // namespace

void TMonitor::UpdateSettings(const std::function<void(TSettings&)>& change) {
  std::unique_lock<std::shared_mutex> guard(FStateLock);
  change(FSettings);
}

bool TMonitor::UpdateHost(int index, const std::function<void(THost&)>& change, const char* where) {
  THost* host = FHosts->Items(index);
  if (!host) return false;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    change(*host);
  }
  HostChanged(*host, where);
  return true;
}

void TMonitor::DisableHost(int index, bool checked) {
  THost* host = FHosts->Items(index);
  if (!host) return;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    host->DisabledUntil = checked ? 0 : 1.0;
  }
  FEvaluation->CheckDependants(*host);
  HostChanged(*host, "DisableHost");
}

void TMonitor::DisableHostFor(int index, int minutes, bool checked) {
  THost* host = FHosts->Items(index);
  if (!host) return;
  const TDateTime until = checked ? 0 : FClock.Now() + minutes / MinsPerDay;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    host->DisabledUntil = until;
  }
  if (checked) {
    LogEvent(host, "Host Testing Enabled", TLogCategory::Information);
  } else {
    LogEvent(host, "Host Disabled Until " + TEventLog::FormatTime(until, Use24HourDate()), TLogCategory::Information);
  }
  FEvaluation->CheckDependants(*host);
  HostChanged(*host, "DisableFor");
}

void TMonitor::ResetHost(THost& record, int depth) {
  try {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    record.HasBeenOffline = false;
    record.ParentHasBeenOffline = false;
    record.SimulatedFailureUntil = 0;
    record.LastErrorText.clear();
    if (depth >= 1) {
      record.Status = StatusUnknown;
      record.PreviousStatus = StatusUnknown;
      record.TraceLastReply.clear();
      record.TraceDropPoint.clear();
      record.TraceReport.clear();
      record.BaselineTime = FClock.Now();
      record.CurrentIP.clear();
      record.MACAddress.clear();
    }
    if (depth >= 2) {
      // Back-to-back failures and errors stay: they weigh the next failures.
      record.Successes = 0;
      record.Failures = 0;
      record.Warnings = 0;
      record.TotalResponse = 0;
      record.LastSuccess = 0;
      record.LastFailure = 0;
      record.Uptime = 0;
      record.Downtime = 0;
      record.LastProbe = 0;
      record.StatusHistory.clear();
    }
  } catch (...) {
    ReportCurrentException("ResetHost");
  }
  if (depth >= 1) FEvaluation->CheckDependants(record);
}

void TMonitor::ResetHostStatus(int index, int depth, const std::string& by) {
  THost* host = FHosts->Items(index);
  if (!host) return;
  ResetHost(*host, depth);
  HostChanged(*host, "ResetHostStatus1");
  if (!host->IsDisabled(FClock.Now())) TestHost(index);
  LogEvent(host, "Host Status Reset" + by, TLogCategory::Test);
}

void TMonitor::ResetAllHosts(int depth, const std::string& by) {
  if (by.empty())
    LogEvent(nullptr, "Reset All Hosts", TLogCategory::Information);
  else
    LogEvent(nullptr, "Reset all hosts" + by, TLogCategory::Test);
  for (int index = 0; index < FHosts->Count(); ++index) {
    THost& host = *FHosts->Items(index);
    if (host.IsGroup()) continue;
    ResetHost(host, depth);
    if (!host.IsDisabled(FClock.Now())) TestHost(index);
    HostChanged(host, "ResetAllHosts");
  }
}

void TMonitor::ResetDependentHosts(int index, int depth) {
  THost* host = FHosts->Items(index);
  if (!host) return;
  const auto reset = [&](int i, THost& record, const std::string& message) {
    ResetHost(record, depth);
    LogEvent(&record, message, TLogCategory::Test);
    if (!record.IsDisabled(FClock.Now())) TestHost(i);
    HostChanged(record, "ResetDependents");
  };
  reset(index, *host, "Host Status Reset (plus dependents)");
  const std::string idText = host->IDText();
  const std::string message = "Host Status Reset (Dependent on " + HostLabel(*host) + ")";
  for (int i = 0; i < FHosts->Count(); ++i)
    if (THost& record = *FHosts->Items(i); ListHasItem(record.Ancestors, idText, ';')) reset(i, record, message);
}

void TMonitor::SimulateHostFailure(int index, const std::string& by) {
  THost* host = FHosts->Items(index);
  if (!host) return;
  if (host->SimulatedFailureUntil != 0) {
    {
      std::unique_lock<std::shared_mutex> guard(FStateLock);
      host->SimulatedFailureUntil = 0;
    }
    LogEvent(host, "Host Failure Simulation Ended" + by, TLogCategory::Test);
    TestHost(index);
    return;
  }
  LogEvent(host, "Simulated Host Failure" + by, TLogCategory::Test);
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    host->SimulatedFailureUntil = FClock.Now() + SimulationDays;
  }
  TTestResult result;
  result.HostID = host->ID;
  result.ForcedOffline = true;
  FEvaluation->UpdateHostStatus(result);
}

THost* TMonitor::InsertHost(int index, std::unique_ptr<THost> record) {
  if (!record) return nullptr;
  THost* listed;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    listed = FHosts->Insert(index, std::move(record));
    // Its parents may be listed already, and it may be a parent named before it came.
    FHosts->RecomputeAllAncestors();
  }
  FChanges->Added(listed->ID);
  FEvaluation->CheckAllParents();
  return listed;
}

void TMonitor::RemoveHost(int index) {
  const THost* host = FHosts->Items(index);
  if (!host) return;
  FChanges->AboutToBeRemoved(host->ID);
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    FHosts->RetireOrFree(FHosts->Extract(index));
    FHosts->RecomputeAllAncestors();
  }
  FEvaluation->CheckAllParents();
}

bool TMonitor::ToggleGroupCollapsed(int index) {
  THost* group = FHosts->Items(index);
  if (!group || !group->IsGroup()) return false;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    group->Status = group->Status == 1 ? 0 : 1;
  }
  HostChanged(*group, "ToggleGroup");
  return true;
}
