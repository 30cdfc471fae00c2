#include "web/TWebServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>

#include "common/DateTime.h"
#include "common/ErrorText.h"
#include "common/SystemInfo.h"
#include "core/TMonitor.h"
#include "web/TWebRequestHandler.h"
#include "web/WebResponse.h"

namespace {

int OpenListener(int port, int& boundPort, int& error) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1, off = 0;
  if (fd >= 0) {
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      error = errno;
      ::close(fd);
      fd = -1;
      if (error != EAFNOSUPPORT && error != EADDRNOTAVAIL) return -1;
    }
  }
  if (fd < 0) {
    // A system without IPv6 listens on IPv4 only.
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error = errno;
      return -1;
    }
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      error = errno;
      ::close(fd);
      return -1;
    }
  }
  if (::listen(fd, 128) != 0) {
    error = errno;
    ::close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                          : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return fd;
}

std::string PeerText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    return text;
  }
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
  if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
    ::inet_ntop(AF_INET, reinterpret_cast<const std::uint8_t*>(&v6->sin6_addr) + 12, text, sizeof text);
    return text;
  }
  ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  return text;
}

}  // namespace

// The serving loop; lives on the server's thread from the listening socket's opening to
// its close.
class TWebServer::TLoop {
public:
  TLoop(TWebServer& server, int listener, int port)
      : S(server), FListener(listener), FHandler(server.FSite, server.FRoutes, port, [&server](const std::string& step) {
          server.Trace(step);
        }) {}

  void Run() {
    FEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    Watch(FListener, EPOLLIN, EPOLL_CTL_ADD);
    Watch(S.FStopEvent, EPOLLIN, EPOLL_CTL_ADD);
    FLastSweep = TWebClient::TClock::now();
    bool stopping = false;
    epoll_event events[64];
    while (!stopping) {
      S.Trace("WS ProcCmds");
      const auto untilSweep = S.FLimits.Sweep - (TWebClient::TClock::now() - FLastSweep);
      const int timeout =
          static_cast<int>(std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(untilSweep).count()));
      const int n = ::epoll_wait(FEpoll, events, 64, timeout);
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == S.FStopEvent) stopping = true;
        else if (fd == FListener) Accept();
        else ClientEvent(fd, events[i].events);
      }
      if (TWebClient::TClock::now() - FLastSweep >= S.FLimits.Sweep) Sweep();
    }
    S.Trace("WS Close");
    while (!FClients.empty()) Remove(FClients.size() - 1);
    ::close(FEpoll);
    ::close(FListener);
  }

