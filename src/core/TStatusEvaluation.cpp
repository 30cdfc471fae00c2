#include "core/TStatusEvaluation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <utility>

#include "common/Clock.h"
#include "common/NetText.h"
#include "core/TEventLogKeeper.h"
#include "core/THostChanges.h"
#include "core/THostList.h"
#include "core/RunState.h"
#include "core/TRunningTests.h"
#include "core/TSettings.h"
#include "hosttests/TBackgroundTask.h"
#include "hosttests/TTestContext.h"

namespace {
std::string AddressChangeText(const std::string& newIP, const std::string& oldIP, const std::string& during) {
  return "IP Address Change; New Address: " + newIP + "; Old Address: " + oldIP + " (During " + during + ")";
}

using TWriteLock = std::unique_lock<std::shared_mutex>;

constexpr double MsPerMinute = 60000.0;

// Whole milliseconds: date-times are day counts whose rounding must not decide whether
// a failure run has lasted exactly its error-after time or a little longer.
long long SpanMs(TDateTime span) {
  const double ms = span * MSecsPerDay;
  return std::isfinite(ms) ? std::llround(ms) : 0;
}

long long MinutesMs(double minutes) {
  const double ms = minutes * MsPerMinute;
  return std::isfinite(ms) ? std::llround(ms) : 0;
}

// "dd:hh:nn:ss", the days with at least two digits.
std::string DurationText(TDateTime span) {
  const long long seconds = std::max(0LL, SpanMs(span)) / 1000;
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", seconds / 86400, seconds / 3600 % 24,
                seconds / 60 % 60, seconds % 60);
  return text;
}

// Errors that leave no doubt that the host cannot be reached: the failure is final at
// once. They appear in error texts as eight upper-case hexadecimal digits.
bool HasHardErrorCode(const std::string& errorText) {
  static constexpr int Codes[] = {10039, 10043, 10046, 10047, 10065, 11001, 11002, 11003, 11005, 11012, 11018, 11022};
  if (errorText.size() < 8) return false;
  for (int code : Codes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
    if (errorText.find(hex) != std::string::npos) return true;
  }
  return false;
}

// A host that keeps failing counts heavier, by the steps that also stretch its interval.
int FailureWeight(std::uint32_t backToBackFailures, bool adjust) {
  if (!adjust || backToBackFailures < 10) return 1;
  return backToBackFailures < 20 ? 3 : backToBackFailures < 50 ? 5 : 10;
}

std::string TestName(TTestKind kind) {
  const std::string name = IsPluginKind(kind) ? std::string() : TestKindName(kind);
  return name.empty() ? "Unknown test" : name;
}

std::string TimeStamp(TDateTime now) { return FormatDateTime("h:nna/p ", now); }

// A last error text without its time stamp ("h:nna/p ", dated "mmm d, " after midnight).
std::string_view AfterTimeStamp(std::string_view text) {
  const auto colon = text.find(':');
  if (colon != std::string_view::npos && colon + 4 < text.size() && (text[colon + 3] == 'a' || text[colon + 3] == 'p') &&
      text[colon + 4] == ' ')
    return text.substr(colon + 5);
  return text;
}

// A fraction as a percentage with at most one decimal: 0.012 gives "1.2", 0.02 gives "2".
std::string PercentText(float change) {
  const double tenths = std::trunc(static_cast<double>(change) * 1000 + 0.5);
  if (!std::isfinite(tenths) || std::fabs(tenths) > 1e9) return "0";
  const long long t = static_cast<long long>(tenths);
  return std::to_string(t / 10) + (t % 10 != 0 ? "." + std::to_string(std::llabs(t % 10)) : std::string());
}

bool NoAddress(const std::string& ip) { return ip.empty() || ip == "-" || ip == "0.0.0.0"; }

// A loopback address never has a neighbour entry: its answer is at hand.
bool AsksNeighbourTable(const std::string& address) { return !address.empty() && ParseIPv4(address)[0] != 127; }

}  // namespace

TStatusEvaluation::TStatusEvaluation(TMonitorParts parts, TTestContext& tests,
                                     std::function<TVariableContext()> variables)
    : F(std::move(parts)), FTests(tests), FVariables(std::move(variables)) {}

TStatusEvaluation::~TStatusEvaluation() = default;

void TStatusEvaluation::AddSubscriber(TTransitionSubscriber* subscriber) {
  if (subscriber && std::find(FSubscribers.begin(), FSubscribers.end(), subscriber) == FSubscribers.end())
    FSubscribers.push_back(subscriber);
}

