#pragma once
// Tells the views which hosts changed, by host ID and in batches: every change of a turn
// of the event loop is combined into one HostsChanged, so a list of 10,000 hosts
// repaints once per turn, not once per host and result. Hosts that join or leave the
// list and a rebuilt list are told at once. Main thread only.
#include <QList>
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

class THostChanges : public QObject {
  Q_OBJECT
public:
  using TTracer = std::function<void(const std::string& message)>;
  explicit THostChanges(TTracer trace, QObject* parent = nullptr);

  // The host's row must be shown again; traced as where + " - Host " + ID.
  void Changed(std::int32_t hostID, const char* where);
  // Emits the pending batch now (before the list is rebuilt, at shutdown, in tests).
  void Flush();
  // A host joined the list; a host is about to leave it. Told at once, with the pending
  // changes first so that no batch names a host the views do not have.
  void Added(std::int32_t hostID);
  void AboutToBeRemoved(std::int32_t hostID);
  // The host list was replaced: pending changes are dropped (their IDs may be gone).
  void Rebuilt();
  // Hosts whose rows were changed and not yet told.
  bool Pending() const { return !FPending.empty(); }

signals:
  void HostsChanged(const QList<qint32>& ids);
  void HostsAdded(const QList<qint32>& ids);
  void HostsAboutToBeRemoved(const QList<qint32>& ids);
  void HostListRebuilt();

private:
  TTracer FTrace;
  std::unordered_set<std::int32_t> FPending;
  QList<qint32> FOrder;  // first change first
  bool FFlushQueued = false;
};
