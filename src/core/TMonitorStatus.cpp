// The status evaluation of every finished test: status, statistics, address changes,
// the transitions that raise alerts, and the parent relations of all hosts.
#include "core/TMonitor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <utility>

#include "common/Clock.h"
#include "core/THostList.h"
#include "hosttests/TBackgroundTask.h"
#include "platform/NameLookup.h"
#include "platform/ArpTable.h"

namespace {

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

std::string TestName(std::int32_t kind) {
  return kind >= TestPing && kind < TestPlugin ? TestKindName(kind) : "Unknown test";
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

bool ListHasItem(std::string_view list, std::string_view item) {
  for (std::size_t start = 0; start <= list.size();) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    if (list.substr(start, end - start) == item) return true;
    start = end + 1;
  }
  return false;
}

std::pair<TDateTime, TDateTime> EmailWindow(const THost& host) {
  if (!host.EmailWindow) return {0, 0};
  return {static_cast<TDateTime>(host.WindowStart), static_cast<TDateTime>(host.WindowEnd)};
}

void QueueIPChangeAlert(TMonitor& monitor, THost& host) {
  TAlertChannels& alerts = monitor.Alerts();
  if (host.IPChangeRecipients.empty()) return;
  const std::string subject = alerts.Template(TAlertTemplate::IPChangeSubject);
  const std::string body = alerts.Template(TAlertTemplate::IPChangeBody);
  if (subject.empty() || body.empty()) return;
  const auto [windowStart, windowEnd] = EmailWindow(host);
  alerts.QueueAlert(host.IPChangeRecipients, subject, body, windowStart, windowEnd, host, 3, -1, false);
}

void LaunchCommand(TMonitor& monitor, THost& host, const std::string& command) {
  if (command.empty() || !monitor.Alerts().RunsCommandLines()) return;
  monitor.LogEvent(&host, "Launching Command Line: " + command, 'I');
  monitor.Alerts().RunCommandLine(command, host);
}

}  // namespace

void TMonitor::UpdateHostStatus(int index, bool success, bool forcedOffline, std::int32_t responseTime,
                                const std::string& newIP, const std::string& errorText,
                                const std::string& echoDetail) {
  THost* const host = FHosts->Items(index);
  // A host removed meanwhile has no row to refresh either.
  if (!host) return;
  if (RunState() == rsRunning) {
    Trace("Start UpdateHostStatus " + std::to_string(index));
    const TDateTime now = FClock.Now();
    bool simulated = false;
    std::string error = errorText;
    std::string detail = echoDetail;
    if (host->SimulatedFailureUntil != 0) {
      if (now >= host->SimulatedFailureUntil) {
        TWriteLock guard(FStateLock);
        host->SimulatedFailureUntil = 0;
      } else {
        simulated = true;
        success = false;
        error = "Simulated Failure";
        // The responder of a real answer would read as the cause of the failure.
        detail.clear();
      }
    }
    const bool counts = simulated || (FTestingOn && !host->IsDisabled(now) && !host->IsGroup() &&
                                      FHosts->ParentsUp(*host, now));
    if (counts) {
      try {
        bool addressChanged = false;
        if (success && !newIP.empty() && newIP != "0.0.0.0" && newIP != host->CurrentIP) {
          const std::string address = newIP;
          addressChanged = IPAddressChange(host->CurrentIP, address, TestName(host->TestKind), *host);
          std::string mac;
          if (host->LocalSubnet) {
            mac = MacText(ArpLookup(address));
            if (mac == "00:00:00:00:00:00") mac = host->MACAddress;
          }
          TWriteLock guard(FStateLock);
          host->CurrentIP = address;
          host->MACAddress = mac;
        }
        if (success)
          HostSucceeded(*host, responseTime, error);
        else
          HostFailed(*host, forcedOffline, simulated, responseTime, error, detail);
        // Its variables are filled now, so the mail tells the new address and this result.
        if (addressChanged) QueueIPChangeAlert(*this, *host);

        // The span between the starts of the last two tests goes to the state the host
        // is in now.
        const long double span = host->LastCheck - host->PreviousCheck;
        if (host->PreviousCheck > 0 && span > 0) {
          TWriteLock guard(FStateLock);
          if (host->Status == StatusOnline)
            host->Uptime += span;
          else if (host->Status == StatusWarning || host->Status == StatusOffline)
            host->Downtime += span;
        }
        RefreshHostRow(index, "UpdateHostStatus (TimeDown)");
        CheckParents();
        FAlerts->SendHostUpdate(*host);
      } catch (...) {
        // What was done stays done; the row below shows it.
        ReportCurrentException("UpdateHostStatus");
      }
    }
  }
  RefreshHostRow(index, "UpdateHostStatus");
}

