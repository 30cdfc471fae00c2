#include "tools/TRemoteTools.h"

#include <cmath>

#include "common/Clock.h"
#include "core/HostAddress.h"
#include "core/TMonitor.h"
#include "hosttests/THostNameThread.h"
#include "hosttests/TPingThread.h"

TRemoteTools::TRemoteTools(TMonitor& monitor, QObject* parent) : QObject(parent), FMonitor(monitor) {
  tmrPathPings.setInterval(10);
  connect(&tmrPathPings, &QTimer::timeout, this, [this] {
    try {
      tmrPathPingsTimer();
    } catch (...) {
      FMonitor.ReportCurrentException("tmrPathPings");
    }
  });
}

TRemoteTools::~TRemoteTools() {
  for (THop& hop : FHops) {
    if (hop.First) hop.First->Terminate();
    for (const auto& t : hop.InFlight) t->Terminate();
  }
  for (const TRangeEntry& entry : FRange)
    if (entry.Thread) entry.Thread->Terminate();
}

int TRemoteTools::Pending() const {
  int n = static_cast<int>(FRange.size() + FLookups.size());
  for (const THop& hop : FHops) n += (hop.First ? 1 : 0) + static_cast<int>(hop.InFlight.size());
  return n;
}

std::string TRemoteTools::SuccessText(int received, int lost) {
  const int total = received + lost;
  const int permille = total > 0 ? received * 1000 / total : 0;
  std::string percent = std::to_string(permille / 10);
  if (permille % 10) percent += "." + std::to_string(permille % 10);
  return std::to_string(received) + "/" + std::to_string(total) + " (" + percent + "%)";
}

void TRemoteTools::Changed() {
  if (FChangePosted) return;
  FChangePosted = true;
  QTimer::singleShot(0, this, [this] {
    FChangePosted = false;
    emit GridChanged();
  });
}

void TRemoteTools::SetToolsEnabled(bool enabled) {
  if (FToolsEnabled == enabled) return;
  FToolsEnabled = enabled;
  emit ToolsEnabledChanged(enabled);
}

// ---- trace route and path ping

void TRemoteTools::StartTrace(const std::string& address, bool pathPing) {
  if (!FToolsEnabled || address.empty()) return;
  FShowNetBIOS = false;
  SetToolsEnabled(false);
  // The name may wait for a name server: looked up on the pool.
  std::weak_ptr<int> alive = FAlive;
  auto lookup = THostNameThread::Create(
      FMonitor.Tests(), address,
      [this, alive, address, pathPing](THostNameThread& thread, const std::string&, const std::string&,
                                       const std::string& dotted) {
        if (alive.expired()) return;
        FMonitor.Running().Remove(&thread);
        TraceResolved(address, dotted, pathPing);
      });
  FMonitor.Running().Add("Lookup Hostname " + address, lookup);
}

void TRemoteTools::TraceResolved(const std::string& address, const std::string& dotted, bool pathPing) {
  if (!dotted.empty() && IsBroadcastAddress(dotted)) {
    SetToolsEnabled(true);
    emit Message(true, QStringLiteral("You may not ping a broadcast address."));
    return;
  }
  if (dotted.empty()) {
    SetToolsEnabled(true);
    emit Message(true, QString::fromLatin1(("Host " + address + " is not valid or is not available.").c_str()));
    return;
  }
  FCaption = std::string(pathPing ? "Path Ping" : "Trace Route") + " to " + address + " [" + dotted + "]";
  FFirstHeading = "Host";
  FTarget = dotted;
  // The requests of an earlier run end on their own; their answers are let go.
  const std::uint64_t run = ++FTraceRun;
  FTracing = true;
  FLastRow = Hops;
  FRows.assign(Hops, TRow{});
  for (int hop = 1; hop <= Hops; ++hop) {
    THop& h = FHops[static_cast<std::size_t>(hop - 1)];
    if (h.First) h.First->Terminate();
    for (const auto& t : h.InFlight) t->Terminate();
    h = THop{};
    h.Wanted = pathPing ? PathPingRequests : TraceRouteRequests;
    std::weak_ptr<int> alive = FAlive;
    h.First = TPingThread::Create(
        FMonitor.Tests(), "TraceRoute Pings " + address, dotted, false, hop, hop, FMonitor.Settings().PingTimeout,
        [this, alive, run, hop](TPingThread& thread, const std::string&, const std::string& responder,
                                std::int32_t responseTime, std::int32_t, const std::string&, std::int32_t, bool success,
                                const std::string&) {
          if (!alive.expired()) FirstReply(thread, run, hop, responder, responseTime, success);
        },
        2);
    FMonitor.Running().Add("TraceRoute Pings " + address, h.First);
  }
  tmrPathPings.start();
  Changed();
}

