#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "platform/TWindowChannel.h"
#include "platform/WindowMessages.h"
#include "support/TestSupport.h"

using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

constexpr std::uint32_t MsgSum = 3030;      // result: wParam + lParam
constexpr std::uint32_t MsgMinimum = 3031;  // result: the smallest result there is
constexpr std::uint32_t MsgBusy = 3032;     // busy until the sending program has given up
constexpr std::uint32_t MsgVanish = 3033;   // the window unregisters itself while handling

struct TRun {
  int Code = -1;
  std::string Out, Err;
};

struct TRecorded {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
};

// One run of corvale-msg; this thread's event loop keeps serving the test's windows meanwhile.
class TMsgRunner {
public:
  TRun Run(const QStringList& args) {
    FProcess = std::make_unique<QProcess>();
    QEventLoop loop;
    QObject::connect(FProcess.get(), &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(FProcess.get(), &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] { FProcess->kill(); });
    guard.start(60000);
    FProcess->start(QString::fromStdString(testsupport::BinDir() + "/corvale-msg"), args);
    if (FProcess->state() != QProcess::NotRunning) loop.exec();
    TRun run;
    if (FProcess->exitStatus() == QProcess::NormalExit && FProcess->error() != QProcess::FailedToStart)
      run.Code = FProcess->exitCode();
    run.Out = FProcess->readAllStandardOutput().toStdString();
    run.Err = FProcess->readAllStandardError().toStdString();
    return run;
  }
  // The running corvale-msg, for a handler that waits for it to end.
  QProcess* Process() { return FProcess.get(); }

private:
  std::unique_ptr<QProcess> FProcess;
};

bool SpinUntil(const std::function<bool()>& done) {
  QTimer tick;
  tick.start(10);
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > 20000) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// A "TfrmCorvale" window in this process that records what reaches it.
class CorvaleMsgTest : public ::testing::Test {
protected:
  CorvaleMsgTest()
      : FEnv("XDG_RUNTIME_DIR", FDir.Path()),
        FWindow(
            [this](std::uint32_t msg, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
              Seen.push_back({msg, w, l});
              switch (msg) {
                case 3023: return 1;
                case MsgSum: return static_cast<std::intptr_t>(w) + l;
                case MsgMinimum: return INTPTR_MIN;
                case MsgBusy:
                  if (QProcess* p = Runner.Process()) p->waitForFinished(30000);
                  return 5;
                case MsgVanish: FWindow.Unregister(); return 6;
                default: return 0;
              }
            },
            [this](std::uintptr_t sender, std::uintptr_t kind, std::string bytes) -> std::intptr_t {
              CopySender = sender;
              CopyKind = kind;
              Copied.push_back(std::move(bytes));
              return static_cast<std::intptr_t>(Copied.back().size());
            }) {}

  void SetUp() override { ASSERT_TRUE(FWindow.Register("TfrmCorvale", "Corvale 1.00")) << FWindow.ErrorText(); }

  TTempDir FDir;
  TScopedEnv FEnv;
  TWindowChannel FWindow;
  TMsgRunner Runner;
  std::vector<TRecorded> Seen;
  std::vector<std::string> Copied;
  std::uintptr_t CopySender = 1, CopyKind = 0;
};

}  // namespace

TEST_F(CorvaleMsgTest, SentMessagesPrintTheWindowsResult) {
  TRun run = Runner.Run({"TfrmCorvale", "3023"});
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Out, "1\n");
  ASSERT_EQ(Seen.size(), 1u);
  EXPECT_EQ(Seen[0].WParam, 0u);
  EXPECT_EQ(Seen[0].LParam, 0);

  // Hexadecimal and negative parameters, options after the class.
  run = Runner.Run({"TfrmCorvale", "0xBD6", "0x10", "-20", "--timeout", "5000"});
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Out, "-4\n");
  EXPECT_EQ(Seen.back().Msg, MsgSum);
  EXPECT_EQ(Seen.back().WParam, 16u);
  EXPECT_EQ(Seen.back().LParam, -20);

  // The extremes of both parameters and of the result.
  run = Runner.Run({"TfrmCorvale", "3031", "18446744073709551615", "0x7FFFFFFFFFFFFFFF"});
  EXPECT_EQ(run.Out, "-9223372036854775808\n");
  EXPECT_EQ(Seen.back().WParam, UINTPTR_MAX);
  EXPECT_EQ(Seen.back().LParam, INTPTR_MAX);
  run = Runner.Run({"TfrmCorvale", "3030", "-1", "0xFFFFFFFFFFFFFFFF"});
  EXPECT_EQ(run.Out, "-2\n");
  EXPECT_EQ(Seen.back().WParam, UINTPTR_MAX);
  EXPECT_EQ(Seen.back().LParam, -1);
}

