// fuzz-sources: alerts/SmtpText.cpp alerts/SmtpAuth.cpp common/DateTime.cpp common/Base64.cpp common/SystemInfo.cpp
// fuzz-libs: OpenSSL::Crypto
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/SmtpAuth.h"
#include "alerts/SmtpText.h"

// A mail server's replies, cut into lines as the client cuts them: every line gives a
// code in range, an EHLO reply keeps a bounded list of distinct mechanisms, and a
// challenge of any bytes gets an answer.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bool startTls = false;
  std::vector<std::string> types;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const TSmtpReplyLine reply = ReadSmtpReplyLine(line);
    if (reply.Code < 0 || (reply.Code > 9999 && reply.Code != 20600)) std::abort();
    NoteEhloOffer(line, startTls, types, 16);
    if (types.size() > 16) std::abort();
    for (std::size_t i = 0; i < types.size(); ++i)
      for (std::size_t j = i + 1; j < types.size(); ++j)
        if (types[i] == types[j] || types[i].empty()) std::abort();
    if (line.size() > 4) {
      const std::string challenge = Base64Decode(line.substr(4));
      if (CramAuthAnswer(THmacHash::Md5, "user", "secret", challenge) != Base64Encode("user " + HmacHex(THmacHash::Md5, "secret", challenge)))
        std::abort();
    }
  }
  return 0;
}
