#pragma once
// The automatic trace route of a host that went down, when its address can be traced
// and no trace of it runs yet; the record keeps the trace while it runs.
#include <functional>
#include <memory>

#include "core/THostTransition.h"

class THostDownTraceRoute : public TTransitionSubscriber {
public:
  using TStart = std::function<std::shared_ptr<TBackgroundTask>(THost& host)>;
  explicit THostDownTraceRoute(TStart start) : FStart(std::move(start)) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  TStart FStart;
};
