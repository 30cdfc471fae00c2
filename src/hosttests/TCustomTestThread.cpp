#include "hosttests/TCustomTestThread.h"

#include <cstdio>

#include "common/ErrorText.h"
#include "hosttests/TTestContext.h"
#include "platform/NameLookup.h"

TPluginOutcome PluginTestOutcome(const TPluginRunner::TReply& reply) {
  TPluginOutcome outcome;
  if (reply.Fatal)
    outcome.Result = -1;
  else
    outcome.Result = reply.Result == -1 ? 1 : reply.Result;
  if (!reply.FaultText.empty())
    outcome.Message = "Fatal error in plugin: " + reply.FaultText;
  else if (!reply.Message.empty())
    outcome.Message = reply.Message;
  else if (reply.ErrorCode != 0)
    outcome.Message = ErrorText(reply.ErrorCode);
  return outcome;
}

TTestResult PluginTestResult(std::int32_t hostID, const TPluginOutcome& outcome, std::int32_t responseTime,
                             const std::string& newIP) {
  TTestResult result;
  result.HostID = hostID;
  result.ResponseTime = responseTime < 0 ? 0 : responseTime;
  result.NewIP = newIP;
  result.ErrorText = outcome.Message;
  switch (outcome.Result) {
    case 1: result.Success = true; break;
    case 0: break;
    case -1: result.ForcedOffline = true; break;
    case -2: result.NoResult = true; break;
    default:
      result.NoResult = true;
      result.ErrorText = "Plugin returned an unknown result: " + std::to_string(outcome.Result) +
                         (outcome.Message.empty() ? std::string() : " (" + outcome.Message + ")");
      break;
  }
  return result;
}

TCustomTestThread::TCustomTestThread(TTestContext& context, std::shared_ptr<TPluginRunner> runner,
                                     TPluginRunner::TRequest request, TTestDone done)
    : TBackgroundTask("Plugin Test " + request.DisplayName), FContext(context), FRunner(runner),
      FRequest(std::move(request)), FDone(std::move(done)) {}

std::shared_ptr<TCustomTestThread> TCustomTestThread::Create(TTestContext& context,
                                                             std::shared_ptr<TPluginRunner> runner,
                                                             TPluginRunner::TRequest request, TTestDone done) {
  std::shared_ptr<TCustomTestThread> thread(
      new TCustomTestThread(context, runner, std::move(request), std::move(done)));
  std::weak_ptr<TCustomTestThread> weak = thread;
  // The reply holds the worker until its completion has run.
  const std::uint32_t ticket = runner->Submit(thread->FRequest, [keep = thread](const TPluginRunner::TReply& reply) {
    keep->Finished(reply);
  });
  thread->FTicket.store(ticket);
  return thread;
}

void TCustomTestThread::OnTerminate() {
  if (auto runner = FRunner.lock()) runner->Abandon(FTicket.load());
  FAlive.store(false);
}

void TCustomTestThread::Finished(const TPluginRunner::TReply& reply) {
  if (Terminated()) {
    FAlive.store(false);
    return;
  }
  const TPluginOutcome outcome = PluginTestOutcome(reply);
  std::string newIP;
  const std::uint8_t* a = reply.Address;
  if (a[0] || a[1] || a[2] || a[3]) {
    char dotted[16];
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    newIP = dotted;
  }
  auto self = shared_from_this();
  auto complete = [self, outcome, responseTime = reply.ResponseTime](std::string address) {
    const TTestResult result = PluginTestResult(self->FRequest.HostID, outcome, responseTime, address);
    self->FContext.PostCompletion(
        self->FContext.Completions.Plugin,
        [self, result, outcome] {
          self->FAlive.store(false);
          if (self->FDone)
            self->FDone(*self, result,
                        "CustomTest Callback " + self->FRequest.DisplayName + " " + std::to_string(outcome.Result));
        },
        [self] { self->FAlive.store(false); });
  };
  if (!newIP.empty()) {
    complete(newIP);
    return;
  }
  FContext.RunInPool([self, complete] {
    std::string dotted;
    try {
      if (!Resolve(self->FRequest.Address, dotted)) dotted.clear();
    } catch (...) {
      dotted.clear();
      self->FContext.ReportException("plug-in test name lookup");
    }
    complete(dotted);
  });
}
