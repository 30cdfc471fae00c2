#include "tools/TActionsFile.h"

#include <sys/stat.h>

#include <cerrno>

#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/TextFiles.h"
#include "common/TextUtils.h"
#include "platform/SysErrors.h"

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
  }
  return true;
}

std::unique_ptr<TActionItem> NewItem(const std::string& caption, int command) {
  auto item = std::make_unique<TActionItem>();
  item->Caption = caption;
  item->Command = command;
  item->Separator = command < 0 && caption == "-";
  return item;
}

// Only a submenu takes later lines: an action of the same caption is another action.
bool IsSubmenu(const TActionItem& item) { return !item.Separator && item.Command < 0; }

TActionItem* FindItem(const TActionItem& menu, const std::string& caption) {
  for (const auto& item : menu.Items)
    if (IsSubmenu(*item) && SameIgnoringCase(item->Caption, caption)) return item.get();
  return nullptr;
}

}  // namespace

TActionsFile::TActionsFile(const std::vector<std::string>& builtIns, const std::string& insertBefore) {
  FInsertAt = builtIns.size();
  for (const std::string& caption : builtIns) {
    if (caption == insertBefore && FInsertAt == builtIns.size()) FInsertAt = FRoot.Items.size();
    auto item = NewItem(caption, -1);
    item->BuiltIn = true;
    FRoot.Items.push_back(std::move(item));
  }
}

TActionsFile::TActionsFile() : TActionsFile(HostMenuItems(), "Windows Remote Desktop") {}

const std::vector<std::string>& TActionsFile::HostMenuItems() {
  static const std::vector<std::string> items{
      "Test Host Status",       "Reset Host Status", "Reset Dependent Hosts", "Simulate Host Failure",
      "Disable Host...",        "View As...",        "Windows Remote Desktop", "Power Control",
      "Service Control",        "Trace Route",       "Popup/Sound Alerts",    "View In Log...",
      "Send Email Message...",  "Cancel Pending Email"};
  return items;
}

bool TActionsFile::Fail(const std::string& reason, int systemError) {
  FError = "Unable to read Actions.cvl: " + reason + "\r\r" + ErrorText(systemError);
  return false;
}

bool TActionsFile::LoadFromFile(const std::string& path) {
  struct stat info {};
  if (::stat(NativePath(path).c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    return Fail("the file cannot be opened", WinErrorFromErrno(errno));
  }
  if (static_cast<std::uint64_t>(info.st_size) > MaxFileSize)
    return Fail("the file is larger than " + std::to_string(MaxFileSize / 1024) + " KB", 0);
  std::string text;
  errno = 0;
  if (!ReadWholeFile(path, text)) return Fail("the file cannot be read", WinErrorFromErrno(errno ? errno : EIO));
  return LoadFromText(text);
}

bool TActionsFile::LoadFromText(const std::string& text) {
  FError.clear();
  if (text.size() > MaxFileSize)
    return Fail("the file is larger than " + std::to_string(MaxFileSize / 1024) + " KB", 0);
  int number = 0;
  for (const std::string& line : SplitTextLines(text)) {
    ++number;
    if (!AddLine(line, number)) return false;
  }
  return true;
}

bool TActionsFile::AddLine(const std::string& line, int number) {
  const std::string at = "line " + std::to_string(number);
  if (line.size() > MaxLineLength)
    return Fail(at + " is longer than " + std::to_string(MaxLineLength) + " characters", 0);
  if (Trimmed(line).empty()) return true;
  if (++FCount > MaxActions) return Fail(at + ": more than " + std::to_string(MaxActions) + " entries", 0);
  const std::size_t equals = line.find('=');
  std::string caption = Trimmed(line.substr(0, equals));
  const std::string command = equals == std::string::npos ? std::string() : Trimmed(line.substr(equals + 1));
  const bool subItem = !caption.empty() && caption.front() == '\\';
  if (subItem) caption.erase(0, 1);
  caption = ReplaceAll("&", "&&", caption, true);

  if (!subItem) {
    if (!command.empty()) FNamedActions.push_back(line);
    if (caption.size() >= 2)
      for (std::size_t i = 0; i < FRoot.Items.size(); ++i)
        if (IsSubmenu(*FRoot.Items[i]) && SameIgnoringCase(FRoot.Items[i]->Caption, caption)) {
          FCurrent = FRoot.Items[i].get();
          FInsertAt = i + 1;
          return true;
        }
    int index = -1;
    if (!command.empty()) {
      index = static_cast<int>(FCommands.size());
      FCommands.push_back(command);
    }
    auto item = NewItem(caption, index);
    TActionItem* added = item.get();
    FRoot.Items.insert(FRoot.Items.begin() + static_cast<std::ptrdiff_t>(FInsertAt), std::move(item));
    ++FInsertAt;
    if (index < 0 && !added->Separator) FCurrent = added;
    return true;
  }

  if (!FCurrent) return Fail(at + ": \"\\" + caption + "\" belongs to no submenu", 0);
  if (command.empty()) {
    if (TActionItem* existing = FindItem(*FCurrent, caption)) {
      FCurrent = existing;
      return true;
    }
    auto item = NewItem(caption, -1);
    TActionItem* added = item.get();
    FCurrent->Items.push_back(std::move(item));
    if (!added->Separator) FCurrent = added;
    return true;
  }
  FNamedActions.push_back(FCurrent->Caption + ": " + caption + "=" + command);
  const int index = static_cast<int>(FCommands.size());
  FCommands.push_back(command);
  FCurrent->Items.push_back(NewItem(caption, index));
  return true;
}

std::optional<std::string> TActionsFile::Lookup(const std::string& name) const {
  const std::string wanted = Trimmed(name);
  if (wanted.empty()) return std::nullopt;
  for (const std::string& entry : FNamedActions) {
    const std::size_t equals = entry.find('=');
    if (SameIgnoringCase(Trimmed(entry.substr(0, equals)), wanted)) return Trimmed(entry.substr(equals + 1));
  }
  return std::nullopt;
}

std::string TActionsFile::Command(int index) const {
  return index >= 0 && index < static_cast<int>(FCommands.size()) ? FCommands[static_cast<std::size_t>(index)]
                                                                   : std::string();
}
