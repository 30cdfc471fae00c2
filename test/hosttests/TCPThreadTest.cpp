#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QObject>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/ErrorText.h"
#include "hosttests/TTCPThread.h"
#include "hosttests/TTestContext.h"
#include "hosttests/WorkerTestSupport.h"
#include "support/TestNetns.h"

namespace {

using namespace std::chrono_literals;

using workertest::PumpUntil;
using workertest::ThreadCount;

// A TCP socket on 127.0.0.1: listening (connections are accepted and closed at once)
// or only bound, so that connects are refused.
class TPeer {
public:
  explicit TPeer(bool listening) {
    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
      return;
    FPort = ntohs(addr.sin_port);
    if (!listening || listen(FSocket, 4096) != 0) return;
    FAccepter = std::thread([fd = FSocket] {
      for (int client; (client = accept(fd, nullptr, nullptr)) >= 0 || errno == EINTR || errno == ECONNABORTED;)
        if (client >= 0) close(client);
    });
  }
  ~TPeer() {
    shutdown(FSocket, SHUT_RDWR);  // wakes the accept
    if (FAccepter.joinable()) FAccepter.join();
    close(FSocket);
  }
  int Port() const { return FPort; }

private:
  int FSocket = -1;
  int FPort = 0;
  std::thread FAccepter;
};

struct TResult {
  bool Called = false;
  std::string HostAddress, ResolvedAddress, ResultText;
  std::int32_t Port = 0, Elapsed = -1;
  bool Connected = false;
  std::int64_t HostReference = 0;
};

// One context with a main-thread object and a record of the status trace. Completion
// steps run only while a test runs the main thread's events, so none reaches a result
// that is gone.
struct TRig {
  explicit TRig(bool withMain = true) : Main(withMain ? new QObject : nullptr), Context(Main.get(), nullptr) {
    Context.SetTracer([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(Lock);
      Lines.push_back(line);
    });
  }

  std::shared_ptr<TTCPThread> Start(TResult& result, const std::string& address, int port, int attempts,
                                    bool bypass = false) {
    return TTCPThread::Create(Context, "TCP test", address, bypass, 42,
                              [&result](TTCPThread&, const std::string& hostAddress, const std::string& resolved,
                                        std::int32_t port, bool connected, const std::string& text,
                                        std::int64_t reference, std::int32_t elapsed) {
                                result = {true, hostAddress, resolved, text, port, elapsed, connected, reference};
                              },
                              attempts, port);
  }
  // Trace lines that start with prefix.
  int Traced(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(Lock);
    return static_cast<int>(
        std::count_if(Lines.begin(), Lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }));
  }
  std::vector<std::string> Traces() {
    std::lock_guard<std::mutex> lock(Lock);
    return Lines;
  }

  std::unique_ptr<QObject> Main;
  std::mutex Lock;
  std::vector<std::string> Lines;
  TTestContext Context;  // last: its pool may still trace while it goes
};

