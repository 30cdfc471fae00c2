// fuzz-sources: core/THostsFile.cpp core/THost.cpp core/THostList.cpp core/HostsFileNumbers.cpp core/HostAddress.cpp core/QuietWait.cpp core/TSettings.cpp common/ErrorText.cpp common/Fields.cpp common/FileUtils.cpp common/NetText.cpp common/QLEncryptString.cpp common/TFieldSplitter.cpp common/TextFiles.cpp common/TextUtils.cpp common/DateTime.cpp platform/SysErrors.cpp platform/DriveTypes.cpp platform/NameLookup.cpp platform/NetInterfaces.cpp platform/TMessageQueue.cpp platform/TWindowChannel.cpp platform/WindowMessages.cpp platform/FaultReport.cpp hosttests/TBackgroundTask.cpp
// fuzz-libs: Qt6::Core Qt6::Network
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/FileUtils.h"
#include "core/THostList.h"
#include "core/THostsFile.h"

// A hosts file as anything may have left it: it loads (whole or with lines skipped),
// and what was loaded saves and loads back to the same file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = [] {
    // In memory where there is such a folder: every save syncs its file.
    char name[] = "/dev/shm/corvale-fuzz-hosts-XXXXXX";
    if (::mkdtemp(name)) return std::string(name) + "/";
    std::strcpy(name, "/tmp/corvale-fuzz-hosts-XXXXXX");
    return std::string(::mkdtemp(name) ? name : "/tmp") + "/";
  }();
  const std::string file = folder + "hosts.cvlh";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) std::filesystem::remove(entry.path(), ec);
  if (!WriteWholeFile(file, std::string(reinterpret_cast<const char*>(data), size))) return 0;
  THostsLoadOptions options;
  options.Now = 46000.5;
  options.LocalSubnet = [](const std::string&) { return false; };
  options.Log = [](const THost*, const std::string&, TLogCategory) {};
  THostList list;
  LoadHosts(file, list, options);
  // A load that stopped keeps an untouched copy beside the file: none of it matters here.
  const std::string saved = folder + "saved.cvlh";
  if (!SaveHosts(saved, list)) return 0;
  std::string first;
  if (!ReadWholeFile(saved, first)) return 0;
  THostList again;
  if (!LoadHosts(saved, again, options)) std::abort();
  if (!SaveHosts(saved, again)) return 0;
  std::string second;
  if (!ReadWholeFile(saved, second) || second != first) std::abort();
  return 0;
}
