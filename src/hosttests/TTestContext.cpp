#include "hosttests/TTestContext.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <utility>

namespace {

using TSteady = std::chrono::steady_clock;

// How often a waiting completion step looks at the gate again.
constexpr int GateLookMs = 10;

// One posted completion step. It gives its counter back exactly once: when it has run,
// or when it is destroyed unrun (the event or timer carrying it was dropped).
class TPendingStep : public std::enable_shared_from_this<TPendingStep> {
public:
  TPendingStep(TTestContext& context, std::atomic<int>& counter, int waitMs, std::function<bool()> giveUp,
               std::function<void()> step, std::function<void()> dropped)
      : FContext(context), FCounter(counter), FGiveUp(std::move(giveUp)), FStep(std::move(step)),
        FDropped(std::move(dropped)), FDeadline(waitMs >= 0 ? TSteady::now() + std::chrono::milliseconds(waitMs)
                                                            : TSteady::time_point::max()) {
    FCounter.fetch_add(1);
  }

  ~TPendingStep() {
    if (FDone) return;
    if (FDropped) {
      try {
        FDropped();
      } catch (...) {
      }
    }
    FCounter.fetch_sub(1);
  }

  // On the main thread: runs the step when the gate allows, else looks again later.
  void Attempt(QObject* mainThread) {
    bool giveUp = false;
    try {
      giveUp = FGiveUp && FGiveUp();
    } catch (...) {
      giveUp = true;
    }
    if (!FContext.HostListGate.IsSet() && !giveUp && TSteady::now() < FDeadline) {
      QTimer::singleShot(GateLookMs, mainThread, [self = shared_from_this(), mainThread] { self->Attempt(mainThread); });
      return;
    }
    FDone = true;
    try {
      FStep();
    } catch (...) {
    }
    FCounter.fetch_sub(1);
  }

private:
  TTestContext& FContext;
  std::atomic<int>& FCounter;
  std::function<bool()> FGiveUp;
  std::function<void()> FStep;
  std::function<void()> FDropped;
  TSteady::time_point FDeadline;
  bool FDone = false;
};

}  // namespace

TTestContext::TTestContext(QObject* mainThread, TEchoEngine* echo) : FMainThread(mainThread), FEcho(echo) {
  FPool.setMaxThreadCount(PoolThreads);
}

TTestContext::~TTestContext() {
  FPool.clear();
  FPool.waitForDone();
}

void TTestContext::SetTracer(std::function<void(const std::string&)> trace) {
  std::lock_guard<std::mutex> lock(FTraceLock);
  FTracer = std::move(trace);
}

void TTestContext::Trace(const std::string& message) const {
  std::function<void(const std::string&)> tracer;
  {
    std::lock_guard<std::mutex> lock(FTraceLock);
    tracer = FTracer;
  }
  if (tracer) tracer(message);
}

void TTestContext::RunInPool(std::function<void()> work) {
  FPool.start([work = std::move(work)] {
    try {
      work();
    } catch (...) {
    }
  });
}

void TTestContext::PostCompletion(std::atomic<int>& counter, int waitMs, std::function<bool()> giveUp,
                                  std::function<void()> step, std::function<void()> dropped) {
  auto pending =
      std::make_shared<TPendingStep>(*this, counter, waitMs, std::move(giveUp), std::move(step), std::move(dropped));
  QObject* target = FMainThread.data();
  if (!target) return;  // dropped: the pending step gives its counter back now
  QMetaObject::invokeMethod(target, [pending, target] { pending->Attempt(target); }, Qt::QueuedConnection);
}
