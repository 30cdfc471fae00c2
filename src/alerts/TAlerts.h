#pragma once
// The monitor's alert channels: the e-mail configuration, its templates and the alert
// queue. Channels not built here yet keep the base class's behaviour (nothing happens).
// The object must outlive the monitor it serves (see TMonitor::SetAlertChannels) and
// touches it only while the monitor calls it or its timer runs.
#include <QTimer>

#include <memory>
#include <string>

#include "alerts/TAlertQueue.h"
#include "alerts/TEmailConfig.h"
#include "core/TAlertChannels.h"

class TMonitor;

class TAlerts : public TAlertChannels {
public:
  explicit TAlerts(TMonitor& monitor);
  ~TAlerts() override;

  // Reads "EmailConfig.cvl" of the data folder; a file of another kind or one that
  // cannot be read is logged and leaves the settings empty (or as far as read).
  void LoadConfiguration(const std::string& dataFolder) override;
  // The dispatch pass of the queue, every 5 s from LoadConfiguration to FreePendingAlerts.
  void AlertTimer();
  void FreePendingAlerts() override;
  // The text with the host's message variables filled in (plain text).
  std::string ExpandHostVariables(const std::string& text, const THost& host);
  std::string Template(TAlertTemplate which) const;
  bool HasTemplate(TAlertKind kind) const override;
  bool MailRouteConfigured() const override;
  bool PrimaryServerConfigured() const override;
  void QueueAlert(TAlertKind kind, const std::string& recipients, TDateTime windowStart, TDateTime windowEnd,
                  THost& host, int priority, int cancelStatus, bool wantTrace) override;

  TEmailConfig& EmailConfig() { return FConfig; }
  TAlertQueue& Queue() { return *FQueue; }

private:
  TMonitor& FMonitor;
  TEmailConfig FConfig;
  std::unique_ptr<TAlertQueue> FQueue;
  QTimer tmrAlert;
};