TEST(TCPThread, ListeningPortConnectsOnTheFirstAttempt) {
  TPeer peer(true);
  ASSERT_GT(peer.Port(), 0);
  TRig rig;
  TResult result;
  auto test = rig.Start(result, "127.0.0.1", peer.Port(), 3);
  ASSERT_TRUE(PumpUntil([&] { return result.Called; }));
  EXPECT_TRUE(result.Connected);
  EXPECT_EQ(result.ResultText, "");
  EXPECT_EQ(result.HostAddress, "127.0.0.1");
  EXPECT_EQ(result.ResolvedAddress, "127.0.0.1");
  EXPECT_EQ(result.Port, peer.Port());
  EXPECT_EQ(result.HostReference, 42);
  EXPECT_GE(result.Elapsed, 0);
  EXPECT_FALSE(test->IsAlive());
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
  EXPECT_EQ(rig.Context.Completions.TCP.load(), 0);
  const std::vector<std::string> expected = {
      "Start TCPThread 127.0.0.1",        "TCPThread Wait 127.0.0.1",  "TCPThread Client Create 127.0.0.1",
      "TCPThread Client Open 127.0.0.1", "TCPThread Client Free 127.0.0.1", "TCPThread Notify 127.0.0.1",
      "TCPThread Callback"};
  EXPECT_EQ(rig.Traces(), expected);

  // A name is reported as configured, with the address it resolved to.
  TResult named;
  rig.Start(named, "localhost", peer.Port(), 1);
  ASSERT_TRUE(PumpUntil([&] { return named.Called; }));
  EXPECT_TRUE(named.Connected);
  EXPECT_EQ(named.HostAddress, "localhost");
  EXPECT_EQ(named.ResolvedAddress, "127.0.0.1");

  // No attempts allowed: nothing is opened and nothing is said about why.
  TResult none;
  rig.Start(none, "127.0.0.1", peer.Port(), 0);
  ASSERT_TRUE(PumpUntil([&] { return none.Called; }));
  EXPECT_FALSE(none.Connected);
  EXPECT_EQ(none.ResultText, "");
  EXPECT_EQ(rig.Traced("TCPThread Client Open"), 2);

  // A status trace that fails costs nothing.
  rig.Context.SetTracer([](const std::string&) { throw std::runtime_error("trace store gone"); });
  TResult untraced;
  rig.Start(untraced, "127.0.0.1", peer.Port(), 1);
  ASSERT_TRUE(PumpUntil([&] { return untraced.Called; }));
  EXPECT_TRUE(untraced.Connected);
}

TEST(TCPThread, RefusedAndInvalidPortsUseEveryAttempt) {
  TPeer closed(false);
  ASSERT_GT(closed.Port(), 0);
  TRig rig;
  TResult refused;
  auto test = rig.Start(refused, "127.0.0.1", closed.Port(), 3);
  ASSERT_TRUE(PumpUntil([&] { return refused.Called; }));
  EXPECT_FALSE(refused.Connected);
  EXPECT_EQ(refused.ResultText, ErrorText(10061));
  EXPECT_EQ(refused.ResolvedAddress, "127.0.0.1");
  EXPECT_FALSE(test->LastExceptionText().empty());
  EXPECT_EQ(rig.Traced("TCPThread Client Open"), 3);

  // Ports outside 1..65535 fail without a connect to the port they would wrap to.
  for (int port : {0, 65536 + closed.Port(), -1}) {
    TResult invalid;
    rig.Start(invalid, "127.0.0.1", port, 2);
    ASSERT_TRUE(PumpUntil([&] { return invalid.Called; })) << port;
    EXPECT_FALSE(invalid.Connected) << port;
    EXPECT_EQ(invalid.ResultText, ErrorText(10049)) << port;
  }
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
}

// Errors the workers swallow by design still reach the context's fault hook, with where
// they happened, and the work goes on: a throwing completion handler, a throwing trace,
// pool work and a slot start that throw.
TEST(TCPThread, SwallowedErrorsReachTheFaultHook) {
  TPeer peer(true);
  TRig rig;
  std::mutex lock;
  std::vector<std::string> faults;
  rig.Context.SetFaultHook([&](const std::string& where, const std::string& what) {
    std::lock_guard<std::mutex> guard(lock);
    faults.push_back(where + ": " + what);
  });
  auto seen = [&](const std::string& fault) {
    std::lock_guard<std::mutex> guard(lock);
    return std::find(faults.begin(), faults.end(), fault) != faults.end();
  };
  bool called = false;
  auto test = TTCPThread::Create(
      rig.Context, "TCP test", "127.0.0.1", false, 42,
      [&called](TTCPThread&, const std::string&, const std::string&, std::int32_t, bool, const std::string&,
                std::int64_t, std::int32_t) {
        called = true;
        throw std::runtime_error("handler failed");
      },
      1, peer.Port());
  ASSERT_TRUE(PumpUntil([&] { return called && !test->IsAlive(); }));
  EXPECT_TRUE(test->Connected());
  EXPECT_TRUE(seen("TCPThread callback: handler failed"));

  rig.Context.SetTracer([](const std::string&) { throw std::runtime_error("trace failed"); });
  TResult traced;
  rig.Start(traced, "127.0.0.1", peer.Port(), 1);
  ASSERT_TRUE(PumpUntil([&] { return traced.Called; }));
  EXPECT_TRUE(traced.Connected) << "a failing trace costs no result";
  EXPECT_TRUE(seen("TCPThread trace: trace failed"));

  rig.Context.RunInPool([] { throw std::runtime_error("pool work failed"); });
  rig.Context.TCPSlots.Request(1, true, [](bool) { throw 7; });
  ASSERT_TRUE(PumpUntil([&] { return seen("worker pool: pool work failed"); }));
  EXPECT_TRUE(seen("slot start: unknown exception"));
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
}

