#pragma once
// The main monitor object: owns the host list and retired hosts, the state lock, the
// status trace, the run state and the files of the data folder, wires its parts together
// (the event-log keeper, the scheduler, the status evaluation, the change notices and
// the alert side whose routes subscribe to the evaluation), runs start-up and shutdown, and
// answers the window messages of the class "TfrmCorvale". It runs with or without a
// display; the desktop window shows it and calls its operations.
//
// Shared state: see src/core/README.md. Everything here is changed on the main thread
// only, under StateLock() held exclusively; other threads read under it held shared.
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/MessageVariables.h"
#include "core/RunState.h"
#include "core/TAlertChannels.h"
#include "core/TAlertRoutes.h"
#include "core/TEventLog.h"
#include "core/TEventLogKeeper.h"
#include "core/TEverythingOK.h"
#include "core/THostList.h"
#include "core/THostChanges.h"
#include "core/TRunningTests.h"
#include "core/TScheduler.h"
#include "core/TStatusEvaluation.h"
#include "hosttests/TTestResult.h"
#include "core/TFaultLog.h"
#include "core/TSettings.h"
#include "core/TStartOptions.h"
#include "core/TStatusTrace.h"
#include "core/TWebServerControl.h"
#include "hosttests/TTestContext.h"
#include "platform/TInstanceLock.h"
#include "platform/TRegistryStore.h"

class TClock;
class THost;
class THostList;
class TBackgroundTask;
class TEchoEngine;
class TPingThread;
class TTCPThread;
class TPartnerWindows;
class TServiceControl;
class TWindowChannel;
class THostNameLookups;
class TPluginHost;


// Window messages of the class "TfrmCorvale".
constexpr std::uint32_t WM_CORVALE_CLOSE = 3022;
constexpr std::uint32_t WM_CORVALE_SHOW = 3023;
constexpr std::uint32_t WM_CORVALE_HOSTLIST = 3024;
constexpr std::uint32_t WM_CORVALE_HOST = 3025;
constexpr std::uint32_t WM_CORVALE_SUBSCRIBE = 3026;
constexpr std::uint32_t WM_CORVALE_UNSUBSCRIBE = 3027;
constexpr std::uint32_t WM_CORVALE_STARTED = 7461;
constexpr std::uint32_t WM_CORVALE_STOPPED = 7462;
constexpr std::intptr_t CorvaleStartedParam = 6437;
constexpr std::intptr_t CorvaleStoppedParam = 6438;

extern const char* const CorvaleWindowClass;  // "TfrmCorvale"
extern const char* const CorvaleServiceName;  // "Corvale"
extern const char* const CorvaleRegKey;       // "Software\Quillmoor\Corvale"

class TMonitor : public QObject {
  Q_OBJECT
public:
  TMonitor(const TStartOptions& options, TClock& clock, TServiceControl& services,
           QObject* parent = nullptr);
  ~TMonitor() override;
  TMonitor(const TMonitor&) = delete;
  TMonitor& operator=(const TMonitor&) = delete;

