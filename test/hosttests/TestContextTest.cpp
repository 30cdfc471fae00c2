#include <QObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hosttests/TTestContext.h"
#include "hosttests/WorkerTestSupport.h"

using namespace std::chrono_literals;
using workertest::PumpFor;
using workertest::PumpUntil;

namespace {

TEST(TestContext, StepsRunOnceOnTheMainThreadAndFailuresAreCountedBack) {
  QObject main;
  TTestContext context(&main, nullptr);
  std::atomic<int> counter = 0;
  int ran = 0;
  std::thread::id ranOn;
  // Posted from a worker thread, as workers do.
  std::thread([&] {
    context.PostCompletion(counter, [&] {
      ++ran;
      ranOn = std::this_thread::get_id();
    });
  }).join();
  EXPECT_EQ(counter, 1) << "counted as soon as it is posted";
  EXPECT_EQ(context.PendingCompletions(), 1);
  ASSERT_TRUE(PumpUntil([&] { return ran == 1; }));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(context.PendingCompletions(), 0);
  PumpFor(30ms);
  EXPECT_EQ(ran, 1) << "a step runs once";

  // Errors of the step are swallowed, and still counted back.
  std::vector<std::string> faults;
  context.SetFaultHook([&](const std::string& where, const std::string& text) { faults.push_back(where + ": " + text); });
  bool thrown = false, after = false;
  context.PostCompletion(counter, [&] {
    thrown = true;
    throw std::runtime_error("handler failed");
  });
  context.PostCompletion(counter, [&] { after = true; });
  ASSERT_TRUE(PumpUntil([&] { return thrown && after && counter == 0; }));
  EXPECT_EQ(faults, (std::vector<std::string>{"completion step: handler failed"}));
}

TEST(TestContext, StepsThatCanNeverRunAreDroppedAndCountedBack) {
  std::atomic<int> counter = 0;
  int ran = 0, dropped = 0;
  auto step = [&] { ++ran; };
  auto drop = [&] { ++dropped; };

  {
    // The main-thread object goes before the queued step arrives ...
    auto main = std::make_unique<QObject>();
    TTestContext context(main.get(), nullptr);
    context.PostCompletion(counter, step, drop);
    main.reset();
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(counter, 0);

    // ... and afterwards steps are dropped before PostCompletion returns.
    context.PostCompletion(counter, step, drop);
    EXPECT_EQ(dropped, 2);
    EXPECT_EQ(counter, 0);
  }
  {
    // The context goes first: it drops what is still pending, and what Qt still carries
    // for it later does nothing.
    QObject main;
    auto context = std::make_unique<TTestContext>(&main, nullptr);
    context->PostCompletion(counter, step, drop);
    context->PostCompletion(counter, step, drop);
    context.reset();
    EXPECT_EQ(dropped, 4);
    EXPECT_EQ(counter, 0);
    PumpFor(50ms);
  }
  EXPECT_EQ(ran, 0);
  EXPECT_EQ(dropped, 4);
}

TEST(TestContext, StepsPostedFromManyThreadsRunOnceEachOnTheMainThread) {
  QObject main;
  TTestContext context(&main, nullptr);
  constexpr int Threads = 8, PerThread = 500;
  std::atomic<int> counter = 0, postersDone = 0;
  std::vector<int> runs(Threads * PerThread, 0);
  int offMain = 0;
  const auto mainId = std::this_thread::get_id();
  std::vector<std::thread> posters;
  for (int t = 0; t < Threads; ++t)
    posters.emplace_back([&, t] {
      for (int n = 0; n < PerThread; ++n)
        context.PostCompletion(counter, [&, k = t * PerThread + n] {
          ++runs[k];
          if (std::this_thread::get_id() != mainId) ++offMain;
        });
      ++postersDone;
    });
  EXPECT_TRUE(PumpUntil([&] { return postersDone == Threads && counter == 0; }));
  for (auto& p : posters) p.join();
  EXPECT_EQ(counter, 0);
  EXPECT_EQ(context.PendingCompletions(), 0);
  EXPECT_EQ(offMain, 0);
  EXPECT_EQ(std::count(runs.begin(), runs.end(), 1), Threads * PerThread);
}

TEST(TestContext, ABurstOfStepsLetsTheEventLoopTurnBetweenSlices) {
  // A burst of results (every host due at once) must not hold up what the main thread's
  // event loop has to do meanwhile, such as answering a window message: what was posted
  // after the burst began runs once a slice is used up, not after the whole burst.
  QObject main;
  TTestContext context(&main, nullptr);
  constexpr int Burst = 100;
  std::atomic<int> counter = 0;
  std::vector<int> order;
  int ranBeforeOther = -1;
  std::thread([&] {
    for (int n = 0; n < Burst; ++n)
      context.PostCompletion(counter, [&, n] {
        order.push_back(n);
        // Each step takes longer than a slice's share, as a result with 10,000 hosts does.
        std::this_thread::sleep_for(std::chrono::milliseconds(TTestContext::CompletionSliceMs / 2 + 1));
      });
  }).join();
  QMetaObject::invokeMethod(&main, [&] { ranBeforeOther = static_cast<int>(order.size()); }, Qt::QueuedConnection);
  ASSERT_TRUE(PumpUntil([&] { return counter == 0 && ranBeforeOther >= 0; }));
  EXPECT_GE(ranBeforeOther, 1) << "a slice runs at least one step";
  EXPECT_LT(ranBeforeOther, Burst) << "the other event waited for the whole burst";
  ASSERT_EQ(order.size(), static_cast<std::size_t>(Burst));
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << "steps run in the order they were posted";
  EXPECT_EQ(context.PendingCompletions(), 0);
}

TEST(TestContext, AStepWaitingInANestedEventLoopSeesLaterStepsRun) {
  // Shutdown and list changes wait for completions in a nested event loop; one that
  // starts inside a step must still see the steps queued behind it, and those posted
  // while it waits, run.
  QObject main;
  TTestContext context(&main, nullptr);
  std::atomic<int> counter = 0;
  bool queuedRan = false, postedRan = false, sawQueued = false, sawPosted = false;
  context.PostCompletion(counter, [&] {
    sawQueued = PumpUntil([&] { return queuedRan; }, 10s);
    std::thread([&] { context.PostCompletion(counter, [&] { postedRan = true; }); }).join();
    sawPosted = PumpUntil([&] { return postedRan; }, 10s);
  });
  context.PostCompletion(counter, [&] { queuedRan = true; });
  ASSERT_TRUE(PumpUntil([&] { return counter == 0; }));
  EXPECT_TRUE(sawQueued);
  EXPECT_TRUE(sawPosted);
}

TEST(TestContext, PoolWorkRunsOffTheCallerAndIsAwaitedAtTheEnd) {
  QObject main;
  auto context = std::make_unique<TTestContext>(&main, nullptr);
  std::atomic<int> done = 0;
  std::atomic<bool> onCaller = false, started = false, finished = false;
  const auto caller = std::this_thread::get_id();
  context->RunInPool([] { throw std::runtime_error("lookup failed"); });
  for (int n = 0; n < 100; ++n)
    context->RunInPool([&] {
      if (std::this_thread::get_id() == caller) onCaller = true;
      ++done;
    });
  ASSERT_TRUE(PumpUntil([&] { return done == 100; }));
  EXPECT_FALSE(onCaller);

  context->RunInPool([&] {
    started = true;
    std::this_thread::sleep_for(50ms);
    finished = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return started.load(); }));
  context.reset();
  EXPECT_TRUE(finished) << "the destructor waits for work that runs";
}

}  // namespace