TEST(TCPThread, AttemptRules) {
  using TAttempt = TTCPThread::TAttemptResult;
  int calls = 0;
  const auto never = [] { return false; };
  auto always = [&](TAttempt r) {
    return [&calls, r] {
      ++calls;
      return r;
    };
  };

  auto outcome = TTCPThread::RunAttempts(0, never, always({true, 0, ""}));
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(outcome.Connected);

  // "Would block" uses no attempt, but can never hold the test for ever.
  calls = 0;
  outcome = TTCPThread::RunAttempts(2, never, always({false, 10035, "would block"}));
  EXPECT_EQ(calls, 2 * TTCPThread::WouldBlockRepeats);
  EXPECT_EQ(outcome.ResultCode, 10035);
  std::vector<TAttempt> script = {{false, 10035, "wb"}, {false, 10035, "wb"}, {true, 0, ""}};
  calls = 0;
  outcome = TTCPThread::RunAttempts(1, never, [&] { return script[calls++]; });
  EXPECT_TRUE(outcome.Connected);
  EXPECT_EQ(calls, 3);

  // An error without a code keeps the text of the last one that had one.
  script = {{false, 10061, "refused"}, {false, 0, "no code"}};
  calls = 0;
  outcome = TTCPThread::RunAttempts(5, [&] { return calls == 2; }, [&] { return script[calls++]; });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(outcome.ResultCode, 10061);
  EXPECT_EQ(outcome.LastExceptionText, "refused");  // the second was cut short by the stop
  script = {{false, 10061, "refused"}, {false, 0, "no code"}};
  calls = 0;
  outcome = TTCPThread::RunAttempts(2, never, [&] { return script[calls++]; });
  EXPECT_EQ(outcome.ResultCode, 10061);
  EXPECT_EQ(outcome.LastExceptionText, "no code");
}

TEST(TCPThread, CompletionIsDroppedWithoutAMainThread) {
  TPeer peer(true);
  TRig orphan(false);
  TResult result;
  auto test = orphan.Start(result, "127.0.0.1", peer.Port(), 1);
  ASSERT_TRUE(PumpUntil([&] { return !test->IsAlive(); }));
  EXPECT_FALSE(result.Called);
  EXPECT_EQ(orphan.Context.Completions.TCP.load(), 0);
}

TEST(TCPThread, TerminateWhileWaitingForASlot) {
  TPeer peer(true);
  TRig rig;
  rig.Context.MaxTCPThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(rig.Context.TCPSlots, 1));
  TResult result;
  auto test = rig.Start(result, "127.0.0.1", peer.Port(), 3);
  ASSERT_TRUE(PumpUntil([&] { return rig.Context.TCPSlots.Waiting() == 1; }));
  test->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return result.Called; }));
  EXPECT_FALSE(result.Connected);
  EXPECT_EQ(result.ResultText, "");
  EXPECT_EQ(result.ResolvedAddress, "127.0.0.1");
  EXPECT_EQ(result.Elapsed, 0);
  EXPECT_EQ(rig.Traced("TCPThread Client Create"), 0);
  EXPECT_EQ(rig.Context.TCPSlots.Waiting(), 0);
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 1);
  rig.Context.TCPSlots.Release();
}

