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
#include "core/THostChanges.h"
#include "core/TMonitor.h"
#include "web/TWebRowCache.h"
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
      if (FPaused > 0) Resume();
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

  // What the client's socket is watched for: its requests while it is read, its answers
  // while some wait.
  void Rearm(const TWebClient& client) {
    Watch(client.Socket,
          (client.Reading ? static_cast<std::uint32_t>(EPOLLIN | EPOLLRDHUP) : 0u) |
              (client.Unsent() > 0 ? static_cast<std::uint32_t>(EPOLLOUT) : 0u),
          EPOLL_CTL_MOD);
  }

  // A client whose answers all went out always gets its next one: clients that do not
  // read must not stop those that do.
  bool MaySendMore(const TWebClient& client) const {
    return client.Unsent() == 0 || (client.Unsent() < S.FLimits.MaxUnsent && FUnsentTotal < S.FLimits.MaxUnsentTotal);
  }

  // Clients whose reading stopped for their answers' sake read again once those went out
  // (half the bounds, so that a slow reader is not woken for every packet).
  void Resume() {
    const bool roomForAll = FUnsentTotal <= S.FLimits.MaxUnsentTotal / 2;
    for (std::size_t i = FClients.size(); i-- > 0;) {
      if (i >= FClients.size()) continue;
      TWebClient& client = *FClients[i];
      if (client.Reading) continue;
      if (client.Unsent() > 0 && (!roomForAll || client.Unsent() > S.FLimits.MaxUnsent / 2)) continue;
      client.Reading = true;
      --FPaused;
      Rearm(client);
      Readable(i);
    }
  }

  // A client that has not sent a whole request yet, in the order of being let go when
  // the clients are too many: the oldest unfinished head first.
  static bool Unproven(const TWebClient& client) { return !client.Busy && (client.HeadStarted || client.Requests == 0); }

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
      const std::string peer = PeerText(address);
      if (std::count_if(FClients.begin(), FClients.end(), [&](const auto& c) { return c->Info.Peer == peer; }) >=
          S.FLimits.MaxPerPeer) {
        ::close(fd);
        continue;
      }
      const auto now = TWebClient::TClock::now();
      // A full house of clients that send nothing whole must not shut out a browser: the
      // one that has waited longest goes.
      if (static_cast<int>(FClients.size()) >= S.FLimits.MaxClients) {
        std::size_t oldest = FClients.size();
        for (std::size_t i = 0; i < FClients.size(); ++i) {
          const TWebClient& c = *FClients[i];
          if (!Unproven(c)) continue;
          if (oldest == FClients.size() ||
              c.HeadStarted.value_or(c.LastActivity) < FClients[oldest]->HeadStarted.value_or(FClients[oldest]->LastActivity))
            oldest = i;
        }
        if (oldest < FClients.size()) Remove(oldest);
      }
      auto client = std::make_unique<TWebClient>();
      client->Socket = fd;
      client->LastActivity = now;
      client->IdleLimit = static_cast<int>(FClients.size()) >= S.FLimits.BusyClients ? S.FLimits.BusyIdle : S.FLimits.Idle;
      client->Info.Peer = peer;
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
    // Both ways closed: no answer can reach the peer any more.
    if (events & EPOLLHUP) {
      Remove(index);
      return;
    }
    if (events & EPOLLOUT) {
      if (!Flush(index)) return;
    }
    if (events & (EPOLLIN | EPOLLRDHUP)) Readable(index);
  }

  // Sends what the socket accepts; false when the client went away meanwhile.
  bool Flush(std::size_t index) {
    TWebClient& client = *FClients[index];
    while (client.Unsent() > 0) {
      const ssize_t sent =
          ::send(client.Socket, client.SendBuffer.data() + client.SendStart, client.Unsent(), MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        Error(errno, static_cast<int>(index));
        Remove(index);
        return false;
      }
      client.SendStart += static_cast<std::size_t>(sent);
      FUnsentTotal -= static_cast<std::size_t>(sent);
    }
    if (client.Unsent() == 0) {
      client.SendBuffer.clear();
      client.SendStart = 0;
    } else if (client.SendStart > (1u << 20)) {
      client.SendBuffer.erase(0, client.SendStart);
      client.SendStart = 0;
    }
    if (client.Unsent() == 0 && client.Close) {
      Remove(index);
      return false;
    }
    Rearm(client);
    return true;
  }

  void Readable(std::size_t index) {
    S.Trace("WS Client");
    TWebClient& client = *FClients[index];
    S.Trace("WS ReadBuf");
    bool peerClosed = false;
    char chunk[16384];
    // Reading stops a little past the head bound: what lies beyond waits in the socket.
    while (client.Reading && client.ReceiveBuffer.size() <= S.FLimits.MaxHead + sizeof chunk) {
      const ssize_t got = ::recv(client.Socket, chunk, sizeof chunk, 0);
      if (got > 0) {
        if (!client.Close) {
          if (client.ReceiveBuffer.empty()) client.HeadStarted = TWebClient::TClock::now();
          client.ReceiveBuffer.append(chunk, static_cast<std::size_t>(got));
        }
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
      // Requests that are sent but not read (pipelined by a client that never reads its
      // answers) wait in the socket rather than as answers in memory.
      if (!MaySendMore(client)) {
        if (client.Reading) {
          client.Reading = false;
          ++FPaused;
          Rearm(client);
        }
        return;
      }
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
      client.HeadStarted.reset();
      if (!client.ReceiveBuffer.empty()) client.HeadStarted = client.LastActivity;
      ++client.Requests;
      closeAsked = Handle(head, client, request);
      // A failure is tried once more at once; the server thread does not sleep for it.
      if (request.Status.rfind("500 ", 0) == 0) {
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
    std::string response = BuildWebResponse(request, closeAsked, FComputerName, Now());
    FUnsentTotal += response.size();
    if (client.Unsent() == 0) {
      client.SendBuffer = std::move(response);
      client.SendStart = 0;
    } else {
      client.SendBuffer += response;
    }
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
    const bool busy = static_cast<int>(FClients.size()) > S.FLimits.BusyClients;
    for (std::size_t i = FClients.size(); i-- > 0;) {
      TWebClient& client = *FClients[i];
      // With many clients, those that have not sent a whole request get the short limit
      // now, not only once answered; and no head takes longer than its own limit.
      if (busy && Unproven(client) && client.IdleLimit > S.FLimits.BusyIdle) client.IdleLimit = S.FLimits.BusyIdle;
      if (client.IdleSince(now) || (client.HeadStarted && now - *client.HeadStarted > S.FLimits.HeadTime)) Remove(i);
      else if (client.Unsent() > 0) Flush(i);
    }
    if (FListenerResting) {
      FListenerResting = false;
      Watch(FListener, EPOLLIN, EPOLL_CTL_ADD);
    }
  }

  void Remove(std::size_t index) {
    FUnsentTotal -= FClients[index]->Unsent();
    if (!FClients[index]->Reading) --FPaused;
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
  std::size_t FUnsentTotal = 0;  // answers of all clients not yet sent
  int FPaused = 0;               // clients not read for their answers' sake
  TWebRequestHandler FHandler;
  std::vector<std::unique_ptr<TWebClient>> FClients;
  TWebClient::TClock::time_point FLastSweep;
  const std::string FComputerName = LocalComputerName();
};

TWebServer::TWebServer(TWebSite site, TWebRoutes routes, TWebServerLimits limits)
    : FSite(std::move(site)), FRoutes(std::move(routes)), FLimits(limits) {
  if (FSite.Monitor && !FSite.RowCache) {
    // The pages keep their host rows and make again those the change batches name.
    FSite.RowCache = std::make_shared<TWebRowCache>();
    THostChanges& changes = FSite.Monitor->Changes();
    const std::weak_ptr<TWebRowCache> cache = FSite.RowCache;
    const auto some = [cache](const QList<qint32>& ids) {
      if (auto rows = cache.lock()) rows->Changed(std::vector<std::int32_t>(ids.begin(), ids.end()));
    };
    const auto all = [cache] {
      if (auto rows = cache.lock()) rows->ChangedAll();
    };
    FChangeConnections = {QObject::connect(&changes, &THostChanges::HostsChanged, some),
                          QObject::connect(&changes, &THostChanges::HostsAdded, some),
                          QObject::connect(&changes, &THostChanges::HostsAboutToBeRemoved, some),
                          QObject::connect(&changes, &THostChanges::HostListRebuilt, all)};
  }
  if (!FSite.RunOnMainThread) {
    FHandover = std::make_unique<TMainThreadHandover>();
    FSite.RunOnMainThread = [handover = FHandover.get()](std::function<void()> work) { return handover->Run(work); };
  }
}

TWebServer::~TWebServer() {
  Stop();
  for (const auto& connection : FChangeConnections) QObject::disconnect(connection);
}

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
