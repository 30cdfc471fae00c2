#pragma once
// A raw HTTP client on one loopback connection, for the web server's tests: sends bytes
// as given, reads responses by their Content-Length.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TReply {
  std::string StatusLine;
  std::map<std::string, std::string> Headers;  // the last value of each name
  std::vector<std::string> HeaderLines;
  std::string Body;
  bool Complete = false;

  std::string Header(const std::string& name) const {
    const auto it = Headers.find(name);
    return it == Headers.end() ? std::string() : it->second;
  }
};

// A raw HTTP client on one loopback connection.
class TRawClient {
public:
  // from: the loopback address the connection comes from; receiveBuffer: the socket's
  // receive buffer in bytes (0: the system's), small for a client that reads slowly.
  explicit TRawClient(int port, const char* from = nullptr, int receiveBuffer = 0) {
    FSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{30, 0};  // a hung server fails the test instead of hanging it
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (receiveBuffer > 0) ::setsockopt(FSocket, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (from) {
      sockaddr_in source{};
      source.sin_family = AF_INET;
      ::inet_pton(AF_INET, from, &source.sin_addr);
      ::bind(FSocket, reinterpret_cast<sockaddr*>(&source), sizeof source);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Connected = ::connect(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TRawClient() { ::close(FSocket); }
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  bool Send(const std::string& bytes) {
    return ::send(FSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  // Reads one response; head: the request was HEAD (no body follows).
  TReply Read(bool head = false) {
    TReply reply;
    std::size_t end;
    while ((end = FPending.find("\r\n\r\n")) == std::string::npos)
      if (!Fill()) return reply;
    std::string headText = FPending.substr(0, end);
    FPending.erase(0, end + 4);
    std::size_t start = 0;
    while (start <= headText.size()) {
      const std::size_t eol = std::min(headText.find("\r\n", start), headText.size());
      const std::string line = headText.substr(start, eol - start);
      if (reply.StatusLine.empty()) {
        reply.StatusLine = line;
      } else {
        reply.HeaderLines.push_back(line);
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) reply.Headers[line.substr(0, colon)] = line.substr(colon + 2);
      }
      start = eol + 2;
    }
    const std::size_t length = head ? 0 : std::stoul(reply.Header("Content-Length").empty() ? "0" : reply.Header("Content-Length"));
    while (FPending.size() < length)
      if (!Fill()) return reply;
    reply.Body = FPending.substr(0, length);
    FPending.erase(0, length);
    reply.Complete = true;
    return reply;
  }

  // Whether the server closed the connection (nothing more arrives).
  bool ClosedByServer() {
    while (Fill()) {
    }
    return FClosed;
  }

  // Reads what arrives within the socket's time limit; the bytes.
  std::size_t Drain() {
    std::size_t total = FPending.size();
    FPending.clear();
    char chunk[65536];
    ssize_t got;
    while ((got = ::recv(FSocket, chunk, sizeof chunk, 0)) > 0) total += static_cast<std::size_t>(got);
    return total;
  }
  void SetReadLimit(int milliseconds) {
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }

  bool Connected = false;

private:
  bool Fill() {
    char chunk[65536];
    const ssize_t got = ::recv(FSocket, chunk, sizeof chunk, 0);
    if (got <= 0) {
      FClosed = got == 0 || errno == ECONNRESET;
      return false;
    }
    FPending.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  int FSocket = -1;
  std::string FPending;
  bool FClosed = false;
};

