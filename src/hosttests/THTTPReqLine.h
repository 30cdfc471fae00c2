#pragma once
// An HTTP request as one line of the hosts file (a web-page test, a notification):
// seven comma-separated fields, URL, post flag, change threshold, change recipients,
// variables, user name and scrambled password, each escaped with "#" codes.
#include <string>

#include "hosttests/THTTPReq.h"

constexpr int HTTPLineFields = 7;

// With its CR LF.
std::string HTTPRequestLine(const THTTPReq& request);
// A line that lacks fields leaves their defaults.
THTTPReq ReadHTTPRequestLine(const std::string& line);
