#pragma once
// The host record: what the user configures (THostConfig: what to test and how often,
// whom to alert and how) and what the monitor keeps (THostState: where the host stands
// now, its statistics and running work).
#include "common/DateTime.h"
#include "hosttests/THTTPReq.h"
#include "hosttests/TTestKind.h"
#include "hosttests/TTestParams.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TBackgroundTask;
struct TTestKindEntry;

// Host status. A group row keeps its collapsed flag (0 expanded, 1 collapsed) in the
// same field.
constexpr int32_t StatusUnknown = -1;
constexpr int32_t StatusOnline = 0;
constexpr int32_t StatusWarning = 1;
constexpr int32_t StatusOffline = 2;

constexpr int32_t MaxHostID = 8388607;
constexpr size_t ResponseHistorySize = 20;
constexpr size_t MaxStatusHistory = 500;

// "Online", "Warning", "Offline"; "Unknown" for every other value.
std::string StatusName(int32_t status);

// The kind's name from the table of test kinds ("Ping", "TCP", "Service", "Share",
// "HTTP"); a plug-in kind gives the plug-in test's name from the list when one is
// given, else from the table (empty when the number is not loaded).
std::string TestKindName(TTestKind kind, const std::vector<std::string>& pluginTestNames = {});

// The ID as eight upper-case hexadecimal digits (1000 gives "000003E8").
std::string HostIDText(int32_t id);

// One test result in the status history.
struct THistoryEntry {
  TDateTime Time = 0;  // last check of the result
  uint8_t Status = 0;  // status after the result
  int32_t Response = 0;  // ms

  bool operator==(const THistoryEntry&) const = default;
};

// What the user configures: a copyable value that the hosts file stores, the editor
// edits and a copy of a record takes whole. The test's parameters are its base.
struct THostConfig : TTestParams {
  std::string Address;
  double ErrorAfter = 5.0;  // minutes
  std::string DoubleClickCommand;
  // The alert routes.
  std::string OfflineRecipients;
  std::string OnlineRecipients;
  std::string IPChangeRecipients;
  std::string OfflineCommand;
  std::string OnlineCommand;
  std::string OfflineSound;
  std::string OnlineSound;
  THTTPReq OfflineNotification;
  THTTPReq OnlineNotification;
  int32_t GroupNumber = 0;
  bool AlertWindow = true;
  bool OnlinePopup = false;
  bool GlobalOfflineSound = true;
  bool GlobalOnlineSound = true;
  bool OfflineNotify = false;
  bool OnlineNotify = false;
  bool Dependable = false;
  bool EmailWindow = false;  // read by the pass too, beside the alert flags
  // What every scheduler pass reads of every host comes last, followed by the state's
  // first fields, in the order the pass reads them: with 100,000 hosts the pass is bound
  // by the cache lines it touches.
  TTestKind TestKind = TestPing;
  int32_t ID = 0;
  long double WindowStart = 0;  // fraction of a day
  long double WindowEnd = 0;
  std::string Parents;  // ";"-separated ID texts
  double TestInterval = 1.0;  // minutes
  TDateTime DisabledUntil = 0;  // 0 enabled, exactly 1.0 disabled with no end
  std::string DisplayName;  // ";" + name for a group row
};

// What the monitor keeps of a host: status, statistics, history, running work.
struct THostState {
  THostState() { ResponseHistory.fill(-1); }

  // The scheduler pass's fields first (see THostConfig).
  int32_t Status = StatusUnknown;
  uint32_t BackToBackFailures = 0;
  TDateTime LastCheck = 0;
  TDateTime LastSuccess = 0;
  TDateTime LastFailure = 0;
  std::shared_ptr<TBackgroundTask> RunningTest;
  std::shared_ptr<TBackgroundTask> RunningTrace;
  TDateTime LastProbe = 0;
  TDateTime LastAutoTrace = 0;
  bool LocalSubnet = false;
  bool ParentsUp = false;
  bool HasBeenOffline = false;
  bool ParentHasBeenOffline = false;
  uint8_t ShareCapability = 0;  // 0 not probed, 1 port 139 open, 2 closed
  uint8_t RDPCapability = 0;  // 0 not probed, 1 port 3389 open, 2 closed
  std::string CurrentIP;

  std::string PreviousIP;
  std::string MACAddress;
  TDateTime BaselineTime = 0;
  TDateTime PreviousCheck = 0;
  TDateTime SimulatedFailureUntil = 0;
  uint32_t Successes = 0;
  uint32_t Failures = 0;
  uint32_t Warnings = 0;
  int32_t Errors = 0;
  int32_t PreviousStatus = StatusUnknown;
  long double Uptime = 0;  // days
  long double Downtime = 0;
  int64_t TotalResponse = 0;  // ms
  std::array<int32_t, ResponseHistorySize> ResponseHistory;  // oldest first; -1 empty
  std::string LastErrorText;
  std::string TraceLastReply;
  std::string TraceDropPoint;
  std::string TraceReport;
  // Oldest first. A vector rather than a deque: an empty deque costs an allocation of
  // its own, and most records of a large list keep a short history.
  std::vector<THistoryEntry> StatusHistory;
  std::string Ancestors;  // ";"-separated ID texts, computed
  std::string ShareConnection;
  std::string KnownRoutes;  // ";"-separated lists of ","-separated hops
};

// The host record. Records belong to the main thread (see README.md for how other
// threads read them).
class THost : public THostConfig, public THostState {
public:
  const THostConfig& Config() const { return *this; }
  THostConfig& Config() { return *this; }
  const THostState& State() const { return *this; }
  THostState& State() { return *this; }
  const TTestParams& TestParams() const { return *this; }

  bool IsGroup() const { return !DisplayName.empty() && DisplayName[0] == ';'; }
  std::string IDText() const { return HostIDText(ID); }

  // Disabled with no end (exactly 1.0) or until a moment still to come.
  bool IsDisabled(TDateTime now) const;
  // Inside the daily window; start equal to end means no window, start after end spans
  // midnight. Only the time of day of each value counts.
  bool InDailyWindow(TDateTime now) const;

  // Total response / successes in ms; none before the first success.
  std::optional<double> AverageResponse() const;
  // The newest response-history slot, -1 when empty.
  int32_t LastResponse() const { return ResponseHistory.back(); }
  // Uptime / (uptime + downtime) x 100; none while no time has been accounted.
  std::optional<long double> UpPercent() const;

  // After a result: append the last check, the status and the response time, then drop
  // entries a day or more older than now and any beyond the newest 500.
  void AppendHistory(int32_t responseTime, TDateTime now);
};

// Whether now lies in the daily window from start to end (fractions of a day; only the
// time of day of each value counts): equal bounds mean no window, a start after the end
// spans midnight.
bool InDailyWindow(long double start, long double end, TDateTime now);

// Display name and address decorated by test kind, for host lists and pop-ups.
std::string HostLabel(const THost& host, const std::vector<std::string>& pluginTestNames = {});
// How the event log names the host: display name, " (", address, ":" and the port when
// above 0, ")". The log view and %log% find a host's lines by it.
std::string LogLabel(const THost& host);
// The address as the host's test reaches it (message variable %addr%).
std::string TestAddress(const THost& host);
// The entry of the host's kind in the program's table of test kinds; nullptr for a
// number nothing registered.
const TTestKindEntry* KindOf(const THost& host);
