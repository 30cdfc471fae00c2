#include "tools/TAutoTrace.h"

#include <cctype>
#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "common/FileUtils.h"
#include "core/HostAddress.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"

namespace {
bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}
}  // namespace

TAutoTrace::TAutoTrace(TMonitor& monitor, TTraceFinished finished) : FMonitor(monitor), FFinished(std::move(finished)) {}

TAutoTrace::~TAutoTrace() = default;

std::shared_ptr<TBackgroundTask> TAutoTrace::StartHostDownTrace(THost& host) {
  std::weak_ptr<int> alive = FAlive;
  return TTraceRouteThread::Create(
      FMonitor.Tests(), "TraceRoute " + host.Address, host.Address, FMonitor.Settings().NumPings,
      FMonitor.Settings().PingTimeout, [this, alive](TTraceRouteThread& thread, const std::string&, int, const TTraceResults& results) {
        if (!alive.expired()) HostDownTraceDone(thread, results);
      });
}

std::shared_ptr<TBackgroundTask> TAutoTrace::StartPeriodicTrace(THost& host) {
  std::weak_ptr<int> alive = FAlive;
  return TTraceRouteThread::Create(
      FMonitor.Tests(), "Periodic TraceRoute " + host.Address, host.Address, PeriodicPasses,
      FMonitor.Settings().PingTimeout, [this, alive](TTraceRouteThread& thread, const std::string&, int, const TTraceResults& results) {
        if (!alive.expired()) PeriodicTraceDone(thread, results);
      });
}

void TAutoTrace::HostDownTraceDone(TTraceRouteThread& thread, const TTraceResults& results) {
  FMonitor.Running().Remove(&thread);
  const std::string report = JoinLines(TraceReportLines(results, thread.ResolvedAddress()));
  // Only a started monitor knows its data folder; the report never goes anywhere else.
  if (!FMonitor.DataFolder().empty()) {
    const std::string fileName = FMonitor.DataFolder() + AutoTraceFileName(thread.Address());
    if (!WriteWholeFile(fileName, report)) FMonitor.ReportFault("AutoTraceRoute", "cannot write " + fileName);
  }
  const TTraceLastReply last = LastReply(results);

  THostList& hosts = FMonitor.Hosts();
  std::vector<std::pair<THost*, std::string>> traced;  // host, drop point
  for (int i = 0; i < hosts.Count(); ++i) {
    THost* host = hosts.Items(i);
    if (!host || host->RunningTrace.get() != &thread) continue;
    try {
      traced.emplace_back(host, DropPoint(host->KnownRoutes, last).DropPoint);
      HostDownHost(*host, i, results, last, report);
    } catch (...) {
      FMonitor.ReportCurrentException("AutoTraceRoute");
    }
  }
  for (const auto& [host, dropPoint] : traced) {
    try {
      if (FFinished) FFinished(*host, last.Text, dropPoint, report);
    } catch (...) {
      FMonitor.ReportCurrentException("AutoTraceRoute alerts");
    }
  }
  {
    std::unique_lock<std::shared_mutex> guard(FMonitor.StateLock());
    for (const auto& entry : traced) entry.first->RunningTrace.reset();
    for (int i = 0; i < hosts.RetiredCount(); ++i)
      if (THost* retired = hosts.RetiredItems(i); retired && retired->RunningTrace.get() == &thread)
        retired->RunningTrace.reset();
  }
  hosts.ReleaseIdleRetired();
}

void TAutoTrace::HostDownHost(THost& host, int index, const TTraceResults&, const TTraceLastReply& last,
                              const std::string& report) {
  const TTraceDrop drop = DropPoint(host.KnownRoutes, last);
  // A trace that got no further than this computer, or reached the host itself, says
  // nothing about where the route broke.
  const bool nothing = last.Address.empty() || last.Address == host.CurrentIP || last.Text == host.CurrentIP ||
                       IsLocalAddress(last.Address);
  {
    std::unique_lock<std::shared_mutex> guard(FMonitor.StateLock());
    if (!drop.DropPoint.empty()) host.TraceDropPoint = drop.DropPoint;
    if (nothing) {
      host.TraceLastReply.clear();
      host.TraceReport.clear();
    } else {
      host.TraceLastReply = drop.Annotated;
      host.TraceReport = report;
    }
  }
  if (!nothing)
    FMonitor.LogEvent(&host, "Automatic Trace Route performed; last reply from: " + drop.Annotated, TLogCategory::Error);
  FMonitor.Trace("AutoTraceRoute - Host Start " + std::to_string(index));
  FMonitor.HostChanged(host, "AutoTraceRoute");
  FMonitor.Trace("AutoTraceRoute - Host End " + std::to_string(index));
}

void TAutoTrace::PeriodicTraceDone(TTraceRouteThread& thread, const TTraceResults& results) {
  const std::string route = RouteText(results);
  THostList& hosts = FMonitor.Hosts();
  for (int i = 0; i < hosts.Count(); ++i) {
    THost* host = hosts.Items(i);
    if (!host || !SameText(host->Address, thread.Address())) continue;
    const std::string known = AddKnownRoute(host->KnownRoutes, route);
    if (known != host->KnownRoutes) FMonitor.UpdateHost(i, [&known](THost& h) { h.KnownRoutes = known; }, "PeriodicTrace");
  }
  FMonitor.Running().Remove(&thread);
}
