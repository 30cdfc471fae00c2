// The share test against a real Samba server on loopback: which answers count as up,
// the texts a failure carries, and the share slot limit.
#include <gtest/gtest.h>

#include <QObject>

#include <algorithm>
#include <memory>

#include "common/ErrorText.h"
#include "hosttests/TBackgroundTask.h"
#include "hosttests/TShareThread.h"
#include "hosttests/TTestContext.h"
#include "hosttests/TTestKinds.h"
#include "hosttests/WorkerTestSupport.h"
#include "platform/TNetConnections.h"
#include "support/TSambaShares.h"

namespace {

using namespace std::chrono_literals;
using testsupport::TSambaServer;
using workertest::PumpFor;
using workertest::PumpUntil;
using workertest::TakeSlot;

constexpr const char* User = "corvaleshare";
constexpr const char* Password = "Share-Test2";

class ShareThreadTest : public testing::Test {
protected:
  static void SetUpTestSuite() { Shares = new testsupport::TSambaShares(User, Password); }
  static void TearDownTestSuite() {
    delete Shares;
    Shares = nullptr;
  }
  void SetUp() override {
    Server = Shares->Server();
    if (!Server) GTEST_SKIP() << Shares->Why();
  }

  struct TOutcome {
    bool Called = false, Success = false;
    std::string Text, NewIP, Trace;
    std::int32_t HostID = 0, Elapsed = -1;
  };

  // A test of the share kind, started as the scheduler starts it.
  std::shared_ptr<TBackgroundTask> Start(TOutcome& outcome, const std::string& sharePath,
                                         const std::string& user = User, const std::string& password = Password,
                                         int port = 0) {
    TTestParams params;
    params.SharePath = sharePath;
    TTestSettings settings;
    settings.SMBPort = port != 0 ? port : Server->Port();
    const std::string name = "files", address = "127.0.0.1";
    const TTestKindEntry* kind = TTestKinds::Standard().Find(TTestKind::Share);
    return kind->Start(Context, TTestStart{7, name, address, params, settings, user, password},
                       [&outcome](TBackgroundTask&, const TTestResult& r, const std::string& trace) {
                         outcome = {true, r.Success, r.ErrorText, r.NewIP, trace, r.HostID, r.ResponseTime};
                       });
  }

  static inline testsupport::TSambaShares* Shares = nullptr;
  TSambaServer* Server = nullptr;
  std::unique_ptr<QObject> Main = std::make_unique<QObject>();
  TTestContext Context{Main.get(), nullptr};
};

TEST_F(ShareThreadTest, AnswersThatProveTheShareCountAsUp) {
  struct TCase {
    const char *SharePath, *Password;
    int Port;  // 0: the server's
    bool Up;
    int TextCode;  // 0: no text
  } cases[] = {
      {"data", Password, 0, true, 0},
      {"empty", Password, 0, true, 0},
      {"data\\locked", Password, 0, true, 0},
      {"data\\locked\\inside", Password, 0, true, 0},
      {"data\\missing", Password, 0, true, 0},
      {"absent", Password, 0, false, 67},
      // The connection's refusal alone does not decide: the listing, made without it,
      // still finds the share (and is denied).
      {"data", "wrong", 0, true, 1326},
      {"data", Password, 1, false, 53},
  };
  for (const TCase& c : cases) {
    TOutcome outcome;
    auto test = Start(outcome, c.SharePath, User, c.Password, c.Port);
    ASSERT_TRUE(PumpUntil([&] { return outcome.Called; }, 30s)) << c.SharePath;
    EXPECT_EQ(outcome.Success, c.Up) << c.SharePath << " " << outcome.Text;
    EXPECT_EQ(outcome.Text, c.TextCode != 0 ? ErrorText(c.TextCode) : "") << c.SharePath;
    EXPECT_EQ(outcome.HostID, 7);
    EXPECT_EQ(outcome.NewIP, "127.0.0.1");
    EXPECT_EQ(outcome.Trace, "ShareThread Callback 127.0.0.1\\" + std::string(c.SharePath) + " " +
                                 (c.Up ? "ALIVE " : "no resp ") + outcome.Text);
    EXPECT_FALSE(test->IsAlive());
  }
  EXPECT_EQ(Context.ShareSlots.InFlight(), 0);
  EXPECT_EQ(Context.Completions.Share.load(), 0);
  // Every connection a test made is gone with it.
  EXPECT_FALSE(TNetConnections::Instance().CredentialsFor("127.0.0.1"));
}

TEST_F(ShareThreadTest, TheSixthOfSixWaitsForASlotAndTerminationFreesItsWait) {
  ASSERT_EQ(Context.MaxShareThreads.load(), 5);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(TakeSlot(Context.ShareSlots, 5));
  TOutcome sixth, stopped;
  auto waiting = Start(sixth, "data");
  auto terminated = Start(stopped, "data");
  PumpFor(200ms);
  EXPECT_FALSE(sixth.Called);
  EXPECT_EQ(Context.ShareSlots.Waiting(), 2);
  terminated->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return stopped.Called; }, 5s));
  EXPECT_FALSE(stopped.Success);
  EXPECT_EQ(stopped.Text, TShareThread::TerminatedText);
  EXPECT_EQ(stopped.Elapsed, 0);
  Context.ShareSlots.Release();
  ASSERT_TRUE(PumpUntil([&] { return sixth.Called; }, 30s));
  EXPECT_TRUE(sixth.Success) << sixth.Text;
  for (int i = 0; i < 4; ++i) Context.ShareSlots.Release();

  // Six at once with the limit of five: all are answered, never more than five in flight.
  TOutcome six[6];
  std::vector<std::shared_ptr<TBackgroundTask>> tests;
  for (TOutcome& outcome : six) tests.push_back(Start(outcome, "data\\report.txt"));
  int most = 0;
  ASSERT_TRUE(PumpUntil([&] { return std::all_of(std::begin(six), std::end(six), [](auto& o) { return o.Called; }); },
                        60s, [&] { most = std::max(most, Context.ShareSlots.InFlight()); }));
  EXPECT_LE(most, 5);
  for (const TOutcome& outcome : six) EXPECT_TRUE(outcome.Success) << outcome.Text;
}

TEST(ShareThreadPathTest, SplitsTheShareFromItsFolderAndAcceptsTheCodesThatProveIt) {
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(TShareThread::SplitSharePath("data"), P("data", ""));
  EXPECT_EQ(TShareThread::SplitSharePath("\\data\\a\\b"), P("data", "a\\b"));
  EXPECT_EQ(TShareThread::SplitSharePath("data/a"), P("data", "a"));
  EXPECT_EQ(TShareThread::SplitSharePath("\\\\"), P("", ""));
  for (int code : {0, 2, 3, 5, 18}) EXPECT_TRUE(TShareThread::AcceptedCode(code)) << code;
  for (int code : {1, 53, 67, 1326, -1}) EXPECT_FALSE(TShareThread::AcceptedCode(code)) << code;
}

}  // namespace
