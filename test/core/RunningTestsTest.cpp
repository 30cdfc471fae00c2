// The running list: entries leave in any order, a gap is filled from the end, and what
// is left is exactly what was not removed.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>

#include "core/RecordingAlerts.h"
#include "core/TRunningTests.h"

TEST(RunningTests, EntriesLeaveInAnyOrderAndTheRestStays) {
  std::vector<std::string> traces;
  TRunningTests running([&](const std::string& message) { traces.push_back(message); });
  std::vector<std::shared_ptr<TRecordedTask>> tasks;
  for (int i = 0; i < 200; ++i) {
    tasks.push_back(std::make_shared<TRecordedTask>("Ping " + std::to_string(i)));
    running.Add(tasks.back()->Name(), tasks.back());
  }
  running.Add("nothing", nullptr);
  std::set<std::string> left;
  for (const auto& t : tasks) left.insert(t->Name());
  std::mt19937 random(7);
  std::vector<int> order(200);
  for (int i = 0; i < 200; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (int n = 0; n < 150; ++n) {
    running.Remove(tasks[order[n]].get());
    left.erase(tasks[order[n]]->Name());
    running.Remove(tasks[order[n]].get());  // a second report of the same end
  }
  TRecordedTask stranger("stranger");
  running.Remove(&stranger);
  std::set<std::string> listed;
  for (const TRunningTask& t : running.Items()) listed.insert(t.Name);
  EXPECT_EQ(listed, left);
  EXPECT_EQ(running.Items().size(), 50u);

  // Ended traces leave with the prune; the others keep their places for Remove.
  for (int n = 150; n < 160; ++n) tasks[order[n]]->Terminate();
  EXPECT_EQ(running.PruneEnded(tasks[order[150]]->Name()), 0);
  running.Remove(tasks[order[199]].get());
  EXPECT_EQ(running.Items().size(), 48u);
  EXPECT_EQ(traces.front(), "Check Thread");
}
