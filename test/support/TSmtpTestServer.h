#pragma once
// A scripted SMTP server on a loopback port for exact dialogues. A thread with blocking
// sockets accepts connections one after another; each connection gets the greeting and
// then plays the script from its first step. Everything received is recorded. With a
// certificate (UseTls) the server speaks TLS from the first byte (implicit) or from a
// StartTls step on.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct TSmtpStep {
  // The received line must begin with this (compared exactly); empty accepts any line.
  std::string Expect;
  // Sent as it is after the line; a text not ending in "\n" gets "\r\n". Empty: nothing.
  std::string Reply;
  // Instead of one command line, read message lines up to the lone "." (Expect is
  // not checked), then reply: the step that follows the reply 354 to DATA.
  bool Data = false;
  // Close the connection after replying.
  bool Close = false;
  // Send nothing more and wait until the client closes.
  bool Hang = false;
  // After the reply, the TLS handshake (server side, UseTls's certificate); a failed
  // handshake ends the connection.
  bool StartTls = false;
};

class TSmtpTestServer {
public:
  // greeting: sent on connect (same rules as TSmtpStep::Reply). A step list that runs
  // out answers every further line with "502 unscripted" and counts a mismatch.
  TSmtpTestServer(std::string greeting, std::vector<TSmtpStep> script);
  ~TSmtpTestServer();
  TSmtpTestServer(const TSmtpTestServer&) = delete;
  TSmtpTestServer& operator=(const TSmtpTestServer&) = delete;

  // The certificate and key (PEM files) for StartTls steps; implicit: every connection
  // begins with the handshake, before the greeting. False when they cannot be loaded.
  bool UseTls(const std::string& certFile, const std::string& keyFile, bool implicit = false);

  // Listens on 127.0.0.1 (port 0: any free port); false when it cannot.
  bool Start(std::uint16_t port = 0);
  void Stop();
  std::uint16_t Port() const { return FPort; }

  // Every line received on every connection, without its CR LF, message lines included;
  // a completed handshake is recorded as the line "<tls>", a failed one as "<tls failed>".
  std::vector<std::string> Received() const;
  // The message lines of DATA steps (between the reply 354 and the "."), dot excluded.
  std::vector<std::string> DataLines() const;
  // "expected X, got Y" for lines that did not match their step.
  std::vector<std::string> Mismatches() const;
  int Connections() const;
  // True once a connection has ended (the client closed or the script closed it).
  bool ConnectionEnded() const;

private:
  struct TConnection;
  void Run();
  void Serve(TConnection& connection);
  bool ReadLine(TConnection& connection, std::string& buffer, std::string& line);
  bool Handshake(TConnection& connection);
  void Record(const std::string& line, bool data);

  std::string FGreeting;
  std::vector<TSmtpStep> FScript;
  std::shared_ptr<void> FTlsContext;  // SSL_CTX
  bool FImplicitTls = false;
  int FListen = -1;
  int FWake[2] = {-1, -1};
  std::uint16_t FPort = 0;
  std::thread FThread;
  mutable std::mutex FLock;
  std::vector<std::string> FReceived, FData, FMismatches;
  int FConnections = 0;
  bool FEnded = false;
};

}  // namespace testsupport
