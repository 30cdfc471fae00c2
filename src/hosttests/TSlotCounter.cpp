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
  StartWaiting();
}

namespace {
// Starts run on the thread that frees a slot, and a start may free one itself (a request
// that fails at once), of this counter or another. Such nested frees leave the starting
// to the outermost call, so that a long queue never turns into a deep recursion.
thread_local bool Draining = false;
thread_local std::deque<TSlotCounter*> DrainQueue;
}  // namespace

void TSlotCounter::StartWaiting() {
  if (std::find(DrainQueue.begin(), DrainQueue.end(), this) == DrainQueue.end()) DrainQueue.push_back(this);
  if (Draining) return;
  Draining = true;
  while (!DrainQueue.empty()) {
    TSlotCounter* counter = DrainQueue.front();
    DrainQueue.pop_front();
    counter->StartReady();
  }
  Draining = false;
}

void TSlotCounter::StartReady() {
  std::deque<TRequest> ready;
  {
    std::lock_guard<std::mutex> lock(FLock);
    // In order: a counted request that must wait holds back the counted ones behind it;
    // bypass requests only wait for the bypass limit.
    bool countedBlocked = false;
    for (auto it = FRequests.begin(); it != FRequests.end();) {
      const bool mayGo = it->Bypass ? FInFlight < BypassLimit : !countedBlocked && FInFlight < it->Limit;
      if (!mayGo) {
        if (!it->Bypass) countedBlocked = true;
        ++it;
        continue;
      }
      if (!it->Bypass) ++FInFlight;
      ready.push_back(std::move(*it));
      it = FRequests.erase(it);
    }
  }
  for (TRequest& r : ready) {
    try {
      r.Start(true);
    } catch (...) {
    }
  }
}

std::uint64_t TSlotCounter::Request(int limit, bool bypass, TStart start) {
  std::uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(FLock);
    ticket = ++FNextTicket;
    FRequests.push_back(TRequest{ticket, std::max(limit, 1), bypass, std::move(start)});
  }
  StartWaiting();
  return ticket;
}

bool TSlotCounter::Cancel(std::uint64_t ticket) {
  TStart start;
  {
    std::lock_guard<std::mutex> lock(FLock);
    auto it = std::find_if(FRequests.begin(), FRequests.end(), [ticket](const TRequest& r) { return r.Ticket == ticket; });
    if (it == FRequests.end()) return false;
    start = std::move(it->Start);
    FRequests.erase(it);
  }
  // The cancelled request may have held back others behind it.
  StartWaiting();
  try {
    start(false);
  } catch (...) {
  }
  return true;
}

int TSlotCounter::Waiting() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<int>(FRequests.size());
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
