#pragma once
// What the status evaluation decided about one host after a result, for whoever
// subscribed (the alert routes): the host went Offline, came back Online, answers
// again after warnings, changed its address, or a result was counted at all. Delivered
// on the main thread after the host record holds the whole result.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/TRunningTests.h"

class THost;
class TBackgroundTask;

enum class TTransitionKind {
  // The address changed from one learned before (the IP-change alert).
  AddressChanged,
  // Offline, with alerts due (not a host that has not been up since its baseline).
  WentOffline,
  // Online after being Offline.
  CameOnline,
  // Answering after one or more failures (after Warning or Offline).
  Answering,
  // A result counted for the host (the update to other programs).
  ResultCounted,
  // The page of a successful HTTP test changed by more than its threshold.
  PageChanged,
};

struct THostTransition {
  TTransitionKind Kind = TTransitionKind::ResultCounted;
  std::int32_t HostID = 0;
  // WentOffline: the host's address can be traced (it is known and not on the local
  // subnet) and no trace of it runs yet.
  bool TraceWanted = false;
  // PageChanged: the fraction of the page that changed.
  float PageChange = 0;
};

// What a subscriber started for a transition: the host-down trace, which the host
// record keeps, and other work the program tracks until it ends.
struct TTransitionWork {
  std::shared_ptr<TBackgroundTask> Trace;
  std::vector<TRunningTask> Started;
};

class TTransitionSubscriber {
public:
  virtual ~TTransitionSubscriber() = default;
  // The host is the record at the moment of the transition: read it, do not keep it.
  virtual void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) = 0;
};
