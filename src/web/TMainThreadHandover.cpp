#include "web/TMainThreadHandover.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>

TMainThreadHandover::TMainThreadHandover() = default;

TMainThreadHandover::~TMainThreadHandover() { Cancel(); }

bool TMainThreadHandover::Run(const std::function<void()>& work) {
  if (QThread::currentThread() == FContext.thread()) {
    work();
    return true;
  }
  auto call = std::make_shared<TCall>();
  const std::shared_ptr<TShared> shared = FShared;
  {
    std::lock_guard lock(shared->Mutex);
    if (shared->Refusing) return false;
    shared->Pending.push_back(call);
  }
  // The work runs while this thread waits below, so the references it holds stay valid.
  QMetaObject::invokeMethod(
      &FContext,
      [shared, call, &work] {
        {
          std::lock_guard lock(shared->Mutex);
          if (call->Cancelled) return;
        }
        work();
        std::lock_guard lock(shared->Mutex);
        call->Done = true;
        shared->Changed.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(shared->Mutex);
  shared->Changed.wait(lock, [&call] { return call->Done || call->Cancelled; });
  std::erase(shared->Pending, call);
  return call->Done;
}

void TMainThreadHandover::Cancel() {
  std::lock_guard lock(FShared->Mutex);
  FShared->Refusing = true;
  for (const auto& call : FShared->Pending)
    if (!call->Done) call->Cancelled = true;
  FShared->Changed.notify_all();
}

void TMainThreadHandover::Reopen() {
  std::lock_guard lock(FShared->Mutex);
  FShared->Refusing = false;
}
