#pragma once
// The web interface's HTTP server: one thread of lower priority that waits on epoll for
// its listening socket, its clients and a stop signal, reads request heads, answers them
// through TWebRequestHandler and sends what the sockets accept. HTTP/1.1 connections stay
// open until the client asks to close, its idle limit passes or it goes away.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QMetaObject>

#include "core/TWebServerControl.h"
#include "web/TMainThreadHandover.h"
#include "web/TWebClient.h"
#include "web/TWebRoutes.h"
#include "web/TWebSite.h"

struct TWebServerLimits {
  std::chrono::milliseconds Idle{180000};     // a client's idle limit from accept
  std::chrono::milliseconds BusyIdle{10000};  // ... when more than BusyClients are connected
  std::chrono::milliseconds Sweep{1000};      // how often idle clients and send buffers are looked at
  std::chrono::milliseconds HeadTime{15000};  // a request head must be complete this long after its first byte
  int BusyClients = 50;
  int MaxClients = 100;     // above it every request is answered "500-13"
  std::size_t MaxHead = 16384;  // a longer request head is answered 400 and closed
  int MaxConnections = 1000;    // beyond it new connections are closed at once
  int MaxPerPeer = 128;         // connections from one address; beyond it new ones are closed at once
  // A client's requests are not read while this much of its answers waits to be sent,
  // nobody's while all clients' answers together come to MaxUnsentTotal.
  std::size_t MaxUnsent = 1 << 20;
  std::size_t MaxUnsentTotal = 16 << 20;
};

class TWebServer : public TWebServerControl {
public:
  // Without site.RunOnMainThread, host actions are handed to the thread that makes the
  // server. site.Monitor, when set, receives the trace steps and the swallowed errors, and
  // gives the folder ("webserver/" below the program's) and start time left empty.
  TWebServer(TWebSite site, TWebRoutes routes, TWebServerLimits limits = {});
  ~TWebServer() override;
  TWebServer(const TWebServer&) = delete;
  TWebServer& operator=(const TWebServer&) = delete;

  // Port 0 takes any free port (Port() tells which).
  bool Start(int port) override;
  void Stop() override;
  bool Running() const override { return FThread.joinable(); }
  int Port() const { return FPort; }
  // Why the last Start failed.
  const std::string& StartError() const { return FStartError; }
  const TWebSite& Site() const { return FSite; }

private:
  class TLoop;
  void Trace(const std::string& step) const;
  void Fault(const std::string& what) const;

  TWebSite FSite;
  TWebRoutes FRoutes;
  TWebServerLimits FLimits;
  std::unique_ptr<TMainThreadHandover> FHandover;
  std::vector<QMetaObject::Connection> FChangeConnections;
  std::thread FThread;
  int FStopEvent = -1;
  int FPort = 0;
  std::string FStartError;
};
