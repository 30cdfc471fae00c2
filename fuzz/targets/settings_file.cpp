// fuzz-sources: core/TSettings.cpp common/QLEncryptString.cpp common/TextUtils.cpp common/TextFiles.cpp common/FileUtils.cpp platform/DriveTypes.cpp platform/SysErrors.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/TSettings.h"

// Any settings file that passes the text check: once saved, it reads back to the same
// values, and a second save changes nothing.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string reason;
  if (!TSettings::IsSettingsText(text, reason)) return 0;
  TSettings first;
  first.LoadFromText(text);
  const std::string saved = first.SaveToText();
  TSettings second;
  second.LoadFromText(saved);
  if (second.SaveToText() != saved) std::abort();
  if (second.MaxPingThreads != first.MaxPingThreads || second.SysLogServer != first.SysLogServer ||
      second.WebAdminPassword != first.WebAdminPassword || second.HTTPTimeout != first.HTTPTimeout ||
      second.CertExpiryDays != first.CertExpiryDays || second.SmtpTls != first.SmtpTls ||
      second.RelayServer != first.RelayServer || second.Width != first.Width)
    std::abort();
  return 0;
}
