#include "platform/TEchoEngine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <future>
#include <string_view>

#include "platform/IcmpPacket.h"
#include "platform/SysErrors.h"

namespace {

constexpr std::size_t SequenceSpace = 65536;
// Room for a burst of thousands of replies while the receive thread catches up.
constexpr int ReceiveBufferBytes = 16 * 1024 * 1024;
// Replies read in one go before due time-outs are looked at again.
constexpr int ReadBatch = 512;

std::int64_t WallNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::string ErrnoText(int err) { return std::strerror(err); }

void EnableOption(int fd, int level, int name) {
  int on = 1;
  setsockopt(fd, level, name, &on, sizeof on);
}

void EnlargeReceiveBuffer(int fd) {
  int bytes = ReceiveBufferBytes;
  // The forced size needs CAP_NET_ADMIN; without it the system's maximum applies.
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

std::string ProgramPath() {
  char path[PATH_MAX] = {};
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "<program>";
}

std::uint16_t RandomIdentifier() {
  std::uint16_t id = 0;
  if (getrandom(&id, sizeof id, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof id)) return id;
  return static_cast<std::uint16_t>(getpid() ^ WallNs());
}

std::uint32_t RoundTripMs(std::int64_t sentNs, std::int64_t receivedNs) {
  return receivedNs > sentNs ? static_cast<std::uint32_t>((receivedNs - sentNs) / 1000000) : 0;
}

// Kernel receive stamp and IP time-to-live from a received message's control data.
void ReadControl(msghdr& msg, std::int64_t& receivedNs, int& ttl) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      receivedNs = static_cast<std::int64_t>(stamp.tv_sec) * 1000000000 + stamp.tv_nsec;
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
      std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
    }
  }
}

}  // namespace

TEchoEngine::TEchoEngine(TOpenMode mode) : FPending(SequenceSpace), FBuffer(65536, '\0') {
  std::string datagramError = "not tried", rawError = "not tried";
  bool open = mode != TOpenMode::RawOnly && OpenDatagram(datagramError);
  if (!open && mode != TOpenMode::DatagramOnly) open = OpenRaw(rawError);
  if (!open) {
    FInvalidReason =
        "No ICMP socket could be opened (datagram ICMP socket: " + datagramError +
        "; raw ICMP socket: " + rawError +
        "), so echo requests cannot be sent. Give the program the capability CAP_NET_RAW "
        "(as root: setcap cap_net_raw+ep " + ProgramPath() +
        ") or admit its group to datagram ICMP sockets with the sysctl "
        "net.ipv4.ping_group_range (for example: sysctl -w net.ipv4.ping_group_range=\"0 "
        "2147483647\").";
    return;
  }
  FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FWakeFd >= 0) {
    try {
      FReceiver = std::thread(&TEchoEngine::ReceiveLoop, this);
      return;
    } catch (const std::exception& e) {
      FInvalidReason = std::string("The ICMP receive thread could not be started: ") + e.what();
    }
  } else {
    FInvalidReason = "The ICMP receive thread could not be woken: " + ErrnoText(errno);
  }
  close(FSocket);
  FSocket = -1;
  FKind = TEchoSocketKind::None;
}

TEchoEngine::~TEchoEngine() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStopping = true;
  }
  if (FReceiver.joinable()) {
    Wake();
    FReceiver.join();
  }
  std::vector<std::unique_ptr<TPending>> left;
  for (auto& slot : FPending)
    if (slot) left.push_back(std::move(slot));
  TEchoReply aborted;
  aborted.Status = syserr::ERROR_OPERATION_ABORTED;
  for (auto& pending : left) Call(pending->Done, aborted);
  if (FWakeFd >= 0) close(FWakeFd);
  if (FSocket >= 0) close(FSocket);
}

