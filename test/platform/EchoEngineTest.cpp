#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/IcmpPacket.h"
#include "platform/IcmpStatus.h"
#include "platform/SysErrors.h"
#include "platform/TEchoEngine.h"
#include "support/TRoutedNet.h"
#include "support/TestNetns.h"

using namespace ipstatus;
using Mode = TEchoEngine::TOpenMode;

namespace {

std::uint32_t Ip(const char* dotted) { return inet_addr(dotted); }

std::string Dotted(std::uint32_t address) {
  in_addr a{address};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

// 127.1.x.y for the n-th scale target.
std::uint32_t LoopbackTarget(int n) {
  return htonl((127u << 24) | (1u << 16) | static_cast<std::uint32_t>(n + 1));
}

// Waits for an asynchronous answer, at most long enough to tell a lost callback from a
// slow one.
TEchoReply Await(std::future<TEchoReply>& answer) {
  if (answer.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "no answer within 60 s";
    return {};
  }
  return answer.get();
}

std::future<TEchoReply> Ask(TEchoEngine& engine, std::uint32_t target, int ttl, std::uint32_t timeoutMs,
                            std::string payload = TEchoEngine::DefaultPayload) {
  auto promise = std::make_shared<std::promise<TEchoReply>>();
  auto answer = promise->get_future();
  engine.SendEchoAsync(target, ttl, timeoutMs, std::move(payload),
                       [promise](const TEchoReply& r) { promise->set_value(r); });
  return answer;
}

std::unique_ptr<TEchoEngine> EngineIn(const std::string& netns, Mode mode) {
  testsupport::TInNetns inside(netns);
  if (!inside.Entered()) return nullptr;
  return std::make_unique<TEchoEngine>(mode);
}

using testsupport::TRoutedNet;

class EchoEngineNet : public ::testing::Test {
protected:
  static void TearDownTestSuite() { FNet.reset(); }
  void SetUp() override {
    if (!FNet) FNet = std::make_unique<TRoutedNet>("cveh-");
    if (!FNet->Ready()) GTEST_SKIP() << "no namespaces for echo tests: " << FNet->Error();
  }
  std::unique_ptr<TEchoEngine> Engine(Mode mode) {
    auto engine = EngineIn(FNet->Host(), mode);
    if (!engine || !engine->Valid()) {
      ADD_FAILURE() << "no engine in " << FNet->Host() << ": "
                    << (engine ? engine->InvalidReason() : "setns failed");
      return nullptr;
    }
    return engine;
  }
  static inline std::unique_ptr<TRoutedNet> FNet;
};

std::unique_ptr<TEchoEngine> LoopbackEngine() { return std::make_unique<TEchoEngine>(); }

#define REQUIRE_ENGINE(engine)                                                           \
  if (!(engine)->Valid()) GTEST_SKIP() << "no ICMP socket (run as root or grant "        \
                                          "CAP_NET_RAW): " << (engine)->InvalidReason()

// Pings every target from its own share of threads and checks that each reply names its
// own target and echoes its own data.
void PingManyFromThreads(TEchoEngine& engine, int targets, int threads) {
  std::atomic<int> answered{0}, wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      for (int n = t; n < targets; n += threads) {
        std::uint32_t target = LoopbackTarget(n);
        TEchoReply reply;
        if (engine.SendEcho(target, 255, 5000, Dotted(target), reply) != 1) continue;
        ++answered;
        if (reply.Status != 0 || reply.Address != target || reply.Data != Dotted(target)) ++wrong;
      }
    });
  for (auto& w : workers) w.join();
  EXPECT_EQ(answered, targets);
  EXPECT_EQ(wrong, 0);
}

// Keeps at most `limit` requests in flight from the callbacks themselves, as a pool of
// echo tasks does; returns the number of correct replies. The state is shared with the
// callbacks, as the last of them may still be running when this returns.
struct TChain {
  std::mutex Lock;
  std::condition_variable Finished;
  TEchoEngine* Engine = nullptr;
  int Targets = 0, Next = 0, Done = 0, Good = 0;

