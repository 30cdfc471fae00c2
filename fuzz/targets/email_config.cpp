// fuzz-sources: alerts/TEmailConfig.cpp common/TextFiles.cpp common/FileUtils.cpp common/TextUtils.cpp platform/DriveTypes.cpp platform/SysErrors.cpp
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "alerts/TEmailConfig.h"
#include "common/FileUtils.h"

// "EmailConfig.cvl" as anything may have left it: it loads or is refused, and what a
// loaded one writes loads back to the same bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string file = std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/corvale-fuzz-email-" + std::to_string(::getpid()) + ".cvl";
  if (!WriteWholeFile(file, std::string(reinterpret_cast<const char*>(data), size))) return 0;
  TEmailConfig first;
  std::string error;
  if (first.LoadFromFile(file, error) != TEmailConfig::TLoadResult::Loaded) return 0;
  const std::string written = first.FileText();
  if (!WriteWholeFile(file, written)) return 0;
  TEmailConfig second;
  if (second.LoadFromFile(file, error) != TEmailConfig::TLoadResult::Loaded || second.FileText() != written)
    std::abort();
  std::remove(file.c_str());
  return 0;
}
