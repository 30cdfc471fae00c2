// fuzz-sources: tools/TActionsFile.cpp common/ErrorText.cpp common/TextUtils.cpp common/TextFiles.cpp common/FileUtils.cpp platform/DriveTypes.cpp platform/SysErrors.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/TActionsFile.h"

namespace {

// Every action item points at a command of its own, and every command has one item.
std::size_t CountActions(const std::vector<std::unique_ptr<TActionItem>>& items, const TActionsFile& file) {
  std::size_t count = 0;
  for (const auto& item : items) {
    if (item->Command >= 0) {
      if (static_cast<std::size_t>(item->Command) >= file.Commands().size() || !item->Items.empty()) std::abort();
      ++count;
    }
    count += CountActions(item->Items, file);
  }
  return count;
}

}  // namespace

// Any actions file: the reading ends, the tree and the command list agree (an action
// never holds items), and every named action looks up a command.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TActionsFile file;
  const bool ok = file.LoadFromText(text);
  if (ok != file.Error().empty()) std::abort();
  if (CountActions(file.Items(), file) != file.Commands().size()) std::abort();
  if (file.Commands().size() > TActionsFile::MaxActions) std::abort();
  // An action without a caption has no name to be asked for.
  for (const std::string& named : file.NamedActions()) {
    const std::size_t equals = named.find('=');
    if (equals == std::string::npos) std::abort();
    const std::string name = named.substr(0, equals);
    if (name.find_first_not_of(" \t") != std::string::npos && !file.Lookup(name).has_value()) std::abort();
  }
  return 0;
}