void TStatusEvaluation::RemoveSubscriber(TTransitionSubscriber* subscriber) { std::erase(FSubscribers, subscriber); }

std::string TStatusEvaluation::Expand(const std::string& text, const THost& host) {
  if (text.find('%') == std::string::npos) return text;
  TVariableContext context = FVariables ? FVariables() : TVariableContext();
  context.Faults = [this](const std::string& where, const std::string& what) { FHeldFaults.emplace_back(where, what); };
  return ExpandHostVariables(text, host, false, context);
}

bool TStatusEvaluation::FailureIsFinal(const THost& host, bool forced, bool simulated,
                                       const std::string& errorText) const {
  const TDateTime now = F.Clock.Now();
  return forced || simulated || HasHardErrorCode(errorText) ||
         SpanMs(now - std::max(host.BaselineTime, host.LastSuccess)) > MinutesMs(host.ErrorAfter);
}

void TStatusEvaluation::UpdateHostStatus(const TTestResult& result) {
  if (const auto waiting = FWaiting.find(result.HostID); waiting != FWaiting.end()) {
    waiting->second.push_back(result);
    return;
  }
  TakeResult(result, nullptr);
}

TAddressLookup TStatusEvaluation::LookupFor(const TTestResult& result, const THost& host) const {
  TAddressLookup lookup;
  const TDateTime now = F.Clock.Now();
  const bool simulated = host.SimulatedFailureUntil != 0 && now < host.SimulatedFailureUntil;
  const bool success = result.Success && !simulated;
  const bool counted =
      simulated || (FTestingOn && !host.IsDisabled(now) && !host.IsGroup() && F.Hosts.ParentsUp(host, now));
  if (!counted) return lookup;
  if (success && host.LocalSubnet && !result.NewIP.empty() && result.NewIP != "0.0.0.0" && result.NewIP != host.CurrentIP)
    lookup.Neighbour = result.NewIP;
  // The address a host-down trace would follow.
  if (!success && host.Status != StatusOffline && !host.RunningTrace && host.CurrentIP.empty() &&
      FailureIsFinal(host, result.ForcedOffline, simulated, simulated ? std::string("Simulated Failure") : result.ErrorText))
    lookup.Name = host.Address;
  return lookup;
}

void TStatusEvaluation::StartLookup(const TTestResult& result, TAddressLookup question) {
  const std::int32_t hostID = result.HostID;
  FWaiting[hostID].push_back(result);
  F.Trace("Address lookup " + std::to_string(hostID));
  TTestContext& tests = FTests;
  const std::weak_ptr<int> alive = FAlive;
  try {
    tests.RunInPool([&tests, alive, hostID, this, question]() mutable {
      question.Run();
      tests.PostCompletion(tests.Completions.Name, [alive, hostID, this, answer = std::move(question)] {
        if (alive.lock()) LookupAnswered(hostID, answer);
      });
    });
  } catch (...) {
    // Without the pool the result is taken as if nothing answered, not held for ever.
    ReportFault(F.Faults, "Address lookup", CurrentExceptionText());
    LookupAnswered(hostID, question);
  }
}

void TStatusEvaluation::LookupAnswered(std::int32_t hostID, const TAddressLookup& answer) {
  const auto waiting = FWaiting.find(hostID);
  if (waiting == FWaiting.end()) return;
  std::deque<TTestResult> results = std::move(waiting->second);
  FWaiting.erase(waiting);
  const TTestResult first = results.front();
  results.pop_front();
  TakeResult(first, &answer);
  while (!results.empty()) {
    // A later result may need a lookup of its own: the rest wait behind it.
    if (const auto again = FWaiting.find(hostID); again != FWaiting.end()) {
      again->second.insert(again->second.end(), results.begin(), results.end());
      return;
    }
    const TTestResult next = results.front();
    results.pop_front();
    TakeResult(next, nullptr);
  }
}

