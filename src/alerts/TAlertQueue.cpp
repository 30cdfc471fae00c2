#include "alerts/TAlertQueue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/MessageVariables.h"
#include "alerts/TEmailConfig.h"
#include "alerts/TRelayMail.h"
#include "common/Clock.h"
#include "common/ErrorText.h"
#include "common/Fields.h"
#include "common/NetText.h"
#include "common/SystemInfo.h"
#include "common/TextFiles.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"

namespace {

constexpr std::uint32_t DeliveryTimeoutMs = 120000;
constexpr std::uint32_t CyclePauseMs = 30000;
constexpr std::int32_t AttemptLimit = 20;
constexpr TDateTime TraceWait = 3.0 / (24 * 60);
constexpr TDateTime OneSecond = 1.0 / 86400;

// "###0.00####": at least two and at most six decimals.
std::string VersionText(double version) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6f", version);
  std::string text = buffer;
  while (text.size() > 1 && text.back() == '0' && text.size() - text.find('.') > 3) text.pop_back();
  return text;
}

std::vector<std::string> RecipientList(const std::string& recipients) {
  std::vector<std::string> list;
  std::string item;
  auto take = [&] {
    const auto first = item.find_first_not_of(" \t");
    // Empty items (doubled or trailing separators) would only be refused by the server.
    if (first != std::string::npos) list.push_back(item.substr(first, item.find_last_not_of(" \t") - first + 1));
    item.clear();
  };
  for (char c : recipients) {
    if (c == ';' || c == ',') take();
    else item += c;
  }
  take();
  return list;
}

std::string SmtpErrorText(const TSmtpCli& client, int error) {
  if (!client.TlsError().empty()) return client.TlsError();
  return error <= 9999 ? "SMTP " + std::to_string(error) : ErrorText(error);
}

TSmtpCli::TTlsMode ClientTlsMode(TSettings::TSmtpTls mode) {
  switch (mode) {
    case TSettings::TSmtpTls::Required: return TSmtpCli::TTlsMode::Required;
    case TSettings::TSmtpTls::Off: return TSmtpCli::TTlsMode::Off;
    default: return TSmtpCli::TTlsMode::Auto;
  }
}

}  // namespace

TAlertQueue::TAlertQueue(TMonitor& monitor, const TEmailConfig& config) : FMonitor(monitor), FConfig(config) {
  FMonitor.Hosts().SetBusyCheck([this](std::int32_t hostID) {
    return std::any_of(FQueue.begin(), FQueue.end(),
                       [&](const auto& entry) { return entry->HostID == hostID; });
  });
}

TAlertQueue::~TAlertQueue() = default;

void TAlertQueue::SetRelay(TRelaySender sender, std::string hostName) {
  FRelay = std::move(sender);
  FRelayHost = std::move(hostName);
}

std::uint32_t TAlertQueue::Tick() const {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(FMonitor.Clock().Milliseconds()));
}

const THost* TAlertQueue::ListedHost(const TEmailInfo& entry) const {
  return FMonitor.Hosts().Items(HostIndex(entry));
}

int TAlertQueue::HostIndex(const TEmailInfo& entry) const {
  // IDs are unique among the listed and the retired records: a retired host's entries
  // find no row.
  return entry.HostID < 0 ? -1 : FMonitor.Hosts().FindByID(entry.HostID);
}

void TAlertQueue::RemoveAndShow(TEmailInfo& entry, const std::string& traceText) {
  const int index = HostIndex(entry);
  Remove(entry);
  if (index < 0) return;
  FMonitor.HostChanged(*FMonitor.Hosts().Items(index), traceText.c_str());
}

void TAlertQueue::Log(const TEmailInfo& entry, const std::string& message) {
  FMonitor.LogEvent(ListedHost(entry), message, TLogCategory::Mail);
}

bool TAlertQueue::InQueue(const TEmailInfo* entry) const {
  return std::any_of(FQueue.begin(), FQueue.end(), [&](const auto& e) { return e.get() == entry; });
}

