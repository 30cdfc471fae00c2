#pragma once
// The HTTP notification route: a host's offline and online notification requests, when
// the host has them switched on. The request runs as work the program tracks.
#include <functional>
#include <memory>

#include "core/THostTransition.h"

class TNotificationRoute : public TTransitionSubscriber {
public:
  // start: sends the host's offline (online: false) notification; the work in flight,
  // or nothing when none was started.
  using TStart = std::function<std::shared_ptr<TBackgroundTask>(THost& host, bool offline)>;
  explicit TNotificationRoute(TStart start) : FStart(std::move(start)) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  TStart FStart;
};
