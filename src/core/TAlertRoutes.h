#pragma once
// The alert routes of the monitor: each route is a subscriber of its own that applies
// its own rule to a transition and reads its own part of the record (mail, command
// lines, HTTP notifications, sounds and pop-ups, page-change mail, ...). They act in the
// order they were added and share one TTransitionWork, so a later route sees what an
// earlier one started (the mail of a host that went down tells whether a trace runs).
// A route that fails does not keep the others from acting; the first error is passed on
// once all have acted. Main thread only.
#include <memory>
#include <vector>

#include "core/THostTransition.h"

class TAlertRoutes : public TTransitionSubscriber {
public:
  void Add(std::unique_ptr<TTransitionSubscriber> route);
  void Clear() { FRoutes.clear(); }
  int Count() const { return static_cast<int>(FRoutes.size()); }

  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  std::vector<std::unique_ptr<TTransitionSubscriber>> FRoutes;
};
