// The status trace kept in memory and written in the background: what reaches the
// storage, in which order, and when.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/Clock.h"
#include "core/TStatusTrace.h"
#include "support/TestSupport.h"

namespace {

constexpr int Never = 3600000;  // a flush interval no test outlives

// What a writer was given, in order, and the values as they stand.
class TRecordingStore {
public:
  TStatusTrace::TWriter Writer() {
    return [this](const std::string& name, const std::string& text) {
      // Two writers at once would let an older value land after a newer one.
      EXPECT_FALSE(FInWriter.exchange(true)) << "writer entered twice at once";
      {
        std::lock_guard<std::mutex> guard(FLock);
        FWrites.emplace_back(name, text);
        FValues[name] = text;
      }
      FInWriter = false;
      FChanged.notify_all();
    };
  }
  std::vector<std::pair<std::string, std::string>> Writes() {
    std::lock_guard<std::mutex> guard(FLock);
    return FWrites;
  }
  std::map<std::string, std::string> Values() {
    std::lock_guard<std::mutex> guard(FLock);
    return FValues;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(FLock);
    FWrites.clear();
  }
  // Waits (generously: this is no speed check) until the cursor value is cursor.
  bool WaitForCursor(const std::string& cursor) {
    std::unique_lock<std::mutex> guard(FLock);
    return FChanged.wait_for(guard, std::chrono::seconds(20), [&] { return FValues[""] == cursor; });
  }

private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::pair<std::string, std::string>> FWrites;
  std::map<std::string, std::string> FValues;
  std::atomic<bool> FInWriter{false};
};

TEST(StatusTraceBufferTest, FlushWritesEachChangedSlotOnceOldestFirstThenTheCursor) {
  TManualClock clock(EncodeDateTime(2026, 12, 8, 14, 5, 0), 1234);
  TRecordingStore store;
  TStatusTrace trace(clock, 10, store.Writer(), Never);
  for (int i = 1; i <= 25; ++i) {
    trace.Trace("step " + std::to_string(i));
    clock.Advance(1000);
  }
  EXPECT_TRUE(store.Writes().empty());
  // The ring and the last line are there at once, whatever the storage holds.
  EXPECT_EQ(trace.Cursor(), 5);
  EXPECT_EQ(trace.LastMessage(), "step 25");
  EXPECT_EQ(trace.LastLine(), "2026-12-08 14:05:24 step 25");
  EXPECT_EQ(trace.Lines().front(), "2026-12-08 14:05:15 step 16");

  trace.Flush();
  const auto writes = store.Writes();
  ASSERT_EQ(writes.size(), 11u);
  // Slot 6 holds the oldest step (16), slot 5 the newest (25).
  EXPECT_EQ(writes[0], std::make_pair(std::string("Stat006"), std::string("2026-12-08 14:05:15 16234 step 16")));
  EXPECT_EQ(writes[4].first, "Stat010");
  EXPECT_EQ(writes[5].first, "Stat001");
  EXPECT_EQ(writes[9], std::make_pair(std::string("Stat005"), std::string("2026-12-08 14:05:24 25234 step 25")));
  EXPECT_EQ(writes[10], std::make_pair(std::string(), std::string("005")));

  // Nothing changed, nothing written; one trace writes its slot and the cursor.
  store.Clear();
  trace.Flush();
  EXPECT_TRUE(store.Writes().empty());
  trace.Trace("step 26");
  trace.Flush();
  ASSERT_EQ(store.Writes().size(), 2u);
  EXPECT_EQ(store.Writes()[0].first, "Stat006");

  // Close moves the cursor past the last step and writes it before returning.
  store.Clear();
  trace.Close();
  EXPECT_EQ(store.Writes(), (std::vector<std::pair<std::string, std::string>>{{"", "007"}}));
  EXPECT_EQ(trace.LastMessage(), "step 26");
}

TEST(StatusTraceBufferTest, StoredValuesMatchWritingEveryTraceThrough) {
  TManualClock clock(EncodeDateTime(2026, 12, 8, 23, 59, 58), 50);
  TRecordingStore through, buffered;
  TStatusTrace direct(clock, 10, through.Writer());
  TStatusTrace later(clock, 10, buffered.Writer(), Never);
  for (int i = 1; i <= 37; ++i) {
    // Empty traces (shutdown's) only move the cursor, in both.
    const std::string message = i % 9 == 0 ? std::string() : "UpdateHostStatus " + std::to_string(i * 7);
    direct.Trace(message);
    later.Trace(message);
    clock.Advance(333.3);
  }
  later.Flush();
  EXPECT_EQ(buffered.Values(), through.Values());
  EXPECT_EQ(later.Lines(), direct.Lines());
  EXPECT_EQ(buffered.Values()[""], "007");
}

TEST(StatusTraceBufferTest, PendingTracesReachTheStorageWithoutAFlushCall) {
  TClock clock;
  TRecordingStore store;
  {
    // The flusher writes a lone trace on its own.
    TStatusTrace trace(clock, 10, store.Writer(), 20);
    trace.Trace("alone");
    EXPECT_TRUE(store.WaitForCursor("001"));
    EXPECT_NE(store.Values()["Stat001"].find(" alone"), std::string::npos);
    // And the traces of a later burst too.
    for (int i = 0; i < 504; ++i) trace.Trace("burst " + std::to_string(i));
    EXPECT_TRUE(store.WaitForCursor("005"));
    EXPECT_NE(store.Values()["Stat005"].find(" burst 503"), std::string::npos);
  }
  {
    // The destructor writes what the flusher has not reached yet.
    TStatusTrace trace(clock, 10, store.Writer(), Never);
    trace.Trace("last words");
  }
  EXPECT_NE(store.Values()["Stat001"].find(" last words"), std::string::npos);
}

TEST(StatusTraceBufferTest, ManyThreadsTraceWhileTheFlusherWrites) {
  TClock clock;
  TRecordingStore store;
  TStatusTrace trace(clock, 100, store.Writer(), 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) trace.Trace("thread " + std::to_string(t) + " step " + std::to_string(i));
    });
  for (auto& th : threads) th.join();
  trace.Close();
  // The storage ends as the ring does: every slot's latest message, and the cursor.
  auto values = store.Values();
  EXPECT_EQ(values[""], "001");
  int matched = 0;
  for (const std::string& line : trace.Lines()) {
    const std::string message = line.substr(line.find(" thread "));
    for (const auto& [name, text] : values)
      if (!name.empty() && text.size() >= message.size() &&
          text.compare(text.size() - message.size(), message.size(), message) == 0)
        ++matched;
  }
  EXPECT_EQ(matched, 100);
}