  static void StartOne(const std::shared_ptr<TChain>& chain) {
    int n;
    {
      std::lock_guard<std::mutex> guard(chain->Lock);
      if (chain->Next == chain->Targets) return;
      n = chain->Next++;
    }
    std::uint32_t target = LoopbackTarget(n % 60000);
    chain->Engine->SendEchoAsync(target, 64, 5000, "ABC123", [chain, target](const TEchoReply& r) {
      {
        std::lock_guard<std::mutex> guard(chain->Lock);
        ++chain->Done;
        if (r.Replied && r.Status == 0 && r.Address == target) ++chain->Good;
        if (chain->Done == chain->Targets) chain->Finished.notify_all();
      }
      StartOne(chain);
    });
  }
};

int PingChained(TEchoEngine& engine, int targets, int limit) {
  auto chain = std::make_shared<TChain>();
  chain->Engine = &engine;
  chain->Targets = targets;
  for (int i = 0; i < limit; ++i) TChain::StartOne(chain);
  std::unique_lock<std::mutex> guard(chain->Lock);
  chain->Finished.wait_for(guard, std::chrono::seconds(120), [&] { return chain->Done == targets; });
  EXPECT_EQ(chain->Done, targets);
  return chain->Good;
}

}  // namespace

TEST(IcmpStatus, TextsCarryTheCodeInHexadecimal) {
  EXPECT_EQ(IcmpStatusText(11010), "Request Timed Out (ICMP2B02)");
  EXPECT_EQ(IcmpStatusText(0), "Unknown Error (ICMP0000)");
  EXPECT_EQ(IcmpStatusText(11050), "General ICMP Failure (ICMP2B2A)");
  EXPECT_EQ(IcmpStatusText(11003), "Destination Host Unreachable (ICMP2AFB)");
  EXPECT_EQ(IcmpStatusText(11013), "TTL Expired in Transit (ICMP2B05)");
  EXPECT_EQ(IcmpStatusText(11000), "IP_STATUS_BASE (ICMP2AF8)");
  EXPECT_EQ(IcmpStatusText(11023), "Unknown Error (ICMP2B0F)");
  EXPECT_EQ(IcmpStatusText(10), "Unknown Error (ICMP000A)");
  // A failed request's status -3 as it shows in a trace report.
  EXPECT_EQ(IcmpStatusText(-3), "Unknown Error (ICMPFFFFFFFD)");
}

