#pragma once
// The background name lookups of a list rebuild: a host with an address but no current
// IP has its address looked up on the pool (one lookup per address at a time), and the
// dotted answer comes back to the main thread as a value, which becomes the current IP
// of every host of that address still without one, so the list shows it. A name that
// does not resolve changes nothing; a dotted address needs no lookup. Main thread only.
#include <functional>
#include <memory>
#include <map>
#include <string>

#include "core/TMonitorParts.h"

class TBackgroundTask;
class TTestContext;

class THostNameLookups {
public:
  // done: name, dotted address (empty when the name did not resolve); main thread.
  using TDone = std::function<void(const std::string& name, const std::string& dotted)>;
  // Starts the lookup of name; the work in flight, or nothing when none started.
  using TStart = std::function<std::shared_ptr<TBackgroundTask>(const std::string& name, TDone done)>;

  THostNameLookups(TMonitorParts parts, TTestContext& tests);
  ~THostNameLookups();

  // The lookups of the hosts that need one and have none running.
  void LookUpMissingAddresses();
  // The lookups running.
  int Running() const { return static_cast<int>(FRunning.size()); }
  // Where the lookups go: by default NameThreads (the name lookup thread on the pool);
  // nothing: no lookups.
  void SetStart(TStart start) { FStart = std::move(start); }
  static TStart NameThreads(TTestContext& tests);

private:
  void Answered(const std::string& name, const std::string& dotted);

  TMonitorParts F;
  TStart FStart;
  // By address in lower case: names differ from each other without regard to case.
  std::map<std::string, std::shared_ptr<TBackgroundTask>> FRunning;
  // Answers that come back after the owner has gone find it expired.
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};
