#pragma once
// The work in flight the program knows by name: host tests, probes, traces and
// notifications. Shutdown tells all of it to end; the list's order means nothing.
// Main thread only.
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/FaultReport.h"

class TBackgroundTask;

struct TRunningTask {
  std::string Name;  // "Ping " + display name, ...
  std::shared_ptr<TBackgroundTask> Task;
};

class TRunningTests {
public:
  using TTracer = std::function<void(const std::string& message)>;
  explicit TRunningTests(TTracer trace) : FTrace(std::move(trace)) {}

  void Add(const std::string& name, std::shared_ptr<TBackgroundTask> task);
  void Remove(const TBackgroundTask* task);
  // Drops the entries of that name whose work has ended without a word; how many remain.
  int PruneEnded(const std::string& name);
  void TerminateAll();
  void Clear() {
    FItems.clear();
    FPositions.clear();
  }
  const std::vector<TRunningTask>& Items() const { return FItems; }

private:
  TTracer FTrace;
  std::vector<TRunningTask> FItems;
  // Where each task stands in the list: thousands of completions in a burst must not
  // each search it.
  std::unordered_map<const TBackgroundTask*, std::size_t> FPositions;
};