TEST(TCPThread, ThousandsAtOnceKeepTheThreadCountBounded) {
  TPeer peer(true);
  TRig rig;
  rig.Context.SetTracer({});
  constexpr int Count = 2000;
  std::vector<TResult> results(Count);
  for (TResult& r : results) rig.Start(r, "127.0.0.1", peer.Port(), 3);
  int maxThreads = 0, maxInFlight = 0;
  ASSERT_TRUE(PumpUntil([&] { return std::all_of(results.begin(), results.end(), [](auto& r) { return r.Called; }); },
                      120s, [&] {
                        maxThreads = std::max(maxThreads, ThreadCount());
                        maxInFlight = std::max(maxInFlight, rig.Context.TCPSlots.InFlight());
                      }));
  EXPECT_EQ(std::count_if(results.begin(), results.end(), [](auto& r) { return r.Connected; }), Count);
  EXPECT_LT(maxThreads, 100);
  EXPECT_LE(maxInFlight, 10);
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
}

// Tests that need a namespace of their own: the main thread works inside it, so the
// context's pool threads, started from it, look up names and connect there too.
class TCPThreadNet : public ::testing::Test {
protected:
  // 192.0.2.2 is routed out of a veth end with a fixed neighbour entry; its peer end
  // drops every frame, so connects to it hear nothing until the platform gives up.
  // synRetries below 0 leaves the namespace's own default.
  bool MakeNet(const std::string& suffix, int synRetries) {
    FNet = std::make_unique<testsupport::TTestNetns>("cvtcp-", std::vector<std::string>{suffix});
    const std::string ns = FNet->Name(suffix);
    FNet->Run({"ip -n " + ns + " link set lo up", "ip -n " + ns + " link add v0 type veth peer name v1",
               "ip -n " + ns + " addr add 192.0.2.1/24 dev v0", "ip -n " + ns + " link set v0 up",
               "ip -n " + ns + " link set v1 up",
               "ip -n " + ns + " neigh add 192.0.2.2 lladdr 02:00:00:00:00:02 dev v0 nud permanent",
               synRetries < 0 ? std::string("true")
                              : "ip netns exec " + ns + " sh -c 'echo " + std::to_string(synRetries) +
                                    " > /proc/sys/net/ipv4/tcp_syn_retries'"});
    if (!FNet->Ready()) return false;
    FInside = std::make_unique<testsupport::TInNetns>(ns);
    return FInside->Entered();
  }
  void TearDown() override {
    FInside.reset();
    FNet.reset();
  }
  std::unique_ptr<testsupport::TTestNetns> FNet;
  std::unique_ptr<testsupport::TInNetns> FInside;
};

#define REQUIRE_NET(suffix, retries) \
  if (!MakeNet(suffix, retries)) GTEST_SKIP() << "no network namespace: " << FNet->Error()

std::string NetnsOf(TTestContext& context) {
  auto found = std::make_shared<std::promise<std::string>>();
  context.RunInPool([found] {
    char link[64] = {};
    found->set_value(readlink("/proc/thread-self/ns/net", link, sizeof link - 1) > 0 ? link : "");
  });
  return found->get_future().get();
}

TEST_F(TCPThreadNet, UnresolvedNameFailsWithoutASlot) {
  REQUIRE_NET("name", 1);
  TRig rig;
  char here[64] = {};
  ASSERT_GT(readlink("/proc/thread-self/ns/net", here, sizeof here - 1), 0);
  ASSERT_EQ(NetnsOf(rig.Context), here) << "the lookup must not leave the namespace";
  FNet->Run({"ip -n " + FNet->Name("name") + " link set lo down"});
  rig.Context.MaxTCPThreads = 1;
  ASSERT_TRUE(workertest::TakeSlot(rig.Context.TCPSlots, 1));
  TResult result;
  rig.Start(result, "name.invalid", 80, 3);
  ASSERT_TRUE(PumpUntil([&] { return result.Called; }));
  EXPECT_FALSE(result.Connected);
  EXPECT_EQ(result.ResultText, ErrorText(11001));
  EXPECT_EQ(result.ResolvedAddress, "");
  EXPECT_EQ(result.HostAddress, "name.invalid");
  EXPECT_EQ(result.Elapsed, 0);
  EXPECT_EQ(rig.Traced("TCPThread Client Create"), 0);
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 1);
  rig.Context.TCPSlots.Release();
}

