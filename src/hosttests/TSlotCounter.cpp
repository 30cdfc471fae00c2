#include "hosttests/TSlotCounter.h"

#include <algorithm>
#include <deque>
#include <vector>

void TSlotCounter::Release() {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FInFlight > 0) --FInFlight;
  }
  StartWaiting();
}

namespace {
// Starts run on the thread that frees a slot, and a start may free one itself (a request
// that fails at once) or make a request, of this counter or another. Such nested calls
// leave the starting to the outermost call, so that a long queue never turns into a deep
// recursion.
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
  std::vector<TStart> ready;
  {
    std::lock_guard<std::mutex> lock(FLock);
    // A counted request that must wait holds back the counted ones behind it.
    while (!FCounted.empty()) {
      TRequest& first = FCounted.begin()->second;
      const int limit = std::max(first.LimitRef ? first.LimitRef->load() : first.Limit, 1);
      if (FInFlight >= limit) break;
      ++FInFlight;
      ready.push_back(std::move(first.Start));
      FCounted.erase(FCounted.begin());
    }
    if (FInFlight < BypassLimit) {
      for (auto& [ticket, request] : FBypassing) ready.push_back(std::move(request.Start));
      FBypassing.clear();
    }
  }
  for (TStart& start : ready) RunStart(start, true);
}

void TSlotCounter::RunStart(TStart& start, bool granted) {
  try {
    start(granted);
  } catch (...) {
    TFaultHook hook;
    {
      std::lock_guard<std::mutex> lock(FLock);
      hook = FFaultHook;
    }
    ReportFault(hook, "slot start", CurrentExceptionText());
  }
}

void TSlotCounter::SetFaultHook(TFaultHook hook) {
  std::lock_guard<std::mutex> lock(FLock);
  FFaultHook = std::move(hook);
}

std::uint64_t TSlotCounter::Enqueue(TRequest request, bool bypass) {
  std::uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(FLock);
    ticket = ++FNextTicket;
    (bypass ? FBypassing : FCounted).emplace(ticket, std::move(request));
  }
  StartWaiting();
  return ticket;
}

std::uint64_t TSlotCounter::Request(int limit, bool bypass, TStart start) {
  return Enqueue(TRequest{limit, nullptr, std::move(start)}, bypass);
}

std::uint64_t TSlotCounter::Request(const std::atomic<int>& limit, bool bypass, TStart start) {
  return Enqueue(TRequest{1, &limit, std::move(start)}, bypass);
}

bool TSlotCounter::Cancel(std::uint64_t ticket) {
  TStart start;
  bool wasFirst = false;
  {
    std::lock_guard<std::mutex> lock(FLock);
    auto take = [&](std::map<std::uint64_t, TRequest>& queue) {
      auto it = queue.find(ticket);
      if (it == queue.end()) return false;
      wasFirst = it == queue.begin();
      start = std::move(it->second.Start);
      queue.erase(it);
      return true;
    };
    if (!take(FCounted) && !take(FBypassing)) return false;
  }
  // A cancelled first request may have held back the others behind it.
  if (wasFirst) StartWaiting();
  RunStart(start, false);
  return true;
}

int TSlotCounter::Waiting() const {
  std::lock_guard<std::mutex> lock(FLock);
  return static_cast<int>(FCounted.size() + FBypassing.size());
}

int TSlotCounter::InFlight() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FInFlight;
}
