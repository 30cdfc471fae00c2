#include "support/TSmtpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

std::string WithLineEnd(const std::string& text) {
  if (text.empty() || text.back() == '\n') return text;
  return text + "\r\n";
}

void SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

TSmtpTestServer::TSmtpTestServer(std::string greeting, std::vector<TSmtpStep> script)
    : FGreeting(std::move(greeting)), FScript(std::move(script)) {}

TSmtpTestServer::~TSmtpTestServer() { Stop(); }

bool TSmtpTestServer::Start(std::uint16_t port) {
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListen < 0) return false;
  int one = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListen, 8) != 0 ||
      ::pipe2(FWake, O_CLOEXEC) != 0) {
    ::close(FListen);
    FListen = -1;
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
  FPort = ntohs(addr.sin_port);
  FThread = std::thread([this] { Run(); });
  return true;
}

void TSmtpTestServer::Stop() {
  if (FThread.joinable()) {
    char c = 1;
    (void)!::write(FWake[1], &c, 1);
    FThread.join();
  }
  for (int* fd : {&FListen, &FWake[0], &FWake[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

void TSmtpTestServer::Run() {
  for (;;) {
    pollfd fds[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) return;
    if (fds[1].revents) return;
    int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard lock(FLock);
      ++FConnections;
    }
    Serve(fd);
    ::close(fd);
    std::lock_guard lock(FLock);
    FEnded = true;
  }
}

// False when the peer closed or the server is stopping.
bool TSmtpTestServer::ReadLine(int fd, std::string& buffer, std::string& line) {
  for (;;) {
    auto end = buffer.find('\n');
    if (end != std::string::npos) {
      line = buffer.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      buffer.erase(0, end + 1);
      return true;
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || fds[1].revents) return false;
    char chunk[4096];
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

void TSmtpTestServer::Record(const std::string& line, bool data) {
  std::lock_guard lock(FLock);
  FReceived.push_back(line);
  if (data) FData.push_back(line);
}

void TSmtpTestServer::Serve(int fd) {
  SendAll(fd, WithLineEnd(FGreeting));
  std::string buffer, line;
  for (const TSmtpStep& step : FScript) {
    if (step.Hang) {
      while (ReadLine(fd, buffer, line)) Record(line, false);
      return;
    }
    if (step.Data) {
      do {
        if (!ReadLine(fd, buffer, line)) return;
        Record(line, line != ".");
      } while (line != ".");
    } else {
      if (!ReadLine(fd, buffer, line)) return;
      Record(line, false);
      if (!step.Expect.empty() && line.compare(0, step.Expect.size(), step.Expect) != 0) {
        std::lock_guard lock(FLock);
        FMismatches.push_back("expected " + step.Expect + ", got " + line);
      }
    }
    SendAll(fd, WithLineEnd(step.Reply));
    if (step.Close) return;
  }
  while (ReadLine(fd, buffer, line)) {
    Record(line, false);
    {
      std::lock_guard lock(FLock);
      FMismatches.push_back("unscripted " + line);
    }
    SendAll(fd, "502 unscripted\r\n");
  }
}

std::vector<std::string> TSmtpTestServer::Received() const {
  std::lock_guard lock(FLock);
  return FReceived;
}

std::vector<std::string> TSmtpTestServer::DataLines() const {
  std::lock_guard lock(FLock);
  return FData;
}

std::vector<std::string> TSmtpTestServer::Mismatches() const {
  std::lock_guard lock(FLock);
  return FMismatches;
}

int TSmtpTestServer::Connections() const {
  std::lock_guard lock(FLock);
  return FConnections;
}

bool TSmtpTestServer::ConnectionEnded() const {
  std::lock_guard lock(FLock);
  return FEnded;
}

}  // namespace testsupport