void TStatusEvaluation::TakeResult(const TTestResult& result, const TAddressLookup* answer) {
  THost* const host = F.Hosts.Items(F.Hosts.FindByID(result.HostID));
  // A host removed meanwhile has no row to refresh either.
  if (!host) return;
  if (!answer && F.RunState.load() == rsRunning) {
    TAddressLookup question = LookupFor(result, *host);
    if (AsksNeighbourTable(question.Neighbour) || !(question.Name.empty() || TAddressLookup::IsDotted(question.Name))) {
      StartLookup(result, std::move(question));
      return;
    }
  }
  FResults.fetch_add(1, std::memory_order_relaxed);
  if (F.RunState.load() == rsRunning) {
    F.Trace("Start UpdateHostStatus " + host->IDText());
    TSteps steps;
    bool counted = false;
    const std::int32_t statusBefore = host->Status;
    try {
      const TDateTime now = F.Clock.Now();
      const bool simulated = host->SimulatedFailureUntil != 0 && now < host->SimulatedFailureUntil;
      const bool simulationOver = host->SimulatedFailureUntil != 0 && !simulated;
      const bool success = result.Success && !simulated;
      const std::string& error = simulated ? std::string("Simulated Failure") : result.ErrorText;
      // The responder of a real answer would read as the cause of a simulated failure.
      const std::string& detail = simulated ? std::string() : result.EchoDetail;
      counted = simulated || (FTestingOn && !host->IsDisabled(now) && !host->IsGroup() && F.Hosts.ParentsUp(*host, now));

      // The answers of the lookup asked before, as far as the record still asks the same.
      TAddressLookup lookup = LookupFor(result, *host);
      if (answer && answer->Neighbour == lookup.Neighbour) lookup.Mac = answer->Mac;
      if (answer && answer->Name == lookup.Name) lookup.Resolved = answer->Resolved;
      if (lookup.Resolved.empty() && TAddressLookup::IsDotted(lookup.Name)) lookup.Resolved = lookup.Name;
      std::string newAddress, mac;
      if (counted && success && !result.NewIP.empty() && result.NewIP != "0.0.0.0" && result.NewIP != host->CurrentIP) {
        newAddress = result.NewIP;
        if (host->LocalSubnet) {
          mac = lookup.Mac;
          if (mac.empty() || mac == "00:00:00:00:00:00") mac = host->MACAddress;
        }
      }
      const std::string& resolved = lookup.Resolved;

      TWriteLock guard(F.StateLock);
      if (simulationOver) host->SimulatedFailureUntil = 0;
      if (counted) {
        bool addressChanged = false;
        if (!newAddress.empty()) {
          const std::string oldIP = host->CurrentIP;
          // The first address learned after loading or a reset is no change.
          if (!oldIP.empty() && oldIP != "-") {
            steps.push_back({false, TLogCategory::Information, AddressChangeText(newAddress, oldIP, TestName(host->TestKind)), {}});
            host->PreviousIP = oldIP;
            addressChanged = true;
          }
          host->CurrentIP = newAddress;
          host->MACAddress = mac;
        }
        if (success)
          HostSucceeded(*host, result.ResponseTime, error, steps);
        else
          HostFailed(*host, result.ForcedOffline, simulated, result.ResponseTime, error, detail, resolved, steps);
        // After the result, so the mail tells the new address and this result.
        if (addressChanged) steps.push_back({true, {}, {}, {TTransitionKind::AddressChanged, host->ID, false}});

        // The span between the starts of the last two tests goes to the state the host
        // is in now.
        const long double span = host->LastCheck - host->PreviousCheck;
        if (host->PreviousCheck > 0 && span > 0) {
          if (host->Status == StatusOnline)
            host->Uptime += span;
          else if (host->Status == StatusWarning || host->Status == StatusOffline)
            host->Downtime += span;
        }
        steps.push_back({true, {}, {}, {TTransitionKind::ResultCounted, host->ID, false}});
      }
      if (result.PageTest) PageMeasured(*host, result.Success, result.PageChange, steps);
    } catch (...) {
      // What was done stays done; the row below shows it.
      FHeldFaults.emplace_back("UpdateHostStatus", CurrentExceptionText());
    }

    bool dependantsChecked = false;
    try {
      for (const TStep& step : steps) {
        if (!step.IsTransition) {
          F.Events.LogEvent(host, step.Message, step.Category);
          continue;
        }
        // After the alerts and before the update to other programs, which tells the
        // dependants' flags too.
        if (step.Transition.Kind == TTransitionKind::ResultCounted && host->Status != statusBefore) {
          dependantsChecked = true;
          CheckDependants(*host);
        }
        Deliver(step.Transition, *host);
      }
    } catch (...) {
      FHeldFaults.emplace_back("UpdateHostStatus", CurrentExceptionText());
    }
    // A result cut short by an error may still have changed the status.
    if (!dependantsChecked && host->Status != statusBefore) CheckDependants(*host);
  }
  for (auto& [where, what] : std::exchange(FHeldFaults, {})) ReportFault(F.Faults, where, what);
  F.Changes.Changed(host->ID, "UpdateHostStatus");
}

