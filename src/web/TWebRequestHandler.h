#pragma once
// Answers one request head on the web server's thread: parses it, checks the access
// level, finds the group filter and routes it to a page, a file, an icon or a pseudo-page.
// Reads the monitor's settings and host list under its state lock held shared.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "web/ParseWebRequest.h"
#include "web/TWebRequest.h"
#include "web/TWebRoutes.h"
#include "web/TWebSite.h"

// Why a host action must be refused as asked for by another site (the browser's
// Sec-Fetch-Site, an Origin or Referer naming another host than the request's); empty
// when it may go ahead.
std::string CrossSiteRefusal(const TWebClientInfo& client);

class TWebRequestHandler {
public:
  using TTraceHook = std::function<void(const std::string&)>;

  TWebRequestHandler(const TWebSite& site, const TWebRoutes& routes, int port, TTraceHook trace);

  // Fills request (client info, parameters, response slots) from head; peer is the
  // client's address, clientCount the clients connected now. maxClients: above it every
  // request is answered "500-13". Returns whether the client asked to close.
  bool Handle(std::string_view head, const std::string& peer, int clientCount, int maxClients, TWebRequest& request);

  // The "Host:" value assumed when a request has none.
  std::string DefaultHost() const;

private:
  void Route(TWebRequest& request, const TWebTarget& target);
  void ServeFile(TWebRequest& request, const std::string& fileName, const char* contentType, const char* loader);
  bool ServeIcon(TWebRequest& request, const std::string& name);
  // The name of the file in the folder that fileName names, letter case ignored; empty
  // when there is none.
  std::string FindFile(const std::string& fileName) const;
  int GroupFilter(const TWebRequest& request, const std::string& folder) const;
  bool PeerIsLocal(const std::string& peer);
  void Step(const char* step) const;

  const TWebSite& FSite;
  const TWebRoutes& FRoutes;
  int FPort;
  TTraceHook FTrace;
  // This computer's networks (address and mask), asked of the system at most every few
  // seconds rather than for every request.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> FNetworks;
  struct TKeptFile {
    std::string Content;
    long long Size = -1;
    long long ModifiedNs = -1;
  };
  static constexpr long long MaxKeptFileBytes = 256 * 1024;
  static constexpr std::size_t MaxKeptFiles = 64;
  std::unordered_map<std::string, TKeptFile> FFiles;
  double FNetworksRead = -1;  // MillisecondClock() of the last reading
};
