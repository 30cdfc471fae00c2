#pragma once
// What the monitor hands to each of its parts (scheduler, status evaluation): the things
// they all read or report to, owned by the monitor and outliving the parts.
#include <atomic>
#include <functional>
#include <shared_mutex>
#include <string>

#include "core/RunState.h"
#include "platform/FaultReport.h"

class TClock;
class TEventLogKeeper;
class THostChanges;
class THostList;
class TRunningTests;
class TSettings;

struct TMonitorParts {
  THostList& Hosts;
  TClock& Clock;
  const TSettings& Settings;
  std::shared_mutex& StateLock;
  TEventLogKeeper& Events;
  TRunningTests& Running;
  THostChanges& Changes;
  const std::atomic<TRunState>& RunState;
  std::function<void(const std::string&)> Trace;
  TFaultHook Faults;
};
