#pragma once
// Reading one request head of a web client: header values, browser flags, the request
// line, Basic credentials and the access level, the path with its query, and the page the
// request names. Pure: no file, socket or monitor is touched, so any bytes may be fed in.
#include <string>
#include <string_view>

#include "web/TWebRequest.h"

struct TWebTarget {
  std::string Folder;     // the folder part of the path, "\"-separated, no outer "\"
  std::string Name;       // the file name without extension (never contains "\" or "/")
  std::string Extension;  // with its ".", or empty
  std::string Version;    // the request line's second field
  bool CloseAsked = false;  // "connection: close"
};

struct TWebPasswords {
  std::string Server;  // viewing
  std::string Admin;   // managing
};

// The access level that a user name and password give under the two passwords.
std::int32_t WebAccessLevel(const std::string& user, const std::string& password, const TWebPasswords& passwords);

// Whether the lower-cased user agent is a small-screen browser's.
bool MobileUserAgent(std::string_view userAgent);

// Parses head (the lines before the blank line) into request and target. defaultHost is
// the "Host:" value assumed when the header has none; mobilePageExists says whether the
// root path may become "mobile.html". Returns the status to answer at once ("400", or
// "401" for access level 0), or empty when the request may be routed.
std::string ParseWebRequest(std::string_view head, const TWebPasswords& passwords, const std::string& defaultHost,
                            bool mobilePageExists, TWebRequest& request, TWebTarget& target);