void TMonitor::HostFailed(THost& host, bool forced, bool simulated, std::int32_t responseTime,
                          const std::string& errorText, const std::string& echoDetail) {
  const TDateTime now = FClock.Now();
  TDateTime previousFailure;
  std::int32_t previousStatus;
  {
    TWriteLock guard(FStateLock);
    previousFailure = host.LastFailure;
    previousStatus = host.Status;
    host.LastFailure = now;
    ++host.Failures;
    ++host.BackToBackFailures;
    host.PreviousStatus = host.Status;
    const bool offline =
        forced || simulated || HasHardErrorCode(errorText) ||
        SpanMs(now - std::max(host.BaselineTime, host.LastSuccess)) > MinutesMs(host.ErrorAfter);
    host.Status = offline ? StatusOffline : StatusWarning;
    host.AppendHistory(responseTime, now);
    if (offline) {
      const int weight = FailureWeight(host.BackToBackFailures, FSettings.FailFreqAdj);
      host.Errors += weight;
      host.Failures += static_cast<std::uint32_t>(weight - 1);
    } else {
      ++host.Warnings;
    }
  }

  const std::string expanded = errorText.empty() ? std::string() : FAlerts->ExpandHostVariables(errorText, host);
  if (host.BackToBackFailures == 1) {
    const std::string cause = (echoDetail.empty() ? std::string() : echoDetail + " ") + expanded;
    LogEvent(&host,
             previousFailure > host.BaselineTime
                 ? "Warning State; Up for: " + DurationText(now - previousFailure) + ", Error: " + cause
                 : "Warning State; Error: " + cause,
             'W');
  }
  if (!errorText.empty()) {
    TWriteLock guard(FStateLock);
    host.LastErrorText = TimeStamp(now) + expanded;
  }

  if (host.Status != StatusOffline || previousStatus == StatusOffline) return;
  const std::uint32_t failures = host.BackToBackFailures;
  LogEvent(&host,
           "Error State: " + std::to_string(failures) + " successive failure" + (failures == 1 ? "" : "s") +
               " over " + DurationText(now - std::max(host.LastSuccess, host.BaselineTime)) + ", Error: " + expanded,
           'E');
  {
    TWriteLock guard(FStateLock);
    host.HasBeenOffline = true;
  }
  // The baseline keeps a host that was down when it was loaded, or whose parent has just
  // come back, from alerting again.
  if (host.LastSuccess > host.BaselineTime || host.LastSuccess == 0 || FSettings.OfflineAlertsAtStartup || simulated)
    AlertHostOffline(host);
  else
    LogEvent(&host, "No alerts issued; host has not been up since the last alert", 'I');
}

void TMonitor::AlertHostOffline(THost& host) {
  if (!host.RunningTrace) {
    if (host.CurrentIP.empty()) {
      std::uint32_t address = 0;
      std::string dotted;
      if (Resolve(host.Address, address, dotted)) {
        TWriteLock guard(FStateLock);
        host.CurrentIP = dotted;
      }
    }
    const auto setTraceTexts = [&](const char* text) {
      TWriteLock guard(FStateLock);
      host.TraceLastReply = text;
      host.TraceReport = text;
      host.TraceDropPoint.clear();
    };
    const std::string& ip = host.CurrentIP;
    if (ip.empty() || ip == "-" || ip == "0.0.0.0") {
      setTraceTexts("N/A");
    } else if (host.LocalSubnet) {
      setTraceTexts("N/A: Local Host");
    } else {
      setTraceTexts("");
      if (std::shared_ptr<TBackgroundTask> trace = FAlerts->StartHostDownTrace(host)) {
        {
          TWriteLock guard(FStateLock);
          host.RunningTrace = trace;
        }
        AddRunningTest("Host Down Auto-Trace " + host.DisplayName, std::move(trace));
      }
    }
  }

  if (!ServiceMode()) {
    // The host's own sound belongs to the global one: without the flag neither plays.
    if (host.GlobalOfflineSound) {
      FAlerts->PlaySound(FSettings.HostDownSound, !host.OfflineSound.empty());
      if (!host.OfflineSound.empty()) FAlerts->PlaySound(host.OfflineSound, false);
    }
    if (host.AlertWindow) FAlerts->AddToAlertWindow(host);
  }

  if (!host.OfflineRecipients.empty() && FAlerts->MailRouteConfigured() && !host.IsDisabled(FClock.Now())) {
    const std::string subject = FAlerts->Template(TAlertTemplate::OfflineSubject);
    if (!subject.empty()) {
      const auto [windowStart, windowEnd] = EmailWindow(host);
      FAlerts->QueueAlert(host.OfflineRecipients, subject, FAlerts->Template(TAlertTemplate::OfflineBody),
                          windowStart, windowEnd, host, 2, 0, host.RunningTrace != nullptr);
    }
  }
  LaunchCommand(*this, host, host.OfflineCommand);
  if (host.OfflineNotify) StartNotification(host, true);
}

