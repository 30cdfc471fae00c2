#pragma once
// The one queue every e-mail goes through. Queueing returns at once; the alert timer
// works the queue on the main thread, trying the configured routes in turn (the relay
// service, then the primary and the secondary SMTP server), pausing after each full
// cycle of routes, aborting an attempt after two minutes and giving a message up on its
// twentieth attempt. Entries live only in memory. The relay answers later, on the main
// thread; its entry stays being sent until then or until the attempt times out.
//
// Entries refer to host records. While one does, the host list retires the record
// instead of freeing it (the queue registers the list's busy check); a record that is
// no longer listed counts as no host for the row refreshes and log lines.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "alerts/TEmailInfo.h"
#include "alerts/TSmtpCli.h"
#include "common/DateTime.h"
#include "common/ProgramVersion.h"

class TMonitor;
class THost;
class TEmailConfig;


class TAlertQueue {
public:
  // The relay service: sender, recipients, subject, priority, body and what to call with
  // the error text (empty on success) once the relay has answered. It returns at once;
  // done runs on the main thread, at most once, possibly before the sender returns.
  using TRelayDone = std::function<void(const std::string& error)>;
  using TRelaySender = std::function<void(const std::string& sender, const std::string& recipients,
                                          const std::string& subject, int priority, const std::string& body,
                                          TRelayDone done)>;

  // Both must outlive the queue; the monitor's host list asks the queue which records
  // it still refers to for as long as the queue lives.
  TAlertQueue(TMonitor& monitor, const TEmailConfig& config);
  ~TAlertQueue();
  TAlertQueue(const TAlertQueue&) = delete;
  TAlertQueue& operator=(const TAlertQueue&) = delete;

  // The relay route; without a sender the relay is no route. hostName is shown in the
  // log lines of relay attempts.
  void SetRelay(TRelaySender sender, std::string hostName);
  bool HasRelay() const { return static_cast<bool>(FRelay); }

  // Queues a message. With a host, subject and body are expanded for it and a pending
  // message the host's change of status made void is cancelled together with this one.
  // windowStart/windowEnd: the time-of-day window, both 0 for any time.
  void QueueAlert(const std::string& recipients, const std::string& subject, const std::string& body,
                  TDateTime windowStart, TDateTime windowEnd, THost* host, int priority, int cancelStatus,
                  bool wantTrace);
  // A plug-in's request to send a message about the host with the ID: queued as given,
  // with no host and no window, priority 2 when the host is listed and Offline, else 3.
  // False, queueing nothing, when an argument is empty or the first recipient is not a
  // valid address.
  bool QueuePluginEmail(std::int32_t hostID, const std::string& recipients, const std::string& subject,
                        const std::string& message);
  // One pass of the dispatch (the alert timer, every 5 s).
  void tmrAlertTimer();
  // Removes the pending messages of the host (all when none) that are not being sent.
  void CancelPendingEmail(const THost* host);
  // Drops everything (shutdown); host records are not touched, they may be gone.
  void FreePendingAlerts();
  // Fills the trace variables of the messages waiting for the host's trace.
  void TraceFinished(const THost& host, const std::string& lastHost, const std::string& droppedAt,
                     const std::string& traceRoute);

  const std::vector<std::unique_ptr<TEmailInfo>>& Entries() const { return FQueue; }
  // The number of entries, readable from any thread.
  int QueuedCount() const { return FQueued.load(); }

  // The handlers of the SMTP client's events.
  void SmtpDone(TSmtpCli& client, TSmtpRequest request, int error);
  void SmtpHeader(TSmtpCli& client, std::vector<std::string>& lines);

private:
  enum class TRoute { Relay, Primary, Secondary };

  void Dispatch(TEmailInfo& entry);
  void SendSmtp(TEmailInfo& entry, TRoute route);
  void SendRelay(TEmailInfo& entry);
  // The relay's answer to the attempt of the entry with the serial; an entry gone or an
  // attempt given up meanwhile is left alone.
  void RelayDone(std::uint64_t serial, std::int32_t attempt, const std::string& error);
  void SmtpFailed(TEmailInfo& entry, TSmtpCli& client, const std::string& errorText);
  bool InQueue(const TEmailInfo* entry) const;
  TEmailInfo* EntryOf(const TSmtpCli& client) const;
  // Takes the entry out of the queue; its client is kept until no event of it can run.
  void Remove(TEmailInfo& entry);
  // Removes a finished entry, then refreshes its host's row (when still listed) and
  // traces traceText + the host's position.
  void RemoveAndShow(TEmailInfo& entry, const std::string& traceText);
  void ReleaseClient(TEmailInfo& entry);
  // The host's position in the host list, -1 when it has none or is no longer listed.
  int HostIndex(const TEmailInfo& entry) const;
  const THost* ListedHost(const TEmailInfo& entry) const;
  void Log(const TEmailInfo& entry, const std::string& message);
  std::uint32_t Tick() const;

  TMonitor& FMonitor;
  const TEmailConfig& FConfig;
  TRelaySender FRelay;
  std::string FRelayHost;
  std::vector<std::unique_ptr<TEmailInfo>> FQueue;
  std::atomic<int> FQueued{0};
  std::vector<std::unique_ptr<TSmtpCli>> FReleased;
  std::uint64_t FNextSerial = 1;
  // Warnings given once a run.
  bool FClearCredentialsLogged = false;
  bool FPlainRelaySkippedLogged = false;
};
