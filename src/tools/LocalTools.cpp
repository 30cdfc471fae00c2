#include "tools/LocalTools.h"

#include <atomic>
#include <string_view>

#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/ProcessLaunch.h"
#include "common/TextCodec.h"
#include "common/TextFiles.h"
#include "common/TextUtils.h"

namespace {
constexpr std::size_t MaxOutputBytes = 4 * 1024 * 1024;
constexpr int CommandTimeoutMs = 120000;

bool Installed(const std::string& command) {
  const std::string program = command.substr(0, command.find(' '));
  for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"})
    if (FileExists(std::string(folder) + program)) return true;
  return false;
}

std::string ExpandTabs(const std::string& line) {
  std::string out;
  for (char c : line) {
    if (c == '\t') out.append(8 - out.size() % 8, ' ');
    else out += c;
  }
  return out;
}
}  // namespace

std::vector<TLocalCommand> LocalCommands() {
  const std::vector<TLocalCommand> all = {
      {"IP Configuration", "ip addr"},
      {"Routing Table", "ip route"},
      {"Interfaces", "ip link"},
      {"ARP Cache", "ip neigh"},
      {"DNS Cache", "resolvectl statistics"},
      {"Active Ports", "ss -tunap"},
      {"Ethernet Statistics", "ip -s link"},
      {"Protocol Statistics", "nstat -az"},
      {"SMB Server Stats", "smbstatus"},
      {"NetBIOS Local Names", "nmblookup -A 127.0.0.1"},
      {"NetBIOS Sessions", "smbstatus -b"},
      {"Network Shares", "findmnt -t cifs,smb3,nfs,nfs4"},
      {"Protocol Summary", "cat /proc/net/protocols"},
  };
  std::vector<TLocalCommand> present;
  for (const TLocalCommand& c : all)
    if (Installed(c.Command)) present.push_back(c);
  return present;
}

std::vector<TLocalCommand> LocalCommandButtons() {
  std::vector<TLocalCommand> buttons;
  if (Installed("resolvectl")) buttons.push_back({"IP Flush DNS", "resolvectl flush-caches"});
  return buttons;
}

std::vector<std::string> TidyCommandOutput(const std::string& output) {
  std::string text = output;
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF && static_cast<unsigned char>(text[1]) == 0xFE)
    text = Utf16ToText(text);
  if (text.find('\n') != std::string::npos) text = ReplaceAll("\r\r", "\r", text, false);
  std::vector<std::string> lines;
  for (const std::string& line : SplitTextLines(text)) lines.push_back(TrimTrailingSpaces(ExpandTabs(line)));
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
  return lines;
}

TLocalCommandResult RunLocalCommand(const std::string& command) {
  TLocalCommandResult result;
  int errorCode = 0, exitCode = 0;
  std::string output;
  std::atomic<bool> tooMuch{false};
  std::size_t read = 0;
  RunCaptured(command, "", errorCode, output, 0, 0, &tooMuch, CommandTimeoutMs, NoUserToken,
              [&](std::string_view chunk) {
                read += chunk.size();
                if (read > MaxOutputBytes) tooMuch.store(true);
              },
              exitCode);
  if (errorCode != 0) {
    result.Error = "Unable to run " + command + ": " + ErrorText(errorCode);
    return result;
  }
  if (output.size() > MaxOutputBytes) output.resize(MaxOutputBytes);
  result.Lines = TidyCommandOutput(output);
  if (tooMuch.load()) result.Lines.push_back("(output cut at " + std::to_string(MaxOutputBytes) + " bytes)");
  return result;
}
