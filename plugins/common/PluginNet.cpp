#include "PluginNet.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <vector>

#include "corvale_plugin.h"

namespace PluginNet {

namespace {

class TSocket {
public:
  explicit TSocket(int fd) : FFd(fd) {}
  ~TSocket() {
    if (FFd >= 0) ::close(FFd);
  }
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;
  int Fd() const { return FFd; }

private:
  int FFd;
};

// Waits for the events until the deadline; false on time-out.
bool WaitFor(int fd, short events, double deadline) {
  for (;;) {
    const double left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left) + 1);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

TWords ParseWords(const std::string& text, std::initializer_list<const char*> keys) {
  TWords words;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    const std::size_t eq = word.find('=');
    if (eq == std::string::npos) {
      if (!words.First.empty()) words.Error = "\"" + word + "\" is a second name";
      words.First = word;
      continue;
    }
    const std::string key = word.substr(0, eq);
    bool known = false;
    for (const char* k : keys) known = known || key == k;
    if (!known) words.Error = "\"" + key + "\" is not an option";
    words.Options[key] = word.substr(eq + 1);
  }
  return words;
}

bool ParseNumber(const std::string& text, long low, long high, long& value) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stol(text);
  return value >= low && value <= high;
}

bool ServerAddress(const std::string& host, std::uint16_t port, TServer& server, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int code = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (code != 0 || !found) {
    error = "the server " + host + " was not found: " + ::gai_strerror(code);
    return false;
  }
  std::memcpy(&server.Address, found->ai_addr, found->ai_addrlen);
  server.Length = found->ai_addrlen;
  if (found->ai_family == AF_INET)
    std::memcpy(server.IPv4, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, 4);
  ::freeaddrinfo(found);
  return true;
}

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool AskUdp(const TServer& server, const std::string& request, int timeoutMs, std::size_t maxAnswer,
            const TAccept& accept, std::string& error) {
  TSocket s(::socket(server.Address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (s.Fd() < 0 || ::connect(s.Fd(), reinterpret_cast<const sockaddr*>(&server.Address), server.Length) != 0 ||
      ::send(s.Fd(), request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
    error = std::string("the request was not sent: ") + std::strerror(errno);
    return false;
  }
  const double deadline = NowMs() + timeoutMs;
  std::vector<std::uint8_t> buffer(maxAnswer + 1);
  while (WaitFor(s.Fd(), POLLIN, deadline)) {
    const ssize_t got = ::recv(s.Fd(), buffer.data(), buffer.size(), 0);
    if (got < 0) {
      // A refused port shows as an error of the connected socket.
      error = std::string("no answer: ") + std::strerror(errno);
      return false;
    }
    if (static_cast<std::size_t>(got) <= maxAnswer && accept(buffer.data(), static_cast<std::size_t>(got)))
      return true;
  }
  error = "no answer within " + std::to_string(timeoutMs) + " ms";
  return false;
}

bool AskTcpFramed(const TServer& server, const std::string& request, int timeoutMs, std::string& answer,
                  std::string& error) {
  const double deadline = NowMs() + timeoutMs;
  TSocket s(::socket(server.Address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (s.Fd() < 0) {
    error = std::string("no socket: ") + std::strerror(errno);
    return false;
  }
  if (::connect(s.Fd(), reinterpret_cast<const sockaddr*>(&server.Address), server.Length) != 0 &&
      errno != EINPROGRESS) {
    error = std::string("no TCP connection: ") + std::strerror(errno);
    return false;
  }
  if (!WaitFor(s.Fd(), POLLOUT, deadline)) {
    error = "no TCP connection within " + std::to_string(timeoutMs) + " ms";
    return false;
  }
  int soError = 0;
  socklen_t soLength = sizeof soError;
  ::getsockopt(s.Fd(), SOL_SOCKET, SO_ERROR, &soError, &soLength);
  if (soError != 0) {
    error = std::string("no TCP connection: ") + std::strerror(soError);
    return false;
  }
  std::string framed;
  framed += static_cast<char>(request.size() >> 8);
  framed += static_cast<char>(request.size() & 0xFF);
  framed += request;
  std::size_t sent = 0;
  while (sent < framed.size()) {
    if (!WaitFor(s.Fd(), POLLOUT, deadline)) break;
    const ssize_t put = ::send(s.Fd(), framed.data() + sent, framed.size() - sent, MSG_NOSIGNAL);
    if (put <= 0) break;
    sent += static_cast<std::size_t>(put);
  }
  if (sent < framed.size()) {
    error = "the request was not sent over TCP";
    return false;
  }
  std::string received;
  std::size_t want = 2;
  char chunk[4096];
  while (received.size() < want) {
    if (!WaitFor(s.Fd(), POLLIN, deadline)) {
      error = "no whole TCP answer within " + std::to_string(timeoutMs) + " ms";
      return false;
    }
    const ssize_t got = ::recv(s.Fd(), chunk, std::min(sizeof chunk, want - received.size()), 0);
    if (got <= 0) {
      error = "the TCP answer was cut short";
      return false;
    }
    received.append(chunk, static_cast<std::size_t>(got));
    if (want == 2 && received.size() == 2) {
      want = 2 + (static_cast<std::uint8_t>(received[0]) << 8 | static_cast<std::uint8_t>(received[1]));
    }
  }
  answer = received.substr(2);
  return true;
}

void CopyText(char* buffer, std::size_t size, const std::string& text) {
  if (!buffer || size == 0) return;
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

std::int32_t DescribePlugin(const char* pluginName, char* vendor, char* name, std::int32_t* count) {
  CopyText(vendor, CVL_NAME_SIZE, "Corvale");
  CopyText(name, CVL_NAME_SIZE, pluginName);
  *count = 1;
  return 0;
}

std::int32_t DescribeTest(std::int32_t test, const char* identifier, const char* testName, char* identifierOut,
                          char* nameOut, std::int32_t* kind, std::int32_t* size) {
  if (test != 0) return 1;
  CopyText(identifierOut, CVL_NAME_SIZE, identifier);
  CopyText(nameOut, CVL_NAME_SIZE, testName);
  *kind = CVL_PARAM_TEXT;
  *size = 0;
  return 0;
}

std::int32_t CheckAnswer(const std::string& error, const char* usage, char* buffer) {
  if (error.empty()) return 1;
  CopyText(buffer, CVL_NAME_SIZE, error + " (" + usage + ")");
  return 0;
}

bool StartTest(const std::string& parameterError, const char* address, std::uint16_t port, TServer& server,
               char* message, std::uint8_t* resolved) {
  if (!parameterError.empty()) {
    CopyText(message, CVL_MESSAGE_SIZE, "Parameter: " + parameterError);
    return false;
  }
  std::string error;
  if (!ServerAddress(address ? address : "", port, server, error)) {
    CopyText(message, CVL_MESSAGE_SIZE, error);
    return false;
  }
  std::memcpy(resolved, server.IPv4, 4);
  return true;
}

}  // namespace PluginNet