TEmailInfo* TAlertQueue::EntryOf(const TSmtpCli& client) const {
  for (const auto& e : FQueue)
    if (e->Client.get() == &client) return e.get();
  return nullptr;
}

void TAlertQueue::ReleaseClient(TEmailInfo& entry) {
  if (entry.Client) FReleased.push_back(std::move(entry.Client));
}

void TAlertQueue::Remove(TEmailInfo& entry) {
  ReleaseClient(entry);
  const auto it = std::find_if(FQueue.begin(), FQueue.end(), [&](const auto& e) { return e.get() == &entry; });
  if (it != FQueue.end()) FQueue.erase(it);
  FQueued.store(static_cast<int>(FQueue.size()));
}

bool TAlertQueue::QueuePluginEmail(std::int32_t hostID, const std::string& recipients, const std::string& subject,
                                   const std::string& message) {
  if (recipients.empty() || subject.empty() || message.empty()) return false;
  std::string list = recipients;
  std::replace(list.begin(), list.end(), ',', ';');
  if (!IsValidEmailAddress(GetField(list, ';', 1, '\0'))) return false;
  const THost* host = FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(hostID));
  const int priority = host && host->Status == StatusOffline ? 2 : 3;
  QueueAlert(list, subject, message, 0, 0, nullptr, priority, -1, false);
  return true;
}

void TAlertQueue::QueueAlert(const std::string& recipients, const std::string& subject, const std::string& body,
                             TDateTime windowStart, TDateTime windowEnd, THost* host, int priority,
                             int cancelStatus, bool wantTrace) {
  std::string expandedSubject = subject, expandedBody = body;
  if (host) {
    const TVariableContext context = FMonitor.VariableContext();
    expandedSubject = ExpandHostVariables(subject, *host, false, context);
    expandedBody = ExpandHostVariables(body, *host, false, context);
  }

  if (host && cancelStatus != -1) {
    bool cancelled = false;
    for (std::size_t i = FQueue.size(); i-- > 0;) {
      TEmailInfo& old = *FQueue[i];
      if (old.HostID != host->ID || old.CancelStatus != host->Status || old.Sending) continue;
      FMonitor.LogEvent(host,
                        "Email canceled: " + old.Recipients + ", Subject: " + old.Subject + " and " +
                            expandedSubject + "; Host status has changed; email is no longer valid.",
                        TLogCategory::Mail);
      Remove(old);
      cancelled = true;
    }
    if (cancelled) return;
  }

  try {
    auto entry = std::make_unique<TEmailInfo>();
    entry->Serial = FNextSerial++;
    entry->QueuedAt = FMonitor.Clock().Now();
    entry->HostID = host ? host->ID : -1;
    if (std::fabs(windowEnd - windowStart) >= OneSecond) {
      entry->WindowStart = windowStart;
      entry->WindowEnd = windowEnd;
    }
    entry->Subject = expandedSubject;
    entry->Body = expandedBody;
    entry->Recipients = recipients;
    entry->CancelStatus = cancelStatus;
    entry->Priority = static_cast<std::uint8_t>(std::clamp(priority, 0, 5));
    if (host && host->LocalSubnet) FillTraceVariables(*entry, "(Local)", "(Local)", "(Local)");
    else if (wantTrace) entry->WaitingForTrace = true;
    else FillTraceVariables(*entry, "(Not Traced)", "(Not Traced)", "(Not Traced)");
    FQueue.push_back(std::move(entry));
    FQueued.store(static_cast<int>(FQueue.size()));
    FMonitor.LogEvent(host, "Queued Alert to " + recipients + ", Subject: " + expandedSubject, TLogCategory::Mail);
  } catch (...) {
    // Queueing is called from the status evaluation, which must go on.
    FMonitor.ReportCurrentException("QueueAlert");
  }
}

void TAlertQueue::tmrAlertTimer() {
  // No event of these clients can be running now.
  FReleased.clear();
  std::vector<TEmailInfo*> walk;
  for (auto it = FQueue.rbegin(); it != FQueue.rend(); ++it) walk.push_back(it->get());
  for (TEmailInfo* entry : walk) {
    // An answer given at once (a failed relay start) may have changed the queue.
    if (!InQueue(entry)) continue;
    try {
      Dispatch(*entry);
    } catch (...) {
      // One bad entry must not keep the others from going out.
      FMonitor.ReportCurrentException("tmrAlert dispatch");
    }
  }
}

