#pragma once
// The alert side as the monitor sees it: the routes it registers (each route applies its
// own rule to a transition; see TAlertRoutes) and the services the monitor, the window
// and the web interface ask of it outside a transition: the e-mail configuration, the
// queue's size, the periodic trace, a command line, a sound. This base class is the
// alert side of a monitor with none of them: it registers no route and does nothing.
#include <memory>
#include <string>

#include "common/DateTime.h"

class TClock;
class TEventLogKeeper;
class THost;
class TSettings;
class TBackgroundTask;
class TAlertRoutes;

// The alert templates of the e-mail configuration.
enum class TAlertTemplate {
  OfflineSubject,
  OfflineBody,
  OnlineSubject,
  OnlineBody,
  IPChangeSubject,
  IPChangeBody,
  PageChangeSubject,
  PageChangeBody
};
// The e-mail alerts a transition raises.
enum class TAlertKind { Offline, Online, IPChange, PageChange };

// What the routes read besides the host; the monitor hands it over when it takes the
// alert side.
struct TAlertContext {
  TEventLogKeeper* Events = nullptr;
  const TSettings* Settings = nullptr;
  const TClock* Clock = nullptr;
  bool ServiceMode = false;
};

class TAlertChannels {
public:
  TAlertChannels() = default;
  TAlertChannels(const TAlertChannels&) = delete;
  TAlertChannels& operator=(const TAlertChannels&) = delete;
  virtual ~TAlertChannels();

  // Registers this side's routes, in the order they act on one transition.
  virtual void AddRoutes(TAlertRoutes& /*routes*/, const TAlertContext& /*context*/) {}

  // Start-up (after the settings and hosts file are read): the e-mail configuration of
  // the data folder, and from then on the channels' own dispatch. Shutdown: the pending
  // alerts are dropped and the dispatch ends.
  virtual void LoadConfiguration(const std::string& dataFolder);
  // After the configuration dialog's OK: the e-mail configuration into the data folder;
  // false when it could not be written (logged).
  virtual bool SaveConfiguration(const std::string& dataFolder);
  virtual void FreePendingAlerts();

  // Whether an outgoing mail route exists (the primary server with a valid sender, or
  // the relay service with a valid sender).
  virtual bool MailRouteConfigured() const { return false; }
  // Whether some e-mail route is complete: either outgoing server with its sender set,
  // or the relay switched on with a sender.
  virtual bool MailRouteComplete() const { return false; }
  // The queued e-mail alerts (any thread), and how many of them were queued before
  // olderThan (main thread).
  virtual int QueuedAlerts() const { return 0; }
  virtual int QueuedAlertsBefore(TDateTime /*olderThan*/) const { return 0; }

  // Sounds; wait: sounds asked for afterwards follow when this one has finished. A
  // missing file is skipped.
  virtual void PlaySound(const std::string& fileName, bool wait);
  // Runs a command line with the host's message variables; true when it started.
  virtual bool RunCommandLine(const std::string& command, THost& host);
  // The periodic trace route of a host, at the lowest priority; the work in flight, or
  // nothing when none was started.
  virtual std::shared_ptr<TBackgroundTask> StartPeriodicTrace(THost& host);
};
