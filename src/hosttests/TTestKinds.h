#pragma once
// The table of test kinds: everything the monitor, the hosts file, the message
// variables and the window know of a kind comes from its entry here. The built-in
// kinds register themselves from their own files (TPingKind, TTCPKind, TServiceKind,
// TShareKind, THTTPKind); a plug-in loader adds one entry per loaded plug-in test with
// AddPluginKind.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "hosttests/TTestKind.h"
#include "hosttests/TTestParams.h"
#include "hosttests/TTestResult.h"

class TBackgroundTask;
class TTestContext;

// The settings a test reads.
struct TTestSettings {
  int NumPings = 3;
  int PingTimeout = 2000;
  std::int32_t TCPConnectTimeout = 21000;
  std::string PagesFolder;  // empty: no page copies
  int CertExpiryDays = 14;
  int HTTPTimeoutMs = 60000;
  int SMBPort = 445;
};

// One test to start, read in place for the length of the Start call: the kind copies
// into its worker what the worker keeps (a worker never refers to a record).
struct TTestStart {
  std::int32_t HostID = 0;
  const std::string& DisplayName;
  const std::string& Address;
  const TTestParams& Params;
  const TTestSettings& Settings;
  // The host's Windows account ("{Domain\}Username") for the tests that log on.
  const std::string& WinUserName;
  const std::string& WinPassword;
};

// Called once on the main thread when the test has its result; trace is the status
// trace's line for it.
using TTestDone = std::function<void(TBackgroundTask& worker, const TTestResult& result, const std::string& trace)>;

// Which in-flight counter of the test context (and which limit setting) a kind's tests use.
enum class TSlotKind { Ping, TCP, Service, Share };

struct TTestKindEntry {
  TTestKind Kind = TTestKind::Ping;
  // "Ping", "TCP", ...: %test%, the log's "(During ...)", the web's metrics.
  std::string Name;
  // Plug-in tests: how the hosts file names the kind in field 23 (built-in kinds are
  // stored by number).
  std::string Identifier;
  TSlotKind Slots = TSlotKind::Ping;

  // The host label after display name, " (" and address: ")" for a ping test.
  std::function<std::string(const TTestParams&)> LabelSuffix;
  // %addr%: the address as the test reaches it, e.g. "server:80".
  std::function<std::string(const std::string& address, const TTestParams&)> TestAddress;
  // %data%: the test's parameter; none leaves the variable in the text.
  std::function<std::optional<std::string>(const TTestParams&)> Data;
  // The one variable only this kind fills ("%port%"); other kinds give "---" for it.
  std::string OwnVariable;
  std::function<std::string(const TTestParams&)> OwnValue;
  // The host information pane: the test's caption and what it tests.
  std::function<std::string(const TTestParams&)> SummaryType;
  std::function<std::string(const TTestParams&)> SummaryInfo;

  // The lines that follow a host line of this kind in the hosts file, before the
  // notification lines. ExtraFields: the fields a complete line has (a shorter last
  // line of the file is a record cut short; 0 means any).
  int ExtraLines = 0;
  int ExtraFields = 0;
  std::function<void(const std::string& line, TTestParams& params)> ReadExtra;
  // Each line with its CR LF.
  std::function<std::string(const TTestParams&)> WriteExtra;

  // Starts a test; empty for a kind that cannot be tested yet (the scheduler then
  // starts nothing). The worker posts its TTestResult through done.
  std::function<std::shared_ptr<TBackgroundTask>(TTestContext& context, const TTestStart& start, TTestDone done)>
      Start;
};

class TTestKinds {
public:
  // The built-in kinds.
  TTestKinds();
  TTestKinds(const TTestKinds&) = delete;
  TTestKinds& operator=(const TTestKinds&) = delete;

  // The program's table.
  static TTestKinds& Standard();

  // The entry of a kind; nullptr for a number nothing registered. Entries live as long
  // as the table; any thread.
  const TTestKindEntry* Find(TTestKind kind) const;
  // A plug-in kind by its hosts-file identifier (exact comparison); nullptr when none.
  const TTestKindEntry* FindIdentifier(const std::string& identifier) const;

  // For the plug-in loader, at load time: the entry becomes the next plug-in kind
  // (FirstPlugin, FirstPlugin + 1, ...), which is returned; its Kind is set here. An
  // entry without a name, with an identifier already taken or that a hosts-file field
  // could not hold (a comma, a quote, a line end) is refused: none.
  std::optional<TTestKind> AddPluginKind(TTestKindEntry entry);
  int PluginCount() const;

  // For a kind's own file: registers a built-in kind (below FirstPlugin).
  void AddBuiltIn(TTestKindEntry entry);

private:
  mutable std::shared_mutex FLock;
  std::deque<TTestKindEntry> FBuiltIn;  // a deque: entries keep their addresses
  std::deque<TTestKindEntry> FPlugins;
};

// The label suffix of a plug-in kind (":" and its name, no closing bracket).
std::string PluginLabelSuffix(const std::string& name);

// The line that follows the host line of every plug-in kind: its parameter, scrambled
// and escaped, with its CR LF.
std::string PluginParamLine(const TTestParams& params);
void ReadPluginParamLine(const std::string& line, TTestParams& params);
