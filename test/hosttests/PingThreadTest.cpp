#include <arpa/inet.h>
#include <unistd.h>

#include <QObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hosttests/TPingThread.h"
#include "hosttests/TTestContext.h"
#include "hosttests/WorkerTestSupport.h"
#include "platform/TEchoEngine.h"
#include "support/TRoutedNet.h"
#include "support/TestNetns.h"

using namespace std::chrono_literals;
using workertest::PumpFor;
using workertest::PumpUntil;
using workertest::ThreadCount;

namespace {

struct TPingResult {
  int Calls = 0;
  std::string Address, Responder, ErrorText, ResolvedAddress;
  std::int32_t ResponseTime = -1, Tag = 0, Status = 0;
  bool Success = false;
};

struct TPingParams {
  int Attempts = 1;
  int TimeoutMs = 2000;
  int Ttl = 255;
  bool Bypass = false;
};

// A context with its main-thread object, for one echo engine (or none).
class TPingRig {
public:
  explicit TPingRig(TEchoEngine* engine) : FMain(std::make_unique<QObject>()), Context(FMain.get(), engine) {}
  ~TPingRig() { PumpUntil([this] { return Context.Completions.Echo.load() == 0; }); }

  std::shared_ptr<TPingThread> Start(TPingResult& result, const std::string& address, TPingParams params = {},
                                     std::int32_t tag = 42) {
    return TPingThread::Create(
        Context, "Ping " + address, address, params.Bypass, tag, params.Ttl, params.TimeoutMs,
        [&result](TPingThread& thread, const std::string& address, const std::string& responder,
                  std::int32_t responseTime, std::int32_t tag, const std::string& errorText, std::int32_t status,
                  bool success, const std::string& resolvedAddress) {
          ++result.Calls;
          result.Address = address;
          result.Responder = responder;
          result.ResponseTime = responseTime;
          result.Tag = tag;
          result.ErrorText = errorText;
          result.Status = status;
          result.Success = success;
          result.ResolvedAddress = resolvedAddress;
          EXPECT_TRUE(thread.IsAlive()) << "alive until its completion step has run";
        },
        params.Attempts);
  }

  TPingResult Run(const std::string& address, TPingParams params = {}) {
    TPingResult result;
    auto thread = Start(result, address, params);
    EXPECT_TRUE(PumpUntil([&] { return result.Calls > 0; })) << "no completion for " << address;
    EXPECT_FALSE(thread->IsAlive());
    return result;
  }

  // Everything given back once every test has completed.
  void ExpectIdle() {
    EXPECT_EQ(Context.PingSlots.InFlight(), 0);
    EXPECT_EQ(Context.PingSlots.Waiting(), 0);
    EXPECT_EQ(Context.Completions.Echo.load(), 0);
  }

private:
  std::unique_ptr<QObject> FMain;

public:
  TTestContext Context;
};

bool PumpUntilAllCompleted(const std::vector<TPingResult>& results, const std::function<void()>& sample = {}) {
  return PumpUntil(
      [&] { return std::all_of(results.begin(), results.end(), [](const TPingResult& r) { return r.Calls > 0; }); },
      120s, sample);
}

std::unique_ptr<TEchoEngine> EngineIn(const std::string& netns, TEchoEngine::TOpenMode mode) {
  testsupport::TInNetns inside(netns);
  if (!inside.Entered()) return nullptr;
  return std::make_unique<TEchoEngine>(mode);
}

#define REQUIRE_ENGINE(engine)                                                                 \
  if (!(engine).Valid())                                                                       \
  GTEST_SKIP() << "no ICMP socket (run as root or grant CAP_NET_RAW): " << (engine).InvalidReason()

TEST(PingThread, LoopbackAddressesAnswer) {
  TEchoEngine engine;
  REQUIRE_ENGINE(engine);
  TPingRig rig(&engine);

  TPingResult r = rig.Run("127.0.0.1");
  EXPECT_EQ(r.Calls, 1);
  EXPECT_TRUE(r.Success);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.ErrorText, "");
  EXPECT_EQ(r.Address, "127.0.0.1");
  EXPECT_EQ(r.ResolvedAddress, "127.0.0.1");
  EXPECT_EQ(r.Responder, "127.0.0.1");
  EXPECT_EQ(r.Tag, 42);
  EXPECT_GE(r.ResponseTime, 0);

