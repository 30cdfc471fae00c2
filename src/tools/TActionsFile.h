#pragma once
// The user's host actions from "Actions.cvl": one "caption=command" a line, a caption
// beginning with "\" belonging to the submenu above it, an empty command making a
// submenu heading ("-" a separator). The result is a tree over the host menu's own
// top-level items (given by the window), so that lines may add actions to a built-in
// submenu such as "Power Control"; the commands by index, and the named actions that
// command-line alerts and the double-click may name instead of a command line.
//
// Read once at start; the window builds its menu from Items(), the command runner asks
// Lookup(). No widgets here.
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TActionItem {
  std::string Caption;  // as shown: every "&" doubled in a user caption
  int Command = -1;     // index in TActionsFile::Commands(); -1 for headings and separators
  bool Separator = false;
  bool BuiltIn = false;  // one of the menu's own top-level items
  std::vector<std::unique_ptr<TActionItem>> Items;
};

class TActionsFile {
public:
  // What a file may hold; beyond it the reading stops with an error.
  static constexpr std::size_t MaxFileSize = 1024 * 1024;
  static constexpr std::size_t MaxLineLength = 4096;
  static constexpr std::size_t MaxActions = 2000;

  // builtIns: the captions of the menu's own top-level items in menu order; user items
  // start just before insertBefore (at the end when it is not among them).
  TActionsFile(const std::vector<std::string>& builtIns, const std::string& insertBefore);
  // Over the host menu's own top-level items, user items before "Windows Remote Desktop".
  TActionsFile();
  static const std::vector<std::string>& HostMenuItems();

  // Reads the text (lines end in CR LF, LF or CR). False at the first bad line, with
  // Error() set; what came before it stays.
  bool LoadFromText(const std::string& text);
  // The file when it exists (true and nothing read when it does not).
  bool LoadFromFile(const std::string& path);

  // "Unable to read Actions.cvl: " + the reason + "\r\r" + the system error's text;
  // empty after a good reading.
  const std::string& Error() const { return FError; }

  const std::vector<std::unique_ptr<TActionItem>>& Items() const { return FRoot.Items; }
  const std::vector<std::string>& Commands() const { return FCommands; }
  // "name=command" lines; a name inside a submenu is "Submenu: Caption".
  const std::vector<std::string>& NamedActions() const { return FNamedActions; }
  // The command of the action whose name (before "=", trimmed) equals the text,
  // without regard to case; nothing for no such action.
  std::optional<std::string> Lookup(const std::string& name) const;
  // The command of an item's index; empty for one out of range.
  std::string Command(int index) const;

private:
  bool Fail(const std::string& reason, int systemError);
  bool AddLine(const std::string& line, int number);

  TActionItem FRoot;
  std::vector<std::string> FCommands;
  std::vector<std::string> FNamedActions;
  std::string FError;
  TActionItem* FCurrent = nullptr;   // the current submenu
  std::size_t FInsertAt = 0;         // where the next top-level user item goes
  std::size_t FCount = 0;
};
