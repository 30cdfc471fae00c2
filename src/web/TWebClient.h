#pragma once
// One accepted connection of the web server, owned by the server's client list and used
// on the server's thread only.
#include <chrono>
#include <string>

#include "web/TWebRequest.h"

struct TWebClient {
  using TClock = std::chrono::steady_clock;

  int Socket = -1;
  std::string ReceiveBuffer;  // bytes read and not yet consumed
  std::string SendBuffer;     // response bytes the socket has not accepted yet
  TWebClientInfo Info;        // user agent, user, host, flags, path, referer, peer, access level
  bool Close = false;         // close after the response
  bool Busy = false;          // a request of this client is being answered
  bool Disconnected = false;  // the peer closed while the client was busy
  TClock::time_point LastActivity;
  TClock::duration IdleLimit{};

  bool IdleSince(TClock::time_point now) const { return now - LastActivity > IdleLimit; }
};
