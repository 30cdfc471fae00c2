#include "support/THttpTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

constexpr std::size_t MaxRequestHead = 64 * 1024;
constexpr std::size_t MaxRequestBody = 32 * 1024 * 1024;

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return std::string(text);
}

void ParseHead(std::string_view head, THttpRequest& request) {
  std::size_t start = 0;
  bool first = true;
  while (start < head.size()) {
    std::size_t end = head.find('\n', start);
    if (end == std::string_view::npos) end = head.size();
    std::string line = Trim(head.substr(start, end - start));
    start = end + 1;
    if (first) {
      first = false;
      const auto a = line.find(' ');
      const auto b = a == std::string::npos ? std::string::npos : line.find(' ', a + 1);
      request.Method = line.substr(0, a);
      if (a != std::string::npos) request.Target = line.substr(a + 1, b == std::string::npos ? b : b - a - 1);
      if (b != std::string::npos) request.Version = line.substr(b + 1);
      continue;
    }
    const auto colon = line.find(':');
    if (colon != std::string::npos)
      request.Headers.emplace_back(line.substr(0, colon), Trim(std::string_view(line).substr(colon + 1)));
  }
}

const char* Reason(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

std::string THttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : Headers)
    if (SameText(key, name)) return value;
  return {};
}

long THttpConnection::Receive(char* buffer, std::size_t size) {
  if (FSsl) return SSL_read(FSsl, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
  return static_cast<long>(::recv(FFd, buffer, size, 0));
}

bool THttpConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    long n = FSsl ? SSL_write(FSsl, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)))
                  : static_cast<long>(::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL));
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void THttpConnection::Pause(int ms) {
  std::unique_lock lock(FServer.FLock);
  FServer.FStopped.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FServer.FStopping; });
}

void THttpConnection::Hang() {
  char chunk[4096];
  while (Receive(chunk, sizeof chunk) > 0) {
  }
}

bool THttpConnection::ReadRequest() {
  FRequest = THttpRequest{};
  std::size_t headEnd = std::string::npos, skip = 0;
  char chunk[16384];
  for (;;) {
    if ((headEnd = FPending.find("\r\n\r\n")) != std::string::npos) {
      skip = 4;
      break;
    }
    if ((headEnd = FPending.find("\n\n")) != std::string::npos) {
      skip = 2;
      break;
    }
    if (FPending.size() > MaxRequestHead) return false;
    const long n = Receive(chunk, sizeof chunk);
    if (n <= 0) return false;
    FPending.append(chunk, static_cast<std::size_t>(n));
  }
  ParseHead(std::string_view(FPending).substr(0, headEnd), FRequest);
  std::size_t length = 0;
  const std::string declared = FRequest.Header("Content-Length");
  if (!declared.empty()) length = std::min<std::size_t>(std::strtoull(declared.c_str(), nullptr, 10), MaxRequestBody);
  const std::size_t total = headEnd + skip + length;
  while (FPending.size() < total) {
    const long n = Receive(chunk, sizeof chunk);
    if (n <= 0) return false;
    FPending.append(chunk, static_cast<std::size_t>(n));
  }
  FRequest.Body = FPending.substr(headEnd + skip, length);
  FRequest.Raw = FPending.substr(0, total);
  FPending.erase(0, total);
  FServer.Record(FRequest);
  return true;
}

bool THttpConnection::Tunnel(std::uint16_t port) {
  const int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (out < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(out, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(out);
    return false;
  }
  bool ok = FPending.empty() || ::send(out, FPending.data(), FPending.size(), MSG_NOSIGNAL) > 0;
  FPending.clear();
  char chunk[16384];
  while (ok) {
    pollfd fds[3] = {{FFd, POLLIN, 0}, {out, POLLIN, 0}, {FServer.FWake[0], POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0 || fds[2].revents) break;
    for (int i = 0; i < 2 && ok; ++i) {
      if (!fds[i].revents) continue;
      const ssize_t n = ::recv(fds[i].fd, chunk, sizeof chunk, 0);
      ok = n > 0 && ::send(fds[1 - i].fd, chunk, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
    }
  }
  ::close(out);
  return true;
}

THttpTestServer::THttpTestServer(THandler handler) : FHandler(std::move(handler)) {}

THttpTestServer::~THttpTestServer() {
  Stop();
  if (FTls) SSL_CTX_free(FTls);
}

bool THttpTestServer::StartTls(const std::string& certFile, const std::string& keyFile) {
  FTls = SSL_CTX_new(TLS_server_method());
  if (!FTls || SSL_CTX_use_certificate_chain_file(FTls, certFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(FTls, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    ERR_clear_error();
    return false;
  }
  return Start();
}

bool THttpTestServer::Start() {
  std::uint16_t port = 0;
  FListen = ListenOnLoopback(port, 64);
  if (FListen < 0) return false;
  if (::pipe2(FWake, O_CLOEXEC) != 0) {
    ::close(FListen);
    FListen = -1;
    return false;
  }
  FPort = port;
  FThread = std::thread([this] { Run(); });
  return true;
}

void THttpTestServer::Stop() {
  if (!FThread.joinable()) return;
  {
    std::lock_guard lock(FLock);
    FStopping = true;
    for (int fd : FOpen) ::shutdown(fd, SHUT_RDWR);
  }
  FStopped.notify_all();
  char c = 1;
  (void)!::write(FWake[1], &c, 1);
  FThread.join();
  std::list<std::thread> workers;
  {
    std::lock_guard lock(FLock);
    workers.swap(FWorkers);
  }
  for (auto& worker : workers) worker.join();
  for (int* fd : {&FListen, &FWake[0], &FWake[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

std::string THttpTestServer::Url(const std::string& path) const {
  return std::string(FTls ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort) + path;
}

void THttpTestServer::Run() {
  for (;;) {
    pollfd fds[2] = {{FListen, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || fds[1].revents) return;
    const int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(FLock);
    if (FStopping) {
      ::close(fd);
      return;
    }
    ++FConnections;
    FOpen.push_back(fd);
    FWorkers.emplace_back([this, fd] { Serve(fd); });
  }
}

void THttpTestServer::Serve(int fd) {
  THttpConnection connection(*this, fd);
  bool ready = true;
  if (FTls) {
    connection.FSsl = SSL_new(FTls);
    SSL_set_fd(connection.FSsl, fd);
    if (SSL_accept(connection.FSsl) != 1) {
      ready = false;
      std::lock_guard lock(FLock);
      ++FFailedHandshakes;
    }
  }
  if (ready && connection.ReadRequest()) FHandler(connection);
  if (connection.FSsl) {
    if (ready) SSL_shutdown(connection.FSsl);
    SSL_free(connection.FSsl);
    ERR_clear_error();
  }
  std::lock_guard lock(FLock);
  FOpen.erase(std::remove(FOpen.begin(), FOpen.end(), fd), FOpen.end());
  ::close(fd);
}

void THttpTestServer::Record(const THttpRequest& request) {
  std::lock_guard lock(FLock);
  FRequests.push_back(request);
}

std::vector<THttpRequest> THttpTestServer::Requests() const {
  std::lock_guard lock(FLock);
  return FRequests;
}

int THttpTestServer::Connections() const {
  std::lock_guard lock(FLock);
  return FConnections;
}

int THttpTestServer::FailedHandshakes() const {
  std::lock_guard lock(FLock);
  return FFailedHandshakes;
}

std::string THttpTestServer::Response(int status, std::string_view body, std::string_view extraHeaders) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  text += extraHeaders;
  text += "\r\n";
  text += body;
  return text;
}

}  // namespace testsupport