TEST(IcmpStatus, IcmpTypesAndCodesMapToStatuses) {
  EXPECT_EQ(IpStatusFromIcmp(0, 0), IP_SUCCESS);
  EXPECT_EQ(IpStatusFromIcmp(3, 0), IP_DEST_NET_UNREACHABLE);
  EXPECT_EQ(IpStatusFromIcmp(3, 1), IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(IpStatusFromIcmp(3, 2), IP_DEST_PROT_UNREACHABLE);
  EXPECT_EQ(IpStatusFromIcmp(3, 3), IP_DEST_PORT_UNREACHABLE);
  EXPECT_EQ(IpStatusFromIcmp(3, 4), IP_PACKET_TOO_BIG);
  EXPECT_EQ(IpStatusFromIcmp(3, 5), IP_BAD_ROUTE);
  EXPECT_EQ(IpStatusFromIcmp(3, 13), IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(IpStatusFromIcmp(3, 200), IP_GENERAL_FAILURE);
  EXPECT_EQ(IpStatusFromIcmp(4, 0), IP_SOURCE_QUENCH);
  EXPECT_EQ(IpStatusFromIcmp(11, 0), IP_TTL_EXPIRED_TRANSIT);
  EXPECT_EQ(IpStatusFromIcmp(11, 1), IP_TTL_EXPIRED_REASSEM);
  EXPECT_EQ(IpStatusFromIcmp(11, 7), IP_GENERAL_FAILURE);
  EXPECT_EQ(IpStatusFromIcmp(12, 0), IP_PARAM_PROBLEM);
  // Redirects and requests end nothing.
  EXPECT_EQ(IpStatusFromIcmp(5, 1), -1);
  EXPECT_EQ(IpStatusFromIcmp(8, 0), -1);
}

namespace {

// A whole IPv4 datagram carrying icmp, as a raw socket reads it.
std::string IpDatagram(std::string icmp, const char* source, const char* destination,
                       std::uint8_t ttl = 64, std::uint8_t protocol = 1) {
  std::string ip(20, '\0');
  ip[0] = 0x45;
  std::size_t total = 20 + icmp.size();
  ip[2] = static_cast<char>(total >> 8);
  ip[3] = static_cast<char>(total & 0xFF);
  ip[8] = static_cast<char>(ttl);
  ip[9] = static_cast<char>(protocol);
  std::uint32_t s = Ip(source), d = Ip(destination);
  ip.replace(12, 4, reinterpret_cast<const char*>(&s), 4);
  ip.replace(16, 4, reinterpret_cast<const char*>(&d), 4);
  return ip + icmp;
}

std::string WithChecksum(std::string icmp) {
  icmp[2] = icmp[3] = 0;
  std::uint16_t sum = InternetChecksum(icmp);
  icmp[2] = static_cast<char>(sum >> 8);
  icmp[3] = static_cast<char>(sum & 0xFF);
  return icmp;
}

std::string EchoReply(std::uint16_t id, std::uint16_t seq, const std::string& data) {
  std::string icmp = BuildEchoRequest(id, seq, data);
  icmp[0] = 0;
  return WithChecksum(icmp);
}

// An ICMP error that quotes the echo request (id, seq) sent to `to`.
std::string IcmpError(std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq,
                      const char* to, std::size_t quotedIcmpBytes = 8) {
  std::string quoted = IpDatagram(BuildEchoRequest(id, seq, "ABC123"), "192.0.2.2", to);
  quoted.resize(20 + quotedIcmpBytes);
  std::string icmp(8, '\0');
  icmp[0] = static_cast<char>(type);
  icmp[1] = static_cast<char>(code);
  return WithChecksum(icmp + quoted);
}

// A raw ICMP socket in a namespace that sends forged packets to 127.0.0.1 there.
class TForger {
public:
  explicit TForger(const std::string& netns) {
    testsupport::TInNetns inside(netns);
    FFd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    FTo.sin_family = AF_INET;
    FTo.sin_addr.s_addr = Ip("127.0.0.1");
  }
  ~TForger() { Close(); }
  TForger(const TForger&) = delete;
  TForger& operator=(const TForger&) = delete;
  bool Ready() const { return FFd >= 0; }
  void operator()(const std::string& icmp) const {
    sendto(FFd, icmp.data(), icmp.size(), 0, reinterpret_cast<const sockaddr*>(&FTo), sizeof FTo);
  }
  void Close() {
    if (FFd >= 0) close(FFd);
    FFd = -1;
  }

private:
  int FFd = -1;
  sockaddr_in FTo{};
};

}  // namespace

TEST(IcmpPacket, EchoRequestsCarryIdSequencePayloadAndAValidChecksum) {
  for (std::string payload : {std::string("ABC123"), std::string("odd"), std::string(), std::string("\0\xff\x80", 3)}) {
    std::string packet = BuildEchoRequest(0xBEEF, 0x0102, payload);
    ASSERT_EQ(packet.size(), 8 + payload.size());
    EXPECT_EQ(InternetChecksum(packet), 0) << "payload of " << payload.size();
    std::uint16_t id = 0, seq = 0;
    ASSERT_TRUE(ParseEchoRequest(packet, id, seq));
    EXPECT_EQ(id, 0xBEEF);
    EXPECT_EQ(seq, 0x0102);
    EXPECT_EQ(packet.substr(8), payload);
  }
  // RFC 1071 sample words 0001 f203 f4f5 f6f7 sum to ddf2, checksum 220d.
  EXPECT_EQ(InternetChecksum(std::string("\x00\x01\xf2\x03\xf4\xf5\xf6\xf7", 8)), 0x220d);
}

TEST(IcmpPacket, RawDatagramsYieldRepliesAndErrorsAboutEchoRequestsOnly) {
  TIcmpMessage m;
  ASSERT_TRUE(ParseRawIcmp(IpDatagram(EchoReply(7, 9, "ABC123"), "127.1.2.3", "127.0.0.1", 61), m));
  EXPECT_FALSE(m.IsError);
  EXPECT_EQ(m.Status, 0);
  EXPECT_EQ(m.Id, 7);
  EXPECT_EQ(m.Seq, 9);
  EXPECT_EQ(m.Source, Ip("127.1.2.3"));
  EXPECT_EQ(m.Target, Ip("127.1.2.3"));
  EXPECT_EQ(m.Ttl, 61);
  EXPECT_EQ(m.Data, "ABC123");

  ASSERT_TRUE(ParseRawIcmp(IpDatagram(IcmpError(11, 0, 7, 10, "198.51.100.2"), "192.0.2.1", "192.0.2.2"), m));
  EXPECT_TRUE(m.IsError);
  EXPECT_EQ(m.Status, IP_TTL_EXPIRED_TRANSIT);
  EXPECT_EQ(m.Id, 7);
  EXPECT_EQ(m.Seq, 10);
  EXPECT_EQ(m.Source, Ip("192.0.2.1"));
  EXPECT_EQ(m.Target, Ip("198.51.100.2"));
  EXPECT_TRUE(m.Data.empty());

  // Padding after the datagram's stated length is not data.
  ASSERT_TRUE(ParseRawIcmp(IpDatagram(EchoReply(7, 9, "AB"), "127.0.0.1", "127.0.0.1") + "pad", m));
  EXPECT_EQ(m.Data, "AB");

  // Our own request seen on loopback, a redirect, an error about a UDP datagram, a
  // damaged checksum, an error quoting too little to name the request, a datagram that
  // is not ICMP.
  std::string ownRequest = IpDatagram(BuildEchoRequest(7, 9, "ABC123"), "127.0.0.1", "127.0.0.1");
  std::string redirect = IpDatagram(IcmpError(5, 1, 7, 9, "198.51.100.2"), "192.0.2.1", "192.0.2.2");
  std::string aboutUdp = IcmpError(3, 3, 7, 9, "198.51.100.2");
  aboutUdp[8 + 9] = 17;
  aboutUdp = IpDatagram(WithChecksum(aboutUdp), "198.51.100.2", "192.0.2.2");
  std::string damaged = IpDatagram(EchoReply(7, 9, "ABC123"), "127.0.0.1", "127.0.0.1");
  damaged.back() ^= 1;
  std::string cut = IpDatagram(IcmpError(3, 1, 7, 9, "198.51.100.2", 4), "192.0.2.1", "192.0.2.2");
  std::string udp = IpDatagram(EchoReply(7, 9, "ABC123"), "127.0.0.1", "127.0.0.1", 64, 17);
  for (const std::string& bad : {ownRequest, redirect, aboutUdp, damaged, cut, udp})
    EXPECT_FALSE(ParseRawIcmp(bad, m));

  // Every prefix of a good datagram is rejected without reading past its end.
  std::string error = IpDatagram(IcmpError(3, 1, 7, 9, "198.51.100.2", 64), "192.0.2.1", "192.0.2.2");
  for (std::size_t n = 0; n < error.size(); ++n) EXPECT_FALSE(ParseRawIcmp(error.substr(0, n), m)) << n;
  std::string header = IpDatagram(EchoReply(7, 9, "ABC123"), "127.0.0.1", "127.0.0.1");
  header[0] = 0x4F;  // header length beyond the datagram
  EXPECT_FALSE(ParseRawIcmp(header, m));
}

TEST(EchoEngine, WithoutAnyIcmpSocketEveryRequestFailsAtOnceWithAnExplanation) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  int report[2];
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A fresh namespace does not admit any group to datagram ICMP sockets, and the
    // nobody user holds no CAP_NET_RAW.
    std::string failures;
    auto check = [&](bool ok, const char* what) {
      if (!ok) failures += std::string(what) + "; ";
    };
    check(unshare(CLONE_NEWNET) == 0, "unshare");
    check(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0, "drop to nobody");
    {
      TEchoEngine engine;
      check(!engine.Valid(), "engine valid");
      check(engine.SocketKind() == TEchoSocketKind::None, "socket kind");
      check(engine.Description().find("setcap cap_net_raw+ep") != std::string::npos, "setcap hint");
      check(engine.InvalidReason().find("net.ipv4.ping_group_range") != std::string::npos, "sysctl hint");
      TEchoReply reply;
      check(engine.SendEcho(Ip("127.0.0.1"), 255, 1000, "ABC123", reply) == 0, "send result");
      check(!reply.Replied && reply.Status == TEchoEngine::HandleInvalid, "status -3");
      check(GetLastError() == syserr::ERROR_INVALID_HANDLE, "last error");
      bool calledAtOnce = false;
      engine.SendEchoAsync(Ip("127.0.0.1"), 255, 1000, "ABC123",
                           [&](const TEchoReply& r) { calledAtOnce = r.Status == TEchoEngine::HandleInvalid; });
      check(calledAtOnce, "async answered at once");
    }
    [[maybe_unused]] ssize_t n = write(report[1], failures.data(), failures.size());
    _exit(0);
  }
  close(report[1]);
  std::string failures;
  char chunk[256];
  while (ssize_t n = read(report[0], chunk, sizeof chunk)) {
    if (n < 0) break;
    failures.append(chunk, static_cast<std::size_t>(n));
  }
  close(report[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(failures, "");
}

TEST(EchoEngine, LoopbackAddressesAnswerWithTheirOwnAddressAndOurData) {
  auto engine = LoopbackEngine();
  REQUIRE_ENGINE(engine);
  EXPECT_NE(engine->Description().find("ICMP socket"), std::string::npos);
  for (const char* address : {"127.0.0.1", "127.1.2.3"}) {
    TEchoReply reply;
    ASSERT_EQ(engine->SendEcho(Ip(address), 255, 2000, TEchoEngine::DefaultPayload, reply), 1) << address;
    EXPECT_TRUE(reply.Replied);
    EXPECT_EQ(reply.Status, IP_SUCCESS);
    EXPECT_EQ(Dotted(reply.Address), address);
    EXPECT_EQ(reply.Data, "ABC123");
    EXPECT_EQ(reply.Ttl, 64);
    EXPECT_LT(reply.RoundTripTime, 1000u);
    EXPECT_EQ(GetLastError(), 0);
  }
  // Any bytes, an empty payload, and the largest one come back as sent.
  std::string binary;
  for (int i = 0; i < 1400; ++i) binary += static_cast<char>(i * 7);
  for (const std::string& payload : {binary, std::string(), std::string(TEchoEngine::MaxPayload, 'x')}) {
    TEchoReply reply;
    ASSERT_EQ(engine->SendEcho(Ip("127.0.0.1"), 255, 2000, payload, reply), 1) << payload.size();
    EXPECT_EQ(reply.Data, payload);
  }
  EXPECT_EQ(engine->InFlight(), 0u);
}

TEST(EchoEngine, RequestsTheSystemCannotCarryFailAtOnce) {
  auto engine = LoopbackEngine();
  REQUIRE_ENGINE(engine);
  TEchoReply reply;
  EXPECT_EQ(engine->SendEcho(Ip("127.0.0.1"), 0, 1000, "ABC123", reply), 0);
  EXPECT_EQ(reply.Status, IP_BAD_OPTION);
  EXPECT_EQ(GetLastError(), IP_BAD_OPTION);
  EXPECT_EQ(engine->SendEcho(Ip("127.0.0.1"), 256, 1000, "ABC123", reply), 0);
  EXPECT_EQ(reply.Status, IP_BAD_OPTION);
  EXPECT_EQ(engine->SendEcho(Ip("127.0.0.1"), 255, 1000, std::string(TEchoEngine::MaxPayload + 1, 'x'), reply), 0);
  EXPECT_EQ(reply.Status, IP_BAD_REQ);
  EXPECT_EQ(engine->InFlight(), 0u);
}

TEST(EchoEngine, ThousandsOfConcurrentRequestsEachGetTheirOwnReply) {
  auto engine = LoopbackEngine();
  REQUIRE_ENGINE(engine);
  PingManyFromThreads(*engine, 2000, 16);
  // Callbacks that send the next request keep 25 in flight, and 70,000 requests take the
  // sequence numbers round their whole space.
  EXPECT_EQ(PingChained(*engine, 3000, 25), 3000);
  EXPECT_EQ(PingChained(*engine, 70000, 2000), 70000);
  EXPECT_EQ(engine->InFlight(), 0u);
}

TEST_F(EchoEngineNet, RawSocketReportsReplyTtlExpiryUnreachablesAndTimeOuts) {
  auto engine = Engine(Mode::RawOnly);
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->SocketKind(), TEchoSocketKind::Raw);

  TEchoReply reply;
  ASSERT_EQ(engine->SendEcho(Ip(TRoutedNet::Target), 255, 3000, "ABC123", reply), 1);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  EXPECT_EQ(Dotted(reply.Address), TRoutedNet::Target);
  EXPECT_EQ(reply.Ttl, 63);  // one router on the way back
  EXPECT_EQ(reply.Data, "ABC123");

  ASSERT_EQ(engine->SendEcho(Ip(TRoutedNet::Target), 1, 3000, "ABC123", reply), 1);
  EXPECT_EQ(reply.Status, IP_TTL_EXPIRED_TRANSIT);
  EXPECT_EQ(Dotted(reply.Address), TRoutedNet::Router);
  EXPECT_TRUE(reply.Data.empty());
  ASSERT_EQ(engine->SendEcho(Ip(TRoutedNet::Target), 2, 3000, "ABC123", reply), 1);
  EXPECT_EQ(reply.Status, IP_SUCCESS);

  struct {
    const char* Address;
    int Status;
  } unreachables[] = {{TRoutedNet::Unreachable, IP_DEST_HOST_UNREACHABLE},
                      {TRoutedNet::Prohibited, IP_DEST_HOST_UNREACHABLE},
                      {TRoutedNet::NoRoute, IP_DEST_NET_UNREACHABLE}};
  for (const auto& u : unreachables) {
    ASSERT_EQ(engine->SendEcho(Ip(u.Address), 255, 3000, "ABC123", reply), 1) << u.Address;
    EXPECT_EQ(reply.Status, u.Status) << u.Address;
    EXPECT_EQ(Dotted(reply.Address), TRoutedNet::Router) << u.Address;
  }

  // What the system refuses to send comes back at once as the Winsock code of its error.
  EXPECT_EQ(engine->SendEcho(Ip(TRoutedNet::LocalUnreachable), 255, 3000, "ABC123", reply), 0);
  EXPECT_FALSE(reply.Replied);
  EXPECT_EQ(reply.Status, 10065);  // WSAEHOSTUNREACH
  EXPECT_EQ(GetLastError(), 10065);
  EXPECT_EQ(engine->SendEcho(Ip("255.255.255.255"), 255, 3000, "ABC123", reply), 0);
  EXPECT_EQ(reply.Status, syserr::ERROR_ACCESS_DENIED);  // no broadcasts without asking

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(engine->SendEcho(Ip(TRoutedNet::Silent), 255, 400, "ABC123", reply), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_FALSE(reply.Replied);
  EXPECT_EQ(reply.Status, IP_REQ_TIMED_OUT);
  EXPECT_EQ(reply.Address, 0u);
  EXPECT_EQ(GetLastError(), IP_REQ_TIMED_OUT);
}

TEST_F(EchoEngineNet, DatagramSocketWorksLikeTheRawOne) {
  auto engine = Engine(Mode::DatagramOnly);
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->SocketKind(), TEchoSocketKind::Datagram);
  EXPECT_NE(engine->Description().find("datagram"), std::string::npos);

  TEchoReply reply;
  ASSERT_EQ(engine->SendEcho(Ip("127.0.0.1"), 255, 2000, "ABC123", reply), 1);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  EXPECT_EQ(Dotted(reply.Address), "127.0.0.1");
  ASSERT_EQ(engine->SendEcho(Ip(TRoutedNet::Target), 255, 3000, "ABC123", reply), 1);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  EXPECT_EQ(Dotted(reply.Address), TRoutedNet::Target);
  EXPECT_EQ(reply.Ttl, 63);
  EXPECT_EQ(reply.Data, "ABC123");
  // The time-to-live travels with each message, so neighbouring requests keep theirs.
  auto expired = Ask(*engine, Ip(TRoutedNet::Target), 1, 3000);
  auto reached = Ask(*engine, Ip(TRoutedNet::Target), 2, 3000);
  reply = Await(expired);
  EXPECT_EQ(reply.Status, IP_TTL_EXPIRED_TRANSIT);
  EXPECT_EQ(Dotted(reply.Address), TRoutedNet::Router);
  reply = Await(reached);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  EXPECT_EQ(Dotted(reply.Address), TRoutedNet::Target);

  ASSERT_EQ(engine->SendEcho(Ip(TRoutedNet::Unreachable), 255, 3000, "ABC123", reply), 1);
  EXPECT_EQ(reply.Status, IP_DEST_HOST_UNREACHABLE);
  EXPECT_EQ(Dotted(reply.Address), TRoutedNet::Router);

  EXPECT_EQ(engine->SendEcho(Ip(TRoutedNet::Silent), 255, 300, "ABC123", reply), 0);
  EXPECT_EQ(reply.Status, IP_REQ_TIMED_OUT);

  PingManyFromThreads(*engine, 500, 8);
  EXPECT_EQ(engine->InFlight(), 0u);
}

TEST_F(EchoEngineNet, TimeOutsEndInDeadlineOrderAndPendingRequestsEndWithTheEngine) {
  auto engine = Engine(Mode::Auto);
  ASSERT_TRUE(engine);
  std::mutex lock;
  std::vector<std::uint32_t> order;
  std::vector<std::future<TEchoReply>> answers;
  for (std::uint32_t timeout : {900u, 0u, 300u, 600u}) {
    auto promise = std::make_shared<std::promise<TEchoReply>>();
    answers.push_back(promise->get_future());
    engine->SendEchoAsync(Ip(TRoutedNet::Silent), 255, timeout, "ABC123",
                          [&, promise, timeout](const TEchoReply& r) {
                            {
                              std::lock_guard<std::mutex> guard(lock);
                              order.push_back(timeout);
                            }
                            promise->set_value(r);
                          });
  }
  for (auto& answer : answers) EXPECT_EQ(Await(answer).Status, IP_REQ_TIMED_OUT);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{0, 300, 600, 900}));

  // Every one of the 65,536 sequence numbers in flight: the next request is refused, and
  // destroying the engine ends them all.
  std::atomic<int> aborted{0}, other{0};
  for (int i = 0; i < 65536; ++i)
    engine->SendEchoAsync(Ip(TRoutedNet::Silent), 255, 600000, "", [&](const TEchoReply& r) {
      ++(r.Status == 995 ? aborted : other);
    });
  EXPECT_EQ(engine->InFlight(), 65536u);
  TEchoReply reply;
  EXPECT_EQ(engine->SendEcho(Ip("127.0.0.1"), 255, 1000, "ABC123", reply), 0);
  EXPECT_EQ(reply.Status, IP_NO_RESOURCES);
  engine.reset();
  EXPECT_EQ(aborted, 65536);
  EXPECT_EQ(other, 0);
}

