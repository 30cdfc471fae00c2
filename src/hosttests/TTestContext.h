#pragma once
// What every test worker shares: the echo handle, the in-flight counter of each kind,
// the completion counters the shutdown waits on, the worker pool and the way back to the
// main thread. The monitor owns one; tests of the workers make their
// own. It must outlive every worker created with it.
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hosttests/TSlotCounter.h"
#include "platform/FaultReport.h"

class QObject;
class TEchoEngine;
class TServiceControl;

// Completion steps posted or running, per kind; shutdown waits for zero.
struct TCompletionCounters {
  std::atomic<int> Echo{0}, TCP{0}, HTTP{0}, Service{0}, Share{0}, Name{0}, MessageSender{0}, InfoUpdate{0}, Plugin{0};
};

class TTestContext {
public:
  // Threads of the pool for blocking work (name lookups, connects). Slot waits hold no
  // pool thread, so this bounds only work that really runs.
  static constexpr int PoolThreads = 64;
  // Completion steps run one after another for at most this long (at least one step);
  // the rest of a burst waits for the next turn of the main thread's event loop, so
  // that a window message or a timer never waits for thousands of results.
  static constexpr int CompletionSliceMs = 5;

  // mainThread: the object in whose thread completion steps run (the main thread's event
  // loop). echo may be null or invalid: echo tests then fail with "ICMP handle invalid".
  TTestContext(QObject* mainThread, TEchoEngine* echo);
  // Waits for the work running in the pool; queued work that has not started is dropped,
  // and so is every completion step that has not run yet (see PostCompletion).
  ~TTestContext();
  TTestContext(const TTestContext&) = delete;
  TTestContext& operator=(const TTestContext&) = delete;

  TEchoEngine* Echo() const { return FEcho.load(); }
  // For an owner that makes the engine after the context; before any worker starts.
  void SetEcho(TEchoEngine* echo) { FEcho.store(echo); }

  // In flight per kind. Echo tests count in PingSlots, TCP tests and HTTP retrievals in
  // TCPSlots.
  TSlotCounter PingSlots, TCPSlots, ServiceSlots, ShareSlots;
  // The current limits (the settings MaxPingThreads ...), kept up to date by the owner.
  std::atomic<int> MaxPingThreads{25}, MaxTCPThreads{10}, MaxServiceThreads{10}, MaxShareThreads{5};
  TCompletionCounters Completions;
  // The service control manager service tests ask; null: every service test fails.
  std::atomic<TServiceControl*> Services{nullptr};

  // The status trace; any thread.
  void SetTracer(std::function<void(const std::string&)> trace);
  void Trace(const std::string& message) const;

  // Receives every error a worker, a completion step, pool work or a slot start
  // swallows, with where it happened; the work goes on. Any thread.
  void SetFaultHook(TFaultHook hook);
  // Hands the exception being handled to the hook; call it only inside a catch block.
  void ReportException(const std::string& where) const;

  // Runs blocking work (a name lookup, a connect) on one of the pool's threads.
  void RunInPool(std::function<void()> work);

  // A worker's completion step. counter + 1 now; then step runs from the main thread's
  // event loop (errors it raises are swallowed) and counter - 1. A step that can never
  // run is dropped instead: dropped (when given) runs and the counter still goes back
  // down. That happens on the calling thread when the main-thread object is gone already,
  // on the main thread when it goes before the step has run, and in the destructor for
  // steps still pending. step and dropped must not destroy this context.
  void PostCompletion(std::atomic<int>& counter, std::function<void()> step, std::function<void()> dropped = {});
  // Completion steps posted and neither run nor dropped yet.
  int PendingCompletions() const;

private:
  struct TStepQueue;

  QPointer<QObject> FMainThread;
  std::shared_ptr<TStepQueue> FSteps;
  std::atomic<TEchoEngine*> FEcho;
  mutable std::mutex FTraceLock;
  std::function<void(const std::string&)> FTracer;
  QThreadPool FPool;
};
