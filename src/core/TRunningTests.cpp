#include "core/TRunningTests.h"

#include <algorithm>

#include "hosttests/TBackgroundTask.h"

void TRunningTests::Add(const std::string& name, std::shared_ptr<TBackgroundTask> task) {
  if (!task) return;
  // A task listed twice (a test's name and its trace) keeps its first place.
  FPositions.try_emplace(task.get(), FItems.size());
  FItems.push_back(TRunningTask{name, std::move(task)});
}

void TRunningTests::Remove(const TBackgroundTask* task) {
  FTrace("Check Thread");
  const auto at = FPositions.find(task);
  if (at != FPositions.end()) {
    // The last entry fills the gap; the list's order means nothing.
    const std::size_t index = at->second;
    FPositions.erase(at);
    if (index + 1 != FItems.size()) {
      FItems[index] = std::move(FItems.back());
      FPositions[FItems[index].Task.get()] = index;
    }
    FItems.pop_back();
  }
  FTrace("End Check Thread");
}

int TRunningTests::PruneEnded(const std::string& name) {
  std::erase_if(FItems, [&](const TRunningTask& t) { return t.Name == name && !(t.Task && t.Task->IsAlive()); });
  FPositions.clear();
  for (std::size_t i = 0; i < FItems.size(); ++i) FPositions.try_emplace(FItems[i].Task.get(), i);
  return static_cast<int>(
      std::count_if(FItems.begin(), FItems.end(), [&](const TRunningTask& t) { return t.Name == name; }));
}

void TRunningTests::TerminateAll() {
  for (const TRunningTask& t : FItems)
    if (t.Task) t.Task->Terminate();
}