bool TEchoEngine::OpenDatagram(std::string& error) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  // Binding makes the kernel choose the identifier now, so it can be reported.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  socklen_t length = sizeof local;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    error = ErrnoText(errno);
    close(fd);
    return false;
  }
  // ICMP errors reach a datagram socket only through its error queue.
  EnableOption(fd, IPPROTO_IP, IP_RECVERR);
  EnableOption(fd, IPPROTO_IP, IP_RECVTTL);
  EnableOption(fd, SOL_SOCKET, SO_TIMESTAMPNS);
  EnlargeReceiveBuffer(fd);
  FSocket = fd;
  FKind = TEchoSocketKind::Datagram;
  FIdentifier = ntohs(local.sin_port);
  return true;
}

bool TEchoEngine::OpenRaw(std::string& error) {
  int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    error = ErrnoText(errno);
    return false;
  }
  // Only the types that can answer an echo request; this keeps our own requests on
  // loopback, and everyone else's, out of the queue.
  icmp_filter filter{};
  filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
                  (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
  setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  EnableOption(fd, SOL_SOCKET, SO_TIMESTAMPNS);
  EnlargeReceiveBuffer(fd);
  FSocket = fd;
  FKind = TEchoSocketKind::Raw;
  FIdentifier = RandomIdentifier();
  return true;
}

std::string TEchoEngine::Description() const {
  char id[8];
  std::snprintf(id, sizeof id, "%04X", FIdentifier);
  switch (FKind) {
    case TEchoSocketKind::Datagram:
      return std::string("ICMP echo through a datagram ICMP socket (identifier ") + id + ")";
    case TEchoSocketKind::Raw:
      return std::string("ICMP echo through a raw ICMP socket (identifier ") + id + ")";
    case TEchoSocketKind::None: break;
  }
  return FInvalidReason;
}

void TEchoEngine::SetFaultHook(TFaultHook hook) {
  std::lock_guard<std::mutex> guard(FHookLock);
  FFaultHook = std::move(hook);
}

void TEchoEngine::Call(const TEchoCallback& done, const TEchoReply& reply) const {
  // A failing callback must not take the receive thread, and with it every other
  // request, down.
  try {
    if (done) done(reply);
  } catch (...) {
    TFaultHook hook;
    {
      std::lock_guard<std::mutex> guard(FHookLock);
      hook = FFaultHook;
    }
    ReportFault(hook, "echo callback", CurrentExceptionText());
  }
}

std::size_t TEchoEngine::InFlight() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FInFlight;
}

int TEchoEngine::SendEcho(std::uint32_t target, int ttl, std::uint32_t timeoutMs,
                          const std::string& payload, TEchoReply& reply) {
  auto promise = std::make_shared<std::promise<TEchoReply>>();
  std::future<TEchoReply> result = promise->get_future();
  SendEchoAsync(target, ttl, timeoutMs, payload,
                [promise](const TEchoReply& r) { promise->set_value(r); });
  reply = result.get();
  if (reply.Replied)
    SetLastError(syserr::ERROR_SUCCESS);
  else
    SetLastError(reply.Status == HandleInvalid ? syserr::ERROR_INVALID_HANDLE : reply.Status);
  return reply.Replied ? 1 : 0;
}

void TEchoEngine::SendEchoAsync(std::uint32_t target, int ttl, std::uint32_t timeoutMs,
                                std::string payload, TEchoCallback done) {
  TEchoReply failed;
  auto fail = [&](int status) {
    failed.Status = status;
    Call(done, failed);
  };
  if (!Valid()) return fail(HandleInvalid);
  if (ttl < 1 || ttl > 255) return fail(ipstatus::IP_BAD_OPTION);
  if (payload.size() > MaxPayload) return fail(ipstatus::IP_BAD_REQ);

  auto pending = std::make_unique<TPending>();
  pending->Target = target;
  std::uint16_t seq = 0;
  std::uint64_t ticket = 0;
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FStopping)
      failed.Status = syserr::ERROR_OPERATION_ABORTED;
    else if (FInFlight == SequenceSpace)
      failed.Status = ipstatus::IP_NO_RESOURCES;
    else {
      // Sequence numbers go round the whole 16-bit space before one is used again, so a
      // late answer to an ended request almost never meets a new one; those in flight are
      // skipped.
      while (FPending[FNextSeq]) ++FNextSeq;
      seq = FNextSeq++;
      ticket = ++FNextTicket;
      pending->Ticket = ticket;
      pending->Payload = payload;
      pending->Done = std::move(done);
      pending->Deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
      pending->SentNs = WallNs();
      FDeadlines.emplace(pending->Deadline, seq);
      if (pending->Deadline < FSleepUntil) {
        FSleepUntil = pending->Deadline;
        wake = true;
      }
      FPending[seq] = std::move(pending);
      ++FInFlight;
    }
  }
  if (!ticket) return Call(done, failed);
  if (wake) Wake();

  int err = Transmit(seq, target, ttl, payload);
  if (!err) return;
  std::unique_ptr<TPending> mine;
  {
    std::lock_guard<std::mutex> guard(FLock);
    // Unless the request has ended already (a time-out of 0 can beat us here).
    if (FPending[seq] && FPending[seq]->Ticket == ticket) mine = TakeLocked(seq);
  }
  if (mine) {
    failed.Status = WinErrorFromErrno(err);
    Call(mine->Done, failed);
  }
}