void TMonitor::HostSucceeded(THost& host, std::int32_t responseTime, const std::string& remark) {
  const TDateTime now = FClock.Now();
  TDateTime previousSuccess;
  std::uint32_t failures;
  {
    TWriteLock guard(FStateLock);
    previousSuccess = host.LastSuccess;
    failures = host.BackToBackFailures;
    host.BackToBackFailures = 0;
    host.LastSuccess = now;
    host.PreviousStatus = host.Status;
    host.Status = StatusOnline;
    host.AppendHistory(responseTime, now);
    ++host.Successes;
  }

  if (failures > 0) {
    const std::string count = std::to_string(failures) + (failures == 1 ? " Failure" : " Failures");
    LogEvent(&host,
             "Okay State; Is Responding After " +
                 (previousSuccess > host.BaselineTime ? DurationText(now - previousSuccess) + " (" + count + ")"
                                                      : count),
             'O');
    if (host.PreviousStatus == StatusOffline) AlertHostOnline(host);
    FAlerts->RemoveFromAlertWindow(host);
    // Dependents start a new watch: what they suffered while this host was down must
    // not alert again.
    const std::string id = host.IDText();
    TWriteLock guard(FStateLock);
    for (const auto& record : FHosts->Records())
      if (ListHasItem(record->Ancestors, id)) record->BaselineTime = now;
  }

  {
    TWriteLock guard(FStateLock);
    host.TotalResponse += responseTime;
    std::shift_left(host.ResponseHistory.begin(), host.ResponseHistory.end(), 1);
    host.ResponseHistory.back() = responseTime;
  }

  if (!remark.empty()) {
    const std::string expanded = FAlerts->ExpandHostVariables(remark, host);
    if (AfterTimeStamp(host.LastErrorText) != expanded) LogEvent(&host, expanded, 'I');
    TWriteLock guard(FStateLock);
    host.LastErrorText = TimeStamp(now) + expanded;
  }
}

void TMonitor::AlertHostOnline(THost& host) {
  if (!ServiceMode()) {
    if (host.GlobalOnlineSound) FAlerts->PlaySound(FSettings.HostUpSound, !host.OnlineSound.empty());
    if (host.OnlinePopup) FAlerts->ShowOnlinePopup(HostLabel(host));
    if (!host.OnlineSound.empty()) FAlerts->PlaySound(host.OnlineSound, false);
  }

  // The relay service alone does not carry the online alert.
  if (!host.OnlineRecipients.empty() && FAlerts->PrimaryServerConfigured() && !host.IsDisabled(FClock.Now())) {
    const std::string subject = FAlerts->Template(TAlertTemplate::OnlineSubject);
    if (!subject.empty()) {
      LogEvent(&host, "Queuing Alert to " + host.OnlineRecipients, 'M');
      const auto [windowStart, windowEnd] = EmailWindow(host);
      FAlerts->QueueAlert(host.OnlineRecipients, subject, FAlerts->Template(TAlertTemplate::OnlineBody), windowStart,
                          windowEnd, host, 3, 2, false);
    }
  }
  LaunchCommand(*this, host, host.OnlineCommand);
  if (host.OnlineNotify) StartNotification(host, false);
}

void TMonitor::StartNotification(THost& host, bool offline) {
  std::shared_ptr<TBackgroundTask> task = FAlerts->StartHttpNotification(host, offline);
  if (!task) return;
  std::erase_if(FNotificationThreads, [](const std::shared_ptr<TBackgroundTask>& t) { return !t->IsAlive(); });
  FNotificationThreads.push_back(task);
  AddRunningTest((offline ? "HTTP Down Alert " : "HTTP Up Alert ") + host.DisplayName, std::move(task));
}

bool TMonitor::IPAddressChange(const std::string& oldIP, const std::string& newIP, const std::string& testName,
                               THost& host) {
  // The first address learned after loading or a reset is no change.
  if (oldIP.empty() || oldIP == "-") return false;
  LogEvent(&host,
           "IP Address Change; New Address: " + newIP + "; Old Address: " + oldIP + " (During " + testName + ")", 'I');
  {
    TWriteLock guard(FStateLock);
    host.PreviousIP = oldIP;
  }
  return true;
}

void TMonitor::CheckParents() {
  const TDateTime now = FClock.Now();
  try {
    for (int index = 0; index < FHosts->Count(); ++index) {
      THost& record = *FHosts->Items(index);
      const bool wasUp = record.ParentsUp;
      const bool up = FHosts->ParentsUp(record, now);
      const bool parentDown = !up && !record.ParentHasBeenOffline && FHosts->ParentsDown(record, now);
      // Every result walks all records: the lock is taken only for what changes.
      if (up != wasUp || parentDown) {
        TWriteLock guard(FStateLock);
        record.ParentsUp = up;
        if (parentDown) record.ParentHasBeenOffline = true;
      }
      if (up != wasUp) RefreshHostRow(index, "CheckParents");
    }
  } catch (...) {
    // The records checked so far keep their new flags.
    ReportCurrentException("CheckParents");
  }
}
