#pragma once
// A name lookup (Lookup) on the worker pool, reported on the main thread.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "hosttests/TBackgroundTask.h"

class TTestContext;
class THostNameThread;

// thread, name, reverse name, dotted address (both empty when the name did not resolve).
using THostNameDone = std::function<void(THostNameThread& thread, const std::string& name,
                                         const std::string& reverseName, const std::string& dottedAddress)>;

class THostNameThread : public TBackgroundTask, public std::enable_shared_from_this<THostNameThread> {
public:
  static std::shared_ptr<THostNameThread> Create(TTestContext& context, std::string name, THostNameDone done);

  bool IsAlive() const override { return FAlive.load(); }

  const std::string& HostName() const { return FHostName; }
  const std::string& ReverseName() const { return FReverseName; }
  const std::string& DottedAddress() const { return FDottedAddress; }

private:
  THostNameThread(TTestContext& context, std::string name);
  void Run();

  TTestContext& FContext;
  std::string FHostName;
  std::string FReverseName;
  std::string FDottedAddress;
  THostNameDone FDone;
  std::atomic<bool> FAlive{true};
};
