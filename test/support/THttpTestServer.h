#pragma once
// A scripted HTTP server on a loopback port, optionally over TLS. Every connection gets a
// thread of its own: the server reads one request, records it and hands it to the
// handler, which answers with raw bytes in as many pieces as it likes (with pauses in
// between), stays silent, tunnels to another port or just returns, which closes the
// connection. Stop (and the destructor) ends every connection and joins its thread.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace testsupport {

struct THttpRequest {
  std::string Method, Target, Version;  // the request line's three parts
  std::vector<std::pair<std::string, std::string>> Headers;  // names as sent, values trimmed
  std::string Body;  // Content-Length bytes after the header
  std::string Raw;   // the request as received, header and body
  // The first header of that name (compared without regard to case); empty when missing.
  std::string Header(std::string_view name) const;
};

class THttpTestServer;

// One accepted connection, as the handler sees it.
class THttpConnection {
public:
  const THttpRequest& Request() const { return FRequest; }
  // False once the peer has gone or the server stops.
  bool Send(std::string_view bytes);
  // Waits ms milliseconds, less when the server stops.
  void Pause(int ms);
  // Sends nothing more: returns when the peer closes or the server stops.
  void Hang();
  // Reads the next request of a kept-alive connection; false when none comes.
  bool ReadRequest();
  // Copies bytes both ways between this connection and 127.0.0.1:port until one side
  // closes (a proxy's CONNECT). False when the port cannot be reached.
  bool Tunnel(std::uint16_t port);

private:
  friend class THttpTestServer;
  THttpConnection(THttpTestServer& server, int fd) : FServer(server), FFd(fd) {}
  long Receive(char* buffer, std::size_t size);

  THttpTestServer& FServer;
  int FFd;
  SSL* FSsl = nullptr;
  std::string FPending;
  THttpRequest FRequest;
};

class THttpTestServer {
public:
  using THandler = std::function<void(THttpConnection&)>;

  explicit THttpTestServer(THandler handler);
  ~THttpTestServer();
  THttpTestServer(const THttpTestServer&) = delete;
  THttpTestServer& operator=(const THttpTestServer&) = delete;

  // Listens on 127.0.0.1 at a free port; false when it cannot. With a certificate and
  // key (PEM files) every connection speaks TLS; a failed handshake is only counted.
  bool Start();
  bool StartTls(const std::string& certFile, const std::string& keyFile);
  void Stop();
  std::uint16_t Port() const { return FPort; }
  // "http://127.0.0.1:<port>" + path ("https://" with TLS).
  std::string Url(const std::string& path = "/") const;

  std::vector<THttpRequest> Requests() const;
  int Connections() const;
  int FailedHandshakes() const;

  // A complete response: status line, Content-Length, the extra header lines (each
  // ending in CR LF) and the body.
  static std::string Response(int status, std::string_view body, std::string_view extraHeaders = {});

private:
  friend class THttpConnection;
  void Run();
  void Serve(int fd);
  void Record(const THttpRequest& request);

  THandler FHandler;
  SSL_CTX* FTls = nullptr;
  int FListen = -1;
  int FWake[2] = {-1, -1};
  std::uint16_t FPort = 0;
  std::thread FThread;
  mutable std::mutex FLock;
  std::condition_variable FStopped;
  bool FStopping = false;
  std::list<std::thread> FWorkers;
  std::vector<int> FOpen;  // connections in progress, shut down by Stop
  std::vector<THttpRequest> FRequests;
  int FConnections = 0;
  int FFailedHandshakes = 0;
};

}  // namespace testsupport