  // The start-up steps in order. Registers the window of the class "TfrmCorvale". False,
  // having written nothing, when another copy holds the data folder (StartRefusal() says
  // so); the program then ends.
  bool Startup();
  const std::string& StartRefusal() const { return FStartRefusal; }
  // Locked in the data folder for the whole run.
  static constexpr const char* InstanceLockFileName = "Corvale.lock";
  // The status trace's copy that outlives a crash of the process.
  static constexpr const char* TraceRingFileName = "Corvale.trace";
  // The orderly shutdown; runs once. Emits ShutdownFinished at the end.
  void Shutdown();
  // Another program, the tray's Exit or the end of the session asks the program to end.
  void RequestClose();
  // The session ends (log-off, shutdown, SIGTERM): restart the own service when this
  // run stopped it, then close.
  void EndSession();
  // The window procedure of "TfrmCorvale".
  std::intptr_t WndProc(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

  void LogEvent(const THost* host, const std::string& message, TLogCategory category) {
    FEvents->LogEvent(host, message, category);
  }
  using TLogHook = TEventLogKeeper::TLogHook;
  void AddLogHook(TLogHook hook) { FEvents->AddLogHook(std::move(hook)); }
  // The event log file "Corvale.log" in the data folder (TEventLogKeeper).
  void SaveEventLog() { FEvents->Save(); }
  // The settings file; skipped when it cannot be written (false, with an "E" event), and
  // for the whole run when an unreadable file could not be set aside.
  bool SaveSettings();
  // The headless program: every event also goes to this stream, one line each (a service
  // manager's journal reads standard error). nullptr: nowhere.
  void SetEventEcho(std::FILE* stream) { FEvents->SetEventEcho(stream); }
  void Trace(const std::string& message) { FTrace->Trace(message); }
  // Where the monitor's parts hand the errors they swallow: each becomes an "E" event,
  // rate-limited per place (TFaultLog). Any thread.
  TFaultHook FaultHook() { return FFaults->Hook(); }
  void ReportFault(const std::string& where, const std::string& what) { FFaults->Report(where, what); }
  // Inside a catch block: reports the exception being handled.
  void ReportCurrentException(const std::string& where) { FFaults->Report(where, CurrentExceptionText()); }

  // The hosts file (TMonitorConfig.cpp). LoadConfiguration replaces the host list with
  // the file's records and makes the file the current hosts file, also when it was read
  // only in part (its original is kept beside it, see THostsFile.h); false then, and a
  // file that does not exist changes nothing. SaveConfiguration writes the host list
  // and logs it; SaveHostsFile writes it without a log line (the log file's save, the
  // end of the session).
  bool LoadConfiguration(const std::string& fileName);
  bool SaveConfiguration(const std::string& fileName);
  bool SaveHostsFile(const std::string& fileName, std::string* errorText = nullptr);
  // OK of the configuration dialog: the host list becomes the records given, in order
  // (full copies with their IDs). The old records leave it (retired while busy, freed
  // otherwise; nothing waits for a test); group numbers, local-subnet flags and zero
  // baseline times (now) are set, parents rechecked, the views hear Rebuilt and the
  // configuration hooks are called; then the hosts file is saved and the change logged.
  // False when the hosts file could not be saved (the list stands all the same).
  bool ApplyConfiguration(THostList::TRecords records);
  // Plug-in tests as the hosts file names them: the index of the loaded plug-in test
  // with an identifier (-1 when none) and the identifier of an index. Set by the
  // plug-in host.
  using TPluginTestIndex = std::function<int(const std::string& identifier)>;
  using TPluginTestIdentifier = std::function<std::string(int index)>;
  void SetPluginTestLookup(TPluginTestIndex indexOf, TPluginTestIdentifier identifierOf) {
    FPluginTestIndex = std::move(indexOf);
    FPluginTestIdentifier = std::move(identifierOf);
  }
  // Called after a hosts file was loaded or the host list replaced, with the hosts
  // file name and the number of records. Errors are swallowed.
  using TConfigurationChangedHook = std::function<void(const std::string& hostsFileName, int count)>;
  void AddConfigurationChangedHook(TConfigurationChangedHook hook) {
    FConfigurationChangedHooks.push_back(std::move(hook));
  }

  // Start-up decisions.
  const TStartOptions& Options() const { return FOptions; }
  bool ServiceMode() const { return FOptions.ServiceMode; }
  bool RemovableMode() const { return FRemovableMode; }
  bool DiagnosticMode() const { return FDiagnosticMode; }
  bool RestartServiceAtExit() const { return FRestartServiceAtExit; }
  void SetRestartServiceAtExit(bool on) { FRestartServiceAtExit = on; }
  const std::string& ProgramPath() const { return FProgramPath; }
  const std::string& ProgramFolder() const { return FProgramFolder; }
  const std::string& DataFolder() const { return FDataFolder; }
  const std::string& HostsFileName() const { return FHostsFileName; }
  const std::string& SettingsFileName() const { return FSettingsFileName; }
  bool LoadAtLogin() const { return FLoadAtLogin; }
  bool LoadMinimized() const { return FLoadMinimized; }
  bool OtherProgramAtLogin() const { return FOtherProgramAtLogin; }
  // The login start-up entry from the configuration dialog: state 0 removes it, 1 writes
  // it for this program ("/minimize" when minimized), 2 leaves it alone; never in
  // removable mode. Errors are logged ("E"). LoadAtLogin()/LoadMinimized() follow.
  void SetLoginStartup(int state, bool minimized);

  TRunState RunState() const { return FRunState.load(); }
  // When the program started (set at the beginning of Startup; the making of the monitor
  // until then).
  TDateTime StartTime() const { return FStartTime; }
  void SetRunState(TRunState state) { FRunState.store(state); }
  // 1 until the orderly shutdown has finished, then 0, or ExitUnsaved when that shutdown
  // could not save the hosts file.
  int ExitCode() const { return FExitCode.load(); }
  static constexpr int ExitUnsaved = 2;
  std::uintptr_t WindowHandle() const;
  std::string Caption() const;

  // The message variables' context at this moment (the clock's now). Off the main
  // thread, call it and use the result under StateLock() held shared.
  TVariableContext VariableContext();

  TClock& Clock() { return FClock; }
  TRegistryStore& Registry() { return FRegistry; }
  TServiceControl& Services() { return FServices; }
  THostList& Hosts() { return *FHosts; }
  TEventLog& Log() { return FEvents->Log(); }
  TEventLogKeeper& Events() { return *FEvents; }
  TScheduler& Scheduler() { return *FScheduler; }
  TStatusEvaluation& Evaluation() { return *FEvaluation; }
  // Which hosts changed, added, left; the list rebuilt (for the views).
  THostChanges& Changes() { return *FChanges; }
  TRunningTests& Running() { return FRunning; }
  // The programs that follow the hosts through window messages 3024 to 3027.
  TPartnerWindows& Partners() { return *FPartners; }
  TStatusTrace& StatusTrace() { return *FTrace; }
  std::shared_mutex& StateLock() { return FStateLock; }
  TCompletionCounters& Completions();
  // What the test workers share: the echo handle (opened when the monitor is made, in
  // the calling thread's network namespace), the slots, the pool.
  TTestContext& Tests() { return *FTests; }
  TEchoEngine& EchoEngine() { return *FEcho; }
  // The alert side, whose routes subscribe to the status evaluation's transitions; the
  // monitor starts with none (TAlertChannels itself). The object must outlive the
  // monitor; nullptr returns to none. Its routes replace the routes of the one before.
  void SetAlertChannels(TAlertChannels* channels);
  TAlertChannels& Alerts() { return *FAlerts; }
  TAlertRoutes& AlertRoutes() { return FRoutes; }
  // The web server the monitor starts at start-up when the port setting is above 0 (not
  // in removable mode) and stops at shutdown; the object must outlive the monitor's
  // shutdown. nullptr: none.
  void SetWebServer(TWebServerControl* server) { FWebServer = server ? server : &FNoWebServer; }
  TWebServerControl& WebServer() { return *FWebServer; }
  // After the settings changed: a changed port restarts the web server (or stops it, or
  // starts it). Main thread.
  void ApplyWebServerPort();
  const std::vector<TRunningTask>& RunningTests() const { return FRunning.Items(); }
  // Changed on the main thread under StateLock() held exclusively: see UpdateSettings.
  TSettings& Settings() { return FSettings; }
  const TSettings& Settings() const { return FSettings; }
  bool Use24HourDate() const { return FSettings.Use24HourDate == 1; }

  // The scheduler's and the evaluation's operations, for the window and the tests.
  bool TestingOn() const { return FScheduler->TestingOn(); }
  void SetTestingOn(bool on) { FScheduler->SetTestingOn(on); }
  void TestHost(int index) { FScheduler->TestHost(index); }
  void TestHostNow(int index, const std::string& by = {}) { FScheduler->TestHostNow(index, by); }
  // by: who asked, appended to the event's text (" by remote user ..."); empty for the
  // person at the window.
  void RefreshAllHosts(const std::string& by = {}) { FScheduler->RefreshAllHosts(by); }
  const std::string& TrayHint() const { return FScheduler->TrayHint(); }
  int ProbesInFlight() const { return FScheduler->ProbesInFlight(); }
  int PeriodicTracesRunning() const { return FScheduler->PeriodicTracesRunning(); }
  void UpdateHostStatus(const TTestResult& result) { FEvaluation->UpdateHostStatus(result); }
  // The host's row must be shown again (batched, see THostChanges).
  void HostChanged(const THost& host, const char* where);
  // After the window rebuilt its list: the background name lookups of the hosts with an
  // address but no current IP (see THostNameLookups).
  void LookUpDisplayAddresses();
  THostNameLookups& NameLookups() { return *FNameLookups; }
  // The plug-ins loaded at start-up (TMonitorPlugins.cpp): the folder "Plugins" beside
  // the program, then CORVALE_PLUGIN_DIR.
  TPluginHost& Plugins() { return *FPlugins; }

  // Host operations (TMonitorHostOps.cpp), the only way the window and the web server
  // change the monitor's state: each takes the state lock itself and tells the views.
  // by: who asked, as above. checked: the menu item matching the host's state carries
  // the check mark, so choosing it enables the host again.
  // The settings as change leaves them (the window's switches, its layout, the
  // configuration dialog's OK).
  void UpdateSettings(const std::function<void(TSettings&)>& change);
  // The record at index as change leaves it (a switch of the host menu); its row is
  // shown again. False for an index outside the list.
  bool UpdateHost(int index, const std::function<void(THost&)>& change, const char* where);
  void DisableHost(int index, bool checked);
  void DisableHostFor(int index, int minutes, bool checked);
  // Depth 0 flags and error text, 1 also status and trace (a new baseline), 2 also the
  // statistics and history.
  void ResetHost(THost& record, int depth);
  // A reset host is tested at once unless it is disabled.
  void ResetHostStatus(int index, int depth, const std::string& by = {});
  void ResetAllHosts(int depth, const std::string& by = {});
  void ResetDependentHosts(int index, int depth);
  // Starts a failure simulation of five minutes (the host goes Offline at once), or ends
  // the one running and tests the host.
  void SimulateHostFailure(int index, const std::string& by = {});
  // A record joins the host list at index (an index outside the list appends); the
  // views hear HostsAdded. Returns the listed record.
  THost* InsertHost(int index, std::unique_ptr<THost> record);
  // The record at index leaves the list (retired while a test, trace or queued alert
  // still refers to it); the views hear HostsAboutToBeRemoved first.
  void RemoveHost(int index);
  // A group row's collapsed flag (its Status field: 0 expanded, 1 collapsed) flips; the
  // views hear it as a change of that row. False for a host row or an index outside.
  bool ToggleGroupCollapsed(int index);

  // The status warning: a headline, character 160 and the rest, with what the user may
  // do about it (1 the configuration dialog, 4 turn testing on); no text when all is
  // well. StatusCheck asks the alert channels: main thread only. The published warning
  // is the check's result at the last alert-timer tick or change of testing; other
  // threads read it under StateLock() held shared.
  struct TStatusWarning {
    std::string Text;
    int Action = 0;
  };
  TStatusWarning StatusCheck();
  void PublishStatusWarning();
  const std::string& PublishedStatusWarning() const { return FStatusWarning; }

  // Timer handlers.
  void Timer1Timer() { FScheduler->Timer1Timer(); }
  void tmrAlertTimer();
  void tmrAutoSaveTimer();
  void tmrFreeMemTimer();
  void tmrEOKTimer();
  void tmrPathPingsTimer();

  // The everything-OK sounds (the window's typed word "everythingok"): switches them on
  // or off, starting the count over; never in service mode.
  void ToggleEverythingOK();
  bool EverythingOKOn() const { return tmrEOK.isActive(); }

signals:
  void ShowRequested();      // the show request: restore and raise the window
  void CloseRequested();     // the window should close now (run state is 4)
  void LogLineAdded(qint64 id);
  void ShutdownStarting();   // clear the log views, hide the tray icon
  void ShutdownFinished();
  void HostListRebuilt();    // the host list was replaced
  void TrayHintChanged();
  void TestingChanged(bool on);

private:
  // Start-up steps (TMonitorStartup.cpp).
  void FindModes();
  void FindDataFolder();
  void MoveOlderFile(const std::string& name);
  void FindHostsFileName();
  void ReadLoginStartup();
  void AnnounceToPartners();
  void WriteProgramPath();
  void StartTimers();
  void RegisterWindow();
  bool LockDataFolder();
  void AttachTraceRing();
  // Steps whose subsystems are filled in by later work.
  void LoadEventLog();
  void LoadSettings();
  void LoadPlugins();
  void UnloadPlugins();
  void LoadConfiguration();
  void SaveConfiguration();
  void LoadEmailConfig();
  void LoadActions();
  void StartWebServer();
  void StopWebServer();
  void FreePendingAlerts();

  // An operation that waits for work reporting through the main thread (QuietWait): the
  // timers that start work pause meanwhile, and a close asked for in the middle waits
  // for its end.
  class TQuietOperation {
  public:
    explicit TQuietOperation(TMonitor& monitor);
    ~TQuietOperation();
    TQuietOperation(const TQuietOperation&) = delete;
    TQuietOperation& operator=(const TQuietOperation&) = delete;

  private:
    TMonitor& M;
    bool FTimer1, FAlert, FAutoSave;
  };
  int FQuietDepth = 0;
  bool FCloseAfterQuiet = false;
  void CloseNow();

  // Shutdown helpers (TMonitorShutdown.cpp).
  void NotifyPartnersStopped();
  void TerminateRunningTests();
  void WaitForCompletions(std::initializer_list<std::atomic<int>*> counters);
  void StopTimers();
  std::vector<std::string> PartnerClasses() const;

  TStartOptions FOptions;
  TClock& FClock;
  TServiceControl& FServices;
  TRegistryStore FRegistry;
  // Released last: until the members below are gone, files of this run may still change.
  TInstanceLock FInstanceLock;
  // Before every part that reports to it, so that it outlives them.
  std::unique_ptr<TFaultLog> FFaults;
  std::unique_ptr<THostList> FHosts;
  std::unique_ptr<TStatusTrace> FTrace;
  std::unique_ptr<TEventLogKeeper> FEvents;
  std::unique_ptr<THostChanges> FChanges;
  TRunningTests FRunning;
  std::unique_ptr<TWindowChannel> FWindow;
  std::shared_mutex FStateLock;
  // The engine goes first: ending its pending requests reaches the workers' context.
  std::unique_ptr<TTestContext> FTests;
  std::unique_ptr<TEchoEngine> FEcho;
  std::unique_ptr<TStatusEvaluation> FEvaluation;
  std::unique_ptr<TScheduler> FScheduler;
  std::unique_ptr<THostNameLookups> FNameLookups;
  std::unique_ptr<TPluginHost> FPlugins;
  std::unique_ptr<TPartnerWindows> FPartners;
  TAlertChannels FNoAlerts;
  TAlertChannels* FAlerts = &FNoAlerts;
  TAlertRoutes FRoutes;
  TWebServerControl FNoWebServer;
  TWebServerControl* FWebServer = &FNoWebServer;
  int FWebServerPort = 0;  // the port the web server was started on, 0: not running
  TDateTime FStartTime = 0;
  std::string FStatusWarning;
  std::vector<std::string> FPartnerClasses;  // read at start-up from "NotifyApps"

  std::atomic<TRunState> FRunState{rsRunning};
  std::atomic<int> FExitCode{0};
  bool FShutdownDone = false;
  bool FStarted = false;
  bool FStartRefused = false;
  std::string FStartRefusal;
  bool FRemovableMode = false;
  bool FDiagnosticMode = false;
  bool FRestartServiceAtExit = false;
  bool FLoadAtLogin = false, FLoadMinimized = false, FOtherProgramAtLogin = false;
  TSettings FSettings;
  bool FSettingsSaveBlocked = false;
  bool FHostsSaveFailed = false;
  TPluginTestIndex FPluginTestIndex;
  TPluginTestIdentifier FPluginTestIdentifier;
  std::vector<TConfigurationChangedHook> FConfigurationChangedHooks;
  std::string FProgramPath, FProgramFolder, FDataFolder, FHostsFileName, FSettingsFileName;

  TEverythingOK FEverythingOK;
  QTimer tmrAlert, tmrAutoSave, tmrFreeMem, tmrEOK, tmrPathPings;
};