TEST(StatusTraceBufferTest, StorageErrorsNeverReachTheCaller) {
  TClock clock;
  int calls = 0;
  TStatusTrace trace(clock, 10, [&](const std::string&, const std::string&) {
    ++calls;
    throw std::runtime_error("disk full");
  }, Never);
  EXPECT_NO_THROW(trace.Trace("one"));
  EXPECT_NO_THROW(trace.Flush());
  // Every value was tried, not only the first.
  EXPECT_EQ(calls, 2);
  EXPECT_NO_THROW(trace.Close());
  EXPECT_EQ(trace.LastMessage(), "one");

  // Without storage (removable mode) the ring still works.
  TStatusTrace removable(clock, 10, TStatusTrace::TWriter(), TStatusTrace::DefaultFlushMs);
  removable.Trace("kept in memory");
  removable.Close();
  EXPECT_EQ(removable.LastMessage(), "kept in memory");
  EXPECT_EQ(removable.Cursor(), 2);
}

TEST(StatusTraceBufferTest, StepsOfAKilledProcessReachTheStorageAtTheNextAttach) {
  testsupport::TTempDir dir;
  const std::string ring = dir.Path() + "/trace.ring";
  const TDateTime start = EncodeDateTime(2026, 12, 8, 14, 5, 0);
  const auto traceSteps = [](TManualClock& clock, TStatusTrace& trace) {
    for (int i = 1; i <= 23; ++i) {
      clock.Advance(7);
      // A message too long for the ring's copy is cut there, and only there.
      trace.Trace(i == 20 ? "long " + std::string(3000, 'x') : "Step " + std::to_string(i));
    }
  };

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Nothing reaches the storage before the kill but what the ring holds.
    TManualClock clock(start, 5000);
    TStatusTrace trace(clock, 10, [](const std::string&, const std::string&) {}, Never);
    std::string error;
    if (!trace.AttachRing(ring, error)) ::_exit(3);
    traceSteps(clock, trace);
    ::kill(::getpid(), SIGKILL);
    ::_exit(4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child status " << status;

  TManualClock clock(start, 5000);
  TRecordingStore recovered;
  {
    TStatusTrace next(clock, 10, recovered.Writer(), Never);
    std::string error;
    ASSERT_TRUE(next.AttachRing(ring, error)) << error;
  }
  std::map<std::string, std::string> values = recovered.Values();
  EXPECT_EQ(values[""], "003");
  EXPECT_EQ(values["Stat003"], "2026-12-08 14:05:00 5161 Step 23");

  // The same steps written through by a live process give the very same values.
  TManualClock liveClock(start, 5000);
  TRecordingStore live;
  {
    TStatusTrace trace(liveClock, 10, live.Writer(), 0);
    traceSteps(liveClock, trace);
  }
  std::map<std::string, std::string> expected = live.Values();
  expected["Stat010"] = expected["Stat010"].substr(0, expected["Stat010"].size() - 1005);
  EXPECT_EQ(values, expected);

  // A ring whose run ended in order has nothing left to write.
  TRecordingStore third;
  TStatusTrace after(clock, 10, third.Writer(), Never);
  std::string error;
  ASSERT_TRUE(after.AttachRing(ring, error)) << error;
  EXPECT_TRUE(third.Writes().empty());
}

}  // namespace
