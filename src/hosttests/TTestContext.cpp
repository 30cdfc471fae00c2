#include "hosttests/TTestContext.h"

#include <QObject>

#include <map>
#include <memory>
#include <utility>

// The completion steps posted and not yet run or dropped. Steps are owned by the queued
// call that carries them to the main thread; whatever destroys a step unrun drops it. The
// queue itself only knows them by id, so that the context can drop the rest when it goes
// first.
struct TTestContext::TStepQueue {
  struct TStep;

  // Takes the step out of the pending ones: true for the one caller that may run or
  // drop it.
  bool Claim(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(Lock);
    return Pending.erase(id) == 1;
  }
  TFaultHook Hook() const {
    std::lock_guard<std::mutex> lock(Lock);
    return FaultHook;
  }

  mutable std::mutex Lock;
  std::uint64_t NextId = 0;
  std::map<std::uint64_t, TStep*> Pending;
  TFaultHook FaultHook;
};

struct TTestContext::TStepQueue::TStep {
  TStep(const std::shared_ptr<TStepQueue>& queue, std::atomic<int>& counter, std::function<void()> step,
        std::function<void()> dropped)
      : Queue(queue), Counter(counter), Step(std::move(step)), Dropped(std::move(dropped)) {
    std::lock_guard<std::mutex> lock(queue->Lock);
    Id = ++queue->NextId;
    queue->Pending.emplace(Id, this);
  }
  TStep(const TStep&) = delete;
  TStep& operator=(const TStep&) = delete;

  ~TStep() {
    auto queue = Queue.lock();
    if (queue && queue->Claim(Id)) Drop(queue->Hook());
  }

  void Drop(const TFaultHook& hook) {
    try {
      if (Dropped) Dropped();
    } catch (...) {
      ReportFault(hook, "dropped completion step", CurrentExceptionText());
    }
    Counter.fetch_sub(1);
  }

  // Main thread.
  void Run() {
    auto queue = Queue.lock();
    if (!queue || !queue->Claim(Id)) return;
    const TFaultHook hook = queue->Hook();
    queue.reset();
    try {
      Step();
    } catch (...) {
      ReportFault(hook, "completion step", CurrentExceptionText());
    }
    Counter.fetch_sub(1);
  }

  std::weak_ptr<TStepQueue> Queue;
  std::uint64_t Id = 0;
  std::atomic<int>& Counter;
  std::function<void()> Step;
  std::function<void()> Dropped;
};

TTestContext::TTestContext(QObject* mainThread, TEchoEngine* echo)
    : FMainThread(mainThread), FSteps(std::make_shared<TStepQueue>()), FEcho(echo) {
  FPool.setMaxThreadCount(PoolThreads);
}

TTestContext::~TTestContext() {
  FPool.clear();
  FPool.waitForDone();
  std::map<std::uint64_t, TStepQueue::TStep*> left;
  {
    std::lock_guard<std::mutex> lock(FSteps->Lock);
    left.swap(FSteps->Pending);
  }
  const TFaultHook hook = FSteps->Hook();
  for (auto& [id, step] : left) step->Drop(hook);
}

void TTestContext::SetFaultHook(TFaultHook hook) {
  for (TSlotCounter* counter : {&PingSlots, &TCPSlots, &ServiceSlots, &ShareSlots}) counter->SetFaultHook(hook);
  std::lock_guard<std::mutex> lock(FSteps->Lock);
  FSteps->FaultHook = std::move(hook);
}

void TTestContext::ReportException(const std::string& where) const {
  ReportFault(FSteps->Hook(), where, CurrentExceptionText());
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
  FPool.start([this, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      ReportException("worker pool");
    }
  });
}

void TTestContext::PostCompletion(std::atomic<int>& counter, std::function<void()> step,
                                  std::function<void()> dropped) {
  counter.fetch_add(1);
  auto pending = std::make_shared<TStepQueue::TStep>(FSteps, counter, std::move(step), std::move(dropped));
  QObject* target = FMainThread.data();
  if (!target) return;  // dropped as pending goes out of scope
  QMetaObject::invokeMethod(target, [pending] { pending->Run(); }, Qt::QueuedConnection);
}

int TTestContext::PendingCompletions() const {
  std::lock_guard<std::mutex> lock(FSteps->Lock);
  return static_cast<int>(FSteps->Pending.size());
}
