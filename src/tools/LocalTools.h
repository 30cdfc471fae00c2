#pragma once
// The "Local Tools" page without its widgets: the local information commands (the
// Linux commands that tell what the page's entries tell) and how their output is shown.
#include <string>
#include <vector>

#include "common/NetText.h"

struct TLocalCommand {
  std::string Name;     // the entry's caption
  std::string Command;  // run without a shell
};

// The entries, in the page's order; an entry whose program is not installed is left out.
std::vector<TLocalCommand> LocalCommands();
// The buttons beside the list (only "IP Flush DNS" has a meaning here, where resolvectl
// is installed).
std::vector<TLocalCommand> LocalCommandButtons();

// Output as the page lists it: UTF-16 text converted, "\r\r" taken as one line end when
// the text has line feeds, tabs expanded to the next multiple of 8 columns, trailing
// blanks removed, leading and trailing empty lines dropped.
std::vector<std::string> TidyCommandOutput(const std::string& output);

struct TLocalCommandResult {
  std::vector<std::string> Lines;
  std::string Error;  // the command could not be started
};
// Runs the command with its output captured; blocks (off the main thread). Output and
// time are bounded: a command that writes too much or runs too long is ended and what
// it wrote until then is kept, with a note.
TLocalCommandResult RunLocalCommand(const std::string& command);

// The links of an output line: host names and addresses (which open the host actions
// menu) and MAC addresses, six pairs of hex digits joined by ":" or "-" (which open the
// MAC address menu), in the order they stand.
struct TOutputLink {
  THostLink Link;
  bool Mac = false;
};
std::vector<TOutputLink> FindOutputLinks(const std::string& line);
