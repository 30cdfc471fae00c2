#include "core/TLocalAlertRoute.h"

#include "core/THost.h"
#include "core/TSettings.h"

void TLocalAlertRoute::HostTransition(const THostTransition& transition, THost& host, TTransitionWork&) {
  // Without anyone at the computer only the alert window's list is kept right.
  if (FContext.ServiceMode && transition.Kind != TTransitionKind::Answering) return;
  switch (transition.Kind) {
    case TTransitionKind::WentOffline:
      // The host's own sound belongs to the global one: without the flag neither plays.
      if (host.GlobalOfflineSound && FContext.Settings) {
        FOutput.PlaySound(FContext.Settings->HostDownSound, !host.OfflineSound.empty());
        if (!host.OfflineSound.empty()) FOutput.PlaySound(host.OfflineSound, false);
      }
      if (host.AlertWindow) FOutput.AddToAlertWindow(host);
      break;
    case TTransitionKind::CameOnline:
      if (host.GlobalOnlineSound && FContext.Settings)
        FOutput.PlaySound(FContext.Settings->HostUpSound, !host.OnlineSound.empty());
      if (host.OnlinePopup) FOutput.ShowOnlinePopup(HostLabel(host));
      if (!host.OnlineSound.empty()) FOutput.PlaySound(host.OnlineSound, false);
      break;
    case TTransitionKind::Answering: FOutput.RemoveFromAlertWindow(host); break;
    default: break;
  }
}