TEST_F(TCPThreadNet, SilentPortTimesOutOnEveryAttempt) {
  REQUIRE_NET("drop", 1);
  TRig rig;
  TResult result;
  auto test = rig.Start(result, "192.0.2.2", 80, 2);
  ASSERT_TRUE(PumpUntil([&] { return result.Called; }, 60s));
  EXPECT_FALSE(result.Connected);
  EXPECT_EQ(result.ResultText, ErrorText(10060));
  EXPECT_EQ(rig.Traced("TCPThread Client Open"), 2);
  // The kernel's first retransmission alone comes a second after each SYN.
  EXPECT_GE(result.Elapsed, 2000);
}

// With the kernel's default SYN retries a dropped connect would wait about two minutes;
// each attempt ends at the test's own connect time-out instead.
TEST_F(TCPThreadNet, DroppingPortEndsEachAttemptAtTheConnectTimeout) {
  REQUIRE_NET("bound", -1);
  std::string retries;
  testsupport::Shell("ip netns exec " + FNet->Name("bound") + " cat /proc/sys/net/ipv4/tcp_syn_retries", &retries);
  ASSERT_EQ(retries, "6\n") << "the namespace must keep the default";
  TRig rig;
  TResult result, probe;
  auto test = TTCPThread::Create(
      rig.Context, "TCP test", "192.0.2.2", false, 42,
      [&result](TTCPThread&, const std::string&, const std::string&, std::int32_t, bool connected,
                const std::string& text, std::int64_t, std::int32_t elapsed) {
        result.Called = true;
        result.Connected = connected;
        result.ResultText = text;
        result.Elapsed = elapsed;
      },
      2, 80, 700);
  EXPECT_EQ(test->ConnectTimeoutMs(), 700);
  ASSERT_TRUE(PumpUntil([&] { return result.Called; }, 60s));
  EXPECT_FALSE(result.Connected);
  EXPECT_EQ(result.ResultText, ErrorText(10060));
  EXPECT_EQ(rig.Traced("TCPThread Client Open"), 2);
  EXPECT_GE(result.Elapsed, 1400);
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
  EXPECT_EQ(rig.Start(probe, "127.0.0.1", 1, 0)->ConnectTimeoutMs(), 21000) << "the default bound";
  ASSERT_TRUE(PumpUntil([&] { return probe.Called; }));
}

TEST_F(TCPThreadNet, FullSlotsHoldTestsButNotProbes) {
  REQUIRE_NET("hold", 6);
  TPeer peer(true);
  TRig rig;
  rig.Context.MaxTCPThreads = 2;
  TResult slow1, slow2, further, probe;
  auto first = rig.Start(slow1, "192.0.2.2", 80, 1);
  auto second = rig.Start(slow2, "192.0.2.2", 80, 1);
  ASSERT_TRUE(PumpUntil([&] { return rig.Context.TCPSlots.InFlight() == 2; }));
  rig.Start(further, "127.0.0.1", peer.Port(), 1);
  ASSERT_TRUE(PumpUntil([&] { return rig.Context.TCPSlots.Waiting() == 1; }));
  rig.Start(probe, "127.0.0.1", peer.Port(), 3, true);
  ASSERT_TRUE(PumpUntil([&] { return probe.Called; }));
  EXPECT_TRUE(probe.Connected);
  EXPECT_FALSE(further.Called);
  EXPECT_FALSE(slow1.Called);
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 2);

  // Terminate cuts a connect in progress short, and its slot goes to the waiting test.
  first->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return slow1.Called && further.Called; }));
  EXPECT_FALSE(slow1.Connected);
  EXPECT_EQ(slow1.ResultText, "");
  EXPECT_TRUE(further.Connected);
  EXPECT_FALSE(slow2.Called);
  second->Terminate();
  ASSERT_TRUE(PumpUntil([&] { return slow2.Called; }));
  EXPECT_EQ(rig.Context.TCPSlots.InFlight(), 0);
}

}  // namespace