private:
  void Watch(int fd, std::uint32_t events, int op) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    ::epoll_ctl(FEpoll, op, fd, &event);
  }

  std::size_t IndexOf(int fd) const {
    for (std::size_t i = 0; i < FClients.size(); ++i)
      if (FClients[i]->Socket == fd) return i;
    return FClients.size();
  }

  void Accept() {
    while (true) {
      sockaddr_storage address{};
      socklen_t length = sizeof address;
      const int fd = ::accept4(FListener, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE) {
          // Out of descriptors the listener would wake the loop without end: it rests
          // until the next sweep has closed idle clients.
          ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, FListener, nullptr);
          FListenerResting = true;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) Error(errno, -1);
        return;
      }
      if (static_cast<int>(FClients.size()) >= S.FLimits.MaxConnections) {
        ::close(fd);
        continue;
      }
      auto client = std::make_unique<TWebClient>();
      client->Socket = fd;
      client->LastActivity = TWebClient::TClock::now();
      client->IdleLimit = S.FLimits.Idle;
      client->Info.Peer = PeerText(address);
      FClients.push_back(std::move(client));
      Watch(fd, EPOLLIN | EPOLLRDHUP, EPOLL_CTL_ADD);
    }
  }

  void ClientEvent(int fd, std::uint32_t events) {
    std::size_t index = IndexOf(fd);
    if (index == FClients.size()) return;
    if (events & EPOLLERR) {
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      Error(error, static_cast<int>(index));
      Remove(index);
      return;
    }
    if (events & EPOLLOUT) {
      if (!Flush(index)) return;
    }
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP)) Readable(index);
  }

  // Sends what the socket accepts; false when the client went away meanwhile.
  bool Flush(std::size_t index) {
    TWebClient& client = *FClients[index];
    while (!client.SendBuffer.empty()) {
      const ssize_t sent = ::send(client.Socket, client.SendBuffer.data(), client.SendBuffer.size(), MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        Error(errno, static_cast<int>(index));
        Remove(index);
        return false;
      }
      client.SendBuffer.erase(0, static_cast<std::size_t>(sent));
    }
    if (client.SendBuffer.empty() && client.Close) {
      Remove(index);
      return false;
    }
    Watch(client.Socket, EPOLLIN | EPOLLRDHUP | (client.SendBuffer.empty() ? 0u : static_cast<std::uint32_t>(EPOLLOUT)),
          EPOLL_CTL_MOD);
    return true;
  }

  void Readable(std::size_t index) {
    S.Trace("WS Client");
    TWebClient& client = *FClients[index];
    S.Trace("WS ReadBuf");
    bool peerClosed = false;
    char chunk[16384];
    // Reading stops a little past the head bound: what lies beyond waits in the socket.
    while (client.ReceiveBuffer.size() <= S.FLimits.MaxHead + sizeof chunk) {
      const ssize_t got = ::recv(client.Socket, chunk, sizeof chunk, 0);
      if (got > 0) {
        if (!client.Close) client.ReceiveBuffer.append(chunk, static_cast<std::size_t>(got));
        continue;
      }
      if (got == 0) peerClosed = true;
      else if (errno == EINTR) continue;
      else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        Error(errno, static_cast<int>(index));
        peerClosed = true;
      }
      break;
    }
    while (!client.Close) {
      const std::size_t end = client.ReceiveBuffer.find("\r\n\r\n");
      if (end == std::string::npos && client.ReceiveBuffer.size() <= S.FLimits.MaxHead) {
        S.Trace("WS WaitDelim");
        break;
      }
      if (!Answer(index, end)) return;
    }
    if (peerClosed) Remove(index);
  }

  // Answers the head that ends at end (npos: a head beyond the bound); false when the
  // client went away.
  bool Answer(std::size_t index, std::size_t end) {
    TWebClient& client = *FClients[index];
    S.Trace("WS StartResponse");
    client.Busy = true;
    TWebRequest request;
    request.Client = client.Info;
    bool closeAsked = false;
    if (end == std::string::npos || end > S.FLimits.MaxHead) {
      client.ReceiveBuffer.clear();
      request.Status = "400";
      request.Client.Path.clear();
      client.Close = true;
    } else {
      const std::string head = client.ReceiveBuffer.substr(0, end);
      client.ReceiveBuffer.erase(0, end + 4);
      client.LastActivity = TWebClient::TClock::now();
      closeAsked = Handle(head, client, request);
      if (request.Status.rfind("500", 0) == 0) {
        std::this_thread::sleep_for(S.FLimits.RetryPause);
        TWebRequest again;
        again.Client = client.Info;
        closeAsked = Handle(head, client, again);
        request = std::move(again);
      }
    }
    client.Info = request.Client;
    if (static_cast<int>(FClients.size()) > S.FLimits.BusyClients) client.IdleLimit = S.FLimits.BusyIdle;
    S.Trace("WS SendResp");
    if (request.Status != "200" && !closeAsked) S.Trace("WS PostSendDisconnect");
    client.SendBuffer += BuildWebResponse(request, closeAsked, FComputerName, Now());
    if (closeAsked || !request.Client.HTTP11) client.Close = true;
    client.Busy = false;
    S.Trace("WS Unlock");
    if (client.Disconnected) {
      Remove(index);
      return false;
    }
    return Flush(index);
  }

  bool Handle(const std::string& head, const TWebClient& client, TWebRequest& request) {
    try {
      return FHandler.Handle(head, client.Info.Peer, static_cast<int>(FClients.size()), S.FLimits.MaxClients, request);
    } catch (const std::exception& e) {
      S.Trace(std::string("WebServer Thread Exception: ") + e.what());
      S.Fault(e.what());
    } catch (...) {
      S.Trace("WebServer Thread Exception: unknown");
      S.Fault("unknown exception");
    }
    request.Status = "500 request handling failed";
    return false;
  }

  void Sweep() {
    S.Trace("WS Check Clients");
    const auto now = TWebClient::TClock::now();
    FLastSweep = now;
    for (std::size_t i = FClients.size(); i-- > 0;) {
      if (FClients[i]->IdleSince(now)) Remove(i);
      else if (!FClients[i]->SendBuffer.empty()) Flush(i);
    }
    if (FListenerResting) {
      FListenerResting = false;
      Watch(FListener, EPOLLIN, EPOLL_CTL_ADD);
    }
  }

  void Remove(std::size_t index) {
    ::epoll_ctl(FEpoll, EPOLL_CTL_DEL, FClients[index]->Socket, nullptr);
    ::close(FClients[index]->Socket);
    FClients.erase(FClients.begin() + static_cast<std::ptrdiff_t>(index));
  }

  void Error(int error, int clientIndex) {
    const std::string text = "WS Error " + ErrnoText(error) +
                             (clientIndex < 0 ? std::string(" (NoClient)") : " (Client " + std::to_string(clientIndex) + ")");
    S.Trace(text);
    S.Fault(text);
  }

  TWebServer& S;
  int FListener;
  int FEpoll = -1;
  bool FListenerResting = false;
  TWebRequestHandler FHandler;
  std::vector<std::unique_ptr<TWebClient>> FClients;
  TWebClient::TClock::time_point FLastSweep;
  const std::string FComputerName = LocalComputerName();
};