  // A time-to-live of 0 or below is an ordinary test; any 127 address answers.
  TPingResult result;
  auto thread = rig.Start(result, "127.1.2.3", {3, 2000, 0, false}, -5);
  ASSERT_TRUE(PumpUntil([&] { return result.Calls > 0; }));
  EXPECT_TRUE(result.Success);
  EXPECT_EQ(result.Responder, "127.1.2.3");
  EXPECT_EQ(result.Tag, -5);
  EXPECT_EQ(thread->TimeToLive(), 255);
  EXPECT_EQ(thread->Target(), htonl(0x7F010203u));
  EXPECT_EQ(thread->Attempts(), 3);
  EXPECT_TRUE(thread->IsEchoTest());
  EXPECT_EQ(thread->Name(), "Ping 127.1.2.3");

  // A name is looked up on the pool (localhost comes from the hosts file); the handler
  // gets the dotted address.
  r = rig.Run("localhost");
  EXPECT_TRUE(r.Success);
  EXPECT_EQ(r.Address, "127.0.0.1");
  EXPECT_EQ(r.ResolvedAddress, "127.0.0.1");

  // A tool's test outside the limit takes no slot.
  r = rig.Run("127.0.0.1", {1, 2000, 255, true});
  EXPECT_TRUE(r.Success);
  rig.ExpectIdle();
}

TEST(PingThread, TestsThatSendNothing) {
  TPingRig none(nullptr);
  TPingResult r = none.Run("127.0.0.1");
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Status, -3);
  EXPECT_EQ(r.ErrorText, "ICMP handle invalid");
  EXPECT_EQ(r.ResolvedAddress, "127.0.0.1");
  EXPECT_EQ(r.Responder, "");
  EXPECT_GE(r.ResponseTime, 0);
  none.ExpectIdle();

  TEchoEngine engine;
  REQUIRE_ENGINE(engine);
  TPingRig rig(&engine);
  r = rig.Run("127.0.0.1", {0, 2000, 255, false});
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Status, -1) << "no answer was taken in";
  EXPECT_EQ(r.ErrorText, "");
  EXPECT_EQ(r.Responder, "");
  EXPECT_GE(r.ResponseTime, 0);

  // The lookup failure values fail at once, without waiting for a slot: the only one is
  // taken.
  rig.Context.MaxPingThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(rig.Context.PingSlots, 1));
  for (const char* bad : {"0.0.0.0", "255.255.255.255", ""}) {
    r = rig.Run(bad);
    EXPECT_FALSE(r.Success) << bad;
    EXPECT_EQ(r.Status, -1) << bad;
    EXPECT_EQ(r.ErrorText, "Address lookup failed") << bad;
    EXPECT_EQ(r.ResolvedAddress, "") << bad;
    EXPECT_EQ(r.Address, bad);
    EXPECT_EQ(r.ResponseTime, 0) << bad;
    EXPECT_EQ(rig.Context.PingSlots.Waiting(), 0);
  }
  rig.Context.PingSlots.Release();
  rig.ExpectIdle();
}

TEST(PingThread, TerminateAndAbortEndWaits) {
  TEchoEngine engine;
  REQUIRE_ENGINE(engine);
  TPingRig rig(&engine);
  rig.Context.MaxPingThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(rig.Context.PingSlots, 1));
  TPingResult first, second, third;
  auto t1 = rig.Start(first, "127.0.0.1");
  auto t2 = rig.Start(second, "127.0.0.2");
  auto t3 = rig.Start(third, "127.0.0.3");
  EXPECT_EQ(rig.Context.PingSlots.Waiting(), 3);

  // A test waiting for its slot ends at once, without one and without a request.
  t2->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return second.Calls > 0; }));
  EXPECT_FALSE(second.Success);
  EXPECT_EQ(second.Status, -1);
  EXPECT_EQ(second.ErrorText, "");
  EXPECT_EQ(second.Address, "127.0.0.2");
  EXPECT_EQ(second.ResponseTime, 0);
  EXPECT_FALSE(t2->IsAlive());
  EXPECT_EQ(rig.Context.PingSlots.Waiting(), 2);
  EXPECT_EQ(first.Calls + third.Calls, 0);

  rig.Context.PingSlots.Release();
  ASSERT_TRUE(PumpUntil([&] { return first.Calls > 0 && third.Calls > 0; }));
  EXPECT_TRUE(first.Success);
  EXPECT_TRUE(third.Success);
  EXPECT_EQ(second.Calls, 1);
  rig.ExpectIdle();
}

