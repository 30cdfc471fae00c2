#include "core/TMailAlertRoute.h"

#include "common/Clock.h"
#include "core/TEventLogKeeper.h"
#include "core/THost.h"

std::pair<TDateTime, TDateTime> HostEmailWindow(const THost& host) {
  if (!host.EmailWindow) return {0, 0};
  return {static_cast<TDateTime>(host.WindowStart), static_cast<TDateTime>(host.WindowEnd)};
}

void TMailAlertRoute::HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) {
  const TDateTime now = FContext.Clock ? FContext.Clock->Now() : 0;
  const auto [windowStart, windowEnd] = HostEmailWindow(host);
  switch (transition.Kind) {
    case TTransitionKind::WentOffline:
      if (!host.OfflineRecipients.empty() && FMail.MailRouteConfigured() && !host.IsDisabled(now) &&
          FMail.HasTemplate(TAlertKind::Offline)) {
        const bool tracing = work.Trace != nullptr || host.RunningTrace != nullptr;
        FMail.QueueAlert(TAlertKind::Offline, host.OfflineRecipients, windowStart, windowEnd, host, 2, 0, tracing);
      }
      break;
    case TTransitionKind::CameOnline:
      // The relay service alone does not carry the online alert.
      if (!host.OnlineRecipients.empty() && FMail.PrimaryServerConfigured() && !host.IsDisabled(now) &&
          FMail.HasTemplate(TAlertKind::Online)) {
        if (FContext.Events) FContext.Events->LogEvent(&host, "Queuing Alert to " + host.OnlineRecipients, TLogCategory::Mail);
        FMail.QueueAlert(TAlertKind::Online, host.OnlineRecipients, windowStart, windowEnd, host, 3, 2, false);
      }
      break;
    case TTransitionKind::AddressChanged:
      if (!host.IPChangeRecipients.empty() && FMail.HasTemplate(TAlertKind::IPChange))
        FMail.QueueAlert(TAlertKind::IPChange, host.IPChangeRecipients, windowStart, windowEnd, host, 3, -1, false);
      break;
    default: break;
  }
}
