// fuzz-sources: common/TextCodec.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/TextCodec.h"

// Form decoding must undo form encoding for any bytes, and the HTML coding and UTF-16
// conversion must accept anything a peer or a command's output can send.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string decoded = UrlDecode(text);
  if (decoded.size() > text.size()) std::abort();
  if (UrlDecode(UrlEncodeForm(text)) != text) std::abort();
  const std::string html = HtmlEncode(text);
  if (HtmlDecode(html).size() > html.size()) std::abort();
  if (Utf16ToText(data, size).size() > size / 2) std::abort();
  return 0;
}