void TAlertQueue::Dispatch(TEmailInfo& entry) {
  const std::uint32_t tick = Tick();
  if (entry.WaitingForTrace) {
    const THost* host = ListedHost(entry);
    const bool tracing = host && host->RunningTrace;
    if (!tracing || FMonitor.Clock().Now() - entry.QueuedAt > TraceWait) {
      FillTraceVariables(entry, "(Timeout)", "(Timeout)", "(Timeout)");
      if (tracing)
        Log(entry, "Forcing email to " + entry.Recipients + " (" + entry.Subject + "); Auto-trace thread timed out");
    }
  }

  if (entry.Sending && tick - entry.AttemptTick > DeliveryTimeoutMs) {
    // Not inside one of the client's events: the timer freed it at once.
    entry.Client.reset();
    entry.Sending = false;
    Log(entry, "Mail attempt to " + entry.Recipients + " (" + entry.Subject + ") aborted; message delivery timeout");
  }

  if (entry.Sending || entry.WaitingForTrace ||
      !InDailyWindow(entry.WindowStart, entry.WindowEnd, FMonitor.Clock().Now()))
    return;

  std::vector<TRoute> routes;
  if (FRelay && FConfig.RelayEnabled && !FConfig.RelaySender.empty()) {
    // The relay takes the message over http unless its address says https.
    if (FMonitor.Settings().SmtpTls != TSettings::TSmtpTls::Required || TRelayMail::IsSecureServer(FRelayHost)) {
      routes.push_back(TRoute::Relay);
    } else if (!FPlainRelaySkippedLogged) {
      FPlainRelaySkippedLogged = true;
      FMonitor.LogEvent(nullptr,
                        "The mail relay " + FRelayHost + " is not used: SmtpTls=required and the relay's address "
                        "is not https",
                        TLogCategory::Warning);
    }
  }
  if (!FConfig.PrimaryServer.empty() && !FConfig.PrimarySender.empty()) routes.push_back(TRoute::Primary);
  if (!FConfig.SecondaryServer.empty() && !FConfig.SecondarySender.empty()) routes.push_back(TRoute::Secondary);
  if (routes.empty()) return;

  const auto count = static_cast<std::int32_t>(routes.size());
  if (entry.Attempts > 0 && tick >= entry.AttemptTick) {
    const bool newCycle = entry.Attempts % count == 0;
    if (newCycle ? tick - entry.AttemptTick <= CyclePauseMs : tick == entry.AttemptTick) return;
  }

  const TRoute route = routes[static_cast<std::size_t>(entry.Attempts % count)];
  entry.AttemptTick = tick;
  entry.Sending = true;
  ++entry.Attempts;

  if (entry.Attempts >= AttemptLimit) {
    Log(entry, "Email Send Failure - Too Many Attempts");
    RemoveAndShow(entry, "Email Send Failure - Host Updated ");
    return;
  }

  if (route == TRoute::Relay) SendRelay(entry);
  else SendSmtp(entry, route);
}

