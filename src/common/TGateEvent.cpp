#include "common/TGateEvent.h"

#include <algorithm>
#include <chrono>

namespace {
// A give-up flag is a plain atomic that nobody signals, so waiters look at it this often.
constexpr std::chrono::milliseconds GiveUpLook(100);
}  // namespace

void TGateEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    FSet = true;
  }
  FChanged.notify_all();
}

void TGateEvent::Reset() {
  std::lock_guard<std::mutex> lock(FLock);
  FSet = false;
}

bool TGateEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FSet;
}

bool TGateEvent::Wait(int timeoutMs, const std::atomic<bool>* giveUp) {
  using TSteady = std::chrono::steady_clock;
  const bool limited = timeoutMs >= 0;
  const auto deadline = TSteady::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  std::unique_lock<std::mutex> lock(FLock);
  while (!FSet) {
    if (giveUp && giveUp->load()) return false;
    auto until = TSteady::now() + GiveUpLook;
    if (limited) {
      if (TSteady::now() >= deadline) return false;
      until = std::min(until, deadline);
    }
    FChanged.wait_until(lock, until);
  }
  return true;
}

void TGateEvent::WakeWaiters() {
  // Taking the lock orders the wake after a waiter's look at its flag.
  { std::lock_guard<std::mutex> lock(FLock); }
  FChanged.notify_all();
}
