#include "alerts/TAlerts.h"

#include "alerts/MessageVariables.h"
#include "common/NetText.h"
#include "core/TMonitor.h"

TAlerts::TAlerts(TMonitor& monitor)
    : FMonitor(monitor), FQueue(std::make_unique<TAlertQueue>(monitor, FConfig)) {}

TAlerts::~TAlerts() = default;

void TAlerts::LoadConfiguration(const std::string& dataFolder) {
  const std::string fileName = dataFolder + EmailConfigFileName;
  std::string error;
  const TEmailConfig::TLoadResult result = FConfig.LoadFromFile(fileName, error);
  if (result != TEmailConfig::TLoadResult::Missing && TEmailConfig::ReadableByOthers(fileName))
    FMonitor.LogEvent(nullptr, fileName + " can be read by other users though it holds the mail passwords as plain text; "
                      "make it readable by its owner only (mode 600)", 'W');
  switch (result) {
    case TEmailConfig::TLoadResult::Loaded:
    case TEmailConfig::TLoadResult::Missing: break;
    case TEmailConfig::TLoadResult::BadSignature:
      FMonitor.LogEvent(nullptr, "E-mail settings not loaded: " + fileName + " is not an e-mail settings file", 'W');
      break;
    case TEmailConfig::TLoadResult::ReadError:
      FMonitor.LogEvent(nullptr, "E-mail settings not fully loaded: " + fileName + ": " + error, 'W');
      break;
  }
}

void TAlerts::AlertTimer() { FQueue->tmrAlertTimer(); }

void TAlerts::FreePendingAlerts() { FQueue->FreePendingAlerts(); }

std::string TAlerts::ExpandHostVariables(const std::string& text, const THost& host) {
  return ::ExpandHostVariables(text, host, false, VariableContext(FMonitor));
}

std::string TAlerts::Template(TAlertTemplate which) const {
  switch (which) {
    case TAlertTemplate::OfflineSubject: return FConfig.OfflineSubject;
    case TAlertTemplate::OfflineBody: return FConfig.OfflineBody;
    case TAlertTemplate::OnlineSubject: return FConfig.OnlineSubject;
    case TAlertTemplate::OnlineBody: return FConfig.OnlineBody;
    case TAlertTemplate::IPChangeSubject: return FConfig.IPChangeSubject;
    case TAlertTemplate::IPChangeBody: return FConfig.IPChangeBody;
  }
  return {};
}

bool TAlerts::MailRouteConfigured() const {
  // The relay counts only once a relay sender exists: its mail would wait for ever.
  return (!FConfig.PrimaryServer.empty() && IsValidEmailAddress(FConfig.PrimarySender)) ||
         (FQueue->HasRelay() && FConfig.RelayEnabled && IsValidEmailAddress(FConfig.RelaySender));
}

bool TAlerts::PrimaryServerConfigured() const {
  return !FConfig.PrimaryServer.empty() && !FConfig.PrimarySender.empty();
}

void TAlerts::QueueAlert(const std::string& recipients, const std::string& subject, const std::string& body,
                         TDateTime windowStart, TDateTime windowEnd, THost& host, int priority, int cancelStatus,
                         bool wantTrace) {
  FQueue->QueueAlert(recipients, subject, body, windowStart, windowEnd, &host, priority, cancelStatus, wantTrace);
}