void TAlertQueue::SendSmtp(TEmailInfo& entry, TRoute route) {
  const bool primary = route == TRoute::Primary;
  const std::string& server = primary ? FConfig.PrimaryServer : FConfig.SecondaryServer;
  const std::string& sender = primary ? FConfig.PrimarySender : FConfig.SecondarySender;
  const std::string& user = primary ? FConfig.PrimaryUser : FConfig.SecondaryUser;

  if (!entry.Client) entry.Client = std::make_unique<TSmtpCli>();
  TSmtpCli& client = *entry.Client;
  const auto colon = server.find(':');
  client.Host = server.substr(0, colon);
  int port = 25;
  if (colon != std::string::npos) {
    const std::string portText = server.substr(colon + 1);
    char* end = nullptr;
    const long value = std::strtol(portText.c_str(), &end, 10);
    if (!portText.empty() && end && *end == '\0' && value > 0 && value <= 65535) port = static_cast<int>(value);
  }
  client.Port = std::to_string(port);
  client.RcptName = RecipientList(entry.Recipients);
  client.FromName = sender;
  client.HdrFrom = sender;
  client.Username = user;
  client.Password = primary ? FConfig.PrimaryPassword : FConfig.SecondaryPassword;
  client.AuthType = user.empty() ? smtpAuthNone : smtpAuthAutoSelect;
  client.TlsMode = ClientTlsMode(FMonitor.Settings().SmtpTls);
  client.HdrTo = entry.Recipients;
  client.HdrSubject = entry.Subject;
  client.HdrPriority = static_cast<TSmtpPriority>(entry.Priority);
  client.MailMessage = SplitTextLines(entry.Body);
  client.OnRequestDone = [this](TSmtpCli& c, TSmtpRequest request, int error) { SmtpDone(c, request, error); };
  client.OnProcessHeader = [this](TSmtpCli& c, std::vector<std::string>& lines) { SmtpHeader(c, lines); };
  client.OnTlsEstablished = [this](TSmtpCli& c, const std::string& description) {
    if (TEmailInfo* e = EntryOf(c)) Log(*e, "Mail connection to " + c.Host + " encrypted: " + description);
  };

  Log(entry, "Sending Alert to " + entry.Recipients + " Using: " + client.Host + ", Subject: " + entry.Subject);
  if (client.RcptName.empty()) {
    SmtpFailed(entry, client, "No recipient address");
    return;
  }
  try {
    if (client.Connected()) client.Abort();
    client.Connect();
  } catch (const std::exception& e) {
    SmtpFailed(entry, client, e.what());
  }
}

void TAlertQueue::SendRelay(TEmailInfo& entry) {
  Log(entry, "Sending Alert to " + entry.Recipients + " Using Proxy: " + FRelayHost + ", Subject: " + entry.Subject);
  const std::uint64_t serial = entry.Serial;
  const std::int32_t attempt = entry.Attempts;
  try {
    FRelay(FConfig.RelaySender, entry.Recipients, entry.Subject, entry.Priority, entry.Body,
           [this, serial, attempt](const std::string& error) { RelayDone(serial, attempt, error); });
  } catch (const std::exception& e) {
    RelayDone(serial, attempt, std::string("Other error: ") + e.what());
  }
}

void TAlertQueue::RelayDone(std::uint64_t serial, std::int32_t attempt, const std::string& error) {
  const auto it = std::find_if(FQueue.begin(), FQueue.end(), [&](const auto& e) { return e->Serial == serial; });
  if (it == FQueue.end()) return;
  TEmailInfo& entry = **it;
  // The attempt timed out, and maybe another began: this answer is no longer awaited.
  if (!entry.Sending || entry.Attempts != attempt) return;
  if (!error.empty()) {
    Log(entry, "Mail Send Error [" + error + "]");
    entry.Sending = false;
    return;
  }
  FMonitor.Trace("Mail done successfully");
  Log(entry, "Mail Sent To: " + entry.Recipients + " Using Proxy: " + FRelayHost + ", Subject: " + entry.Subject);
  RemoveAndShow(entry, "Email Send Success - Host Updated ");
}