// The requirement behind the queued design: thousands of echo tests due at once use a
// bounded number of threads and never more slots than the limit.
TEST(PingThread, FiveThousandTestsAtOnceStayWithinLimitsAndThreads) {
  TEchoEngine engine;
  REQUIRE_ENGINE(engine);
  TPingRig rig(&engine);
  rig.Context.MaxPingThreads = 25;
  constexpr int Count = 5000;
  std::vector<TPingResult> results(Count);
  std::vector<std::string> targets(Count);
  const int threadsBefore = ThreadCount();
  for (int n = 0; n < Count; ++n) {
    targets[n] = "127.1." + std::to_string((n + 1) / 256) + "." + std::to_string((n + 1) % 256);
    // Nobody keeps the tests: they keep themselves until their completion has run.
    rig.Start(results[n], targets[n], {1, 10000, 255, false}, n);
  }
  int mostThreads = 0, mostInFlight = 0;
  auto sample = [&] {
    mostThreads = std::max(mostThreads, ThreadCount());
    mostInFlight = std::max(mostInFlight, rig.Context.PingSlots.InFlight());
  };
  ASSERT_TRUE(PumpUntilAllCompleted(results, sample));
  int good = 0;
  for (int n = 0; n < Count; ++n)
    if (results[n].Calls == 1 && results[n].Success && results[n].Responder == targets[n] && results[n].Tag == n) ++good;
  EXPECT_EQ(good, Count);
  EXPECT_LE(mostInFlight, 25);
  EXPECT_LT(mostThreads, 100) << "threads before: " << threadsBefore;
  rig.ExpectIdle();
}

// Terminate comes from the main thread at any moment while answers arrive on the engine's
// thread: every test completes exactly once and no slot is lost.
TEST(PingThread, TerminateAtAnyMomentLosesNothing) {
  TEchoEngine engine;
  REQUIRE_ENGINE(engine);
  TPingRig rig(&engine);
  rig.Context.MaxPingThreads = 5;
  constexpr int Count = 2000;
  std::vector<TPingResult> results(Count);
  std::vector<std::shared_ptr<TPingThread>> threads;
  for (int n = 0; n < Count; ++n) {
    threads.push_back(rig.Start(results[n], "127.2.0." + std::to_string(1 + n % 250), {2, 10000, 255, n % 5 == 0}, n));
    if (n % 3 == 0) threads[n]->Terminate();
    if (n % 50 == 0) PumpFor(1ms);
    if (n % 7 == 0) threads[n / 2]->Terminate();
  }
  ASSERT_TRUE(PumpUntilAllCompleted(results));
  PumpFor(20ms);
  int once = 0, failedUnterminated = 0;
  for (int n = 0; n < Count; ++n) {
    once += results[n].Calls == 1;
    if (!results[n].Success && !threads[n]->Terminated()) ++failedUnterminated;
    EXPECT_FALSE(threads[n]->IsAlive());
  }
  EXPECT_EQ(once, Count);
  EXPECT_EQ(failedUnterminated, 0);
  rig.ExpectIdle();
}

// Counts the echo requests that reached a namespace, answered or not.
int EchoRequestsSeen(const std::string& netns) {
  std::string snmp;
  if (testsupport::Shell("ip netns exec " + netns + " cat /proc/net/snmp", &snmp) != 0) return -1;
  std::istringstream lines(snmp);
  std::string header, values;
  while (std::getline(lines, header))
    if (header.rfind("IcmpMsg:", 0) == 0 && std::getline(lines, values)) {
      std::istringstream names(header), numbers(values);
      std::string name, number;
      while (names >> name && numbers >> number)
        if (name == "InType8") return std::stoi(number);
    }
  return 0;
}

