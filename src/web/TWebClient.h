#pragma once
// One accepted connection of the web server, owned by the server's client list and used
// on the server's thread only.
#include <chrono>
#include <optional>
#include <string>

#include "web/TWebRequest.h"

struct TWebClient {
  using TClock = std::chrono::steady_clock;

  int Socket = -1;
  std::string ReceiveBuffer;  // bytes read and not yet consumed
  std::string SendBuffer;     // response bytes the socket has not accepted yet, from SendStart
  std::size_t SendStart = 0;
  TWebClientInfo Info;        // user agent, user, host, flags, path, referer, peer, access level
  bool Close = false;         // close after the response
  bool Busy = false;          // a request of this client is being answered
  bool Disconnected = false;  // the peer closed while the client was busy
  int Requests = 0;           // request heads answered
  bool Reading = true;        // the socket is read (not while too much of its answers wait)
  TClock::time_point LastActivity;
  TClock::duration IdleLimit{};
  // When the first byte of the request head now being received came; none between heads.
  std::optional<TClock::time_point> HeadStarted;

  bool IdleSince(TClock::time_point now) const { return now - LastActivity > IdleLimit; }
  std::size_t Unsent() const { return SendBuffer.size() - SendStart; }
};
