#include <atomic>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "hosttests/TSlotCounter.h"

namespace {

using namespace std::chrono_literals;

// Long enough for a waiter that should be blocked to have run past a missing wait.
constexpr auto Settle = 50ms;

bool Finished(const std::future<bool>& answer) { return answer.wait_for(0ms) == std::future_status::ready; }

TEST(SlotCounter, NeverMoreThanTheLimitInFlight) {
  TSlotCounter counter;
  constexpr int Limit = 5;
  std::atomic<int> inside = 0, most = 0, refused = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 32; ++t)
    threads.emplace_back([&] {
      for (int n = 0; n < 300; ++n) {
        if (!counter.Acquire(Limit)) {
          ++refused;
          continue;
        }
        int now = ++inside;
        int seen = most;
        while (now > seen && !most.compare_exchange_weak(seen, now)) {}
        if (n % 5 == 0) std::this_thread::yield();
        --inside;
        counter.Release();
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_LE(most, Limit);
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(counter.InFlight(), 0);
}

TEST(SlotCounter, LimitIsTakenPerCallAndNeverBelowOne) {
  TSlotCounter counter;
  ASSERT_TRUE(counter.Acquire(2));
  ASSERT_TRUE(counter.Acquire(2));
  // The settings raised the limit: the next test goes ahead at once.
  ASSERT_TRUE(counter.Acquire(3));
  EXPECT_EQ(counter.InFlight(), 3);
  counter.Release();
  counter.Release();
  counter.Release();
  counter.Release();  // one too many must not open an extra slot
  EXPECT_EQ(counter.InFlight(), 0);

  // A limit of 0 or below would block every test for good; it admits one at a time.
  ASSERT_TRUE(counter.Acquire(0));
  std::atomic<bool> terminated = false;
  auto second = std::async(std::launch::async, [&] { return counter.Acquire(-4, &terminated); });
  std::this_thread::sleep_for(Settle);
  EXPECT_FALSE(Finished(second));
  counter.Release();
  EXPECT_TRUE(second.get());
  EXPECT_EQ(counter.InFlight(), 1);
}

TEST(SlotCounter, BypassWaitsOnlyAt256AndIsNotCounted) {
  TSlotCounter counter;
  for (int i = 0; i < TSlotCounter::BypassLimit - 1; ++i) ASSERT_TRUE(counter.Acquire(1000));
  EXPECT_TRUE(counter.WaitBypass());
  EXPECT_EQ(counter.InFlight(), TSlotCounter::BypassLimit - 1);

  ASSERT_TRUE(counter.Acquire(1000));
  auto bypass = std::async(std::launch::async, [&] { return counter.WaitBypass(); });
  std::this_thread::sleep_for(Settle);
  EXPECT_FALSE(Finished(bypass)) << "a bypass test must wait while 256 are in flight";
  counter.Release();
  EXPECT_TRUE(bypass.get());
  EXPECT_EQ(counter.InFlight(), TSlotCounter::BypassLimit - 1);
}

TEST(SlotCounter, TerminationReleasesWaitersWithoutTakingASlot) {
  TSlotCounter counter;
  ASSERT_TRUE(counter.Acquire(1));
  std::atomic<bool> terminated = false;
  auto counted = std::async(std::launch::async, [&] { return counter.Acquire(1, &terminated); });
  std::this_thread::sleep_for(Settle);
  EXPECT_FALSE(Finished(counted));
  // Nobody wakes it: the waiter notices the flag by itself.
  terminated = true;
  EXPECT_FALSE(counted.get());
  EXPECT_EQ(counter.InFlight(), 1);
  // Already terminated: refused even though a slot is free.
  counter.Release();
  EXPECT_FALSE(counter.Acquire(1, &terminated));
  EXPECT_EQ(counter.InFlight(), 0);

  for (int i = 0; i < TSlotCounter::BypassLimit; ++i) ASSERT_TRUE(counter.Acquire(1000));
  std::atomic<bool> aborted = false;
  auto bypass = std::async(std::launch::async, [&] { return counter.WaitBypass(&aborted); });
  std::this_thread::sleep_for(Settle);
  aborted = true;
  counter.WakeWaiters();
  EXPECT_FALSE(bypass.get());
  EXPECT_EQ(counter.InFlight(), TSlotCounter::BypassLimit);
}

TEST(SlotCounter, SlotGivesBackOnlyWhatItTook) {
  TSlotCounter counter;
  {
    TSlotCounter::TSlot slot(counter, 2, false);
    EXPECT_TRUE(slot.Granted());
    EXPECT_EQ(counter.InFlight(), 1);
    TSlotCounter::TSlot bypass(counter, 2, true);
    EXPECT_TRUE(bypass.Granted());
    EXPECT_EQ(counter.InFlight(), 1);
    slot.Release();
    slot.Release();
    EXPECT_EQ(counter.InFlight(), 0);
  }
  EXPECT_EQ(counter.InFlight(), 0);

  ASSERT_TRUE(counter.Acquire(1));
  std::atomic<bool> terminated = true;
  {
    TSlotCounter::TSlot refused(counter, 1, false, &terminated);
    EXPECT_FALSE(refused.Granted());
  }
  EXPECT_EQ(counter.InFlight(), 1) << "a refused slot must not give back another test's slot";
}

}  // namespace
