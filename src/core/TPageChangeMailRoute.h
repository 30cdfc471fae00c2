#pragma once
// The page-change mail: a web-page test whose page changed above its threshold mails
// the request's change recipients, within the host's e-mail window.
#include "core/TAlertMail.h"
#include "core/THostTransition.h"

class TPageChangeMailRoute : public TTransitionSubscriber {
public:
  explicit TPageChangeMailRoute(TAlertMail& mail) : FMail(mail) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  TAlertMail& FMail;
};
