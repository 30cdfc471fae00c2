#pragma once
// What a host's test needs of its record besides the address: the parameters of every
// kind, kept side by side because the hosts file keeps them all whatever the kind (a
// Ping host keeps the port it had as a TCP host). A test gets a copy.
#include <cstdint>
#include <string>

#include "hosttests/THTTPReq.h"

struct TTestParams {
  std::int32_t Port = 0;
  std::string Service;  // service name + "|" + display name
  std::string SharePath;
  THTTPReq HTTPTest;
  std::string PluginParam;
  std::string PluginText;
  // The Windows credentials of the host's computer (service and share tests).
  std::string WinUserName;  // "{Domain\}Username"
  std::string WinPassword;

  // The part of the service field before the first "|" (what the test uses) and the
  // part after it (what is shown; the whole field when there is no "|").
  std::string ServiceName() const { return Service.substr(0, Service.find('|')); }
  std::string ServiceDisplayName() const {
    const auto bar = Service.find('|');
    return bar == std::string::npos ? Service : Service.substr(bar + 1);
  }

  bool operator==(const TTestParams&) const = default;
};
