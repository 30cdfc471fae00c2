// Placeholder until the name lookup thread lands.
#include "hosttests/THostNameThread.h"

#include "hosttests/TTestContext.h"

THostNameThread::THostNameThread(TTestContext& context, std::string name)
    : TBackgroundTask("Host Name Lookup"), FContext(context), FHostName(std::move(name)) {}

std::shared_ptr<THostNameThread> THostNameThread::Create(TTestContext& context, std::string name, THostNameDone done) {
  std::shared_ptr<THostNameThread> t(new THostNameThread(context, std::move(name)));
  t->FDone = std::move(done);
  return t;
}
