#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "common/TGateEvent.h"

namespace {

using namespace std::chrono_literals;

// Threads that each wait once for the gate and record the answer.
struct TWaiters {
  TWaiters(TGateEvent& gate, int count, int timeoutMs, const std::atomic<bool>* giveUp = nullptr)
      : Results(count) {
    for (int i = 0; i < count; ++i)
      Threads.emplace_back([&, i] {
        Results[i] = gate.Wait(timeoutMs, giveUp) ? 1 : 0;
        ++Done;
      });
  }
  ~TWaiters() { Join(); }
  void Join() {
    for (auto& thread : Threads)
      if (thread.joinable()) thread.join();
  }
  std::vector<int> Results;
  std::atomic<int> Done = 0;
  std::vector<std::thread> Threads;
};

TEST(GateEvent, StartsSetAndTimesOutWhileReset) {
  TGateEvent gate;
  EXPECT_TRUE(gate.IsSet());
  EXPECT_TRUE(gate.Wait(0));
  EXPECT_TRUE(gate.Wait(TGateEvent::Infinite));

  gate.Reset();
  EXPECT_FALSE(gate.IsSet());
  EXPECT_FALSE(gate.Wait(0));
  EXPECT_FALSE(gate.Wait(30));
  gate.Reset();  // resetting twice keeps it reset
  EXPECT_FALSE(gate.Wait(0));

  gate.Set();
  gate.Set();
  EXPECT_TRUE(gate.IsSet());
  EXPECT_TRUE(gate.Wait(0));
}

TEST(GateEvent, SetReleasesEveryWaiterAndStaysSet) {
  TGateEvent gate;
  gate.Reset();
  TWaiters waiters(gate, 8, TGateEvent::Infinite);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(waiters.Done, 0) << "a waiter passed a reset gate";
  gate.Set();
  waiters.Join();
  for (int result : waiters.Results) EXPECT_EQ(result, 1);
  // Manual reset: a later waiter passes without another Set.
  EXPECT_TRUE(gate.Wait(0));
}

TEST(GateEvent, GiveUpFlagEndsTheWait) {
  TGateEvent gate;
  std::atomic<bool> giveUp = true;
  // A set gate is passed even by a waiter that has given up.
  EXPECT_TRUE(gate.Wait(TGateEvent::Infinite, &giveUp));
  gate.Reset();
  EXPECT_FALSE(gate.Wait(TGateEvent::Infinite, &giveUp));

  // Nobody wakes the waiters: they notice the flag by themselves.
  giveUp = false;
  {
    TWaiters waiters(gate, 4, TGateEvent::Infinite, &giveUp);
    std::this_thread::sleep_for(30ms);
    giveUp = true;
    waiters.Join();
    for (int result : waiters.Results) EXPECT_EQ(result, 0);
  }
  // WakeWaiters makes them look at once.
  giveUp = false;
  {
    TWaiters waiters(gate, 4, TGateEvent::Infinite, &giveUp);
    std::this_thread::sleep_for(30ms);
    giveUp = true;
    gate.WakeWaiters();
    waiters.Join();
    for (int result : waiters.Results) EXPECT_EQ(result, 0);
  }
  EXPECT_FALSE(gate.IsSet()) << "giving up must not open the gate";
}

TEST(GateEvent, ResetAndSetFromManyThreadsLoseNoWaiter) {
  TGateEvent gate;
  std::atomic<bool> stop = false;
  std::atomic<long> passes = 0, failures = 0;
  std::vector<std::thread> waiters;
  for (int i = 0; i < 6; ++i)
    waiters.emplace_back([&] {
      while (!stop) {
        if (gate.Wait(TGateEvent::Infinite)) ++passes;
        else ++failures;
      }
    });
  std::vector<std::thread> togglers;
  for (int i = 0; i < 3; ++i)
    togglers.emplace_back([&] {
      for (int n = 0; n < 2000; ++n) {
        gate.Reset();
        if (n % 7 == 0) std::this_thread::yield();
        gate.Set();
      }
    });
  for (auto& thread : togglers) thread.join();
  EXPECT_TRUE(gate.IsSet());
  stop = true;
  for (auto& thread : waiters) thread.join();
  EXPECT_EQ(failures, 0) << "an unlimited wait without give-up flag only ends when set";
  EXPECT_GT(passes, 0);
}

}  // namespace
