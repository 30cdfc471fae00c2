#pragma once
// The mail route: the offline, online and address-change mails of a host, to its
// recipients, within its e-mail window. Reads the host's recipients and window.
#include "core/TAlertChannels.h"
#include "core/TAlertMail.h"
#include "core/THostTransition.h"

class TMailAlertRoute : public TTransitionSubscriber {
public:
  TMailAlertRoute(TAlertMail& mail, const TAlertContext& context) : FMail(mail), FContext(context) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  TAlertMail& FMail;
  TAlertContext FContext;
};
