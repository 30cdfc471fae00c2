#include "core/TRunningTests.h"

#include <algorithm>

#include "hosttests/TBackgroundTask.h"

void TRunningTests::Add(const std::string& name, std::shared_ptr<TBackgroundTask> task) {
  if (task) FItems.push_back(TRunningTask{name, std::move(task)});
}

void TRunningTests::Remove(const TBackgroundTask* task) {
  FTrace("Check Thread");
  // The last entry fills the gap: thousands of tests in flight must not cost a shift of
  // the list per completion.
  const auto it =
      std::find_if(FItems.begin(), FItems.end(), [task](const TRunningTask& t) { return t.Task.get() == task; });
  if (it != FItems.end()) {
    if (it != FItems.end() - 1) *it = std::move(FItems.back());
    FItems.pop_back();
  }
  FTrace("End Check Thread");
}

int TRunningTests::PruneEnded(const std::string& name) {
  std::erase_if(FItems, [&](const TRunningTask& t) { return t.Name == name && !(t.Task && t.Task->IsAlive()); });
  return static_cast<int>(
      std::count_if(FItems.begin(), FItems.end(), [&](const TRunningTask& t) { return t.Name == name; }));
}

void TRunningTests::TerminateAll() {
  for (const TRunningTask& t : FItems)
    if (t.Task) t.Task->Terminate();
}
