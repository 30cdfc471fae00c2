// The network's computer names searched in the background: handed over on the main
// thread sorted and without the leading backslashes, a failure told instead, and a
// slow search stopped at once with nothing handed over afterwards.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "ui/TComputerListThread.h"

namespace {

// How often each signal of a thread came, and the last failure text.
struct TSeen {
  explicit TSeen(TComputerListThread& thread) {
    QObject::connect(&thread, &TComputerListThread::NamesFound, [this](const QStringList&) { ++Found; });
    QObject::connect(&thread, &TComputerListThread::ListingFailed, [this](const QString& error) {
      ++Failed;
      Error = error;
    });
  }
  int Found = 0, Failed = 0;
  QString Error;
};

bool RunUntil(const std::function<bool()>& done, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST(ComputerListThreadTest, NamesArriveOnTheMainThreadSortedAndStripped) {
  Qt::HANDLE lister = nullptr;
  TComputerListThread thread([&lister](std::vector<std::string>& names, const std::atomic<bool>&) {
    lister = QThread::currentThreadId();
    names = {"\\\\zeta", "\\\\Alpha", "beta", "\\\\ALPHA", "", "\\\\"};
  });
  QStringList received;
  Qt::HANDLE receivedOn = nullptr;
  QObject::connect(&thread, &TComputerListThread::NamesFound, [&](const QStringList& names) {
    received = names;
    receivedOn = QThread::currentThreadId();
  });
  thread.start();
  ASSERT_TRUE(RunUntil([&] { return !received.isEmpty(); }));
  EXPECT_EQ(received, (QStringList{"Alpha", "beta", "zeta"}));
  EXPECT_EQ(receivedOn, QThread::currentThreadId());
  EXPECT_NE(lister, QThread::currentThreadId());
  EXPECT_TRUE(thread.wait(10000));
}

TEST(ComputerListThreadTest, AFailureIsToldInsteadOfNames) {
  TComputerListThread thread([](std::vector<std::string>& names, const std::atomic<bool>&) {
    names = {"\\\\half"};
    throw std::runtime_error("no browse master");
  });
  TSeen seen(thread);
  thread.start();
  ASSERT_TRUE(RunUntil([&] { return seen.Failed == 1; }));
  EXPECT_EQ(seen.Error, QStringLiteral("no browse master"));
  EXPECT_EQ(seen.Found, 0);
}

// A search that would take a minute ends as soon as it is stopped; names it found by
// then, and names already on their way to the main thread, are not handed over.
TEST(ComputerListThreadTest, StopEndsASlowSearchAtOnceAndNothingArrivesAfterIt) {
  std::atomic<bool> entered{false};
  TComputerListThread slow([&entered](std::vector<std::string>& names, const std::atomic<bool>& stop) {
    entered = true;
    for (int i = 0; i < 6000 && !stop; ++i) {
      names.push_back("\\\\host" + std::to_string(i));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  TSeen slowSeen(slow);
  slow.start();
  ASSERT_TRUE(RunUntil([&] { return entered.load(); }));
  slow.Stop();
  EXPECT_TRUE(slow.isFinished());

  TComputerListThread quick([](std::vector<std::string>& names, const std::atomic<bool>&) { names = {"a"}; });
  TSeen quickSeen(quick);
  quick.start();
  ASSERT_TRUE(quick.wait(10000));  // its hand-over is queued, not yet delivered
  quick.Stop();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(quickSeen.Found, 0);
  EXPECT_EQ(slowSeen.Found + slowSeen.Failed, 0);
}

}  // namespace
