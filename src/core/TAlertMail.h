#pragma once
// What the mail routes ask of the mail system: its templates, its outgoing routes and
// its queue.
#include <string>
#include <utility>

#include "common/DateTime.h"
#include "core/TAlertChannels.h"

class THost;

class TAlertMail {
public:
  virtual ~TAlertMail() = default;
  // Whether the configuration has the template of an alert kind (its subject; the IP
  // change needs its body too).
  virtual bool HasTemplate(TAlertKind kind) const = 0;
  // Whether an outgoing route exists (the primary server with a valid sender, or the
  // relay service with a valid sender); whether the primary server and its sender are
  // both set.
  virtual bool MailRouteConfigured() const = 0;
  virtual bool PrimaryServerConfigured() const = 0;
  // Queues the kind's e-mail alert for the host with the configuration's templates.
  // windowStart and windowEnd are 0 for no window.
  virtual void QueueAlert(TAlertKind kind, const std::string& recipients, TDateTime windowStart, TDateTime windowEnd,
                          THost& host, int priority, int cancelStatus, bool wantTrace) = 0;
};

// The host's e-mail window, or 0 and 0 when it has none.
std::pair<TDateTime, TDateTime> HostEmailWindow(const THost& host);
