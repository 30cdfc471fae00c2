#include "alerts/TCommandRunner.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "common/ErrorText.h"
#include "common/ProcessLaunch.h"
#include "common/TextUtils.h"
#include "core/MessageVariables.h"
#include "core/THost.h"
#include "core/TMonitor.h"
#include "platform/ShellOpen.h"

extern char** environ;

namespace {

constexpr int SW_SHOW = 5;

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
         });
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
  if (const char* value = std::getenv(name.c_str())) return std::string(value);
  // Names written for the other system differ in case only (%Temp%, %TEMP%).
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const std::size_t equals = text.find('=');
    if (equals != std::string_view::npos && SameIgnoringCase(text.substr(0, equals), name))
      return std::string(text.substr(equals + 1));
  }
  return std::nullopt;
}

}  // namespace

TCommandRunner::TCommandRunner(TMonitor& monitor) : FMonitor(monitor) {}

std::string TCommandRunner::ExpandEnvironment(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size() && out.size() < MaxExpandedLength) {
    const std::size_t open = text.find('%', at);
    if (open == std::string::npos) {
      out.append(text, at);
      break;
    }
    out.append(text, at, open - at);
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string::npos) {
      out.append(text, open);
      break;
    }
    const std::optional<std::string> value = EnvironmentValue(text.substr(open + 1, close - open - 1));
    if (value) {
      out += *value;
      at = close + 1;
    } else {
      // An unknown name stays; its closing sign may open the next name.
      out.append(text, open, close - open);
      at = close;
    }
  }
  if (out.size() > MaxExpandedLength) out.resize(MaxExpandedLength);
  return out;
}

bool TCommandRunner::IsWebAddress(const std::string& text) {
  const std::size_t at = text.find("://");
  return at != std::string::npos && at + 1 >= 3 && at + 1 <= 10;
}

std::pair<std::size_t, std::size_t> TCommandRunner::ProgramField(const std::string& text) {
  const std::size_t start = std::min(text.find_first_not_of(" \t"), text.size());
  bool quoted = false;
  std::size_t end = start;
  for (; end < text.size(); ++end) {
    if (text[end] == '"') quoted = !quoted;
    else if (!quoted && (text[end] == ' ' || text[end] == '\t')) break;
  }
  return {start, end - start};
}

std::string TCommandRunner::ProgramFolder(const std::string& program) {
  std::string path = program;
  std::erase(path, '"');
  const std::size_t last = path.find_last_of("/\\");
  if (last == std::string::npos) return std::string();
  return last == 0 ? path.substr(0, 1) : path.substr(0, last);
}

void TCommandRunner::LogStartError(const THost& host, int code, const std::string& commandLine) {
  FMonitor.LogEvent(&host, "Error Loading Command Line: " + ErrorText(code) + ", Cmd: " + commandLine,
                    TLogCategory::Warning);
}

bool TCommandRunner::RunHostCommand(const std::string& command, const THost& host) {
  std::string text = command;
  if (FActionLookup)
    if (std::optional<std::string> action = FActionLookup(text)) text = std::move(*action);
  std::string workDir;  // ours
  bool withCredentials = false;
  if (!text.empty() && text.front() == '*') {
    text.erase(0, 1);
    withCredentials = true;
  }
  text = ExpandHostVariables(text, host, false, FMonitor.VariableContext());
  text = ReplaceAll("%1", host.Address, text, true);
  if (text.find('%') != std::string::npos) text = ExpandEnvironment(text);

  auto [fieldStart, fieldLength] = ProgramField(text);
  if (fieldLength > 0 && text[fieldStart] == '*') {
    text.erase(fieldStart, 1);
    --fieldLength;
    withCredentials = true;
  }

  TProcessHandle process;
  if (IsWebAddress(text)) {
    // A web address is no path: its slashes name no working folder.
    process = ShellOpen(text, workDir);
  } else {
    const std::string program = text.substr(fieldStart, fieldLength);
    if (program.find_first_of("/\\") != std::string::npos) workDir = ProgramFolder(program);
    const std::string remoteName = "\\\\" + host.Address;
    bool connected = false;
    if (withCredentials) {
      if (FConnector.Connect) {
        connected = FConnector.Connect(remoteName, host.WinUserName, host.WinPassword) == 0;
      } else if (!FNoConnectorLogged) {
        FNoConnectorLogged = true;
        FMonitor.LogEvent(&host,
                          "Commands marked with \"*\" start without connecting to " + remoteName +
                              ": no network connections can be made here",
                          TLogCategory::Warning);
      }
    }
    process = LaunchProcess(text, workDir, SW_SHOW);
    if (connected && FConnector.Disconnect) FConnector.Disconnect(remoteName);
  }
  if (process.Value < 0) {
    LogStartError(host, static_cast<int>(-process.Value), text);
    return false;
  }
  CloseProcessHandle(process);
  return true;
}
