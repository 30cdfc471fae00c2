#pragma once
// The monitor's automatic trace routes: the trace of a host that has just gone down
// (its report file, last reply and drop point, the event, and the e-mail alerts that
// wait for it) and the periodic trace that records the routes to a host, so that a later
// host-down trace can tell where the route dropped. Main thread only.
#include <functional>
#include <memory>
#include <string>

#include "tools/TraceReport.h"
#include "tools/TTraceRouteThread.h"

class TMonitor;
class THost;

class TAutoTrace {
public:
  // The e-mail alerts of the host that wait for its trace get these texts.
  using TTraceFinished = std::function<void(const THost& host, const std::string& lastHost,
                                            const std::string& droppedAt, const std::string& report)>;
  // Passes of the periodic trace.
  static constexpr int PeriodicPasses = 2;

  TAutoTrace(TMonitor& monitor, TTraceFinished finished);
  ~TAutoTrace();
  TAutoTrace(const TAutoTrace&) = delete;
  TAutoTrace& operator=(const TAutoTrace&) = delete;

  // The host-down trace (NumPings passes); the record keeps it as its running trace.
  std::shared_ptr<TBackgroundTask> StartHostDownTrace(THost& host);
  // The periodic trace (two passes), counted by the scheduler.
  std::shared_ptr<TBackgroundTask> StartPeriodicTrace(THost& host);

  // The completion steps, public for the tests that feed them results.
  void HostDownTraceDone(TTraceRouteThread& thread, const TTraceResults& results);
  void PeriodicTraceDone(TTraceRouteThread& thread, const TTraceResults& results);

private:
  void HostDownHost(THost& host, int index, const TTraceResults& results, const TTraceLastReply& last,
                    const std::string& report);

  TMonitor& FMonitor;
  TTraceFinished FFinished;
  // Answers that come after the owner has gone find it expired.
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};
