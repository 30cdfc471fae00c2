#pragma once
// Runs a command line for a host: its offline and online commands, its double-click
// command and the user's host actions. The text may name an action, carries the host's
// message variables, "%1" for the address and environment variables between percent
// signs; a web address is handed to the desktop's opener, anything else is started as a
// program that runs on its own. Main thread only; nothing here waits for the program.
#include <functional>
#include <optional>
#include <string>

class TMonitor;
class THost;

class TCommandRunner {
public:
  // The command line of the named action; nothing when no action has the name.
  using TActionLookup = std::function<std::optional<std::string>(const std::string& name)>;
  // A connection to a computer's resources, made before a command marked with "*" starts
  // and dropped after the start. Connect gets "\\" + the host's address and the host's
  // credentials (and may ask the user for missing ones); it returns 0 or a system error
  // code and reports a failure itself.
  struct TNetworkConnector {
    std::function<int(const std::string& remoteName, const std::string& user, const std::string& password)> Connect;
    std::function<void(const std::string& remoteName)> Disconnect;
  };

  // What expansion of environment variables may produce.
  static constexpr std::size_t MaxExpandedLength = 1024;

  // The monitor gives the message variables and takes the log lines; it must outlive
  // the runner.
  explicit TCommandRunner(TMonitor& monitor);

  void SetActionLookup(TActionLookup lookup) { FActionLookup = std::move(lookup); }
  void SetNetworkConnector(TNetworkConnector connector) { FConnector = std::move(connector); }

  // Runs the command text for the host; true when a program or the opener started. A
  // start that fails is logged ("Error Loading Command Line: ...", a warning) and not
  // retried.
  bool RunHostCommand(const std::string& command, const THost& host);

  // Every "%NAME%" whose NAME is in the environment (the exact name, else one that
  // differs only in letter case) becomes its value; others stay as written. The result
  // is cut at MaxExpandedLength.
  static std::string ExpandEnvironment(const std::string& text);
  // Whether the text is a web address for the opener: "://" at character 3 to 10.
  static bool IsWebAddress(const std::string& text);
  // The first blank-separated field (double quotes group, and stay in it); start and
  // length in text, 0-based.
  static std::pair<std::size_t, std::size_t> ProgramField(const std::string& text);
  // The folder of a program path ("/" or "\" separated, quotes dropped), without the
  // final separator; empty when the path names no folder.
  static std::string ProgramFolder(const std::string& program);

private:
  void LogStartError(const THost& host, int code, const std::string& commandLine);

  TMonitor& FMonitor;
  TActionLookup FActionLookup;
  TNetworkConnector FConnector;
  bool FNoConnectorLogged = false;
};