TEST_F(EchoEngineNet, ForgedAndStrayIcmpNeverAnswersARequest) {
  auto engine = Engine(Mode::RawOnly);
  ASSERT_TRUE(engine);
  TForger forge(FNet->Host());
  ASSERT_TRUE(forge.Ready());

  auto pending = Ask(*engine, Ip(TRoutedNet::Silent), 255, 600000);
  const std::uint16_t id = engine->Identifier();
  for (int seq = 0; seq < 65536; ++seq) {
    auto s = static_cast<std::uint16_t>(seq);
    forge(EchoReply(id, s, "ABC123"));  // from the wrong address
    // A fresh engine numbers its requests from 0 upwards.
    if (seq >= 4096) continue;
    forge(IcmpError(11, 0, id, s, "192.0.2.98"));  // about another target
    forge(IcmpError(11, 0, static_cast<std::uint16_t>(id + 1), s, TRoutedNet::Silent));
    std::string damaged = IcmpError(3, 1, id, s, TRoutedNet::Silent);
    damaged[1] = 3;  // the checksum no longer fits
    forge(damaged);
    forge(IcmpError(3, 1, id, s, TRoutedNet::Silent, 4));  // quotes too little
    if (seq % 64 == 0) {
      forge(std::string(static_cast<std::size_t>(seq % 37), '\x03'));  // garbage
      forge(BuildEchoRequest(id, s, "ABC123"));                       // a request of ours
    }
  }
  forge.Close();
  // The receive queue is read in order: once this reply is in, every forgery has been seen.
  TEchoReply reply;
  ASSERT_EQ(engine->SendEcho(Ip("127.0.0.1"), 255, 5000, "ABC123", reply), 1);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  EXPECT_EQ(Dotted(reply.Address), "127.0.0.1");
  EXPECT_EQ(engine->InFlight(), 1u);
  engine.reset();
  reply = Await(pending);
  EXPECT_FALSE(reply.Replied);
  EXPECT_EQ(reply.Status, 995);  // ended with the engine, never answered
}

