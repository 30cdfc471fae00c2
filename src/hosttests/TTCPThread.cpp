// Placeholder until the TCP test lands.
#include "hosttests/TTCPThread.h"

#include "hosttests/TTestContext.h"

TTCPThread::TTCPThread(TTestContext& context, std::string name) : TBackgroundTask(std::move(name)), FContext(context) {}

std::shared_ptr<TTCPThread> TTCPThread::Create(TTestContext& context, std::string name, std::string hostAddress, bool,
                                               std::int64_t hostReference, TTCPDone done, int, std::int32_t port) {
  std::shared_ptr<TTCPThread> t(new TTCPThread(context, std::move(name)));
  t->FHostAddress = std::move(hostAddress);
  t->FHostReference = hostReference;
  t->FPort = port;
  t->FDone = std::move(done);
  context.PostCompletion(context.Completions.TCP, 15000, {}, [t] {
    if (t->FDone) t->FDone(*t, t->FHostAddress, {}, t->FPort, false, "not built", t->FHostReference, 0);
    t->FAlive = false;
  });
  return t;
}

void TTCPThread::OnTerminate() {}