void TStatusEvaluation::AddressLearned(THost& host, const std::string& newIP, const std::string& mac,
                                       const std::string& reason) {
  const std::string oldIP = host.CurrentIP;
  if (newIP.empty() || newIP == oldIP) return;
  const bool changed = !oldIP.empty() && oldIP != "-";
  {
    TWriteLock guard(F.StateLock);
    if (changed) host.PreviousIP = oldIP;
    host.CurrentIP = newIP;
    host.MACAddress = mac;
  }
  if (!changed) return;
  F.Events.LogEvent(&host, AddressChangeText(newIP, oldIP, reason), TLogCategory::Information);
  Deliver({TTransitionKind::AddressChanged, host.ID, false}, host);
}

void TStatusEvaluation::Deliver(const THostTransition& transition, THost& host) {
  for (TTransitionSubscriber* subscriber : std::vector(FSubscribers)) {
    TTransitionWork work;
    subscriber->HostTransition(transition, host, work);
    if (work.Trace) {
      {
        TWriteLock guard(F.StateLock);
        host.RunningTrace = work.Trace;
      }
      F.Running.Add("Host Down Auto-Trace " + host.DisplayName, std::move(work.Trace));
    }
    for (TRunningTask& task : work.Started) F.Running.Add(task.Name, std::move(task.Task));
  }
}

void TStatusEvaluation::HostFailed(THost& host, bool forced, bool simulated, std::int32_t responseTime,
                                   const std::string& errorText, const std::string& echoDetail,
                                   const std::string& resolvedIP, TSteps& steps) {
  const TDateTime now = F.Clock.Now();
  const TDateTime previousFailure = host.LastFailure;
  const std::int32_t previousStatus = host.Status;
  const bool offline = FailureIsFinal(host, forced, simulated, errorText);
  host.LastFailure = now;
  ++host.Failures;
  ++host.BackToBackFailures;
  host.PreviousStatus = host.Status;
  host.Status = offline ? StatusOffline : StatusWarning;
  host.AppendHistory(responseTime, now);
  if (offline) {
    const int weight = FailureWeight(host.BackToBackFailures, F.Settings.FailFreqAdj);
    host.Errors += weight;
    host.Failures += static_cast<std::uint32_t>(weight - 1);
  } else {
    ++host.Warnings;
  }

  const std::string expanded = errorText.empty() ? std::string() : Expand(errorText, host);
  if (host.BackToBackFailures == 1) {
    const std::string cause = (echoDetail.empty() ? std::string() : echoDetail + " ") + expanded;
    steps.push_back({false, TLogCategory::Warning,
                     previousFailure > host.BaselineTime
                         ? "Warning State; Up for: " + DurationText(now - previousFailure) + ", Error: " + cause
                         : "Warning State; Error: " + cause,
                     {}});
  }
  if (!errorText.empty()) host.LastErrorText = TimeStamp(now) + expanded;

  if (host.Status != StatusOffline || previousStatus == StatusOffline) return;
  const std::uint32_t failures = host.BackToBackFailures;
  steps.push_back({false, TLogCategory::Error,
                   "Error State: " + std::to_string(failures) + " successive failure" + (failures == 1 ? "" : "s") +
                       " over " + DurationText(now - std::max(host.LastSuccess, host.BaselineTime)) +
                       ", Error: " + expanded,
                   {}});
  host.HasBeenOffline = true;
  // The baseline keeps a host that was down when it was loaded, or whose parent has just
  // come back, from alerting again.
  if (!(host.LastSuccess > host.BaselineTime || host.LastSuccess == 0 || F.Settings.OfflineAlertsAtStartup ||
        simulated)) {
    steps.push_back({false, TLogCategory::Information, "No alerts issued; host has not been up since the last alert", {}});
    return;
  }
  bool traceWanted = false;
  if (!host.RunningTrace) {
    if (host.CurrentIP.empty() && !resolvedIP.empty()) host.CurrentIP = resolvedIP;
    const auto setTraceTexts = [&](const char* text) {
      host.TraceLastReply = text;
      host.TraceReport = text;
      host.TraceDropPoint.clear();
    };
    if (NoAddress(host.CurrentIP)) {
      setTraceTexts("N/A");
    } else if (host.LocalSubnet) {
      setTraceTexts("N/A: Local Host");
    } else {
      setTraceTexts("");
      traceWanted = true;
    }
  }
  steps.push_back({true, {}, {}, {TTransitionKind::WentOffline, host.ID, traceWanted}});
}

