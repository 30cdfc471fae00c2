#pragma once
// The scheduler: the pass on Timer1 that starts the tests that are due, abandons overdue
// ones, probes what hosts offer and starts the periodic traces; the test starts; and the
// completion handlers of the host tests, which turn a worker's report into a result
// value for the status evaluation. Main thread only.
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/DateTime.h"
#include "core/TMonitorParts.h"
#include "hosttests/TTestKinds.h"

class TBackgroundTask;
class THost;
class TStatusEvaluation;
class TTCPThread;
class TTestContext;
struct TTestResult;

class TScheduler : public QObject {
  Q_OBJECT
public:
  using TTraceStarter = std::function<std::shared_ptr<TBackgroundTask>(THost& host)>;
  // startPeriodicTrace: the periodic trace of a host; nothing when none was started.
  TScheduler(TMonitorParts parts, TTestContext& tests, TStatusEvaluation& evaluation,
             TTraceStarter startPeriodicTrace, QObject* parent = nullptr);

  // Testing on is the main window's testing button: Timer1 runs only while it is on (and
  // the timer is allowed: from the end of start-up to the beginning of shutdown).
  bool TestingOn() const { return FTestingOn; }
  void SetTestingOn(bool on);
  void AllowTimer(bool allowed);
  bool TimerAllowed() const { return FTimerAllowed; }
  void StopTimer() { Timer1.stop(); }

  void Timer1Timer();
  // A pass starts at most this many tests, and the next pass comes moments later instead
  // of after the usual quarter second: a first round of thousands of due hosts then
  // leaves the event loop room for window messages and results in between.
  static constexpr int DefaultMaxStartsPerPass = 250;
  static constexpr int IntervalMs = 250;
  static constexpr int CatchUpIntervalMs = 20;
  void SetMaxStartsPerPass(int count) { FMaxStartsPerPass = count < 1 ? 1 : count; }
  // A longer list than this is walked in a round of PassesPerRound passes (each host once
  // a second instead of four times): with 100,000 hosts the walk is most of the cost.
  static constexpr int DefaultMinHostsPerPass = 4000;
  static constexpr int PassesPerRound = 4;
  void SetMinHostsPerPass(int count) { FMinHostsPerPass = count < 1 ? 1 : count; }
  // Whether the last pass left due hosts for the next.
  bool CatchingUp() const { return FCatchingUp; }
  // Starts a test of the host now unless one runs; nothing for an index outside the list.
  void TestHost(int index);
  // The host command "Test Host Status": logs "Manual test", then TestHost.
  void TestHostNow(int index, const std::string& by = {});
  void RefreshAllHosts(const std::string& by = {});
  // The data folder, whose "HTTPPages" keeps the pages of the HTTP tests.
  void SetDataFolder(const std::string& folder);

  // The tray icon's hint after the last pass.
  const std::string& TrayHint() const { return FTrayHint; }
  int ProbesInFlight() const { return FProbesInFlight; }
  int PeriodicTracesRunning() const { return FPeriodicTraces; }

  // The completion of every host test: the worker's result goes to the status
  // evaluation when it is the host's running test; trace is the status trace's line.
  void TestDone(TBackgroundTask& worker, const TTestResult& result, const std::string& trace);
  // The completion of a capability probe.
  void ProbeCallback(TTCPThread& thread, const std::string& hostAddress, const std::string& resolvedAddress,
                     std::int32_t port, bool connected, const std::string& resultText, std::int64_t hostReference,
                     std::int32_t elapsed);

signals:
  void TrayHintChanged();
  void TestingChanged(bool on);

private:
  std::shared_ptr<TBackgroundTask> StartHostTest(const THost& host);
  // A passing glitch that an Online host does not record.
  bool DroppedGlitch(const TTestResult& result) const;
  bool TakeFinishedTest(const TBackgroundTask& thread, std::int64_t hostID);
  void Abandon(THost& host, std::shared_ptr<TBackgroundTask> THost::*slot, const char* message);
  void ReleaseRetired(std::int64_t hostID);
  void NoResultNote(const TTestResult& result);
  void Report(const char* where);

  TMonitorParts F;
  TTestContext& FTests;
  TStatusEvaluation& FEvaluation;
  TTraceStarter FStartPeriodicTrace;
  std::string FDataFolder;
  // What the tests read of the settings, with the pages folder of the data folder.
  TTestSettings FTestSettings;
  QTimer Timer1;
  bool FTestingOn = true;
  bool FTimerAllowed = false;
  std::string FTrayHint;
  // The round in progress: where the next pass starts, and what the round has counted.
  struct TRound {
    int Online = 0, Warning = 0, Offline = 0, Disabled = 0;
    bool DayChanged = false;
    std::string PreviousDay;
  };
  TRound FRound;
  int FCursor = 0;
  TDateTime FRoundStart = 0;
  int FMinHostsPerPass = DefaultMinHostsPerPass;
  int FProbesInFlight = 0;
  int FPeriodicTraces = 0;
  int FMaxStartsPerPass = DefaultMaxStartsPerPass;
  bool FCatchingUp = false;
};
