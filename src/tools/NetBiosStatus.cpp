#include "tools/NetBiosStatus.h"

#include "common/ErrorText.h"
#include "common/ProcessLaunch.h"
#include "common/TextFiles.h"

namespace {
constexpr int CommandTimeoutMs = 30000;
constexpr std::size_t MaxLines = 2000;
constexpr std::size_t MaxLineLength = 1000;
}  // namespace

std::string ExpandNetBiosTabs(std::string line) {
  for (std::size_t at = line.find('\t'); at != std::string::npos; at = line.find('\t')) {
    const std::size_t position = at + 1;
    line.replace(at, 1, std::string(8 - position % 8, ' '));
  }
  return line;
}

std::vector<std::string> NetBiosStatusLines(const std::string& dottedAddress) {
  int errorCode = 0, exitCode = 0;
  std::string output;
  RunCaptured("nmblookup -A " + dottedAddress, "", errorCode, output, 0, 0, nullptr, CommandTimeoutMs, NoUserToken, {},
              exitCode);
  std::vector<std::string> lines;
  if (errorCode != 0) {
    lines.push_back("nmblookup could not be run: " + ErrorText(errorCode));
    return lines;
  }
  for (std::string& line : SplitTextLines(output)) {
    if (lines.size() >= MaxLines) break;
    if (line.size() > MaxLineLength) line.resize(MaxLineLength);
    lines.push_back(ExpandNetBiosTabs(std::move(line)));
  }
  return lines;
}
