#include "core/TMonitor.h"
#include "core/TPluginHost.h"

#include <QMetaMethod>
#include <malloc.h>

#include <mutex>

#include "common/Clock.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/THostNameLookups.h"
#include "core/MessageVariables.h"
#include "core/THostUpdateRoute.h"
#include "core/TPartnerWindows.h"
#include "platform/TEchoEngine.h"
#include "platform/TServiceControl.h"
#include "platform/TWindowChannel.h"

const char* const CorvaleWindowClass = "TfrmCorvale";
const char* const CorvaleServiceName = "Corvale";
const char* const CorvaleRegKey = "Software\\Quillmoor\\Corvale";

TMonitor::TMonitor(const TStartOptions& options, TClock& clock, TServiceControl& services, QObject* parent)
    : QObject(parent), FOptions(options), FClock(clock), FServices(services), FHosts(std::make_unique<THostList>()),
      FRunning([this](const std::string& message) { Trace(message); }),
      FTests(std::make_unique<TTestContext>(this, nullptr)), FEcho(std::make_unique<TEchoEngine>()) {
  FStartTime = FClock.Now();
  const auto trace = [this](const std::string& message) { Trace(message); };
  FEvents = std::make_unique<TEventLogKeeper>(FClock, FSettings, FStateLock, trace);
  connect(FEvents.get(), &TEventLogKeeper::LogLineAdded, this, &TMonitor::LogLineAdded);
  FChanges = std::make_unique<THostChanges>(trace);
  connect(FChanges.get(), &THostChanges::HostListRebuilt, this, &TMonitor::HostListRebuilt);
  FFaults = std::make_unique<TFaultLog>(this, FClock, [this](const std::string& message) {
    LogEvent(nullptr, message, TLogCategory::Error);
  });
  FEvents->SetFaultHook(FaultHook());
  const TMonitorParts parts{*FHosts, FClock, FSettings, FStateLock, *FEvents, FRunning, *FChanges, FRunState,
                            trace, FaultHook()};
  FEvaluation = std::make_unique<TStatusEvaluation>(parts, *FTests, [this] { return VariableContext(); });
  FScheduler = std::make_unique<TScheduler>(parts, *FTests, *FEvaluation,
                                            [this](THost& host) { return FAlerts->StartPeriodicTrace(host); });
  FNameLookups = std::make_unique<THostNameLookups>(parts, *FTests);
  FPlugins = std::make_unique<TPluginHost>(*this);
  connect(FScheduler.get(), &TScheduler::TrayHintChanged, this, &TMonitor::TrayHintChanged);
  connect(FScheduler.get(), &TScheduler::TestingChanged, this, &TMonitor::TestingChanged);
  connect(FScheduler.get(), &TScheduler::TestingChanged, this, [this] { PublishStatusWarning(); });
  FPartners = std::make_unique<TPartnerWindows>(TPartnerWindows::TContext{
      FHosts.get(), &FClock, FEvents.get(), &FRunning, FTests.get(), FaultHook(), [this] { return WindowHandle(); },
      [this] { return FDiagnosticMode; }});
  SetAlertChannels(nullptr);
  FHosts->SetFaultHook(FaultHook());
  FTests->SetFaultHook(FaultHook());
  FEcho->SetFaultHook(FaultHook());
  FTests->SetEcho(FEcho.get());
  FTests->Services.store(&FServices);
  FTests->SetTracer([this](const std::string& message) { Trace(message); });
  tmrAlert.setInterval(5000);
  tmrAutoSave.setInterval(1200000);
  tmrFreeMem.setInterval(300000);
  tmrEOK.setInterval(2000);
  tmrPathPings.setInterval(10);
  connect(&tmrAlert, &QTimer::timeout, this, &TMonitor::tmrAlertTimer);
  connect(&tmrAutoSave, &QTimer::timeout, this, &TMonitor::tmrAutoSaveTimer);
  connect(&tmrFreeMem, &QTimer::timeout, this, &TMonitor::tmrFreeMemTimer);
  connect(&tmrEOK, &QTimer::timeout, this, &TMonitor::tmrEOKTimer);
  connect(&tmrPathPings, &QTimer::timeout, this, &TMonitor::tmrPathPingsTimer);
  // The trace exists from the first moment; start-up replaces it once the modes are known.
  FTrace = std::make_unique<TStatusTrace>(FClock, 10, TStatusTrace::TWriter());
}

