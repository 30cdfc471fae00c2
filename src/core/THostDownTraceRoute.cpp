#include "core/THostDownTraceRoute.h"

#include "hosttests/TBackgroundTask.h"

void THostDownTraceRoute::HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) {
  if (transition.Kind == TTransitionKind::WentOffline && transition.TraceWanted && FStart && !work.Trace)
    work.Trace = FStart(host);
}
