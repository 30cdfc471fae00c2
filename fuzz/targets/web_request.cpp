// fuzz-sources: web/ParseWebRequest.cpp web/TWebRequest.cpp web/WebResponse.cpp common/Fields.cpp common/HttpDate.cpp common/DateTime.cpp common/TextCodec.cpp common/Base64.cpp common/TextUtils.cpp common/ProgramVersion.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/Base64.h"
#include "hosttests/TQLHTTPDownload.h"
#include "web/ParseWebRequest.h"
#include "web/WebResponse.h"

// The HTTP client's decoder with its bound, without the client's sockets and TLS.
std::optional<std::string> TQLHTTPDownload::DecodeBase64(std::string_view text) {
  if (text.size() > 255) return std::nullopt;
  return Base64DecodeStrict(text);
}

// Any request head a peer sends: a status or a route whose file name never names a
// folder, a routed path below the length bound with an "HTTP/" version, and a response
// that begins with a status line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view head(reinterpret_cast<const char*>(data) + 1, size - 1);
  TWebPasswords passwords;
  if (data[0] & 1) passwords.Server = "view";
  if (data[0] & 2) passwords.Admin = "boss";
  TWebRequest request;
  TWebTarget target;
  const std::string status = ParseWebRequest(head, passwords, "host:8080", (data[0] & 4) != 0, request, target);
  if (target.Name.find_first_of("/\\") != std::string::npos) std::abort();
  if (status.empty()) {
    if (target.Version.rfind("HTTP/", 0) != 0 || request.Client.AccessLevel == WebAccessNone) std::abort();
    const std::string path = request.Client.Path.substr(0, request.Client.Path.find('?'));
    if (path.size() >= 256) std::abort();
  } else if (status != "400" && status != "401") {
    std::abort();
  }
  request.Status = status.empty() ? "404" : status;
  const std::string response = BuildWebResponse(request, target.CloseAsked, "host", 46000.5);
  if (response.rfind("HTTP/1.", 0) != 0) std::abort();
  return 0;
}
