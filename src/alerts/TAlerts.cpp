#include "alerts/TAlerts.h"

#include "core/MessageVariables.h"
#include "common/NetText.h"
#include "core/TMonitor.h"

TAlerts::TAlerts(TMonitor& monitor)
    : FMonitor(monitor), FQueue(std::make_unique<TAlertQueue>(monitor, FConfig)) {
  tmrAlert.setInterval(5000);
  QObject::connect(&tmrAlert, &QTimer::timeout, [this] {
    if (FMonitor.RunState() != rsRunning) return;
    try {
      AlertTimer();
    } catch (...) {
      FMonitor.ReportCurrentException("tmrAlert");
    }
  });
}

TAlerts::~TAlerts() = default;

void TAlerts::LoadConfiguration(const std::string& dataFolder) {
  const std::string fileName = dataFolder + EmailConfigFileName;
  std::string error;
  const TEmailConfig::TLoadResult result = FConfig.LoadFromFile(fileName, error);
  if (result != TEmailConfig::TLoadResult::Missing && TEmailConfig::ReadableByOthers(fileName))
    FMonitor.LogEvent(nullptr, fileName + " can be read by other users though it holds the mail passwords as plain text; "
                      "make it readable by its owner only (mode 600)", TLogCategory::Warning);
  switch (result) {
    case TEmailConfig::TLoadResult::Loaded:
    case TEmailConfig::TLoadResult::Missing: break;
    case TEmailConfig::TLoadResult::BadSignature:
      FMonitor.LogEvent(nullptr, "E-mail settings not loaded: " + fileName + " is not an e-mail settings file", TLogCategory::Warning);
      break;
    case TEmailConfig::TLoadResult::ReadError:
      FMonitor.LogEvent(nullptr, "E-mail settings not fully loaded: " + fileName + ": " + error, TLogCategory::Warning);
      break;
  }
  tmrAlert.start();
}

void TAlerts::AlertTimer() { FQueue->tmrAlertTimer(); }

void TAlerts::FreePendingAlerts() {
  tmrAlert.stop();
  FQueue->FreePendingAlerts();
}

std::string TAlerts::ExpandHostVariables(const std::string& text, const THost& host) {
  return ::ExpandHostVariables(text, host, false, FMonitor.VariableContext());
}

namespace {
// A configuration without page-change templates (a file of an older version) still
// tells what changed.
const char* const DefaultPageChangeSubject = "Page Change: %displayname%";
const char* const DefaultPageChangeBody = "Host: %url%\r\nDate: %lastsuccess%\r\nChange: %pctchanged%\r\n";
}  // namespace

std::string TAlerts::Template(TAlertTemplate which) const {
  switch (which) {
    case TAlertTemplate::OfflineSubject: return FConfig.OfflineSubject;
    case TAlertTemplate::OfflineBody: return FConfig.OfflineBody;
    case TAlertTemplate::OnlineSubject: return FConfig.OnlineSubject;
    case TAlertTemplate::OnlineBody: return FConfig.OnlineBody;
    case TAlertTemplate::IPChangeSubject: return FConfig.IPChangeSubject;
    case TAlertTemplate::IPChangeBody: return FConfig.IPChangeBody;
    case TAlertTemplate::PageChangeSubject:
      return FConfig.PageChangeSubject.empty() ? DefaultPageChangeSubject : FConfig.PageChangeSubject;
    case TAlertTemplate::PageChangeBody:
      return FConfig.PageChangeBody.empty() ? DefaultPageChangeBody : FConfig.PageChangeBody;
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

namespace {
TAlertTemplate SubjectOf(TAlertKind kind) {
  switch (kind) {
    case TAlertKind::Offline: return TAlertTemplate::OfflineSubject;
    case TAlertKind::Online: return TAlertTemplate::OnlineSubject;
    case TAlertKind::IPChange: return TAlertTemplate::IPChangeSubject;
    case TAlertKind::PageChange: return TAlertTemplate::PageChangeSubject;
  }
  return TAlertTemplate::OfflineSubject;
}
TAlertTemplate BodyOf(TAlertKind kind) {
  switch (kind) {
    case TAlertKind::Offline: return TAlertTemplate::OfflineBody;
    case TAlertKind::Online: return TAlertTemplate::OnlineBody;
    case TAlertKind::IPChange: return TAlertTemplate::IPChangeBody;
    case TAlertKind::PageChange: return TAlertTemplate::PageChangeBody;
  }
  return TAlertTemplate::OfflineBody;
}
}  // namespace

bool TAlerts::HasTemplate(TAlertKind kind) const {
  // The address-change mail is sent only with a body of its own.
  return !Template(SubjectOf(kind)).empty() && (kind != TAlertKind::IPChange || !Template(BodyOf(kind)).empty());
}

void TAlerts::QueueAlert(TAlertKind kind, const std::string& recipients, TDateTime windowStart, TDateTime windowEnd,
                         THost& host, int priority, int cancelStatus, bool wantTrace) {
  FQueue->QueueAlert(recipients, Template(SubjectOf(kind)), Template(BodyOf(kind)), windowStart, windowEnd, &host,
                     priority, cancelStatus, wantTrace);
}