TMonitor::~TMonitor() {
  // A monitor destroyed without the orderly shutdown (a failed start) still frees its
  // records without waiting on the event loop.
  StopTimers();
  FWindow.reset();
  // Its senders report through the test context, which must outlive it; the routes
  // reach it no more.
  FRoutes.Clear();
  FPartners.reset();
  // The engine ends its pending requests as it closes; tests that go on from there must
  // find no engine rather than a dying one.
  FTests->SetEcho(nullptr);
  FEcho.reset();
  // The members go from here on; an event logged now would find some of them gone.
  FHosts->SetFaultHook(nullptr);
  FFaults->Silence();
}

std::uintptr_t TMonitor::WindowHandle() const { return FWindow ? FWindow->Handle() : 0; }

std::string TMonitor::Caption() const { return std::string("Corvale ") + CORVALE_VERSION_TEXT; }

std::intptr_t TMonitor::WndProc(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  switch (msg) {
    case WM_CORVALE_SHOW:
      emit ShowRequested();
      return 1;
    case WM_CORVALE_CLOSE:
      if (wParam != 0 && IsWindow(wParam))
        LogEvent(nullptr, "Corvale closed by " + GetWindowText(wParam), TLogCategory::Information);
      RequestClose();
      return 0;
    case WM_CORVALE_HOSTLIST: return FPartners->SendHostList(wParam, lParam != 0);
    case WM_CORVALE_HOST: return FPartners->SendHost(wParam, lParam);
    case WM_CORVALE_SUBSCRIBE: return FPartners->Subscribe(wParam);
    case WM_CORVALE_UNSUBSCRIBE: return FPartners->Unsubscribe(wParam);
    case winmsg::WM_ENDSESSION:
      // wParam non-zero: the session really ends.
      if (wParam != 0) EndSession();
      return 0;
    default:
      (void)lParam;
      return 0;
  }
}

void TMonitor::RequestClose() {
  if (FRunState.load() != rsRunning) return;
  FRunState.store(rsCloseRequested);
  // The close happens from the event loop, after the request (often a message another
  // program waits on) has been answered.
  QMetaObject::invokeMethod(this, [this] { CloseNow(); }, Qt::QueuedConnection);
}

void TMonitor::CloseNow() {
  // Not in the middle of an operation that waits: it closes when that ends.
  if (FQuietDepth > 0) {
    FCloseAfterQuiet = true;
    return;
  }
  // The desktop window closes itself on the signal and runs the shutdown; without a
  // window the shutdown runs here.
  if (isSignalConnected(QMetaMethod::fromSignal(&TMonitor::CloseRequested))) {
    emit CloseRequested();
  } else {
    FRunState.store(rsClosed);
    Shutdown();
  }
}

TMonitor::TQuietOperation::TQuietOperation(TMonitor& monitor)
    : M(monitor), FTimer1(monitor.FScheduler->TimerAllowed()), FAlert(monitor.tmrAlert.isActive()),
      FAutoSave(monitor.tmrAutoSave.isActive()) {
  ++M.FQuietDepth;
  M.FScheduler->AllowTimer(false);
  M.tmrAlert.stop();
  M.tmrAutoSave.stop();
}

TMonitor::TQuietOperation::~TQuietOperation() {
  if (--M.FQuietDepth > 0) return;
  if (FTimer1) M.FScheduler->AllowTimer(true);
  if (FAlert) M.tmrAlert.start();
  if (FAutoSave) M.tmrAutoSave.start();
  if (std::exchange(M.FCloseAfterQuiet, false))
    QMetaObject::invokeMethod(&M, [monitor = &M] { monitor->CloseNow(); }, Qt::QueuedConnection);
}

void TMonitor::EndSession() {
  if (FRestartServiceAtExit) {
    // The service's copy starts at once and reads the files: they must be current.
    SaveHostsFile(FHostsFileName);
    SaveSettings();
    FServices.StartService(std::string(), CorvaleServiceName);
    FRestartServiceAtExit = false;
  }
  RequestClose();
}