void TRemoteTools::FirstReply(TPingThread& thread, std::uint64_t run, int hop, const std::string& responder,
                              int responseTime, bool success) {
  FMonitor.Running().Remove(&thread);
  if (run != FTraceRun) return;
  FMonitor.Trace("Ping callback 2");
  THop& h = FHops[static_cast<std::size_t>(hop - 1)];
  h.First.reset();
  if (hop > static_cast<int>(FRows.size())) {
    CheckTraceEnd();
    return;
  }
  TRow& row = FRows[static_cast<std::size_t>(hop - 1)];
  row.Cells[colStep] = std::to_string(hop);
  // Only an answer counts: a short time-out would otherwise count a silent hop as one.
  if (success && !responder.empty() && responseTime < PathPingTimeoutMs) {
    h.Responding = responder;
    h.Received = 1;
    h.Sent = 1;
    h.TimeSum = responseTime;
    h.LastRequestMs = FMonitor.Clock().Milliseconds();
    row.Received = 1;
    row.Cells[colResponse] = std::to_string(responseTime) + "/" + std::to_string(responseTime) + " ms";
    row.Cells[colSuccess] = SuccessText(1, 0);
    row.Cells[colAddress] = responder;
    row.Cells[colHost] = "(Waiting for name)";
    LookUpName(responder, "Lookup Hostname " + responder);
    if (responder == FTarget && hop < FLastRow) {
      FLastRow = hop;
      FRows.resize(static_cast<std::size_t>(hop));
    }
  } else {
    row.Cells[colAddress] = "No Response";
    row.Cells[colHost] = "---";
  }
  Changed();
  CheckTraceEnd();
}

void TRemoteTools::tmrPathPingsTimer() {
  if (!FTracing) return;
  const double now = FMonitor.Clock().Milliseconds();
  const std::uint64_t run = FTraceRun;
  for (int hop = 1; hop <= FLastRow; ++hop) {
    THop& h = FHops[static_cast<std::size_t>(hop - 1)];
    if (h.Responding.empty() || h.Sent >= h.Wanted || now - h.LastRequestMs <= PathPingSpacingMs) continue;
    h.LastRequestMs = now;
    ++h.Sent;
    std::weak_ptr<int> alive = FAlive;
    auto ping = TPingThread::Create(
        FMonitor.Tests(), "PathPing " + h.Responding, FTarget, false, 100 * hop + h.Sent, hop, PathPingTimeoutMs,
        [this, alive, run, hop](TPingThread& thread, const std::string&, const std::string&, std::int32_t responseTime,
                                std::int32_t, const std::string&, std::int32_t, bool success, const std::string&) {
          if (!alive.expired()) PathPingReply(thread, run, hop, responseTime, success);
        },
        1);
    h.InFlight.push_back(ping);
    FMonitor.Running().Add("PathPing " + h.Responding, std::move(ping));
  }
}

void TRemoteTools::PathPingReply(TPingThread& thread, std::uint64_t run, int hop, int responseTime, bool success) {
  FMonitor.Running().Remove(&thread);
  if (run != FTraceRun) return;
  FMonitor.Trace("Ping callback 3");
  THop& h = FHops[static_cast<std::size_t>(hop - 1)];
  std::erase_if(h.InFlight, [&thread](const std::shared_ptr<TPingThread>& t) { return t.get() == &thread; });
  if (!success || responseTime > PathPingTimeoutMs - 1) {
    ++h.Lost;
  } else {
    ++h.Received;
    h.TimeSum += responseTime;
  }
  if (hop <= static_cast<int>(FRows.size())) {
    TRow& row = FRows[static_cast<std::size_t>(hop - 1)];
    if (h.Received > 0 && success && responseTime <= PathPingTimeoutMs - 1) {
      const long long average = std::llround(static_cast<double>(h.TimeSum) / h.Received);
      row.Cells[colResponse] = std::to_string(average) + "/" + std::to_string(responseTime) + " ms";
    }
    row.Cells[colSuccess] = SuccessText(h.Received, h.Lost);
    row.Received = h.Received;
    row.Lost = h.Lost;
    Changed();
  }
  CheckTraceEnd();
}

void TRemoteTools::CheckTraceEnd() {
  if (!FTracing) return;
  for (int hop = 1; hop <= Hops; ++hop) {
    const THop& h = FHops[static_cast<std::size_t>(hop - 1)];
    if (h.First || !h.InFlight.empty()) return;
    if (hop <= FLastRow && !h.Responding.empty() && h.Sent < h.Wanted) return;
  }
  FTracing = false;
  tmrPathPings.stop();
  SetToolsEnabled(true);
}
