// A quiet wait delivers what it waits for and holds back the window messages that would
// re-enter the program in the middle of an operation.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <thread>

#include "core/QuietWait.h"
#include "platform/TWindowChannel.h"
#include "platform/WindowMessages.h"
#include "support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

TEST(QuietWait, DeliversPostedStepsButHoldsWindowMessagesUntilTheMainLoopRuns) {
  testsupport::TTempDir dir;
  testsupport::TScopedEnv env("XDG_RUNTIME_DIR", dir.Path());
  int shows = 0;
  TWindowChannel window([&](std::uint32_t msg, std::uintptr_t, std::intptr_t) -> std::intptr_t {
    if (msg == 3023) ++shows;
    return 1;
  });
  ASSERT_TRUE(window.Register("TfrmCorvale", "Corvale 1.00"));

  // A show request, and a completion posted from a worker thread after it.
  QObject mainThread;
  bool completed = false;
  std::thread worker([&] {
    PostMessage(FindWindow("TfrmCorvale"), 3023, 0, 0);
    std::this_thread::sleep_for(50ms);
    QMetaObject::invokeMethod(&mainThread, [&] { completed = true; }, Qt::QueuedConnection);
  });
  EXPECT_TRUE(QuietWait([&] { return completed; }, std::chrono::steady_clock::now() + 10s));
  worker.join();
  // Long enough for the request to reach the queue; a wait that let it through would show.
  EXPECT_FALSE(QuietWait([] { return false; }, std::chrono::steady_clock::now() + 300ms));
  EXPECT_EQ(shows, 0);

  const auto until = std::chrono::steady_clock::now() + 10s;
  while (shows == 0 && std::chrono::steady_clock::now() < until)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(shows, 1);
}

}  // namespace