bool IgnoreEchoes(const std::string& netns, bool ignore) {
  return testsupport::Shell("ip netns exec " + netns + " sysctl -qw net.ipv4.icmp_echo_ignore_all=" +
                            (ignore ? "1" : "0")) == 0;
}

// Echo tests from the host of a routed net (see TRoutedNet) against a router and a target
// that can be told to stay silent.
class PingThreadNet : public ::testing::Test {
protected:
  static void TearDownTestSuite() { FNet.reset(); }
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
    if (!FNet) FNet = std::make_unique<testsupport::TRoutedNet>("cvecho-");
    if (!FNet->Ready()) GTEST_SKIP() << "no namespaces for echo tests: " << FNet->Error();
    FEngine = EngineIn(FNet->Host(), TEchoEngine::TOpenMode::Auto);
    ASSERT_TRUE(FEngine && FEngine->Valid()) << "no echo engine in " << FNet->Host();
    ASSERT_TRUE(IgnoreEchoes(FNet->TargetNetns(), false));
    FRig = std::make_unique<TPingRig>(FEngine.get());
  }
  void TearDown() override {
    FRig.reset();
    FEngine.reset();
  }
  const std::string& Target() const { return FNet->TargetNetns(); }

  static inline std::unique_ptr<testsupport::TRoutedNet> FNet;
  std::unique_ptr<TEchoEngine> FEngine;
  std::unique_ptr<TPingRig> FRig;
};

using Net = testsupport::TRoutedNet;

TEST_F(PingThreadNet, RouterAnswersForTheTarget) {
  TPingResult r = FRig->Run(Net::Unreachable);
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Status, 11003);
  EXPECT_EQ(r.ErrorText, "Destination Host Unreachable (ICMP2AFB)");
  EXPECT_EQ(r.Responder, Net::Router);
  EXPECT_EQ(r.Address, Net::Unreachable);
  EXPECT_EQ(r.ResolvedAddress, Net::Unreachable);
  EXPECT_GE(r.ResponseTime, 0);

  // A trace step: the router's time exceeded ends the step well; one hop further the
  // target answers itself.
  r = FRig->Run(Net::Target, {1, 2000, 1, false});
  EXPECT_TRUE(r.Success);
  EXPECT_EQ(r.Status, 11013);
  EXPECT_EQ(r.ErrorText, "");
  EXPECT_EQ(r.Responder, Net::Router);
  r = FRig->Run(Net::Target, {1, 2000, 2, false});
  EXPECT_TRUE(r.Success);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Responder, Net::Target);
  FRig->ExpectIdle();
}

TEST_F(PingThreadNet, SilentTargetTimesOutOnEveryAttempt) {
  ASSERT_TRUE(IgnoreEchoes(Target(), true));
  const int before = EchoRequestsSeen(Target());
  TPingResult r = FRig->Run(Net::Target, {2, 300, 255, false});
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Status, -3);
  EXPECT_EQ(r.ErrorText, "Request Timed Out (ICMP2B02)");
  EXPECT_EQ(r.Responder, "");
  EXPECT_EQ(r.ResolvedAddress, Net::Target);
  EXPECT_GE(r.ResponseTime, 2 * 300 - 2) << "the elapsed time over both attempts";
  EXPECT_EQ(EchoRequestsSeen(Target()) - before, 2);

  // Terminated during its first request, the test sends no second one.
  TPingResult stopped;
  auto thread = FRig->Start(stopped, Net::Target, {5, 300, 255, false});
  thread->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return stopped.Calls > 0; }));
  EXPECT_EQ(stopped.ErrorText, "Request Timed Out (ICMP2B02)");
  EXPECT_EQ(EchoRequestsSeen(Target()) - before, 3);

  // No attempts: nothing is sent.
  r = FRig->Run(Net::Target, {0, 300, 255, false});
  EXPECT_EQ(r.ErrorText, "");
  PumpFor(50ms);
  EXPECT_EQ(EchoRequestsSeen(Target()) - before, 3);
  FRig->ExpectIdle();
}

