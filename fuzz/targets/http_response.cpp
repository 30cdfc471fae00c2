// fuzz-sources: hosttests/THTTPResponseReader.cpp hosttests/TQLHTTPDownload.cpp hosttests/TQLHTTPConnection.cpp common/TextUtils.cpp common/Base64.cpp common/ErrorText.cpp common/FileUtils.cpp common/QLRegistry.cpp common/TextFiles.cpp platform/NameLookup.cpp platform/SysErrors.cpp platform/TTlsSession.cpp platform/TRegistryStore.cpp platform/RegistryFile.cpp platform/DriveTypes.cpp
// fuzz-libs: OpenSSL::SSL OpenSSL::Crypto Qt6::Core
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "hosttests/THTTPResponseReader.h"
#include "hosttests/TQLHTTPDownload.h"

// What a web server sends back, in the pieces the first byte chooses: the status line,
// the header lines, a sized, chunked or open body. The body never holds more than came,
// and a redirect's Location either is refused or names a server and a document that
// cannot add a line to the next request.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  THTTPResponseReader reader(4096);
  std::string body;
  try {
    for (std::size_t at = 0; at < input.size() && !reader.BodyEnded(); at += piece) {
      reader.Buffer().append(input.substr(at, piece));
      if (!reader.TakeHeader()) continue;
      reader.TakeBody(body);
    }
  } catch (const std::runtime_error&) {
    // A bound exceeded or a chunk size that cannot be read: the exchange fails.
  }
  if (static_cast<std::int64_t>(body.size()) > reader.Received()) std::abort();
  if (reader.Received() > static_cast<std::int64_t>(input.size())) std::abort();
  if (!reader.HeaderDone()) return 0;
  if (reader.Header().size() > 4096) std::abort();
  const int status = reader.Status();
  if (status != HTTPResultNoHeader && (status < 0 || status > 999)) std::abort();

  const std::string location = THTTPResponseReader::HeaderValue(reader.Header(), "Location");
  bool secure = false;
  std::string server = "origin.test", document;
  int port = 80;
  const auto kind = TQLHTTPDownload::SplitURL(location, secure, server, port, document);
  if (kind != TQLHTTPDownload::TURLKind::Refused &&
      (server.find_first_of("\r\n") != std::string::npos || document.find_first_of("\r\n") != std::string::npos))
    std::abort();
  return 0;
}