void TStatusEvaluation::HostSucceeded(THost& host, std::int32_t responseTime, const std::string& remark,
                                      TSteps& steps) {
  const TDateTime now = F.Clock.Now();
  const TDateTime previousSuccess = host.LastSuccess;
  const std::uint32_t failures = host.BackToBackFailures;
  host.BackToBackFailures = 0;
  host.LastSuccess = now;
  host.PreviousStatus = host.Status;
  host.Status = StatusOnline;
  host.AppendHistory(responseTime, now);
  ++host.Successes;

  if (failures > 0) {
    const std::string count = std::to_string(failures) + (failures == 1 ? " Failure" : " Failures");
    steps.push_back({false, TLogCategory::Okay,
                     "Okay State; Is Responding After " +
                         (previousSuccess > host.BaselineTime ? DurationText(now - previousSuccess) + " (" + count + ")"
                                                              : count),
                     {}});
    if (host.PreviousStatus == StatusOffline) steps.push_back({true, {}, {}, {TTransitionKind::CameOnline, host.ID, false}});
    steps.push_back({true, {}, {}, {TTransitionKind::Answering, host.ID, false}});
    // Dependents start a new watch: what they suffered while this host was down must
    // not alert again.
    for (const std::int32_t id : F.Hosts.Dependants(host.ID))
      if (THost* record = F.Hosts.Items(F.Hosts.FindByID(id))) record->BaselineTime = now;
  }

  host.TotalResponse += responseTime;
  std::shift_left(host.ResponseHistory.begin(), host.ResponseHistory.end(), 1);
  host.ResponseHistory.back() = responseTime;

  if (!remark.empty()) {
    const std::string expanded = Expand(remark, host);
    if (AfterTimeStamp(host.LastErrorText) != expanded) steps.push_back({false, TLogCategory::Information, expanded, {}});
    host.LastErrorText = TimeStamp(now) + expanded;
  }
}

void TStatusEvaluation::PageMeasured(THost& host, bool success, float change, TSteps& steps) {
  host.HTTPTest.LastChange = change;
  // A threshold of 0 counts every measurable change; an unmeasured page never changed.
  if (!(change * 100 > host.HTTPTest.ChangeThreshold)) return;
  host.LastErrorText = TimeStamp(F.Clock.Now()) + "Page content changed " + PercentText(change) + "%";
  if (success) steps.push_back({true, {}, {}, {TTransitionKind::PageChanged, host.ID, false, change}});
}

bool TStatusEvaluation::CheckParentsOf(THost& record) {
  const TDateTime now = F.Clock.Now();
  const bool wasUp = record.ParentsUp;
  const bool up = F.Hosts.ParentsUp(record, now);
  const bool parentDown = !up && !record.ParentHasBeenOffline && F.Hosts.ParentsDown(record, now);
  if (up != wasUp || parentDown) {
    TWriteLock guard(F.StateLock);
    record.ParentsUp = up;
    if (parentDown) record.ParentHasBeenOffline = true;
  }
  if (up != wasUp) F.Changes.Changed(record.ID, "CheckParents");
  return up != wasUp;
}

void TStatusEvaluation::CheckDependants(const THost& host) {
  try {
    if (THost* self = F.Hosts.Items(F.Hosts.FindByID(host.ID))) CheckParentsOf(*self);
    // A copy: the list of dependants may be rebuilt while a row is refreshed.
    for (const std::int32_t id : std::vector(F.Hosts.Dependants(host.ID)))
      if (THost* record = F.Hosts.Items(F.Hosts.FindByID(id))) CheckParentsOf(*record);
  } catch (...) {
    ReportFault(F.Faults, "CheckParents", CurrentExceptionText());
  }
}

void TStatusEvaluation::CheckAllParents() {
  try {
    for (int index = 0; index < F.Hosts.Count(); ++index) CheckParentsOf(*F.Hosts.Items(index));
  } catch (...) {
    // The records checked so far keep their new flags.
    ReportFault(F.Faults, "CheckParents", CurrentExceptionText());
  }
}
