#include "core/THostUpdateRoute.h"

void THostUpdateRoute::HostTransition(const THostTransition& transition, THost& host, TTransitionWork&) {
  if (transition.Kind == TTransitionKind::ResultCounted && FSend) FSend(host);
}
