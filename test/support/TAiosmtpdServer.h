#pragma once
// A real SMTP server for delivery tests: Debian's python3-aiosmtpd on a free loopback
// port, with AUTH LOGIN and PLAIN offered without TLS for one user. Each delivery is
// captured into files of a private folder; the server stops with the object. With TLS
// (UseTls) it either requires STARTTLS before AUTH and MAIL, or speaks TLS from the
// first byte.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/TPythonServer.h"

namespace testsupport {

class TTempDir;

struct TSmtpDelivery {
  std::string MailFrom;
  std::vector<std::string> Rcpts;
  std::string AuthLogin;  // the login the session authenticated with; empty for none
  std::string Raw;        // the message as received, transparency dots removed
  bool Tls = false;       // it came over an encrypted connection
};

class TAiosmtpdServer {
public:
  TAiosmtpdServer(std::string user = "alerts", std::string password = "s3cret pass");
  ~TAiosmtpdServer();
  TAiosmtpdServer(const TAiosmtpdServer&) = delete;
  TAiosmtpdServer& operator=(const TAiosmtpdServer&) = delete;

  // False when /usr/bin/python3 cannot import aiosmtpd.
  static bool Available();
  enum class TTls { None, StartTls, Implicit };
  // Before Start: the certificate and key (PEM files) and how TLS is offered.
  void UseTls(TTls kind, std::string certFile, std::string keyFile);

  // Starts the server on 127.0.0.1 (port 0: any free port) and waits until it listens;
  // false (see Error()) on failure.
  bool Start(std::uint16_t port = 0);
  void Stop();
  std::uint16_t Port() const { return FServer.Port(); }
  const std::string& Error() const { return FServer.Error(); }

  // Deliveries completed so far, in order.
  std::vector<TSmtpDelivery> Deliveries() const;
  // One line per AUTH attempt: mechanism, login, "ok" or "bad", and " tls" when the
  // connection was encrypted.
  std::vector<std::string> AuthLog() const;

private:
  std::string FUser, FPassword;
  TTls FTls = TTls::None;
  std::string FCertFile, FKeyFile;
  std::unique_ptr<TTempDir> FDir;
  TPythonServer FServer{"the SMTP server"};
};

}  // namespace testsupport