void TAlertQueue::SmtpDone(TSmtpCli& client, TSmtpRequest request, int error) {
  TEmailInfo* entry = EntryOf(client);
  // An event of an attempt already given up (or of a released client) changes nothing.
  if (!entry || !entry->Sending) return;
  // A server that does not know EHLO (it refuses the command itself, so nothing was
  // agreed) still takes HELO, as long as neither TLS nor credentials need EHLO.
  const bool ehloUnknown = request == smtpEhlo && error >= 500 && error <= 504 && !client.EsmtpAccepted() &&
                           client.TlsError().empty() && client.Connected() && client.Username.empty() &&
                           client.TlsMode == TSmtpCli::TTlsMode::Auto;
  if (error != 0 && !ehloUnknown) {
    SmtpFailed(*entry, client, SmtpErrorText(client, error));
    return;
  }
  try {
    if (ehloUnknown) {
      client.Helo();
      return;
    }
    switch (request) {
      case smtpConnect:
        // EHLO is the only greeting that can agree on TLS; HELO only where TLS is off
        // and no credentials need it.
        if (client.Username.empty() && client.TlsMode == TSmtpCli::TTlsMode::Off) client.Helo();
        else client.Ehlo();
        return;
      case smtpEhlo:
        if (client.Username.empty()) {
          client.MailFrom();
          return;
        }
        if (!client.TlsActive() && client.TlsMode == TSmtpCli::TTlsMode::Auto && !FClearCredentialsLogged) {
          FClearCredentialsLogged = true;
          FMonitor.LogEvent(ListedHost(*entry),
                            "The mail credentials for " + client.Host + " go out without TLS (the server offers no "
                            "STARTTLS); set SmtpTls=required to send no mail without TLS",
                            TLogCategory::Warning);
        }
        client.Auth();
        return;
      case smtpHelo:
      case smtpAuth: client.MailFrom(); return;
      case smtpMailFrom: client.RcptTo(); return;
      case smtpRcptTo: client.Data(); return;
      case smtpData: break;
      default: return;
    }
  } catch (const std::exception& e) {
    SmtpFailed(*entry, client, e.what());
    return;
  }
  // The server took the message with its reply to DATA: a failing QUIT must not have it
  // sent again. The released client says goodbye on its own.
  if (request == smtpData) {
    try {
      client.Quit();
    } catch (...) {
      FMonitor.ReportCurrentException("SMTP QUIT");
    }
  }
  Log(*entry, "Mail Sent To: " + entry->Recipients + " Using: " + client.Host + ", Subject: " + entry->Subject);
  const int index = HostIndex(*entry);
  Remove(*entry);
  if (index >= 0) FMonitor.HostChanged(*FMonitor.Hosts().Items(index), "SMTPDone");
}

void TAlertQueue::SmtpFailed(TEmailInfo& entry, TSmtpCli& client, const std::string& errorText) {
  Log(entry, "Error sending mail: " + entry.Recipients + " Using: " + client.Host + ", Error: " + errorText);
  entry.Sending = false;
  // Sending is cleared first: the abort's own event finds the attempt over.
  if (client.Connected()) client.Abort();
}

void TAlertQueue::SmtpHeader(TSmtpCli& /*client*/, std::vector<std::string>& lines) {
  const std::string mailer = "X-Mailer: Corvale " + VersionText(std::atof(CORVALE_VERSION_TEXT)) + " (" +
                             DisplayDate(CorvaleReleaseDate) + ")";
  bool hasUser = false;
  for (std::string& line : lines) {
    if (line.rfind("X-Mailer:", 0) == 0) line = mailer;
    hasUser = hasUser || line.rfind("X-User", 0) == 0;
  }
  if (!hasUser) {
    lines.push_back(std::string("X-Application-URL: ") + CorvaleProductUrl);
    lines.push_back("X-User: " + LocalUserName());
  }
}

void TAlertQueue::CancelPendingEmail(const THost* host) {
  for (std::size_t i = FQueue.size(); i-- > 0;) {
    TEmailInfo& entry = *FQueue[i];
    if ((host && entry.HostID != host->ID) || entry.Sending) continue;
    Log(entry, "Email to " + entry.Recipients + " canceled.  Subject: " + entry.Subject);
    Remove(entry);
  }
  if (host) {
    if (FMonitor.Hosts().IndexOf(host) >= 0) FMonitor.HostChanged(*host, "CancelPendingEmail");
  }
}

void TAlertQueue::FreePendingAlerts() {
  FQueue.clear();
  FQueued.store(0);
  FReleased.clear();
}

void TAlertQueue::TraceFinished(const THost& host, const std::string& lastHost, const std::string& droppedAt,
                                const std::string& traceRoute) {
  for (const auto& entry : FQueue)
    if (entry->HostID == host.ID && entry->WaitingForTrace) FillTraceVariables(*entry, lastHost, droppedAt, traceRoute);
}
