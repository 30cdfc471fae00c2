#pragma once
// A manual-reset event, initially set. The main thread resets it while it replaces the
// host list or a list that completion steps read, and sets it again afterwards; the
// completion steps of worker threads wait for it before they touch host records.
#include <atomic>
#include <condition_variable>
#include <mutex>

class TGateEvent {
public:
  // Wait without a time limit.
  static constexpr int Infinite = -1;

  TGateEvent() = default;
  TGateEvent(const TGateEvent&) = delete;
  TGateEvent& operator=(const TGateEvent&) = delete;

  // Opens the gate and releases every waiter.
  void Set();
  void Reset();
  bool IsSet() const;

  // True as soon as the gate is set (at once when it is), false after timeoutMs (a
  // negative value waits without limit) or when giveUp becomes true. giveUp is looked
  // at whenever the waiter wakes and at least every 100 ms; WakeWaiters makes them look
  // at once.
  bool Wait(int timeoutMs, const std::atomic<bool>* giveUp = nullptr);

  // Wakes every waiter so that it looks at its give-up flag now.
  void WakeWaiters();

private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  bool FSet = true;
};
