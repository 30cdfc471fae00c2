#pragma once
// One request of a web client as the request handler hands it to the page templates and
// the host actions, with the slots of its response. Built and used on the web server's
// thread only.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/DateTime.h"

// Access levels from the two web passwords.
constexpr std::int32_t WebAccessNone = 0;
constexpr std::int32_t WebAccessView = 1;
constexpr std::int32_t WebAccessManage = 2;

// What the handler knows of the client that sent the request.
struct TWebClientInfo {
  std::string UserAgent;
  std::string User;
  std::string Host;  // the "Host:" header, or this computer's name (":" + port unless 80)
  bool HTTP11 = false;
  bool Mobile = false;
  bool IE = false;
  std::string Path;  // the requested path with its query
  std::string Referer;
  std::string Origin;     // the "Origin:" header
  std::string FetchSite;  // the "Sec-Fetch-Site:" header, lower case
  std::string Peer;  // the client's IP address
  std::int32_t AccessLevel = WebAccessNone;
};

struct TWebRequest {
  TWebClientInfo Client;
  // The query's name=value pieces in order (URL-decoded), then what "vars" and "defaults"
  // sections add; a name appears once.
  std::vector<std::pair<std::string, std::string>> Params;
  std::int32_t GroupFilter = 0;
  bool PeerIsLocal = false;
  TDateTime IfModifiedSince = -1;  // -1: none or unparsable

  // The response: status code text ("200", "304", "404", "500-13" ...; a 500 carries its
  // detail after the code as "500 " + detail), content type, body, Last-Modified (0: none)
  // and whether only the header goes out (HEAD). A redirect (3xx) carries its target in
  // Body.
  std::string Status = "200";
  std::string ContentType;
  std::string Body;
  TDateTime LastModified = 0;
  bool Head = false;

  // The value of a parameter, empty when absent; names compare without regard to case.
  std::string Param(const std::string& name) const;
  bool HasParam(const std::string& name) const;
  // Sets (replacing) a parameter; an empty value removes it.
  void SetParam(const std::string& name, const std::string& value);
};
