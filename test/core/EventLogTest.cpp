#include <gtest/gtest.h>

#include <thread>

#include "common/Clock.h"
#include "core/TEventLog.h"
#include "core/TStartOptions.h"
#include "core/TStatusTrace.h"

TEST(EventLogTest, KeepsTheNewestLinesWithIncreasingIds) {
  TEventLog log;
  for (int i = 1; i <= 5001; ++i) log.Append("line " + std::to_string(i));
  ASSERT_EQ(log.Count(), TEventLog::MaxLines);
  EXPECT_EQ(log.Lines().front().Text, "line 2");
  EXPECT_EQ(log.Lines().back().Text, "line 5001");
  EXPECT_EQ(log.LastID(), 5001);

  const auto after = log.LinesAfter(4999);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].Text, "line 5000");
  EXPECT_TRUE(log.LinesAfter(5001).empty());
  EXPECT_EQ(log.LinesAfter(0).size(), TEventLog::MaxLines);

  // Loading a file keeps ids increasing, so a view asking for "after N" misses nothing.
  log.Assign({"a", "b"});
  EXPECT_EQ(log.Lines().front().ID, 5002);
  EXPECT_EQ(log.LinesAfter(5001).size(), 2u);
}

TEST(EventLogTest, EntryLineHasTabFieldsAndBothDateForms) {
  const TDateTime at = EncodeDateTime(2026, 12, 8, 14, 5, 0);
  EXPECT_EQ(TEventLog::FormatEntry(at, true, "---", "Corvale Shut Down", TLogCategory::Program), "Dec 8, 14:05\t---\tCorvale Shut Down\tA");
  EXPECT_EQ(TEventLog::FormatEntry(at, false, "Web (10.0.0.1:80)", "Okay", TLogCategory::Okay), "Dec 8, 02:05p\tWeb (10.0.0.1:80)\tOkay\tO");
}

TEST(StatusTraceTest, RingWrapsAndWritesThroughSlotAndCursor) {
  TManualClock clock(EncodeDateTime(2026, 12, 8, 14, 5, 0), 1234);
  std::vector<std::pair<std::string, std::string>> writes;
  TStatusTrace trace(clock, 10, [&](const std::string& n, const std::string& t) { writes.emplace_back(n, t); });
  for (int i = 1; i <= 12; ++i) trace.Trace("step " + std::to_string(i));
  EXPECT_EQ(trace.Cursor(), 2);
  EXPECT_EQ(trace.LastMessage(), "step 12");
  const auto lines = trace.Lines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_NE(lines.front().find("step 3"), std::string::npos);
  EXPECT_NE(lines.back().find("step 12"), std::string::npos);
  ASSERT_EQ(writes.size(), 24u);
  EXPECT_EQ(writes[22].first, "Stat002");
  EXPECT_NE(writes[22].second.find(" 1234 step 12"), std::string::npos);
  EXPECT_EQ(writes[23], std::make_pair(std::string(), std::string("002")));

  // The closing trace moves only the cursor; the last line still tells the last step.
  writes.clear();
  trace.Close();
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], std::make_pair(std::string(), std::string("003")));
  EXPECT_NE(trace.LastLine().find("step 12"), std::string::npos);
}

TEST(StatusTraceTest, ConcurrentTracesEachTakeTheirOwnSlot) {
  TClock clock;
  std::mutex m;
  std::vector<std::string> names;
  TStatusTrace trace(clock, 100, [&](const std::string& n, const std::string&) {
    std::lock_guard<std::mutex> g(m);
    if (!n.empty()) names.push_back(n);
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) trace.Trace("thread " + std::to_string(t));
    });
  for (auto& th : threads) th.join();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
  EXPECT_EQ(names.size(), 100u);
  EXPECT_EQ(trace.Lines().size(), 100u);
}

TEST(StartOptionsTest, ArgumentsCompareWithoutCase) {
  const TStartOptions o = ParseCommandLine({"SeRvIcE", "/MINIMIZE", "/NoMemCleanup", "D:\\Cfg\\Office.CVLH"});
  EXPECT_TRUE(o.ServiceMode);
  EXPECT_TRUE(o.StartMinimized);
  EXPECT_TRUE(o.NoMemCleanup);
  EXPECT_EQ(o.HostsFileArg, "D:\\Cfg\\Office.CVLH");
  const TStartOptions none = ParseCommandLine({"services", "minimize", ".cvlh"});
  EXPECT_FALSE(none.ServiceMode);
  EXPECT_FALSE(none.StartMinimized);
  EXPECT_TRUE(none.HostsFileArg.empty());
}
