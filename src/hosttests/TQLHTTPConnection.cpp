#include "hosttests/TQLHTTPConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/TTlsSession.h"

namespace {

constexpr std::size_t ReceiveChunk = 64 * 1024;

int MsUntil(TQLHTTPConnection::TClock::time_point deadline) {
  using namespace std::chrono;
  const auto left = ceil<milliseconds>(deadline - TQLHTTPConnection::TClock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

}  // namespace

TQLHTTPConnection::TQLHTTPConnection(int wakeFd, TClock::time_point deadline) : FWake(wakeFd), FDeadline(deadline) {}

TQLHTTPConnection::~TQLHTTPConnection() { Close(); }

void TQLHTTPConnection::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

std::time_t TQLHTTPConnection::PeerNotAfter() const { return FTls ? FTls->PeerNotAfter() : 0; }

TQLHTTPConnection::TWait TQLHTTPConnection::Sleep(int wakeFd, TClock::time_point deadline, int ms) {
  const int left = MsUntil(deadline);
  pollfd wake{wakeFd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&wake, 1, std::min(ms, left));
  } while (ready < 0 && errno == EINTR);
  if (ready > 0) return TWait::Woken;
  return ms >= left ? TWait::TimedOut : TWait::Ready;
}

TQLHTTPConnection::TWait TQLHTTPConnection::WaitFor(short events) {
  pollfd fds[2] = {{FFd, events, 0}, {FWake, POLLIN, 0}};
  for (;;) {
    const int left = MsUntil(FDeadline);
    if (left <= 0) return TWait::TimedOut;
    const int ready = ::poll(fds, 2, left);
    if (ready < 0) {
      if (errno == EINTR) continue;
      FErrno = errno;
      return TWait::Failed;
    }
    if (fds[1].revents) return TWait::Woken;
    if (fds[0].revents) return TWait::Ready;
  }
}

TQLHTTPConnection::TWait TQLHTTPConnection::Connect(std::uint32_t address, int port, int waitMs) {
  Close();
  FErrno = 0;
  if (port < 1 || port > 65535) {
    FErrno = EADDRNOTAVAIL;
    return TWait::Failed;
  }
  FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FFd < 0) {
    FErrno = errno;
    return TWait::Failed;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = address;
  if (::connect(FFd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return TWait::Ready;
  if (errno != EINPROGRESS) {
    FErrno = errno;
    return TWait::Failed;
  }
  const auto saved = FDeadline;
  const bool ownWait = TClock::now() + std::chrono::milliseconds(waitMs) < FDeadline;
  if (ownWait) FDeadline = TClock::now() + std::chrono::milliseconds(waitMs);
  TWait wait = WaitFor(POLLOUT);
  FDeadline = saved;
  if (wait == TWait::TimedOut && ownWait) {
    FErrno = ETIMEDOUT;
    return TWait::Failed;
  }
  if (wait != TWait::Ready) return wait;
  int err = 0;
  socklen_t length = sizeof err;
  if (::getsockopt(FFd, SOL_SOCKET, SO_ERROR, &err, &length) != 0) err = errno;
  if (err == 0) return TWait::Ready;
  FErrno = err;
  return TWait::Failed;
}

TQLHTTPConnection::TWait TQLHTTPConnection::SendRaw(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const TWait wait = WaitFor(POLLOUT);
      if (wait != TWait::Ready) return wait;
      continue;
    }
    FErrno = n < 0 ? errno : EPIPE;
    return TWait::Failed;
  }
  return TWait::Ready;
}

TQLHTTPConnection::TWait TQLHTTPConnection::ReceiveRaw(std::string& out) {
  char chunk[ReceiveChunk];
  for (;;) {
    const ssize_t n = ::recv(FFd, chunk, sizeof chunk, 0);
    if (n > 0) {
      out.append(chunk, static_cast<std::size_t>(n));
      return TWait::Ready;
    }
    if (n == 0) return TWait::Closed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      FErrno = errno;
      return TWait::Failed;
    }
    const TWait wait = WaitFor(POLLIN);
    if (wait != TWait::Ready) return wait;
  }
}

TQLHTTPConnection::TWait TQLHTTPConnection::FlushTls() {
  if (!FTls->HasNetworkOutput()) return TWait::Ready;
  return SendRaw(FTls->TakeNetworkOutput());
}

TQLHTTPConnection::TWait TQLHTTPConnection::StartTls(const std::string& serverName) {
  FTls = std::make_unique<TTlsSession>(serverName);
  for (;;) {
    const TTlsSession::TStep step = FTls->Handshake();
    // The client's last handshake message goes out even when the handshake is done.
    TWait wait = FlushTls();
    if (wait != TWait::Ready) return wait;
    if (step == TTlsSession::TStep::Done) return TWait::Ready;
    if (step == TTlsSession::TStep::Failed) {
      FTlsError = FTls->ErrorText();
      return TWait::Failed;
    }
    std::string raw;
    wait = ReceiveRaw(raw);
    if (wait == TWait::Closed || wait == TWait::Failed) {
      FTlsError = "TLS error: the server closed the connection during the handshake";
      return TWait::Failed;
    }
    if (wait != TWait::Ready) return wait;
    FTls->FeedNetwork(raw);
  }
}

TQLHTTPConnection::TWait TQLHTTPConnection::Send(std::string_view bytes) {
  if (!FTls) return SendRaw(bytes);
  if (!FTls->WritePlain(bytes)) return TWait::Failed;
  return FlushTls();
}

TQLHTTPConnection::TWait TQLHTTPConnection::Receive(std::string& out) {
  if (!FTls) return ReceiveRaw(out);
  for (;;) {
    std::string plain = FTls->ReadPlain();
    if (FTls->HasNetworkOutput()) {
      const TWait wait = FlushTls();
      if (wait != TWait::Ready) return wait;
    }
    if (!plain.empty()) {
      out += plain;
      return TWait::Ready;
    }
    if (FTls->PeerClosed()) return TWait::Closed;
    if (FTls->Failed()) return TWait::Failed;
    std::string raw;
    const TWait wait = ReceiveRaw(raw);
    if (wait != TWait::Ready) return wait;
    FTls->FeedNetwork(raw);
  }
}