int TEchoEngine::Transmit(std::uint16_t seq, std::uint32_t target, int ttl,
                          const std::string& payload) {
  std::string packet = BuildEchoRequest(FIdentifier, seq, payload);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = target;
  iovec iov{packet.data(), packet.size()};
  msghdr msg{};
  msg.msg_name = &to;
  msg.msg_namelen = sizeof to;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (!FTtlByOption) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_TTL;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &ttl, sizeof ttl);
    if (SendOnce(msg)) return 0;
    // Kernels that do not take the time-to-live per message refuse the control data.
    if (errno != EINVAL || FKind != TEchoSocketKind::Datagram) return errno;
    FTtlByOption = true;
    msg.msg_control = nullptr;
    msg.msg_controllen = 0;
  }
  std::lock_guard<std::mutex> guard(FSendLock);
  if (setsockopt(FSocket, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) return errno;
  return SendOnce(msg) ? 0 : errno;
}

bool TEchoEngine::SendOnce(msghdr& msg) {
  if (sendmsg(FSocket, &msg, MSG_NOSIGNAL) >= 0) return true;
  // An ICMP error for an earlier request (time exceeded, unreachable) is also left on a
  // datagram socket as a pending error, which the next send reports and clears. That
  // request learns of it from the error queue; this one is sent again.
  switch (errno) {
    case EHOSTUNREACH: case ENETUNREACH: case EHOSTDOWN: case ECONNREFUSED: case EPROTO: case EMSGSIZE:
      return sendmsg(FSocket, &msg, MSG_NOSIGNAL) >= 0;
    default:
      return false;
  }
}

std::unique_ptr<TEchoEngine::TPending> TEchoEngine::TakeLocked(std::uint16_t seq) {
  std::unique_ptr<TPending> pending = std::move(FPending[seq]);
  if (pending) {
    FDeadlines.erase({pending->Deadline, seq});
    --FInFlight;
  }
  return pending;
}

void TEchoEngine::Wake() {
  std::uint64_t one = 1;
  // A full counter already wakes the receiver; nothing to do on failure.
  [[maybe_unused]] ssize_t written = write(FWakeFd, &one, sizeof one);
}

void TEchoEngine::ReceiveLoop() {
  // Named for top, perf and the soak benchmark's share per thread.
  pthread_setname_np(pthread_self(), "echo receive");
  for (;;) {
    int waitMs = -1;
    {
      std::lock_guard<std::mutex> guard(FLock);
      if (FStopping) return;
      FSleepUntil = FDeadlines.empty() ? TClock::time_point::max() : FDeadlines.begin()->first;
      if (!FDeadlines.empty()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(FSleepUntil - TClock::now()).count();
        waitMs = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
      }
    }
    pollfd fds[2] = {{FSocket, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
    if (poll(fds, 2, waitMs) < 0) continue;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] ssize_t got = read(FWakeFd, &count, sizeof count);
    }
    if (fds[0].revents & POLLERR) ReadErrors();
    if (fds[0].revents & POLLIN) ReadReplies();
    ExpireDue();
  }
}

