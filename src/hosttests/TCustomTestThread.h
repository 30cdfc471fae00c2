#pragma once
// One plug-in test of a host: the plug-in's PerformTest in its test process (see
// TPluginRunner), its outcome turned into a result for the host, the address learned
// from the plug-in or by a name lookup, and the completion run on the main thread.
// Takes no slot of any kind's limit. Abandoned (Terminate) it no longer waits: the
// runner drops its reply.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "hosttests/TBackgroundTask.h"
#include "hosttests/TPluginRunner.h"
#include "hosttests/TTestKinds.h"

class TTestContext;

// What PerformTest's outputs make of the test: the result (1 success, 0 failure, -1
// forced offline, -2 no result, anything else as returned) and the message.
struct TPluginOutcome {
  std::int32_t Result = 0;
  std::string Message;
};
TPluginOutcome PluginTestOutcome(const TPluginRunner::TReply& reply);
// The host's result from an outcome; a result no plug-in may give becomes "no result"
// with a note saying so, so that nothing of it is lost.
TTestResult PluginTestResult(std::int32_t hostID, const TPluginOutcome& outcome, std::int32_t responseTime,
                             const std::string& newIP);

class TCustomTestThread : public TBackgroundTask, public std::enable_shared_from_this<TCustomTestThread> {
public:
  static std::shared_ptr<TCustomTestThread> Create(TTestContext& context, std::shared_ptr<TPluginRunner> runner,
                                                   TPluginRunner::TRequest request, TTestDone done);
  bool IsAlive() const override { return FAlive.load(); }

protected:
  void OnTerminate() override;

private:
  TCustomTestThread(TTestContext& context, std::shared_ptr<TPluginRunner> runner, TPluginRunner::TRequest request,
                    TTestDone done);
  void Finished(const TPluginRunner::TReply& reply);

  TTestContext& FContext;
  std::weak_ptr<TPluginRunner> FRunner;
  const TPluginRunner::TRequest FRequest;
  TTestDone FDone;
  std::atomic<std::uint32_t> FTicket{0};
  std::atomic<bool> FAlive{true};
};
