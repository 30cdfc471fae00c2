#include "hosttests/THostNameThread.h"

#include <utility>

#include "platform/NameLookup.h"
#include "hosttests/TTestContext.h"

THostNameThread::THostNameThread(TTestContext& context, std::string name)
    : TBackgroundTask("Host Name Lookup"), FContext(context), FHostName(std::move(name)) {}

std::shared_ptr<THostNameThread> THostNameThread::Create(TTestContext& context, std::string name, THostNameDone done) {
  std::shared_ptr<THostNameThread> t(new THostNameThread(context, std::move(name)));
  t->FDone = std::move(done);
  context.RunInPool([t] { t->Run(); });
  return t;
}

void THostNameThread::Run() {
  Lookup(FHostName, FDottedAddress, FReverseName);
  auto self = shared_from_this();
  FContext.PostCompletion(
      FContext.Completions.Name,
      [self] {
        try {
          if (self->FDone) self->FDone(*self, self->FHostName, self->FReverseName, self->FDottedAddress);
        } catch (...) {
          self->FContext.ReportException("HostNameThread callback");
        }
        self->FAlive.store(false);
      },
      [self] { self->FAlive.store(false); });
}
