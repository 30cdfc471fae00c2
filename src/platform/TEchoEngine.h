#pragma once
// The program's one ICMP echo handle: a single socket shared by every echo test, trace
// step and range ping, with one receive thread that hands each reply or ICMP error to
// the request it answers and ends requests whose time-out has passed.
//
// The owner (the monitor) creates one and hands it to the workers; it is thread-safe.
// Requests either block the calling thread (SendEcho) or call back when done
// (SendEchoAsync), so that thousands of echo tests can wait at once without a thread
// each. An echo reply counts only when it comes from the address the request went to,
// and an ICMP error only when it quotes that request: on a raw socket every echo reply
// of the computer arrives, and identifiers of other programs may collide with ours. An
// echo reply must also carry the data the request sent.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/FaultReport.h"
#include "platform/IcmpStatus.h"

struct TIcmpMessage;

// What became of one echo request.
struct TEchoReply {
  // True when a reply or an ICMP error about the request came back; Status is then the
  // reply's IP status (0 for an echo reply, 11013 for a router's time exceeded ...).
  // False when nothing came: Status is then the reason, 11010 (timed out), another
  // IP status, a system error code (the request could not be sent) or
  // TEchoEngine::HandleInvalid.
  bool Replied = false;
  int Status = -1;
  std::uint32_t Address = 0;       // who answered, network byte order; 0 without reply
  std::uint32_t RoundTripTime = 0; // ms, whole milliseconds as measured by the kernel
  int Ttl = 0;                     // time-to-live of the answer's IP header; 0 when unknown
  std::string Data;                // data echoed by an echo reply
};

using TEchoCallback = std::function<void(const TEchoReply&)>;

enum class TEchoSocketKind { None, Datagram, Raw };

struct msghdr;

class TEchoEngine {
public:
  // Status of every request of an engine that has no socket.
  static constexpr int HandleInvalid = -3;
  static constexpr const char* DefaultPayload = "ABC123";
  // Largest payload an IPv4 echo request can carry.
  static constexpr std::size_t MaxPayload = 65507;

  enum class TOpenMode { Auto, DatagramOnly, RawOnly };

  // Opens the socket in the calling thread's network namespace: a datagram ICMP socket
  // when net.ipv4.ping_group_range admits the process's group, else a raw one (root or
  // CAP_NET_RAW). When neither opens the engine is invalid (see InvalidReason).
  explicit TEchoEngine(TOpenMode mode = TOpenMode::Auto);
  // Pending requests end with ERROR_OPERATION_ABORTED. Never destroy the engine from
  // one of its own callbacks.
  ~TEchoEngine();
  TEchoEngine(const TEchoEngine&) = delete;
  TEchoEngine& operator=(const TEchoEngine&) = delete;

  bool Valid() const { return FSocket >= 0; }
  TEchoSocketKind SocketKind() const { return FKind; }
  // One line for the event log: which socket is in use, or why there is none and how to
  // grant the right to open one.
  std::string Description() const;
  // Empty when valid.
  const std::string& InvalidReason() const { return FInvalidReason; }
  // The echo identifier of our requests (the kernel's choice for a datagram socket).
  std::uint16_t Identifier() const { return FIdentifier; }
  // Requests waiting for an answer.
  std::size_t InFlight() const;
  // Receives what a callback throws: the engine goes on with the other requests. Any
  // thread; the hook is called on the receive thread or the requesting one.
  void SetFaultHook(TFaultHook hook);

  // Sends one echo request to target (network byte order) with the time-to-live ttl
  // (1..255) and waits at most timeoutMs for the answer, like the system's IcmpSendEcho:
  // 1 when a reply or an ICMP error came (reply.Replied), else 0 with the reason in
  // reply.Status and in the calling thread's last error (11010 after the time-out).
  int SendEcho(std::uint32_t target, int ttl, std::uint32_t timeoutMs, const std::string& payload,
               TEchoReply& reply);
  // The same without blocking: done is called exactly once, on the engine's receive
  // thread, or on the calling thread before SendEchoAsync returns when the request
  // cannot be sent. done must be short; it may send further requests.
  void SendEchoAsync(std::uint32_t target, int ttl, std::uint32_t timeoutMs, std::string payload,
                     TEchoCallback done);

private:
  using TClock = std::chrono::steady_clock;
  struct TPending {
    std::uint32_t Target = 0;
    TClock::time_point Deadline;
    std::uint64_t Ticket = 0;
    std::int64_t SentNs = 0;  // wall clock, to compare with the kernel's receive stamps
    std::string Payload;      // what an echo reply must carry back
    TEchoCallback Done;
  };
  using TDeadline = std::pair<TClock::time_point, std::uint16_t>;

  bool OpenDatagram(std::string& error);
  bool OpenRaw(std::string& error);
  void ReceiveLoop();
  void ReadReplies();
  void ReadErrors();
  void Deliver(const TIcmpMessage& message, std::int64_t receivedNs);
  void ExpireDue();
  // One sendmsg, sent again once when it only reported an earlier request's error.
  bool SendOnce(msghdr& msg);
  int Transmit(std::uint16_t seq, std::uint32_t target, int ttl, const std::string& payload);
  std::unique_ptr<TPending> TakeLocked(std::uint16_t seq);
  void Wake();
  void Call(const TEchoCallback& done, const TEchoReply& reply) const;

  int FSocket = -1;
  int FWakeFd = -1;
  TEchoSocketKind FKind = TEchoSocketKind::None;
  std::uint16_t FIdentifier = 0;
  std::string FInvalidReason;
  // Per-message TTL refused by the kernel: set it on the socket under FSendLock instead.
  std::atomic<bool> FTtlByOption = false;
  std::mutex FSendLock;

  mutable std::mutex FLock;
  std::vector<std::unique_ptr<TPending>> FPending;  // by sequence number
  std::set<TDeadline> FDeadlines;
  std::size_t FInFlight = 0;
  std::uint16_t FNextSeq = 0;
  std::uint64_t FNextTicket = 0;
  TClock::time_point FSleepUntil = TClock::time_point::max();
  bool FStopping = false;
  std::string FBuffer;  // receive thread only
  mutable std::mutex FHookLock;
  TFaultHook FFaultHook;
  std::thread FReceiver;
};
