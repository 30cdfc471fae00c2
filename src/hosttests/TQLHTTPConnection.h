#pragma once
// One connection of the HTTP client: a non-blocking TCP socket, plain or carrying a TLS
// session. Every wait is a poll bounded by the exchange's deadline and cut short by the
// client's wake eventfd, so a silent or hostile peer never holds the calling thread
// longer than the client allows.
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

class TTlsSession;

class TQLHTTPConnection {
public:
  using TClock = std::chrono::steady_clock;
  enum class TWait { Ready, Closed, Woken, TimedOut, Failed };

  TQLHTTPConnection(int wakeFd, TClock::time_point deadline);
  ~TQLHTTPConnection();
  TQLHTTPConnection(const TQLHTTPConnection&) = delete;
  TQLHTTPConnection& operator=(const TQLHTTPConnection&) = delete;

  // address in network byte order. Ready when connected; Failed with Errno() set (also
  // ETIMEDOUT when waitMs passed first); Woken; TimedOut when the deadline came first.
  TWait Connect(std::uint32_t address, int port, int waitMs);
  // Speaks TLS from now on. Failed: TlsError() says why.
  TWait StartTls(const std::string& serverName);
  TWait Send(std::string_view bytes);
  // Waits for bytes and appends them (the plain text, over TLS) to out.
  TWait Receive(std::string& out);
  void Close();

  int Errno() const { return FErrno; }
  const std::string& TlsError() const { return FTlsError; }
  std::time_t PeerNotAfter() const;

  // Waits up to ms for the wake or the deadline, whichever comes first.
  static TWait Sleep(int wakeFd, TClock::time_point deadline, int ms);

private:
  TWait WaitFor(short events);
  TWait SendRaw(std::string_view bytes);
  TWait ReceiveRaw(std::string& out);
  TWait FlushTls();

  int FFd = -1;
  int FWake;
  TClock::time_point FDeadline;
  std::unique_ptr<TTlsSession> FTls;
  int FErrno = 0;
  std::string FTlsError;
};