void TEchoEngine::ReadReplies() {
  std::string& buffer = FBuffer;
  for (int i = 0; i < ReadBatch; ++i) {
    sockaddr_in from{};
    iovec iov{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[256];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t length = recvmsg(FSocket, &msg, MSG_DONTWAIT);
    if (length < 0) {
      // A pending socket error is reported once by a read; the queue may hold more.
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      continue;
    }
    std::int64_t receivedNs = 0;
    int ttl = 0;
    ReadControl(msg, receivedNs, ttl);
    if (!receivedNs) receivedNs = WallNs();
    std::string_view bytes(buffer.data(), static_cast<std::size_t>(length));
    TIcmpMessage message;
    if (FKind == TEchoSocketKind::Raw) {
      if (!ParseRawIcmp(bytes, message) || message.Id != FIdentifier) continue;
    } else {
      if (!ParseEchoReply(bytes, message)) continue;
      message.Source = message.Target = from.sin_addr.s_addr;
      message.Ttl = ttl;
    }
    Deliver(message, receivedNs);
  }
}

void TEchoEngine::ReadErrors() {
  char buffer[2048];
  for (int i = 0; i < ReadBatch; ++i) {
    sockaddr_in original{};
    iovec iov{buffer, sizeof buffer};
    alignas(cmsghdr) char control[512];
    msghdr msg{};
    msg.msg_name = &original;
    msg.msg_namelen = sizeof original;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t length = recvmsg(FSocket, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (length < 0) break;
    std::int64_t receivedNs = 0;
    int ttl = 0;
    ReadControl(msg, receivedNs, ttl);
    if (!receivedNs) receivedNs = WallNs();
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
      sock_extended_err error{};
      std::memcpy(&error, CMSG_DATA(c), sizeof error);
      if (error.ee_origin != SO_EE_ORIGIN_ICMP) continue;
      TIcmpMessage message;
      message.Status = IpStatusFromIcmp(error.ee_type, error.ee_code);
      std::string_view request(buffer, std::min(static_cast<std::size_t>(length), sizeof buffer));
      if (message.Status <= 0 || !ParseEchoRequest(request, message.Id, message.Seq)) continue;
      // The offender's address follows the extended error in the same control message.
      sockaddr_in offender{};
      std::size_t room = c->cmsg_len - CMSG_LEN(sizeof error);
      if (c->cmsg_len >= CMSG_LEN(sizeof error) && room >= sizeof offender)
        std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
      message.IsError = true;
      message.Source = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
      message.Target = original.sin_addr.s_addr;
      Deliver(message, receivedNs);
    }
  }
  // The same error is also left pending on the socket; clear it so poll stops reporting it.
  int pendingError = 0;
  socklen_t size = sizeof pendingError;
  getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &pendingError, &size);
}

void TEchoEngine::Deliver(const TIcmpMessage& message, std::int64_t receivedNs) {
  std::unique_ptr<TPending> pending;
  {
    std::lock_guard<std::mutex> guard(FLock);
    TPending* candidate = FPending[message.Seq].get();
    // An answer counts only for a request to the address it is about: a stray reply that
    // happens to carry a sequence number in flight finds the wrong target, or other data.
    if (!candidate || candidate->Target != message.Target) return;
    if (!message.IsError && message.Data != candidate->Payload) return;
    pending = TakeLocked(message.Seq);
  }
  TEchoReply reply;
  reply.Replied = true;
  reply.Status = message.Status;
  reply.Address = message.Source;
  reply.RoundTripTime = RoundTripMs(pending->SentNs, receivedNs);
  reply.Ttl = message.Ttl;
  if (!message.IsError) reply.Data.assign(message.Data);
  Call(pending->Done, reply);
}

void TEchoEngine::ExpireDue() {
  std::vector<std::unique_ptr<TPending>> due;
  {
    std::lock_guard<std::mutex> guard(FLock);
    auto now = TClock::now();
    while (!FDeadlines.empty() && FDeadlines.begin()->first <= now)
      due.push_back(TakeLocked(FDeadlines.begin()->second));
  }
  TEchoReply timedOut;
  timedOut.Status = ipstatus::IP_REQ_TIMED_OUT;
  for (auto& pending : due) Call(pending->Done, timedOut);
}
