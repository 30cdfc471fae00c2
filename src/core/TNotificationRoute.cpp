#include "core/TNotificationRoute.h"

#include "core/THost.h"
#include "hosttests/TBackgroundTask.h"

void TNotificationRoute::HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) {
  const bool offline = transition.Kind == TTransitionKind::WentOffline;
  if (!FStart || !(offline ? host.OfflineNotify : transition.Kind == TTransitionKind::CameOnline && host.OnlineNotify))
    return;
  std::shared_ptr<TBackgroundTask> task = FStart(host, offline);
  if (task) work.Started.push_back({(offline ? "HTTP Down Alert " : "HTTP Up Alert ") + host.DisplayName, std::move(task)});
}
