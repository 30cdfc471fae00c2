#include "tools/LocalTools.h"

#include <algorithm>
#include <atomic>
#include <cctype>
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

namespace {
bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// A MAC address at i: "xx:xx:xx:xx:xx:xx" (or "-"), not part of a longer run of hex.
bool MacAt(const std::string& line, std::size_t i) {
  if (i + 17 > line.size() || (i > 0 && (IsHex(line[i - 1]) || line[i - 1] == ':'))) return false;
  const char sep = line[i + 2];
  if (sep != ':' && sep != '-') return false;
  for (std::size_t k = 0; k < 17; ++k) {
    const bool separator = k % 3 == 2;
    if (separator ? line[i + k] != sep : !IsHex(line[i + k])) return false;
  }
  return i + 17 == line.size() || (!IsHex(line[i + 17]) && line[i + 17] != sep);
}
}  // namespace

std::vector<TOutputLink> FindOutputLinks(const std::string& line) {
  std::vector<TOutputLink> links;
  std::vector<std::pair<int, int>> macs;  // 1-based start, length
  for (std::size_t i = 0; i < line.size(); ++i)
    if (MacAt(line, i)) {
      links.push_back({{line.substr(i, 17), static_cast<int>(i) + 1, 17}, true});
      macs.emplace_back(static_cast<int>(i) + 1, 17);
      i += 16;
    }
  std::vector<THostLink> hosts;
  FindHostsInText(line, hosts);
  for (const THostLink& h : hosts) {
    bool inMac = false;
    for (const auto& [start, length] : macs) inMac = inMac || (h.Start < start + length && start < h.Start + h.Length);
    if (!inMac) links.push_back({h, false});
  }
  std::sort(links.begin(), links.end(),
            [](const TOutputLink& a, const TOutputLink& b) { return a.Link.Start < b.Link.Start; });
  return links;
}
