#include "core/TPageChangeMailRoute.h"

#include "common/TextUtils.h"
#include "core/THost.h"

void TPageChangeMailRoute::HostTransition(const THostTransition& transition, THost& host, TTransitionWork&) {
  if (transition.Kind != TTransitionKind::PageChanged) return;
  const std::string& recipients = host.HTTPTest.ChangeRecipients;
  if (TrimChars(recipients, "; ", 0, TrimModeBoth).empty() || !FMail.HasTemplate(TAlertKind::PageChange)) return;
  const auto [windowStart, windowEnd] = HostEmailWindow(host);
  FMail.QueueAlert(TAlertKind::PageChange, recipients, windowStart, windowEnd, host, 3, -1, false);
}
