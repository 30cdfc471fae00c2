#pragma once
// The alert channels the status evaluation and the scheduler call: message variables,
// the e-mail queue and its templates, sounds, the alert window and pop-up, command
// lines, HTTP notifications, automatic traces and the host updates to other programs.
// The monitor calls them at the moments its evaluation decides; what each channel does
// is the channel's own business. This base class is the channel set of a monitor with
// none of them: every call does nothing, texts come back unchanged and no route exists.
#include <memory>
#include <string>

#include "common/DateTime.h"

class THost;
class TBackgroundTask;

// The alert templates of the e-mail configuration.
enum class TAlertTemplate { OfflineSubject, OfflineBody, OnlineSubject, OnlineBody, IPChangeSubject, IPChangeBody };

class TAlertChannels {
public:
  TAlertChannels() = default;
  TAlertChannels(const TAlertChannels&) = delete;
  TAlertChannels& operator=(const TAlertChannels&) = delete;
  virtual ~TAlertChannels();

  // Start-up (after the settings and hosts file are read): the e-mail configuration of
  // the data folder. The dispatch pass on the alert timer (every 5 s). Shutdown: the
  // pending alerts are dropped.
  virtual void LoadConfiguration(const std::string& dataFolder);
  virtual void AlertTimer();
  virtual void FreePendingAlerts();

  // The text with the host's message variables filled in (plain text).
  virtual std::string ExpandHostVariables(const std::string& text, const THost& host);

  // E-mail: a template of the configuration; whether an outgoing route exists (the
  // primary server with a valid sender, or the relay service with a valid sender); and
  // whether the primary server and its sender are both set.
  virtual std::string Template(TAlertTemplate which) const;
  virtual bool MailRouteConfigured() const { return false; }
  virtual bool PrimaryServerConfigured() const { return false; }
  // Queues an e-mail alert for the host. windowStart and windowEnd are 0 for no window.
  virtual void QueueAlert(const std::string& recipients, const std::string& subject, const std::string& body,
                          TDateTime windowStart, TDateTime windowEnd, THost& host, int priority, int cancelStatus,
                          bool wantTrace);

  // Sounds; wait: return when the sound has finished. A missing file is skipped.
  virtual void PlaySound(const std::string& fileName, bool wait);
  // The alert window: add the host to the top of its list (once) and show it without
  // taking the focus; remove the host again, closing the window when its list empties.
  virtual void AddToAlertWindow(THost& host);
  virtual void RemoveFromAlertWindow(THost& host);
  // The pop-up of a host back online, with its label.
  virtual void ShowOnlinePopup(const std::string& hostLabel);

  // Runs a command line with the host's message variables. RunsCommandLines tells whether
  // the channel exists: the monitor announces only launches that happen.
  virtual bool RunsCommandLines() const { return false; }
  virtual void RunCommandLine(const std::string& command, THost& host);
  // Starts the host's offline (online: false) HTTP notification in alert mode; the work
  // in flight, or nothing when none was started.
  virtual std::shared_ptr<TBackgroundTask> StartHttpNotification(THost& host, bool offline);

  // The automatic trace route of a host that went down, and the periodic one, at the
  // lowest priority; the work in flight, or nothing when none was started.
  virtual std::shared_ptr<TBackgroundTask> StartHostDownTrace(THost& host);
  virtual std::shared_ptr<TBackgroundTask> StartPeriodicTrace(THost& host);

  // Sends the host's update to the applications registered for host updates.
  virtual void SendHostUpdate(THost& host);
};
