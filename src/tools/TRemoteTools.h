#pragma once
// The "Remote Tools" page without its widgets: trace route and path ping (a row per hop
// with its replies and times), range ping (a row per address) and NetBIOS status (the
// lines of Samba's status query). Every request runs on the shared echo engine or the
// pool; the answers come back here on the main thread, and the page redraws from Rows()
// once per turn of the event loop (GridChanged). Main thread only.
#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/MagicWakeup.h"

class TMonitor;
class TPingThread;
class THostNameThread;

class TRemoteTools : public QObject {
  Q_OBJECT
public:
  enum TColumn { colStep, colAddress, colHost, colSuccess, colResponse, ColumnCount };
  struct TRow {
    std::array<std::string, ColumnCount> Cells;
    int Received = 0, Lost = 0;  // the success bar
  };
  static constexpr int Hops = 30;
  static constexpr int PathPingRequests = 50, TraceRouteRequests = 3;
  static constexpr int PathPingSpacingMs = 500, PathPingTimeoutMs = 5000;
  // A range ping gives every address a row and a request: bounded, so no entry can
  // make the program hold millions of them.
  static constexpr std::uint32_t MaxRangeAddresses = 65536;

  explicit TRemoteTools(TMonitor& monitor, QObject* parent = nullptr);
  ~TRemoteTools() override;

  // "Trace Route" (pathPing false) or "Path Ping" to a name or address; refusals and
  // failures come as Message.
  void StartTrace(const std::string& address, bool pathPing);
  // "Ping Range" after the confirmation; false (with Message) for a range too large.
  bool StartRangePing(const std::string& from, const std::string& to);
  // "NetBIOS Status": nmblookup's node status query of the address.
  void StartNetBIOS(const std::string& address);
  // F6 on this page.
  void ClearNetBIOS();

  const std::vector<TRow>& Rows() const { return FRows; }
  const std::string& Caption() const { return FCaption; }
  // The heading of the first column ("Step" until a tool has run, then "Host").
  const std::string& FirstHeading() const { return FFirstHeading; }
  // The four controls a trace or NetBIOS run disables.
  bool ToolsEnabled() const { return FToolsEnabled; }
  bool ShowingNetBIOS() const { return FShowNetBIOS; }
  const std::vector<std::string>& NetBIOSLines() const { return FNetBIOSLines; }
  bool RangeRunning() const { return !FRange.empty(); }
  // Echo requests and lookups of the tools in flight.
  int Pending() const;

  // The path ping timer's pass (every 10 ms), public for the tests that move the clock.
  void tmrPathPingsTimer();
  // The text of a success cell: received/total (percentage%).
  static std::string SuccessText(int received, int lost);

signals:
  void GridChanged();
  void ToolsEnabledChanged(bool enabled);
  void Message(bool warning, const QString& text);

private:
  struct THop {
    std::string Responding;
    int Received = 0, Lost = 0, Sent = 0, Wanted = 0;
    long long TimeSum = 0;
    double LastRequestMs = 0;
    std::shared_ptr<TPingThread> First;
    std::vector<std::shared_ptr<TPingThread>> InFlight;
  };
  struct TRangeEntry {
    std::string Address;
    std::shared_ptr<TPingThread> Thread;
  };

  void TraceResolved(const std::string& address, const std::string& dotted, bool pathPing);
  void FirstReply(TPingThread& thread, std::uint64_t run, int hop, const std::string& responder, int responseTime,
                  bool success);
  void PathPingReply(TPingThread& thread, std::uint64_t run, int hop, int responseTime, bool success);
  void CheckTraceEnd();
  void StartRangeBatch(std::uint64_t run);
  void RangeReply(TPingThread& thread, std::uint64_t run, int tag, bool success, int responseTime,
                  const std::string& resolved, const std::string& errorText);
  std::shared_ptr<TPingThread> StartRangeEcho(std::uint64_t run, int tag, const std::string& address,
                                              const std::string& name);
  void StopRange();
  void LookUpName(const std::string& address, const std::string& listName);
  void NameLookedUp(THostNameThread& thread, const std::string& name, const std::string& reverse,
                    const std::string& dotted);
  void SetToolsEnabled(bool enabled);
  void Changed();

  TMonitor& FMonitor;
  QTimer tmrPathPings;
  std::vector<TRow> FRows;
  std::string FCaption;
  std::string FFirstHeading = "Step";
  bool FToolsEnabled = true;
  bool FShowNetBIOS = false;
  std::vector<std::string> FNetBIOSLines;
  bool FNetBIOSRunning = false;
  bool FChangePosted = false;

  // The trace run: replies of an earlier run carry an older number and are let go.
  std::uint64_t FTraceRun = 0;
  bool FTracing = false;
  std::string FTarget;  // dotted
  std::array<THop, Hops> FHops;
  int FLastRow = Hops;  // rows kept: the target answered at this hop

  std::uint64_t FRangeRun = 0;
  std::vector<TRangeEntry> FRange;
  std::vector<std::string> FRangeQueue;  // addresses not started yet
  std::size_t FRangeNext = 0;
  std::vector<std::string> FLocalAddresses, FLocalMasks;

  std::map<std::string, std::shared_ptr<THostNameThread>> FLookups;  // by address
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};
