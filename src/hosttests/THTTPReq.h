#pragma once
// An HTTP request description: the HTTP test and the two notifications of a host. The
// host record holds three; a retrieval works on its own copy.
#include <cstdint>
#include <string>

struct THTTPReq {
  std::string URL;
  bool Post = false;
  std::string Variables;  // name=value items joined by character 255
  float ChangeThreshold = 0;  // percent
  std::string ChangeRecipients;
  float LastChange = 0;  // fraction of the page changed at the last test; not stored
  std::string UserName;
  std::string Password;
  int32_t Edited = 0;  // set by the settings dialog; not stored

  bool operator==(const THTTPReq&) const = default;
};
