// fuzz-sources: web/ParseWebRequest.cpp web/TWebRequest.cpp common/Fields.cpp common/HttpDate.cpp common/DateTime.cpp common/TextCodec.cpp hosttests/THTTPResponseReader.cpp hosttests/TQLHTTPDownload.cpp hosttests/TQLHTTPConnection.cpp common/TextUtils.cpp common/Base64.cpp common/ErrorText.cpp common/FileUtils.cpp common/QLRegistry.cpp common/TextFiles.cpp platform/NameLookup.cpp platform/SysErrors.cpp platform/TTlsSession.cpp platform/TRegistryStore.cpp platform/RegistryFile.cpp platform/DriveTypes.cpp
// fuzz-libs: OpenSSL::SSL OpenSSL::Crypto Qt6::Core
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/Base64.h"
#include "hosttests/TQLHTTPDownload.h"
#include "web/ParseWebRequest.h"
#include "web/TWebRequest.h"

// A Basic sign-in of any bytes: the decoder keeps its bound and refuses what is not
// Base64, and the web server grants managing only to the managing password.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view credentials(reinterpret_cast<const char*>(data), size);
  const auto decoded = TQLHTTPDownload::DecodeBase64(credentials);
  if (decoded && (size > 255 || decoded->size() > size)) std::abort();
  if (credentials.find_first_of("\r\n") != std::string_view::npos) return 0;
  TWebPasswords passwords;
  passwords.Server = "view";
  passwords.Admin = "boss";
  TWebRequest request;
  TWebTarget target;
  const std::string head = "GET /index.html HTTP/1.1\r\nHost: h\r\nAuthorization: Basic " + std::string(credentials) + "\r\n\r\n";
  const std::string status = ParseWebRequest(head, passwords, "host:8080", false, request, target);
  // Managing is never granted unless the password itself was sent: the server reads the
  // value's first word after "Basic", without the blanks and control bytes around it.
  if (request.Client.AccessLevel == WebAccessManage) {
    std::string_view word = credentials;
    while (!word.empty() && static_cast<unsigned char>(word.front()) <= ' ') word.remove_prefix(1);
    word = word.substr(0, word.find(' '));
    while (!word.empty() && static_cast<unsigned char>(word.back()) <= ' ') word.remove_suffix(1);
    const std::string plain = TQLHTTPDownload::DecodeBase64(word).value_or("");
    if (plain.find(":boss") == std::string::npos) std::abort();
  }
  (void)status;
  return 0;
}