// In a namespace whose kernel ignores echo requests, forged replies from the right
// address with the right numbers but other data are no answer; the true one is.
TEST(EchoEngineOwnNet, ReplyWithOtherDataIsNoAnswer) {
  testsupport::TTestNetns net("cvep-", {"quiet"});
  const std::string ns = net.Name("quiet");
  if (!net.Ready() ||
      !net.Run({"ip -n " + ns + " link set lo up",
                "ip netns exec " + ns + " sysctl -qw net.ipv4.icmp_echo_ignore_all=1"}))
    GTEST_SKIP() << "no namespace: " << net.Error();
  auto engine = EngineIn(ns, Mode::RawOnly);
  ASSERT_TRUE(engine);
  REQUIRE_ENGINE(engine);
  TForger forge(ns);
  ASSERT_TRUE(forge.Ready());
  const std::uint16_t id = engine->Identifier();

  auto first = Ask(*engine, Ip("127.0.0.1"), 255, 600000, "ABC123");  // sequence 0
  forge(EchoReply(id, 0, "XYZ789"));
  forge(EchoReply(id, 0, "ABC12"));
  forge(EchoReply(id, 0, "ABC1234"));
  forge(EchoReply(id, 0, ""));
  // Replies are read in order: once the second request is answered, the forgeries were seen.
  auto second = Ask(*engine, Ip("127.0.0.1"), 255, 600000, "second");  // sequence 1
  forge(EchoReply(id, 1, "second"));
  TEchoReply reply = Await(second);
  EXPECT_TRUE(reply.Replied);
  EXPECT_EQ(reply.Data, "second");
  EXPECT_EQ(engine->InFlight(), 1u) << "a reply with other data answered the first request";

  forge(EchoReply(id, 0, "ABC123"));
  reply = Await(first);
  EXPECT_TRUE(reply.Replied);
  EXPECT_EQ(reply.Status, IP_SUCCESS);
  EXPECT_EQ(reply.Data, "ABC123");
}
