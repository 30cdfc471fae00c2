#include "alerts/TAlerts.h"

#include <algorithm>

#include "common/FileUtils.h"
#include "common/NetText.h"
#include "common/SystemInfo.h"
#include "core/MessageVariables.h"
#include "core/TAlertRoutes.h"
#include "core/TCommandLineRoute.h"
#include "core/THostDownTraceRoute.h"
#include "core/TMailAlertRoute.h"
#include "core/TNotificationRoute.h"
#include "core/TPageChangeMailRoute.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "hosttests/THTTPThread.h"

namespace {
constexpr char RequestItemSeparator = '\xFF';
}  // namespace

TAlerts::TAlerts(TMonitor& monitor)
    : FMonitor(monitor), FQueue(std::make_unique<TAlertQueue>(monitor, FConfig)), FCommands(monitor),
      FRelayMail(monitor.Tests()),
      FAutoTrace(monitor, [this](const THost& host, const std::string& lastHost, const std::string& droppedAt,
                                 const std::string& report) { FQueue->TraceFinished(host, lastHost, droppedAt, report); }) {
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

void TAlerts::AddRoutes(TAlertRoutes& routes, const TAlertContext& context) {
  routes.Add(std::make_unique<THostDownTraceRoute>([this](THost& host) { return FAutoTrace.StartHostDownTrace(host); }));
  routes.Add(std::make_unique<TMailAlertRoute>(*this, context));
  routes.Add(std::make_unique<TCommandLineRoute>(
      [this](const std::string& command, THost& host) { return RunCommandLine(command, host); }, context));
  routes.Add(std::make_unique<TNotificationRoute>(
      [this](THost& host, bool offline) { return StartHttpNotification(host, offline); }));
  routes.Add(std::make_unique<TPageChangeMailRoute>(*this));
}

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
  ApplyRelaySetting();
  tmrAlert.start();
}

bool TAlerts::SaveConfiguration(const std::string& dataFolder) {
  const std::string fileName = dataFolder + EmailConfigFileName;
  std::string error;
  if (FConfig.SaveToFile(fileName, error)) return true;
  FMonitor.LogEvent(nullptr, "Unable to save the e-mail settings to " + fileName + ": " + error, TLogCategory::Error);
  return false;
}

void TAlerts::AlertTimer() {
  if (FMonitor.Settings().RelayServer != FAppliedRelayServer) ApplyRelaySetting();
  FQueue->tmrAlertTimer();
}

void TAlerts::FreePendingAlerts() {
  tmrAlert.stop();
  FQueue->FreePendingAlerts();
  FRelayMail.AbortAll();
}

void TAlerts::ApplyRelaySetting() {
  FAppliedRelayServer = FMonitor.Settings().RelayServer;
  std::string host;
  int port = 0;
  if (!TRelayMail::ParseServer(FAppliedRelayServer, host, port)) {
    FQueue->SetRelay(nullptr, std::string());
    return;
  }
  FQueue->SetRelay(std::bind_front(&TAlerts::SendViaRelay, this), FAppliedRelayServer);
}

void TAlerts::SendViaRelay(const std::string& sender, const std::string& recipients, const std::string& subject,
                           int priority, const std::string& body, TAlertQueue::TRelayDone done) {
  TRelayMail::TOptions& options = FRelayMail.Options();
  options.Server = FAppliedRelayServer;
  options.DataFolder = FMonitor.DataFolder();
  options.TimeoutMs = FMonitor.Settings().HTTPTimeoutMs();
  options.Application = "Corvale (" + ExtractFileName(FMonitor.ProgramPath()) + ")";
  if (options.ComputerName.empty()) options.ComputerName = LocalComputerName();
  if (options.UserName.empty()) options.UserName = LocalUserName();
  TRelayMail::TMessage message;
  message.Sender = sender;
  message.Recipients = recipients;
  message.Subject = subject;
  message.Body = body;
  message.Priority = priority;
  FRelayMail.Send(message, std::move(done));
}

bool TAlerts::RunCommandLine(const std::string& command, THost& host) {
  return FCommands.RunHostCommand(command, host);
}

std::shared_ptr<TBackgroundTask> TAlerts::StartPeriodicTrace(THost& host) { return FAutoTrace.StartPeriodicTrace(host); }