TWebServer::TWebServer(TWebSite site, TWebRoutes routes, TWebServerLimits limits)
    : FSite(std::move(site)), FRoutes(std::move(routes)), FLimits(limits) {
  if (!FSite.RunOnMainThread) {
    FHandover = std::make_unique<TMainThreadHandover>();
    FSite.RunOnMainThread = [handover = FHandover.get()](std::function<void()> work) { return handover->Run(work); };
  }
}

TWebServer::~TWebServer() { Stop(); }

void TWebServer::Trace(const std::string& step) const {
  if (FSite.Monitor) FSite.Monitor->Trace(step);
}

void TWebServer::Fault(const std::string& what) const {
  if (FSite.Monitor) FSite.Monitor->ReportFault("Web server", what);
}

bool TWebServer::Start(int port) {
  Stop();
  FStartError.clear();
  if (FSite.Monitor) {
    // The monitor learns its folder and start time only in its start-up.
    if (FSite.ProgramStart == 0) FSite.ProgramStart = FSite.Monitor->StartTime();
    if (FSite.Folder.empty()) FSite.Folder = FSite.Monitor->ProgramFolder() + "webserver/";
  }
  FStopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FStopEvent < 0) {
    FStartError = ErrnoText(errno);
    return false;
  }
  if (FHandover) FHandover->Reopen();
  std::promise<int> opened;
  std::future<int> result = opened.get_future();
  FThread = std::thread([this, port, &opened] {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 5);
    int error = 0, boundPort = 0;
    const int listener = OpenListener(port, boundPort, error);
    if (listener < 0) {
      opened.set_value(-error);
      return;
    }
    FPort = boundPort;
    TLoop loop(*this, listener, boundPort);
    opened.set_value(boundPort);
    loop.Run();
  });
  const int outcome = result.get();
  if (outcome > 0) return true;
  FThread.join();
  ::close(FStopEvent);
  FStopEvent = -1;
  FStartError = ErrnoText(-outcome);
  if (FSite.Monitor)
    FSite.Monitor->LogEvent(nullptr, "Unable to start the web server on port " + std::to_string(port) + ": " + FStartError,
                            TLogCategory::Error);
  return false;
}

void TWebServer::Stop() {
  if (!FThread.joinable()) return;
  // A request waiting for the main thread must not hold up the thread that stops us.
  if (FHandover) FHandover->Cancel();
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(FStopEvent, &one, sizeof one);
  FThread.join();
  ::close(FStopEvent);
  FStopEvent = -1;
}
