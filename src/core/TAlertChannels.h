#pragma once
// The alert channels: they subscribe to the status evaluation's transitions and apply
// the alert rules (which channel, for which host, in which order), calling the channel
// operations below: the e-mail queue with its own templates, sounds, the alert window
// and pop-up, command lines, HTTP notifications, automatic traces and the host updates
// to other programs. What each channel does is the channel's own business. This base
// class is the channel set of a monitor with none of them: every operation does nothing
// and no route exists.
#include <memory>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "core/TEventLog.h"
#include "core/THostTransition.h"

class TClock;
class TEventLogKeeper;
class THost;
class TSettings;
class TBackgroundTask;

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

// What the alert rules read besides the host; the monitor hands it over when it takes
// the channels.
struct TAlertContext {
  TEventLogKeeper* Events = nullptr;
  const TSettings* Settings = nullptr;
  const TClock* Clock = nullptr;
  bool ServiceMode = false;
};

class TAlertChannels : public TTransitionSubscriber {
public:
  TAlertChannels() = default;
  TAlertChannels(const TAlertChannels&) = delete;
  TAlertChannels& operator=(const TAlertChannels&) = delete;
  ~TAlertChannels() override;

  void Attach(const TAlertContext& context) { FContext = context; }
  // The alert rules of a transition.
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) final;

  // Start-up (after the settings and hosts file are read): the e-mail configuration of
  // the data folder, and from then on the channels' own dispatch. Shutdown: the pending
  // alerts are dropped and the dispatch ends.
  virtual void LoadConfiguration(const std::string& dataFolder);
  // After the configuration dialog's OK: the e-mail configuration into the data folder;
  // false when it could not be written (logged).
  virtual bool SaveConfiguration(const std::string& dataFolder);
  virtual void FreePendingAlerts();

  // E-mail: whether the configuration has the template of an alert kind (its subject;
  // the IP change needs its body too); whether an outgoing route exists (the primary
  // server with a valid sender, or the relay service with a valid sender); and whether
  // the primary server and its sender are both set.
  virtual bool HasTemplate(TAlertKind kind) const;
  virtual bool MailRouteConfigured() const { return false; }
  virtual bool PrimaryServerConfigured() const { return false; }
  // Whether some e-mail route is complete: either outgoing server with its sender set,
  // or the relay switched on with a sender.
  virtual bool MailRouteComplete() const { return false; }
  // The queued e-mail alerts (any thread), and how many of them were queued before
  // olderThan (main thread).
  virtual int QueuedAlerts() const { return 0; }
  virtual int QueuedAlertsBefore(TDateTime /*olderThan*/) const { return 0; }
  // Queues the kind's e-mail alert for the host with the configuration's templates.
  // windowStart and windowEnd are 0 for no window.
  virtual void QueueAlert(TAlertKind kind, const std::string& recipients, TDateTime windowStart, TDateTime windowEnd,
                          THost& host, int priority, int cancelStatus, bool wantTrace);

  // Sounds; wait: sounds asked for afterwards follow when this one has finished. A
  // missing file is skipped.
  virtual void PlaySound(const std::string& fileName, bool wait);
  // The alert window: add the host to the top of its list (once) and show it without
  // taking the focus; remove the host again, closing the window when its list empties.
  virtual void AddToAlertWindow(THost& host);
  virtual void RemoveFromAlertWindow(THost& host);
  // The pop-up of a host back online, with its label.
  virtual void ShowOnlinePopup(const std::string& hostLabel);

  // Runs a command line with the host's message variables; true when it started (only
  // launches that happen are announced). RunsCommandLines tells whether the channel
  // exists.
  virtual bool RunsCommandLines() const { return false; }
  virtual bool RunCommandLine(const std::string& command, THost& host);
  // Starts the host's offline (online: false) HTTP notification in alert mode; the work
  // in flight, or nothing when none was started.
  virtual std::shared_ptr<TBackgroundTask> StartHttpNotification(THost& host, bool offline);

  // The automatic trace route of a host that went down, and the periodic one, at the
  // lowest priority; the work in flight, or nothing when none was started.
  virtual std::shared_ptr<TBackgroundTask> StartHostDownTrace(THost& host);
  virtual std::shared_ptr<TBackgroundTask> StartPeriodicTrace(THost& host);

  // Sends the host's update to the applications registered for host updates.
  virtual void SendHostUpdate(THost& host);

protected:
  const TAlertContext& Context() const { return FContext; }
  // A finished notification leaves the list of running notifications; false when it
  // was not in it.
  bool TakeNotification(const TBackgroundTask* task);

private:
  void AlertHostOffline(THost& host, bool traceWanted, TTransitionWork& work);
  void AlertHostOnline(THost& host, TTransitionWork& work);
  void QueueIPChangeAlert(THost& host);
  void QueuePageChangeAlert(THost& host);
  void LaunchCommand(THost& host, const std::string& command);
  void StartNotification(THost& host, bool offline, TTransitionWork& work);
  void LogEvent(THost& host, const std::string& message, TLogCategory category);

  TAlertContext FContext;
  std::vector<std::shared_ptr<TBackgroundTask>> FNotificationThreads;
};
