// Placeholder until the echo test lands.
#include "hosttests/TPingThread.h"

#include "hosttests/TTestContext.h"

TPingThread::TPingThread(TTestContext& context, std::string name) : TBackgroundTask(std::move(name)), FContext(context) {}

std::shared_ptr<TPingThread> TPingThread::Create(TTestContext& context, std::string name, std::string address, bool,
                                                 std::int32_t tag, int, int, TPingDone done, int) {
  std::shared_ptr<TPingThread> t(new TPingThread(context, std::move(name)));
  t->FAddress = std::move(address);
  t->FTag = tag;
  t->FDone = std::move(done);
  context.PostCompletion(context.Completions.Echo, -1, {}, [t] {
    if (t->FDone) t->FDone(*t, t->FAddress, {}, 0, t->FTag, "not built", -3, false, {});
    std::lock_guard<std::mutex> lock(t->FLock);
    t->FAlive = false;
  });
  return t;
}

bool TPingThread::IsAlive() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FAlive;
}

void TPingThread::OnTerminate() {}