TEST_F(PingThreadNet, SecondAttemptAnsweredAfterTheFirstTimedOut) {
  ASSERT_TRUE(IgnoreEchoes(Target(), true));
  const int before = EchoRequestsSeen(Target());
  constexpr int Timeout = 3000;
  TPingResult r;
  auto thread = FRig->Start(r, Net::Target, {2, Timeout, 255, false});
  ASSERT_TRUE(PumpUntil([&] { return EchoRequestsSeen(Target()) - before == 1; }, 10s));
  // The first request is ignored; the second one will be answered.
  ASSERT_TRUE(IgnoreEchoes(Target(), false));
  ASSERT_TRUE(PumpUntil([&] { return r.Calls > 0; }));
  EXPECT_EQ(EchoRequestsSeen(Target()) - before, 2);
  EXPECT_TRUE(r.Success);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.ErrorText, "") << "the first attempt's time-out is no error of a test that succeeded";
  EXPECT_EQ(r.Responder, Net::Target);
  EXPECT_LT(r.ResponseTime, Timeout) << "the round trip of the answer, not the time waited";
  FRig->ExpectIdle();
}

TEST_F(PingThreadNet, ClosingEngineEndsTheTestsWaitingOnIt) {
  ASSERT_TRUE(IgnoreEchoes(Target(), true));
  const int before = EchoRequestsSeen(Target());
  TPingResult r;
  FRig->Start(r, Net::Target, {3, 60000, 255, false});
  FEngine.reset();
  ASSERT_TRUE(PumpUntil([&] { return r.Calls > 0; }));
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Status, -3);
  EXPECT_EQ(r.ErrorText, "Unknown Error (ICMP03E3)");
  EXPECT_EQ(EchoRequestsSeen(Target()) - before, 1);
  FRig->ExpectIdle();
}

TEST(PingThreadIsolated, InvalidEngineAndUnknownNameFailWithoutASlot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
  // A namespace where no group may open a datagram ICMP socket: the engine that insists
  // on one is invalid.
  testsupport::TTestNetns net("cvechoi-", {"x"});
  ASSERT_TRUE(net.Run({"ip netns exec " + net.Name("x") + " sysctl -qw net.ipv4.ping_group_range='1 0'"}))
      << net.Error();
  auto invalid = EngineIn(net.Name("x"), TEchoEngine::TOpenMode::DatagramOnly);
  ASSERT_TRUE(invalid);
  ASSERT_FALSE(invalid->Valid());
  TPingRig rig(invalid.get());
  TPingResult r = rig.Run("127.0.0.1", {2, 300, 255, false});
  EXPECT_FALSE(r.Success);
  EXPECT_EQ(r.Status, -3);
  EXPECT_EQ(r.ErrorText, "ICMP handle invalid");
  rig.ExpectIdle();

  // A name that is in no hosts file fails at once, without waiting for a slot.
  TPingRig isolated(nullptr);
  isolated.Context.MaxPingThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(isolated.Context.PingSlots, 1));
  TPingResult unknown;
  std::shared_ptr<TPingThread> thread;
  ASSERT_TRUE(workertest::StartIsolated(isolated.Context,
                                        [&] { thread = isolated.Start(unknown, "cvecho-unknown.invalid"); }));
  ASSERT_TRUE(PumpUntil([&] { return unknown.Calls > 0; }));
  EXPECT_FALSE(unknown.Success);
  EXPECT_EQ(unknown.Status, -1);
  EXPECT_EQ(unknown.ErrorText, "Address lookup failed");
  EXPECT_EQ(unknown.Address, "cvecho-unknown.invalid");
  EXPECT_EQ(unknown.ResolvedAddress, "");
  EXPECT_EQ(unknown.ResponseTime, 0);
  EXPECT_EQ(isolated.Context.PingSlots.Waiting(), 0);
  EXPECT_EQ(isolated.Context.PingSlots.InFlight(), 1);
  isolated.Context.PingSlots.Release();
}

}  // namespace