void TMonitor::SetAlertChannels(TAlertChannels* channels) {
  FRoutes.Clear();
  FAlerts = channels ? channels : &FNoAlerts;
  FAlerts->AddRoutes(FRoutes, TAlertContext{FEvents.get(), &FSettings, &FClock, ServiceMode()});
  // Last, as other programs learn of a result once everything it raised is done.
  if (FPartners)
    FRoutes.Add(std::make_unique<THostUpdateRoute>([this](THost& host) { FPartners->SendHostUpdate(host); }));
  FEvaluation->AddSubscriber(&FRoutes);
}

void TMonitor::HostChanged(const THost& host, const char* where) { FChanges->Changed(host.ID, where); }

void TMonitor::LookUpDisplayAddresses() { FNameLookups->LookUpMissingAddresses(); }

TVariableContext TMonitor::VariableContext() {
  TVariableContext context;
  context.Hosts = FHosts.get();
  context.Log = &FEvents->Log();
  context.Use24HourDate = Use24HourDate();
  context.StartTime = FStartTime;
  context.Now = FClock.Now();
  context.Faults = FaultHook();
  context.PluginTests = FPlugins->VariableTests(TTestKinds::Standard());
  return context;
}

TCompletionCounters& TMonitor::Completions() { return FTests->Completions; }

// The 5-second pass: the retired records, the fault log's held-back reports and the event
// log's save triggers. The alert channels dispatch on a timer of their own.
TMonitor::TStatusWarning TMonitor::StatusCheck() {
  constexpr char Split = static_cast<char>(160);
  const int queued = FAlerts->QueuedAlerts();
  const int stale = queued > 0 ? FAlerts->QueuedAlertsBefore(FClock.Now() - 30.0 / (24 * 60)) : 0;
  if (stale * 2 > queued)
    return {std::string("Outgoing email is not being sent.") + Split + std::to_string(stale) +
                " email messages have gone unsent for more than 30 minutes.  Please check your email server "
                "configuration to make sure it is setup properly.",
            1};
  if (!TestingOn())
    return {std::string("Host testing has been disabled.") + Split +
                "Your hosts are not currently being tested.  To test your hosts testing must be turned back on.",
            4};
  if (FHosts->Count() > 0 && !FAlerts->MailRouteComplete())
    return {std::string("Email servers have not been configured.") + Split +
                "To send email alerts you must configure outgoing email servers under Configuration / Email "
                "Configuration.",
            1};
  return {};
}

void TMonitor::PublishStatusWarning() {
  std::string text;
  try {
    text = StatusCheck().Text;
  } catch (...) {
    ReportCurrentException("StatusCheck");
    return;
  }
  if (text == FStatusWarning) return;
  std::unique_lock<std::shared_mutex> guard(FStateLock);
  FStatusWarning = std::move(text);
}

void TMonitor::tmrAlertTimer() {
  PublishStatusWarning();
  if (FRunState.load() != rsRunning) return;
  try {
    // Records kept only for alerts that have now left the queue.
    if (FHosts->RetiredCount() > 0) {
      std::unique_lock<std::shared_mutex> guard(FStateLock);
      FHosts->ReleaseIdleRetired();
    }
  } catch (...) {
    // Must not stop the saves below.
    ReportCurrentException("tmrAlert");
  }
  FFaults->LogHeldBack();
  if (FEvents->SaveDue()) {
    SaveEventLog();
    std::string error;
    if (!SaveHostsFile(FHostsFileName, &error)) Trace("Hosts file not saved: " + error);
  }
}

void TMonitor::tmrAutoSaveTimer() {
  Trace("Auto-save log");
  SaveEventLog();
}

void TMonitor::LoadEventLog() {
  FEvents->SetDataFolder(FDataFolder);
  FEvents->Load();
}

void TMonitor::tmrFreeMemTimer() {
  // Hands freed heap pages back to the system, the nearest thing to a working-set trim.
  malloc_trim(0);
}

void TMonitor::tmrEOKTimer() {
  const std::string sound = FEverythingOK.Tick(TEverythingOK::AllWell(*FHosts, FClock.Now()));
  if (!sound.empty()) FAlerts->PlaySound(sound, false);
}

void TMonitor::ToggleEverythingOK() {
  FEverythingOK.Reset();
  if (tmrEOK.isActive() || ServiceMode()) {
    tmrEOK.stop();
    return;
  }
  tmrEOK.start();
}

void TMonitor::tmrPathPingsTimer() {}
