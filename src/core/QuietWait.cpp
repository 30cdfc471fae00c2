#include "core/QuietWait.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <thread>

#include "platform/TMessageQueue.h"

namespace {
// The longest the wait sleeps before it looks at done() again, for conditions that change
// on other threads without a posted event.
constexpr auto LookAgain = std::chrono::milliseconds(50);
}  // namespace

bool QuietWait(const std::function<bool()>& done, TSteadyTime deadline) {
  struct THold {
    std::shared_ptr<TMessageQueue> Queue = TMessageQueue::Current();
    THold() { if (Queue) Queue->Hold(); }
    ~THold() { if (Queue) Queue->Release(); }
  } hold;
  QTimer wake;
  wake.setSingleShot(true);
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    const auto nap =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::min<std::chrono::steady_clock::duration>(deadline - now, LookAgain));
    if (!QCoreApplication::instance()) {
      std::this_thread::sleep_for(std::max(nap, std::chrono::milliseconds(1)));
      continue;
    }
    wake.start(std::max(nap, std::chrono::milliseconds(1)));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}
