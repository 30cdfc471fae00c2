// fuzz-sources: alerts/TRelayMailText.cpp hosttests/THTTPResponseReader.cpp common/TextUtils.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "alerts/TRelayMail.h"
#include "hosttests/THTTPResponseReader.h"

// The mail relay's answer as the client reads it, and the verdict taken from it: empty
// only for "Success:", and never longer than the bound plus its prefix. The relay
// setting splits into a host and a port in range.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  THTTPResponseReader reader(4096);
  std::string body;
  reader.Buffer() = std::string(input);
  try {
    if (reader.TakeHeader()) reader.TakeBody(body);
  } catch (const std::runtime_error&) {
  }
  const int status = reader.Status();
  const std::string verdict = TRelayMail::Verdict(status, body, 0, "");
  if (verdict.empty() && !(status == 200 && body.rfind("Success:", 0) == 0)) std::abort();
  if (verdict.size() > 64 + TRelayMail::MaxAnswerInError) std::abort();
  std::string host;
  int port = 0;
  if (TRelayMail::ParseServer(std::string(input.substr(0, 300)), host, port) && (port < 1 || port > 65535))
    std::abort();
  return 0;
}