std::string TAlerts::ExpandRequestVariables(const std::string& variables, const THost& host) {
  const TVariableContext context = FMonitor.VariableContext();
  std::string out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = variables.find(RequestItemSeparator, start);
    out += ::ExpandHostVariables(variables.substr(start, end - start), host, false, context);
    if (end == std::string::npos) break;
    out += RequestItemSeparator;
    start = end + 1;
  }
  return out;
}

std::shared_ptr<TBackgroundTask> TAlerts::StartHttpNotification(THost& host, bool offline) {
  THTTPReq request = offline ? host.OfflineNotification : host.OnlineNotification;
  if (request.URL.empty()) return nullptr;
  // The worker never reads a record: the fields are expanded here, on the main thread.
  request.Variables = ExpandRequestVariables(request.Variables, host);
  THTTPOptions options;
  options.PagesFolder.clear();  // a notification keeps no page copy
  options.CertExpiryDays = 0;   // nor does it judge the server's certificate's age
  options.TimeoutMs = FMonitor.Settings().HTTPTimeoutMs();
  const std::string name = (offline ? "HTTP Down Alert " : "HTTP Up Alert ") + host.DisplayName;
  std::shared_ptr<TBackgroundTask> task = THTTPThread::Create(
      FMonitor.Tests(), name, request, HTTPKindNotification, host.ID, host.ID,
      [this](THTTPThread& thread, const THTTPReq& sent, const std::string&, std::int32_t hostID, std::int64_t,
             std::int32_t, float, bool success, const std::string& resultText, std::int32_t) {
        NotificationDone(thread, sent, hostID, success, resultText);
      },
      options);
  if (!task) return nullptr;
  std::erase_if(FNotificationThreads, [](const std::shared_ptr<TBackgroundTask>& t) { return !t->IsAlive(); });
  FNotificationThreads.push_back(task);
  return task;
}

void TAlerts::NotificationDone(THTTPThread& thread, const THTTPReq& request, std::int32_t hostID, bool success,
                               const std::string& resultText) {
  try {
    FMonitor.Running().Remove(&thread);
    const THost* host = FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(hostID));
    const auto it = std::find_if(FNotificationThreads.begin(), FNotificationThreads.end(),
                                 [&thread](const std::shared_ptr<TBackgroundTask>& t) { return t.get() == &thread; });
    if (!host || it == FNotificationThreads.end()) return;
    FNotificationThreads.erase(it);
    FMonitor.LogEvent(host,
                      success ? "HTTP Notification Sent Using: " + request.URL
                              : "HTTP Notification Failed, URL: " + request.URL + ", Error: " + resultText,
                      TLogCategory::Mail);
  } catch (...) {
    FMonitor.ReportCurrentException("HTTP notification");
  }
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
  // A relay server set since the last dispatch is wired before the next one sends.
  const std::string& server = FMonitor.Settings().RelayServer;
  std::string host;
  int port = 0;
  const bool relay = server == FAppliedRelayServer ? FQueue->HasRelay() : TRelayMail::ParseServer(server, host, port);
  return (!FConfig.PrimaryServer.empty() && IsValidEmailAddress(FConfig.PrimarySender)) ||
         (relay && FConfig.RelayEnabled && IsValidEmailAddress(FConfig.RelaySender));
}

bool TAlerts::PrimaryServerConfigured() const {
  return !FConfig.PrimaryServer.empty() && !FConfig.PrimarySender.empty();
}

bool TAlerts::MailRouteComplete() const {
  return (!FConfig.PrimaryServer.empty() && !FConfig.PrimarySender.empty()) ||
         (!FConfig.SecondaryServer.empty() && !FConfig.SecondarySender.empty()) ||
         (FConfig.RelayEnabled && !FConfig.RelaySender.empty());
}

int TAlerts::QueuedAlerts() const { return FQueue ? FQueue->QueuedCount() : 0; }

int TAlerts::QueuedAlertsBefore(TDateTime olderThan) const {
  if (!FQueue) return 0;
  int count = 0;
  for (const auto& entry : FQueue->Entries())
    if (entry && entry->QueuedAt < olderThan) ++count;
  return count;
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
