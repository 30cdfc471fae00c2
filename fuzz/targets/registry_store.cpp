// fuzz-sources: platform/RegistryFile.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryFile.h"

// A registry store's file as anything may have left it: it reads without failing, and
// what it writes reads back to the same file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> warnings;
  const auto root = ParseRegistryText(text, warnings);
  if (!root) std::abort();
  const std::string written = FormatRegistryText(*root, "fuzz");
  std::vector<std::string> again;
  const auto reread = ParseRegistryText(written, again);
  if (!reread || FormatRegistryText(*reread, "fuzz") != written) std::abort();
  return 0;
}
