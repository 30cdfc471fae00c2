#include "core/TMonitor.h"

#include <QMetaMethod>
#include <malloc.h>

#include <mutex>

#include "common/Clock.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TSyslogSender.h"
#include "platform/TEchoEngine.h"
#include "platform/TServiceControl.h"
#include "platform/TWindowChannel.h"

const char* const CorvaleWindowClass = "TfrmCorvale";
const char* const CorvaleServiceName = "Corvale";
const char* const CorvaleRegKey = "Software\\Quillmoor\\Corvale";

TMonitor::TMonitor(const TStartOptions& options, TClock& clock, TServiceControl& services, QObject* parent)
    : QObject(parent), FOptions(options), FClock(clock), FServices(services), FHosts(std::make_unique<THostList>()),
      FTests(std::make_unique<TTestContext>(this, nullptr)), FEcho(std::make_unique<TEchoEngine>()),
      FSyslog(std::make_unique<TSyslogSender>(clock)) {
  FStartTime = FClock.Now();
  FFaults = std::make_unique<TFaultLog>(this, FClock, [this](const std::string& message) {
    LogEvent(nullptr, message, 'E');
  });
  FHosts->SetFaultHook(FaultHook());
  FTests->SetFaultHook(FaultHook());
  FEcho->SetFaultHook(FaultHook());
  FTests->SetEcho(FEcho.get());
  FTests->SetTracer([this](const std::string& message) { Trace(message); });
  Timer1.setInterval(250);
  tmrAlert.setInterval(5000);
  tmrAutoSave.setInterval(1200000);
  tmrFreeMem.setInterval(300000);
  tmrEOK.setInterval(2000);
  tmrPathPings.setInterval(10);
  connect(&Timer1, &QTimer::timeout, this, &TMonitor::Timer1Timer);
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
        LogEvent(nullptr, "Corvale closed by " + GetWindowText(wParam), 'I');
      RequestClose();
      return 0;
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
  // program waits on) has been answered. The desktop window closes itself on the signal
  // and runs the shutdown; without a window the shutdown runs here.
  QMetaObject::invokeMethod(this, [this] {
    if (isSignalConnected(QMetaMethod::fromSignal(&TMonitor::CloseRequested))) {
      emit CloseRequested();
    } else {
      FRunState.store(rsClosed);
      Shutdown();
    }
  }, Qt::QueuedConnection);
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

namespace {
int PluginLogLevel(char category, bool hasHost) {
  int level = 99;
  switch (category) {
    case 'E': level = 2; break;
    case 'I': level = 10; break;
    case 'O': level = 0; break;
    case 'W': level = 1; break;
    default: break;
  }
  return !hasHost && level < 3 ? 10 : level;
}
}  // namespace

void TMonitor::LogEvent(const THost* host, const std::string& message, char category) {
  const double tick = FClock.Milliseconds();
  if (!FLogUnsaved) {
    FLogUnsaved = true;
    FLogFirstUnsavedMs = tick;
  }
  FLogLastUnsavedMs = tick;

  std::string label = "---";
  if (host) {
    try {
      label = LogLabel(*host);
    } catch (...) {
      label = "Unknown";
      ReportCurrentException("LogEvent");
    }
  }
  Trace("Log status " + label + " " + message);
  const TDateTime now = FClock.Now();
  std::string entry = TEventLog::FormatEntry(now, Use24HourDate(), label, message, category);
  if (FEventEcho) EchoEvent(entry);
  std::int64_t id;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    id = FLog.Append(std::move(entry));
  }
  emit LogLineAdded(id);

  if (!FSettings.SysLogServer.empty()) {
    FSyslog->SetServer(FSettings.SysLogServer);
    FSyslog->Send(now, host ? label : std::string(), message, category);
  }

  // A hook that logs would otherwise call itself without end.
  if (!FInLogHooks && !FLogHooks.empty()) {
    FInLogHooks = true;
    const std::int32_t hostID = host ? host->ID : 0;
    const int level = PluginLogLevel(category, host != nullptr);
    // A copy, so that a hook may add hooks.
    const std::vector<TLogHook> hooks = FLogHooks;
    for (const TLogHook& hook : hooks) {
      try {
        hook(hostID, message, level);
      } catch (...) {
        // The entry is not passed to that hook; the others still get it.
        ReportCurrentException("log hook");
      }
    }
    FInLogHooks = false;
  }
}

void TMonitor::EchoEvent(const std::string& entryLine) {
  // One line per event, whatever the message holds, and no line without end.
  constexpr std::size_t MaxEchoBytes = 4096;
  std::string line = entryLine.substr(0, MaxEchoBytes);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), FEventEcho);
  std::fflush(FEventEcho);
}

void TMonitor::tmrFreeMemTimer() {
  // Hands freed heap pages back to the system, the nearest thing to a working-set trim.
  malloc_trim(0);
}

void TMonitor::tmrEOKTimer() {}

void TMonitor::tmrPathPingsTimer() {}
