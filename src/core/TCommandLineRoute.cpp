#include "core/TCommandLineRoute.h"

#include "core/TEventLogKeeper.h"
#include "core/THost.h"

void TCommandLineRoute::HostTransition(const THostTransition& transition, THost& host, TTransitionWork&) {
  const std::string* command = transition.Kind == TTransitionKind::WentOffline  ? &host.OfflineCommand
                               : transition.Kind == TTransitionKind::CameOnline ? &host.OnlineCommand
                                                                                : nullptr;
  if (!command || command->empty() || !FRun) return;
  // A copy: the command may change the record.
  const std::string line = *command;
  if (FRun(line, host) && FContext.Events)
    FContext.Events->LogEvent(&host, "Launching Command Line: " + line, TLogCategory::Information);
}