TEST_F(CorvaleMsgTest, PostsAndDataCopies) {
  TRun run = Runner.Run({"--post", "TfrmCorvale", "7461", "5", "6437"});
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Out, "");
  ASSERT_TRUE(SpinUntil([&] { return !Seen.empty(); }));
  EXPECT_EQ(Seen[0].Msg, 7461u);
  EXPECT_EQ(Seen[0].WParam, 5u);
  EXPECT_EQ(Seen[0].LParam, 6437);

  run = Runner.Run({"--copydata", "6442", "Host List", "TfrmCorvale"});
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Out, "9\n");
  ASSERT_EQ(Copied.size(), 1u);
  EXPECT_EQ(Copied[0], "Host List");
  EXPECT_EQ(CopyKind, 6442u);
  EXPECT_EQ(CopySender, 0u);

  std::string everyByte;
  for (int round = 0; round < 64; ++round)
    for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
  testsupport::WriteFileBytes(FDir.File("records.bin"), everyByte);
  run = Runner.Run({"TfrmCorvale", "--copydata-file", "0x1929", QString::fromStdString(FDir.File("records.bin"))});
  EXPECT_EQ(run.Code, 0) << run.Err;
  EXPECT_EQ(run.Out, std::to_string(everyByte.size()) + "\n");
  ASSERT_EQ(Copied.size(), 2u);
  EXPECT_TRUE(Copied[1] == everyByte);
  EXPECT_EQ(CopyKind, 6441u);
}

TEST_F(CorvaleMsgTest, FailuresHaveTheirOwnExitCodes) {
  TRun run = Runner.Run({"Nothing", "3023"});
  EXPECT_EQ(run.Code, 1);
  EXPECT_EQ(run.Err, "corvale-msg: no window of class Nothing\n");
  EXPECT_EQ(run.Out, "");

  // A window that stays busy until the program gave up.
  run = Runner.Run({"--timeout", "300", "TfrmCorvale", "3032"});
  EXPECT_EQ(run.Code, 3);
  EXPECT_NE(run.Err.find("no answer"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Out, "");

  // A window that goes away while it handles the message.
  run = Runner.Run({"TfrmCorvale", "3033"});
  EXPECT_EQ(run.Code, 1);
  EXPECT_NE(run.Err.find("went away"), std::string::npos) << run.Err;
  EXPECT_FALSE(FWindow.IsRegistered());
  ASSERT_TRUE(FWindow.Register("TfrmCorvale", "again"));

  const std::vector<QStringList> usage = {
      {},
      {"TfrmCorvale"},
      {"TfrmCorvale", "abc"},
      {"TfrmCorvale", "0x"},
      {"TfrmCorvale", "-5"},
      {"TfrmCorvale", "0x100000000"},
      {"TfrmCorvale", "1", "2", "3", "4"},
      {"TfrmCorvale", "1", "18446744073709551616"},
      {"TfrmCorvale", "1", "-9223372036854775809"},
      {"TfrmCorvale", "74"},
      {"--bogus", "TfrmCorvale", "1"},
      {"TfrmCorvale", "1", "--timeout"},
      {"--timeout", "-1", "TfrmCorvale", "1"},
      {"--post", "--copydata", "1", "x", "TfrmCorvale"},
      {"--copydata", "1", "x", "TfrmCorvale", "3023"},
      {"--copydata-file", "1", QString::fromStdString(FDir.File("missing")), "TfrmCorvale"},
      {"", "1"},
  };
  for (const QStringList& args : usage) {
    run = Runner.Run(args);
    EXPECT_EQ(run.Code, 2) << args.join(' ').toStdString();
    EXPECT_EQ(run.Err.rfind("corvale-msg: ", 0), 0u) << run.Err;
  }
  // None of them reached the window.
  EXPECT_EQ(Seen.size(), 2u);

  run = Runner.Run({"--help"});
  EXPECT_EQ(run.Code, 0);
  EXPECT_NE(run.Out.find("usage: corvale-msg"), std::string::npos);
}
