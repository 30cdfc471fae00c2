#include "hosttests/TSlotCounter.h"

#include <algorithm>
#include <chrono>

namespace {
// Nobody signals a termination flag, so waiters look at it this often.
constexpr std::chrono::milliseconds TerminatedLook(100);
}  // namespace

bool TSlotCounter::WaitBelow(std::unique_lock<std::mutex>& lock, int limit,
                             const std::atomic<bool>* terminated) {
  while (FInFlight >= limit) {
    if (terminated && terminated->load()) return false;
    FFreed.wait_for(lock, TerminatedLook);
  }
  return !(terminated && terminated->load());
}

bool TSlotCounter::Acquire(int limit, const std::atomic<bool>* terminated) {
  std::unique_lock<std::mutex> lock(FLock);
  if (!WaitBelow(lock, std::max(limit, 1), terminated)) return false;
  ++FInFlight;
  return true;
}

void TSlotCounter::Release() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FInFlight > 0) --FInFlight;
  }
  // Waiters differ in their limits (bypass waiters wait for 256), so one wake could land
  // on a waiter that cannot use the slot while one that could sleeps on.
  FFreed.notify_all();
}

bool TSlotCounter::WaitBypass(const std::atomic<bool>* terminated) {
  std::unique_lock<std::mutex> lock(FLock);
  return WaitBelow(lock, BypassLimit, terminated);
}

int TSlotCounter::InFlight() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FInFlight;
}

void TSlotCounter::WakeWaiters() {
  // Taking the lock orders the wake after a waiter's look at its flag.
  { std::lock_guard<std::mutex> lock(FLock); }
  FFreed.notify_all();
}

TSlotCounter::TSlot::TSlot(TSlotCounter& counter, int limit, bool bypass,
                           const std::atomic<bool>* terminated)
    : FCounter(counter) {
  if (bypass) {
    FGranted = counter.WaitBypass(terminated);
  } else {
    FGranted = FCounted = counter.Acquire(limit, terminated);
  }
}

TSlotCounter::TSlot::~TSlot() { Release(); }

void TSlotCounter::TSlot::Release() {
  if (FCounted) FCounter.Release();
  FCounted = false;
}
