#pragma once
// The host update to the programs registered for host updates, after every counted
// result.
#include <functional>

#include "core/THostTransition.h"

class THostUpdateRoute : public TTransitionSubscriber {
public:
  using TSend = std::function<void(THost& host)>;
  explicit THostUpdateRoute(TSend send) : FSend(std::move(send)) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  TSend FSend;
};
