#include "support/TSmtpTestServer.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

std::string WithLineEnd(const std::string& text) {
  if (text.empty() || text.back() == '\n') return text;
  return text + "\r\n";
}

}  // namespace

struct TSmtpTestServer::TConnection {
  int Fd = -1;
  int Wake = -1;
  SSL* Ssl = nullptr;
  ~TConnection() {
    if (Ssl) SSL_free(Ssl);
  }

  // False when the server is stopping or the socket failed.
  bool Wait(short events) {
    pollfd fds[2] = {{Fd, events, 0}, {Wake, POLLIN, 0}};
    return ::poll(fds, 2, -1) > 0 && !fds[1].revents;
  }

  // Retries an SSL call until it completes; false when it failed for good.
  template <typename Call>
  bool Retry(Call call) {
    for (;;) {
      int rc = call();
      if (rc == 1) return true;
      int error = SSL_get_error(Ssl, rc);
      ERR_clear_error();
      if (error == SSL_ERROR_WANT_READ) {
        if (!Wait(POLLIN)) return false;
      } else if (error == SSL_ERROR_WANT_WRITE) {
        if (!Wait(POLLOUT)) return false;
      } else {
        return false;
      }
    }
  }

  void Send(const std::string& bytes) {
    if (Ssl) {
      std::size_t written = 0;
      if (!bytes.empty()) Retry([&] { return SSL_write_ex(Ssl, bytes.data(), bytes.size(), &written); });
      return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(Fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

  // 0 when the peer closed, the connection failed or the server is stopping.
  std::size_t Receive(char* chunk, std::size_t size) {
    std::size_t got = 0;
    if (Ssl) return Retry([&] { return SSL_read_ex(Ssl, chunk, size, &got); }) ? got : 0;
    if (!Wait(POLLIN)) return 0;
    ssize_t n = ::recv(Fd, chunk, size, 0);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
};

TSmtpTestServer::TSmtpTestServer(std::string greeting, std::vector<TSmtpStep> script)
    : FGreeting(std::move(greeting)), FScript(std::move(script)) {}

TSmtpTestServer::~TSmtpTestServer() { Stop(); }

bool TSmtpTestServer::UseTls(const std::string& certFile, const std::string& keyFile, bool implicit) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) return false;
  FTlsContext.reset(context, [](void* c) { SSL_CTX_free(static_cast<SSL_CTX*>(c)); });
  FImplicitTls = implicit;
  bool ok = SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) == 1 &&
            SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
  ERR_clear_error();
  return ok;
}

bool TSmtpTestServer::Handshake(TConnection& connection) {
  bool ok = false;
  if (FTlsContext && !connection.Ssl) {
    connection.Ssl = SSL_new(static_cast<SSL_CTX*>(FTlsContext.get()));
    ::fcntl(connection.Fd, F_SETFL, ::fcntl(connection.Fd, F_GETFL) | O_NONBLOCK);
    ok = connection.Ssl && SSL_set_fd(connection.Ssl, connection.Fd) == 1 &&
         connection.Retry([&] { return SSL_accept(connection.Ssl); });
  }
  Record(ok ? "<tls>" : "<tls failed>", false);
  return ok;
}

bool TSmtpTestServer::Start(std::uint16_t port) {
  FListen = ListenOnLoopback(port, 8);
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
  // OpenSSL writes to the socket with write(), which raises SIGPIPE when the client has
  // gone; blocked here, it stays pending on this thread and harms no one.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
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
    {
      TConnection connection{fd, FWake[0]};
      Serve(connection);
    }
    ::close(fd);
    std::lock_guard lock(FLock);
    FEnded = true;
  }
}

// False when the peer closed or the server is stopping.
bool TSmtpTestServer::ReadLine(TConnection& connection, std::string& buffer, std::string& line) {
  for (;;) {
    auto end = buffer.find('\n');
    if (end != std::string::npos) {
      line = buffer.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      buffer.erase(0, end + 1);
      return true;
    }
    char chunk[4096];
    std::size_t n = connection.Receive(chunk, sizeof chunk);
    if (n == 0) return false;
    buffer.append(chunk, n);
  }
}

void TSmtpTestServer::Record(const std::string& line, bool data) {
  std::lock_guard lock(FLock);
  FReceived.push_back(line);
  if (data) FData.push_back(line);
}

void TSmtpTestServer::Serve(TConnection& connection) {
  if (FImplicitTls && !Handshake(connection)) return;
  connection.Send(WithLineEnd(FGreeting));
  std::string buffer, line;
  for (const TSmtpStep& step : FScript) {
    if (step.Hang) {
      while (ReadLine(connection, buffer, line)) Record(line, false);
      return;
    }
    if (step.Data) {
      do {
        if (!ReadLine(connection, buffer, line)) return;
        Record(line, line != ".");
      } while (line != ".");
    } else {
      if (!ReadLine(connection, buffer, line)) return;
      Record(line, false);
      if (!step.Expect.empty() && line.compare(0, step.Expect.size(), step.Expect) != 0) {
        std::lock_guard lock(FLock);
        FMismatches.push_back("expected " + step.Expect + ", got " + line);
      }
    }
    connection.Send(WithLineEnd(step.Reply));
    if (step.Close) return;
    if (step.StartTls) {
      // Plain bytes sent after the command must not be read as if they came encrypted.
      buffer.clear();
      if (!Handshake(connection)) return;
    }
  }
  while (ReadLine(connection, buffer, line)) {
    Record(line, false);
    {
      std::lock_guard lock(FLock);
      FMismatches.push_back("unscripted " + line);
    }
    connection.Send("502 unscripted\r\n");
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
