#pragma once
// The count of one kind of test in flight (echo, TCP and HTTP, service, share) and the
// queue of requests for a free slot below that kind's limit. The limit is a hard one: the look for a
// free slot and the taking of it are one step, so never more than the limit are counted.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/FaultReport.h"

class TSlotCounter {
public:
  // Tests that bypass the limit still wait while this many counted tests are in flight.
  static constexpr int BypassLimit = 256;

  TSlotCounter() = default;
  TSlotCounter(const TSlotCounter&) = delete;
  TSlotCounter& operator=(const TSlotCounter&) = delete;

  // Gives back a slot taken by a request.
  void Release();
  int InFlight() const;

  // The waiting form for work that holds no thread while it waits (thousands of tests
  // due at once). start(true) runs as soon as the request may go ahead, with a slot
  // taken unless bypass (the caller gives it back with Release); at once, before
  // Request returns, when it may go ahead now, unless Request is called from inside a
  // start, which is then followed by this one as soon as it returns. start(false) runs
  // when the request is cancelled first. start runs on the thread that frees the slot
  // (or cancels), outside the counter's lock, and must be short; it may release slots
  // and make requests. Counted requests go ahead in their order, and so do bypass
  // requests. Requests that are still waiting when the counter is destroyed are
  // dropped without a call.
  using TStart = std::function<void(bool granted)>;
  std::uint64_t Request(int limit, bool bypass, TStart start);
  // The same with the limit read whenever the request is looked at, so that a changed
  // setting applies to requests that already wait. limit must outlive the request.
  std::uint64_t Request(const std::atomic<int>& limit, bool bypass, TStart start);
  // Cancels a waiting request: its start(false) runs on this thread before Cancel
  // returns. False when the request has already started (or never existed).
  bool Cancel(std::uint64_t ticket);
  // Requests still waiting.
  int Waiting() const;
  // Receives what a start throws ("slot start"); the counter goes on with the others.
  void SetFaultHook(TFaultHook hook);

private:
  struct TRequest {
    int Limit = 1;
    const std::atomic<int>* LimitRef = nullptr;
    TStart Start;
  };
  std::uint64_t Enqueue(TRequest request, bool bypass);
  // Takes the requests that may go ahead now (counting them) and runs their starts.
  void StartWaiting();
  void StartReady();
  // Runs start(granted); what it throws goes to the fault hook.
  void RunStart(TStart& start, bool granted);

  mutable std::mutex FLock;
  int FInFlight = 0;
  // By ticket, that is in order of request.
  std::map<std::uint64_t, TRequest> FCounted, FBypassing;
  std::uint64_t FNextTicket = 0;
  TFaultHook FFaultHook;
};
