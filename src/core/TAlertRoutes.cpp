#include "core/TAlertRoutes.h"

#include <exception>
#include <utility>

void TAlertRoutes::Add(std::unique_ptr<TTransitionSubscriber> route) {
  if (route) FRoutes.push_back(std::move(route));
}

void TAlertRoutes::HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) {
  std::exception_ptr first;
  for (const auto& route : FRoutes) {
    try {
      route->HostTransition(transition, host, work);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}
