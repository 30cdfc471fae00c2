#include "core/THostChanges.h"

#include <QMetaObject>

THostChanges::THostChanges(TTracer trace, QObject* parent) : QObject(parent), FTrace(std::move(trace)) {}

void THostChanges::Changed(std::int32_t hostID, const char* where) {
  FTrace(std::string(where) + " - Host " + std::to_string(hostID));
  if (!FPending.insert(hostID).second) return;
  FOrder.push_back(hostID);
  if (!FFlushQueued) {
    FFlushQueued = true;
    QMetaObject::invokeMethod(this, &THostChanges::Flush, Qt::QueuedConnection);
  }
}

void THostChanges::Flush() {
  FFlushQueued = false;
  if (FOrder.isEmpty()) return;
  QList<qint32> ids;
  ids.swap(FOrder);
  FPending.clear();
  emit HostsChanged(ids);
}

void THostChanges::Rebuilt() {
  FOrder.clear();
  FPending.clear();
  emit HostListRebuilt();
}

void THostChanges::Added(std::int32_t hostID) {
  Flush();
  emit HostsAdded({hostID});
}

void THostChanges::AboutToBeRemoved(std::int32_t hostID) {
  Flush();
  emit HostsAboutToBeRemoved({hostID});
}
