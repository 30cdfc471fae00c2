#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "hosttests/TSlotCounter.h"
#include "hosttests/WorkerTestSupport.h"

namespace {

// Records the order in which queued requests start and whether they were granted.
struct TStarts {
  std::mutex Lock;
  std::vector<std::pair<int, bool>> Seen;
  TSlotCounter::TStart For(int n) {
    return [this, n](bool granted) {
      std::lock_guard<std::mutex> lock(Lock);
      Seen.emplace_back(n, granted);
    };
  }
  std::vector<std::pair<int, bool>> Take() {
    std::lock_guard<std::mutex> lock(Lock);
    return std::exchange(Seen, {});
  }
};

using TSeen = std::vector<std::pair<int, bool>>;

TEST(SlotCounterQueue, RequestsGoAheadInOrderWithinTheLimit) {
  TSlotCounter counter;
  TStarts starts;
  std::atomic<int> limit = 2;
  for (int n = 1; n <= 6; ++n) counter.Request(limit, false, starts.For(n));
  // The first two went ahead before Request returned.
  EXPECT_EQ(starts.Take(), (TSeen{{1, true}, {2, true}}));
  EXPECT_EQ(counter.InFlight(), 2);
  EXPECT_EQ(counter.Waiting(), 4);

  counter.Release();
  EXPECT_EQ(starts.Take(), (TSeen{{3, true}}));
  EXPECT_EQ(counter.InFlight(), 2);

  // A raised setting applies to requests that already wait, at the next change.
  limit = 4;
  counter.Release();
  EXPECT_EQ(starts.Take(), (TSeen{{4, true}, {5, true}, {6, true}}));
  EXPECT_EQ(counter.InFlight(), 4);
  EXPECT_EQ(counter.Waiting(), 0);

  // A lowered one holds new requests back until enough have ended.
  limit = 1;
  counter.Request(limit, false, starts.For(7));
  counter.Release();
  counter.Release();
  counter.Release();
  EXPECT_TRUE(starts.Take().empty());
  counter.Release();
  EXPECT_EQ(starts.Take(), (TSeen{{7, true}}));

  // A plain number is kept with the request; below 1 it counts as 1.
  counter.Request(0, false, starts.For(8));
  EXPECT_TRUE(starts.Take().empty());
  counter.Release();
  EXPECT_EQ(starts.Take(), (TSeen{{8, true}}));
  counter.Release();
  EXPECT_EQ(counter.InFlight(), 0);
}

TEST(SlotCounterQueue, BypassRequestsAreNotCountedAndWaitOnlyAt256) {
  TSlotCounter counter;
  TStarts starts;
  counter.Request(1, true, starts.For(1));
  EXPECT_EQ(starts.Take(), (TSeen{{1, true}}));
  EXPECT_EQ(counter.InFlight(), 0);

  for (int i = 0; i < TSlotCounter::BypassLimit; ++i) ASSERT_TRUE(workertest::TakeSlot(counter, 1000));
  counter.Request(TSlotCounter::BypassLimit, false, starts.For(2));  // counted, waits too
  counter.Request(1, true, starts.For(3));
  counter.Request(1, true, starts.For(4));
  EXPECT_TRUE(starts.Take().empty());
  EXPECT_EQ(counter.Waiting(), 3);
  // One slot frees: the counted request takes it, which holds the bypass ones back.
  counter.Release();
  EXPECT_EQ(starts.Take(), (TSeen{{2, true}}));
  counter.Release();
  EXPECT_EQ(starts.Take(), (TSeen{{3, true}, {4, true}}));
  EXPECT_EQ(counter.InFlight(), TSlotCounter::BypassLimit - 1);

  // A counted request that waits does not hold back a bypass one behind it.
  TSlotCounter small;
  ASSERT_TRUE(workertest::TakeSlot(small, 1));
  small.Request(1, false, starts.For(5));
  small.Request(1, true, starts.For(6));
  EXPECT_EQ(starts.Take(), (TSeen{{6, true}}));
  EXPECT_EQ(small.Waiting(), 1);
}

TEST(SlotCounterQueue, CancelRunsTheStartWithFalseAndLetsOthersPass) {
  TSlotCounter counter;
  TStarts starts;
  ASSERT_TRUE(workertest::TakeSlot(counter, 1));
  const std::uint64_t first = counter.Request(1, false, starts.For(1));
  const std::uint64_t second = counter.Request(5, false, starts.For(2));
  const std::uint64_t third = counter.Request(1, false, starts.For(3));
  EXPECT_TRUE(starts.Take().empty()) << "the second waits behind the first, although its limit is free";

  // Cancelling the first releases the second; its own start(false) runs before Cancel
  // returns.
  EXPECT_TRUE(counter.Cancel(first));
  EXPECT_EQ(starts.Take(), (TSeen{{2, true}, {1, false}}));
  EXPECT_FALSE(counter.Cancel(first)) << "cancelled twice";
  EXPECT_FALSE(counter.Cancel(second)) << "already started";
  EXPECT_FALSE(counter.Cancel(0));
  EXPECT_EQ(counter.InFlight(), 2);

  EXPECT_TRUE(counter.Cancel(third));
  EXPECT_EQ(starts.Take(), (TSeen{{3, false}}));
  EXPECT_EQ(counter.Waiting(), 0);
  EXPECT_EQ(counter.InFlight(), 2) << "a cancelled request takes no slot";

  // A start that throws neither stops the others nor leaks their slots.
  counter.Release();
  counter.Release();
  counter.Request(1, false, [](bool) { throw std::runtime_error("start failed"); });
  counter.Request(1, false, starts.For(4));
  EXPECT_EQ(counter.InFlight(), 1);
  counter.Release();
  EXPECT_EQ(starts.Take(), (TSeen{{4, true}}));
}

// Work that fails at once gives its slot back from inside its own start; the next start
// then runs from the same call chain. A queue of that kind must not become a recursion.
TEST(SlotCounterQueue, StartsThatReleaseAtOnceDoNotRecurse) {
  TSlotCounter counter;
  constexpr int Count = 100000;
  ASSERT_TRUE(workertest::TakeSlot(counter, 1));
  int started = 0;
  for (int n = 0; n < Count; ++n)
    counter.Request(1, false, [&](bool granted) {
      if (!granted) return;
      ++started;
      counter.Release();
    });
  EXPECT_EQ(counter.Waiting(), Count);
  counter.Release();
  EXPECT_EQ(started, Count);
  EXPECT_EQ(counter.InFlight(), 0);
  EXPECT_EQ(counter.Waiting(), 0);

  // A start may queue the next request itself (a chain of attempts): it starts as soon as
  // the start that made it returns.
  std::vector<int> order;
  std::function<void(int)> chain = [&](int n) {
    counter.Request(1, false, [&, n](bool) {
      order.push_back(n);
      counter.Release();
      if (n < 3) chain(n + 1);
      order.push_back(-n);
    });
  };
  chain(1);
  EXPECT_EQ(order, (std::vector<int>{1, -1, 2, -2, 3, -3}));
  EXPECT_EQ(counter.InFlight(), 0);
}

// Starts and releases from many threads at once, as echo answers end tests on the
// engine's thread while the main thread makes and cancels requests.
TEST(SlotCounterQueue, ManyThreadsRequestReleaseAndCancelAtOnce) {
  TSlotCounter counter;
  constexpr int Limit = 8, Threads = 8, PerThread = 500;
  std::atomic<int> inside = 0, most = 0, granted = 0, refused = 0;
  std::mutex lock;
  std::condition_variable changed;
  std::deque<int> toRelease;  // slots whose holders have not ended yet
  bool producing = true;

  std::vector<std::thread> releasers;
  for (int r = 0; r < 3; ++r)
    releasers.emplace_back([&] {
      for (;;) {
        {
          std::unique_lock<std::mutex> guard(lock);
          changed.wait(guard, [&] { return !toRelease.empty() || !producing; });
          if (toRelease.empty()) return;
          toRelease.pop_front();
        }
        --inside;
        counter.Release();
      }
    });
  std::vector<std::thread> producers;
  for (int t = 0; t < Threads; ++t)
    producers.emplace_back([&, t] {
      for (int n = 0; n < PerThread; ++n) {
        const std::uint64_t ticket = counter.Request(Limit, false, [&](bool ok) {
          if (!ok) {
            ++refused;
            return;
          }
          ++granted;
          int now = ++inside;
          int seen = most;
          while (now > seen && !most.compare_exchange_weak(seen, now)) {}
          std::lock_guard<std::mutex> guard(lock);
          toRelease.push_back(now);
          changed.notify_one();
        });
        if ((n + t) % 7 == 0) counter.Cancel(ticket);
      }
    });
  for (auto& p : producers) p.join();
  // Everything is requested; the releasers drain the rest.
  while (counter.Waiting() > 0) std::this_thread::yield();
  {
    std::lock_guard<std::mutex> guard(lock);
    producing = false;
  }
  changed.notify_all();
  for (auto& r : releasers) r.join();
  EXPECT_EQ(granted + refused, Threads * PerThread);
  EXPECT_GT(refused, 0);
  EXPECT_LE(most, Limit);
  EXPECT_EQ(counter.InFlight(), 0);
  EXPECT_EQ(counter.Waiting(), 0);
}

}  // namespace
