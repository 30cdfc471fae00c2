#include "core/TAlertChannels.h"

#include <algorithm>
#include <utility>

#include "common/Clock.h"
#include "common/TextUtils.h"
#include "core/TEventLogKeeper.h"
#include "core/THost.h"
#include "core/TSettings.h"
#include "hosttests/TBackgroundTask.h"

namespace {

std::pair<TDateTime, TDateTime> EmailWindow(const THost& host) {
  if (!host.EmailWindow) return {0, 0};
  return {static_cast<TDateTime>(host.WindowStart), static_cast<TDateTime>(host.WindowEnd)};
}

}  // namespace

TAlertChannels::~TAlertChannels() = default;

void TAlertChannels::HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) {
  switch (transition.Kind) {
    case TTransitionKind::AddressChanged: QueueIPChangeAlert(host); break;
    case TTransitionKind::WentOffline: AlertHostOffline(host, transition.TraceWanted, work); break;
    case TTransitionKind::CameOnline: AlertHostOnline(host, work); break;
    case TTransitionKind::Answering: RemoveFromAlertWindow(host); break;
    case TTransitionKind::ResultCounted: SendHostUpdate(host); break;
    case TTransitionKind::PageChanged: QueuePageChangeAlert(host); break;
  }
}

void TAlertChannels::LogEvent(THost& host, const std::string& message, TLogCategory category) {
  if (FContext.Events) FContext.Events->LogEvent(&host, message, category);
}

void TAlertChannels::QueueIPChangeAlert(THost& host) {
  if (host.IPChangeRecipients.empty() || !HasTemplate(TAlertKind::IPChange)) return;
  const auto [windowStart, windowEnd] = EmailWindow(host);
  QueueAlert(TAlertKind::IPChange, host.IPChangeRecipients, windowStart, windowEnd, host, 3, -1, false);
}

void TAlertChannels::QueuePageChangeAlert(THost& host) {
  const std::string& recipients = host.HTTPTest.ChangeRecipients;
  if (TrimChars(recipients, "; ", 0, TrimModeBoth).empty() || !HasTemplate(TAlertKind::PageChange)) return;
  const auto [windowStart, windowEnd] = EmailWindow(host);
  QueueAlert(TAlertKind::PageChange, recipients, windowStart, windowEnd, host, 3, -1, false);
}

void TAlertChannels::AlertHostOffline(THost& host, bool traceWanted, TTransitionWork& work) {
  if (traceWanted) work.Trace = StartHostDownTrace(host);
  const bool tracing = work.Trace != nullptr || host.RunningTrace != nullptr;
  const TDateTime now = FContext.Clock ? FContext.Clock->Now() : 0;

  if (!FContext.ServiceMode) {
    // The host's own sound belongs to the global one: without the flag neither plays.
    if (host.GlobalOfflineSound && FContext.Settings) {
      PlaySound(FContext.Settings->HostDownSound, !host.OfflineSound.empty());
      if (!host.OfflineSound.empty()) PlaySound(host.OfflineSound, false);
    }
    if (host.AlertWindow) AddToAlertWindow(host);
  }

  if (!host.OfflineRecipients.empty() && MailRouteConfigured() && !host.IsDisabled(now) &&
      HasTemplate(TAlertKind::Offline)) {
    const auto [windowStart, windowEnd] = EmailWindow(host);
    QueueAlert(TAlertKind::Offline, host.OfflineRecipients, windowStart, windowEnd, host, 2, 0, tracing);
  }
  LaunchCommand(host, host.OfflineCommand);
  if (host.OfflineNotify) StartNotification(host, true, work);
}

void TAlertChannels::AlertHostOnline(THost& host, TTransitionWork& work) {
  const TDateTime now = FContext.Clock ? FContext.Clock->Now() : 0;
  if (!FContext.ServiceMode) {
    if (host.GlobalOnlineSound && FContext.Settings)
      PlaySound(FContext.Settings->HostUpSound, !host.OnlineSound.empty());
    if (host.OnlinePopup) ShowOnlinePopup(HostLabel(host));
    if (!host.OnlineSound.empty()) PlaySound(host.OnlineSound, false);
  }

  // The relay service alone does not carry the online alert.
  if (!host.OnlineRecipients.empty() && PrimaryServerConfigured() && !host.IsDisabled(now) &&
      HasTemplate(TAlertKind::Online)) {
    LogEvent(host, "Queuing Alert to " + host.OnlineRecipients, TLogCategory::Mail);
    const auto [windowStart, windowEnd] = EmailWindow(host);
    QueueAlert(TAlertKind::Online, host.OnlineRecipients, windowStart, windowEnd, host, 3, 2, false);
  }
  LaunchCommand(host, host.OnlineCommand);
  if (host.OnlineNotify) StartNotification(host, false, work);
}

void TAlertChannels::LaunchCommand(THost& host, const std::string& command) {
  if (command.empty() || !RunsCommandLines()) return;
  if (RunCommandLine(command, host)) LogEvent(host, "Launching Command Line: " + command, TLogCategory::Information);
}

void TAlertChannels::StartNotification(THost& host, bool offline, TTransitionWork& work) {
  std::shared_ptr<TBackgroundTask> task = StartHttpNotification(host, offline);
  if (!task) return;
  std::erase_if(FNotificationThreads, [](const std::shared_ptr<TBackgroundTask>& t) { return !t->IsAlive(); });
  FNotificationThreads.push_back(task);
  work.Started.push_back({(offline ? "HTTP Down Alert " : "HTTP Up Alert ") + host.DisplayName, std::move(task)});
}

bool TAlertChannels::TakeNotification(const TBackgroundTask* task) {
  const auto it = std::find_if(FNotificationThreads.begin(), FNotificationThreads.end(),
                               [task](const std::shared_ptr<TBackgroundTask>& t) { return t.get() == task; });
  if (it == FNotificationThreads.end()) return false;
  FNotificationThreads.erase(it);
  return true;
}

void TAlertChannels::LoadConfiguration(const std::string&) {}

bool TAlertChannels::SaveConfiguration(const std::string&) { return true; }

void TAlertChannels::FreePendingAlerts() {}

bool TAlertChannels::HasTemplate(TAlertKind) const { return false; }

void TAlertChannels::QueueAlert(TAlertKind, const std::string&, TDateTime, TDateTime, THost&, int, int, bool) {}

void TAlertChannels::PlaySound(const std::string&, bool) {}

void TAlertChannels::AddToAlertWindow(THost&) {}

void TAlertChannels::RemoveFromAlertWindow(THost&) {}

void TAlertChannels::ShowOnlinePopup(const std::string&) {}

bool TAlertChannels::RunCommandLine(const std::string&, THost&) { return false; }

std::shared_ptr<TBackgroundTask> TAlertChannels::StartHttpNotification(THost&, bool) { return nullptr; }

std::shared_ptr<TBackgroundTask> TAlertChannels::StartHostDownTrace(THost&) { return nullptr; }

std::shared_ptr<TBackgroundTask> TAlertChannels::StartPeriodicTrace(THost&) { return nullptr; }

void TAlertChannels::SendHostUpdate(THost&) {}
