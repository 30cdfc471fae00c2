#pragma once
// The monitor's alert side: the e-mail configuration, its templates and the alert queue
// with its relay route, command lines and HTTP notifications, and the routes that use
// them (mail, page-change mail, command lines, HTTP notifications).
// The object must outlive the monitor it serves (see TMonitor::SetAlertChannels) and
// touches it only while the monitor calls it or its timer runs.
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "alerts/TAlertQueue.h"
#include "alerts/TCommandRunner.h"
#include "alerts/TEmailConfig.h"
#include "alerts/TRelayMail.h"
#include "core/TAlertChannels.h"
#include "core/TAlertMail.h"
#include "tools/TAutoTrace.h"

class TMonitor;
class THTTPThread;
struct THTTPReq;

class TAlerts : public TAlertChannels, public TAlertMail {
public:
  explicit TAlerts(TMonitor& monitor);
  ~TAlerts() override;

  // The host-down trace, the mail route, the command-line route, the HTTP notification
  // route and the page-change mail, in that order.
  void AddRoutes(TAlertRoutes& routes, const TAlertContext& context) override;

  // Reads "EmailConfig.cvl" of the data folder; a file of another kind or one that
  // cannot be read is logged and leaves the settings empty (or as far as read).
  void LoadConfiguration(const std::string& dataFolder) override;
  // Writes "EmailConfig.cvl" into the data folder; an error is logged ("E").
  bool SaveConfiguration(const std::string& dataFolder) override;
  // The dispatch pass of the queue, every 5 s from LoadConfiguration to FreePendingAlerts.
  void AlertTimer();
  void FreePendingAlerts() override;
  // The text with the host's message variables filled in (plain text).
  std::string ExpandHostVariables(const std::string& text, const THost& host);
  std::string Template(TAlertTemplate which) const;
  bool HasTemplate(TAlertKind kind) const override;
  bool MailRouteConfigured() const override;
  bool PrimaryServerConfigured() const override;
  bool MailRouteComplete() const override;
  int QueuedAlerts() const override;
  int QueuedAlertsBefore(TDateTime olderThan) const override;
  void QueueAlert(TAlertKind kind, const std::string& recipients, TDateTime windowStart, TDateTime windowEnd,
                  THost& host, int priority, int cancelStatus, bool wantTrace) override;

  // Command lines: the host's offline and online commands here; the host actions and
  // the double-click reach the same runner through Commands().
  bool RunCommandLine(const std::string& command, THost& host) override;
  std::shared_ptr<TBackgroundTask> StartPeriodicTrace(THost& host) override;
  // The host's offline (online: false) notification request, its form fields expanded
  // for the host now, sent by a retrieval worker; its end is logged for the host.
  std::shared_ptr<TBackgroundTask> StartHttpNotification(THost& host, bool offline);
  // The form fields of a request (items divided by character 255), each expanded for
  // the host.
  std::string ExpandRequestVariables(const std::string& variables, const THost& host);

  TEmailConfig& EmailConfig() { return FConfig; }
  TAlertQueue& Queue() { return *FQueue; }
  TCommandRunner& Commands() { return FCommands; }
  TRelayMail& RelayMail() { return FRelayMail; }
  TAutoTrace& AutoTrace() { return FAutoTrace; }

private:
  // The relay route exists while the setting RelayServer names a server; applied when
  // the setting has changed since the last time.
  void ApplyRelaySetting();
  void SendViaRelay(const std::string& sender, const std::string& recipients, const std::string& subject,
                    int priority, const std::string& body, TAlertQueue::TRelayDone done);
  void NotificationDone(THTTPThread& thread, const THTTPReq& request, std::int32_t hostID, bool success,
                        const std::string& resultText);

  TMonitor& FMonitor;
  TEmailConfig FConfig;
  std::unique_ptr<TAlertQueue> FQueue;
  TCommandRunner FCommands;
  TRelayMail FRelayMail;
  TAutoTrace FAutoTrace;
  std::string FAppliedRelayServer;
  // The notifications sent and not yet ended.
  std::vector<std::shared_ptr<TBackgroundTask>> FNotificationThreads;
  QTimer tmrAlert;
};
