#include <unistd.h>

#include <QObject>

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/NameLookup.h"
#include "hosttests/THostNameThread.h"
#include "hosttests/TTestContext.h"
#include "hosttests/WorkerTestSupport.h"

using namespace std::chrono_literals;
using workertest::PumpFor;
using workertest::PumpUntil;

namespace {

struct TNameResult {
  int Calls = 0;
  std::string Name, Reverse, Dotted;
  std::thread::id On;
};

class TNameRig {
public:
  TNameRig() : FMain(std::make_unique<QObject>()), Context(FMain.get(), nullptr) {}
  ~TNameRig() { PumpUntil([this] { return Context.Completions.Name.load() == 0; }); }

  std::shared_ptr<THostNameThread> Start(TNameResult& result, const std::string& name) {
    return THostNameThread::Create(Context, name,
                                   [&result](THostNameThread& thread, const std::string& name,
                                             const std::string& reverse, const std::string& dotted) {
                                     ++result.Calls;
                                     result.Name = name;
                                     result.Reverse = reverse;
                                     result.Dotted = dotted;
                                     result.On = std::this_thread::get_id();
                                     EXPECT_TRUE(thread.IsAlive());
                                   });
  }
  TNameResult Run(const std::string& name) {
    TNameResult result;
    auto thread = Start(result, name);
    EXPECT_TRUE(PumpUntil([&] { return result.Calls > 0; })) << name;
    EXPECT_FALSE(thread->IsAlive());
    EXPECT_EQ(thread->HostName(), name);
    EXPECT_EQ(thread->DottedAddress(), result.Dotted);
    EXPECT_EQ(thread->ReverseName(), result.Reverse);
    return result;
  }

private:
  std::unique_ptr<QObject> FMain;

public:
  TTestContext Context;
};

TEST(HostNameThread, LooksUpOnThePoolAndReportsOnTheMainThread) {
  TNameRig rig;
  const std::string loopbackName = ReverseName("127.0.0.1");
  ASSERT_FALSE(loopbackName.empty()) << "the hosts file names 127.0.0.1";

  TNameResult r = rig.Run("localhost");
  EXPECT_EQ(r.Calls, 1);
  EXPECT_EQ(r.Name, "localhost");
  EXPECT_EQ(r.Dotted, "127.0.0.1");
  EXPECT_EQ(r.Reverse, loopbackName);
  EXPECT_EQ(r.On, std::this_thread::get_id());

  r = rig.Run("127.0.0.1");
  EXPECT_EQ(r.Dotted, "127.0.0.1");
  EXPECT_EQ(r.Reverse, loopbackName);

  for (const char* bad : {"0.0.0.0", "255.255.255.255", ""}) {
    r = rig.Run(bad);
    EXPECT_EQ(r.Calls, 1) << bad;
    EXPECT_EQ(r.Name, bad);
    EXPECT_EQ(r.Dotted, "") << bad;
    EXPECT_EQ(r.Reverse, "") << bad;
  }
  EXPECT_EQ(THostNameThread::Create(rig.Context, "localhost", {})->Name(), "Host Name Lookup");
  ASSERT_TRUE(PumpUntil([&] { return rig.Context.Completions.Name == 0; }));
}

TEST(HostNameThread, AFailingHandlerCostsNothing) {
  TNameRig rig;
  auto failing = THostNameThread::Create(rig.Context, "localhost",
                                         [](THostNameThread&, const std::string&, const std::string&,
                                            const std::string&) { throw std::runtime_error("handler failed"); });
  ASSERT_TRUE(PumpUntil([&] { return !failing->IsAlive(); }));
  EXPECT_EQ(rig.Context.Completions.Name, 0);
}

TEST(HostNameThread, UnknownNameGivesEmptyTexts) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to isolate the lookup in a network namespace";
  TNameRig rig;
  TNameResult r;
  ASSERT_TRUE(workertest::StartIsolated(rig.Context, [&] { rig.Start(r, "cvecho-unknown.invalid"); }));
  ASSERT_TRUE(PumpUntil([&] { return r.Calls > 0; }));
  EXPECT_EQ(r.Name, "cvecho-unknown.invalid");
  EXPECT_EQ(r.Dotted, "");
  EXPECT_EQ(r.Reverse, "");
}

}  // namespace
