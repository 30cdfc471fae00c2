#include "hosttests/TTestContext.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <utility>

namespace {
using TSteady = std::chrono::steady_clock;
}  // namespace

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

  struct TQueuedRun;
  // Any thread: queues the step for the main thread, posting a run of the queue unless
  // one is on its way.
  static void Enqueue(const std::shared_ptr<TStepQueue>& self, std::shared_ptr<TStep> step, QObject* mainThread);
  static void PostRun(const std::shared_ptr<TStepQueue>& self, QObject* mainThread);
  // Main thread: runs queued steps in their order until the queue is empty or the slice
  // is used up; the rest then waits for another turn of the event loop.
  static void RunQueued(const std::shared_ptr<TStepQueue>& self, QObject* mainThread);

  mutable std::mutex Lock;
  std::uint64_t NextId = 0;
  std::map<std::uint64_t, TStep*> Pending;
  TFaultHook FaultHook;
  // Steps on their way to the main thread, and whether a run of them is posted (a run
  // that has started no longer counts); a burst of thousands of results thus costs one
  // posted event per slice instead of one each.
  std::deque<std::shared_ptr<TStep>> Queued;
  bool RunPosted = false;
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

// One posted run of the queued steps. Destroyed unrun (the main-thread object went), it
// drops the steps queued then, as each step's own queued call used to drop it.
struct TTestContext::TStepQueue::TQueuedRun {
  explicit TQueuedRun(const std::shared_ptr<TStepQueue>& queue) : Queue(queue) {}
  TQueuedRun(const TQueuedRun&) = delete;
  TQueuedRun& operator=(const TQueuedRun&) = delete;
  ~TQueuedRun() {
    if (Ran) return;
    auto queue = Queue.lock();
    if (!queue) return;
    std::deque<std::shared_ptr<TStep>> left;
    {
      std::lock_guard<std::mutex> lock(queue->Lock);
      left.swap(queue->Queued);
      queue->RunPosted = false;
    }
    // Destroying a step unrun drops it.
    left.clear();
  }

  std::weak_ptr<TStepQueue> Queue;
  bool Ran = false;
};

void TTestContext::TStepQueue::Enqueue(const std::shared_ptr<TStepQueue>& self, std::shared_ptr<TStep> step,
                                       QObject* mainThread) {
  {
    std::lock_guard<std::mutex> lock(self->Lock);
    self->Queued.push_back(std::move(step));
    if (self->RunPosted) return;
    self->RunPosted = true;
  }
  PostRun(self, mainThread);
}

void TTestContext::TStepQueue::PostRun(const std::shared_ptr<TStepQueue>& self, QObject* mainThread) {
  auto run = std::make_shared<TQueuedRun>(self);
  QMetaObject::invokeMethod(
      mainThread,
      [run, mainThread] {
        run->Ran = true;
        if (auto queue = run->Queue.lock()) RunQueued(queue, mainThread);
      },
      Qt::QueuedConnection);
}

void TTestContext::TStepQueue::RunQueued(const std::shared_ptr<TStepQueue>& self, QObject* mainThread) {
  const auto sliceEnd = TSteady::now() + std::chrono::milliseconds(CompletionSliceMs);
  // The next run is posted as soon as there is more than the step at hand, before that
  // step runs: a step that waits in a nested event loop for later steps still sees them
  // run. Posted once per slice, and behind whatever came before it (a window message, a
  // timer), which thus waits for one slice, not for the whole burst.
  auto postIfMore = [&] {
    bool post = false;
    {
      std::lock_guard<std::mutex> lock(self->Lock);
      post = !self->Queued.empty() && !self->RunPosted;
      if (post) self->RunPosted = true;
    }
    if (post) PostRun(self, mainThread);
  };
  {
    std::lock_guard<std::mutex> lock(self->Lock);
    self->RunPosted = false;
  }
  for (;;) {
    std::shared_ptr<TStep> step;
    {
      std::lock_guard<std::mutex> lock(self->Lock);
      if (self->Queued.empty()) return;
      step = std::move(self->Queued.front());
      self->Queued.pop_front();
    }
    postIfMore();
    step->Run();
    step.reset();
    if (TSteady::now() >= sliceEnd) {
      postIfMore();
      return;
    }
  }
}

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
  TStepQueue::Enqueue(FSteps, std::move(pending), target);
}

int TTestContext::PendingCompletions() const {
  std::lock_guard<std::mutex> lock(FSteps->Lock);
  return static_cast<int>(FSteps->Pending.size());
}
