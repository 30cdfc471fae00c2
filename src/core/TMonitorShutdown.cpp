// The orderly shutdown: producers stop before consumers, completion steps are awaited
// (they are delivered through the main loop, see QuietWait), then records are freed and
// the files written a last time.
#include <chrono>

#include "hosttests/TBackgroundTask.h"
#include "core/QuietWait.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "core/TPartnerWindows.h"
#include "platform/TWindowChannel.h"

namespace {
// Lets the completion steps that arrive within ms in.
void Settle(int ms) {
  QuietWait([] { return false; }, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
}
}  // namespace

void TMonitor::Shutdown() {
  if (FShutdownDone) return;
  FShutdownDone = true;
  const auto step = [this](const char* what, auto&& fn) {
    try {
      fn();
    } catch (...) {
      ReportCurrentException(std::string("Shutdown ") + what);
    }
  };

  // No new tests, and the files as they stand while every record still does.
  step("timer", [this] {
    FScheduler->AllowTimer(false);
    FHostsSaveFailed = !SaveConfiguration(FHostsFileName);
    SaveSettings();
  });
  // No more readers from the web.
  step("web server", [this] { StopWebServer(); });
  // The views let go of the records; nothing starts from a timer any more.
  step("views", [this] {
    emit ShutdownStarting();
    StopTimers();
    FRunState.store(rsShuttingDown);
  });
  // Partner programs get nothing more and hear that we end.
  step("partners", [this] {
    FPartners->Stop();
    if (!FRemovableMode) NotifyPartnersStopped();
  });
  // Every named piece of work is told to end.
  step("threads", [this] {
    TerminateRunningTests();
    Settle(10);
  });
  // Completion steps run on this thread, so none reads a record while its test is
  // told to end.
  step("host tests", [this] {
    for (const auto& host : FHosts->Records())
      if (host->RunningTest) host->RunningTest->Terminate();
    for (int i = 0; i < FHosts->RetiredCount(); ++i)
      if (THost* host = FHosts->RetiredItems(i); host && host->RunningTest) host->RunningTest->Terminate();
  });
  // The last pass starts nothing (the run state is 2) but still abandons overdue tests.
  step("last pass", [this] { Timer1Timer(); });
  step("echo completions", [this] { WaitForCompletions({&FTests->Completions.Echo}); });
  // Host-information updates and message senders that already reported are let in.
  step("message senders", [this] {
    WaitForCompletions({&FTests->Completions.InfoUpdate});
    Settle(100);
    WaitForCompletions({&FTests->Completions.MessageSender});
  });
  // All records wait together at most the host-list wait time for their threads.
  // The web server has stopped, so no reader is left to lock out; completion steps that
  // arrive meanwhile take the state lock themselves.
  step("hosts", [this] {
    FHosts->FreeAll(std::chrono::steady_clock::now(), true);
  });
  // The results still on their way, then the mail that will never go.
  step("completions", [this] {
    Settle(100);
    WaitForCompletions({&FTests->Completions.Echo, &FTests->Completions.TCP, &FTests->Completions.HTTP,
                        &FTests->Completions.Service, &FTests->Completions.Share});
    FreePendingAlerts();
    WaitForCompletions({&FTests->Completions.InfoUpdate, &FTests->Completions.MessageSender});
  });
  // Plug-ins go once no test of theirs can report.
  step("plug-ins", [this] { UnloadPlugins(); });
  // The last line of the log, and the log file with it.
  step("log", [this] {
    FRunning.Clear();
    LogEvent(nullptr, "Corvale Shut Down", TLogCategory::Program);
    FTrace->Close();
    SaveEventLog();
  });
  // Closed: the exit code tells whether the hosts file was saved.
  FRunState.store(rsClosed);
  FExitCode.store(FHostsSaveFailed ? ExitUnsaved : 0);
  if (FWindow) FWindow->Unregister();
  emit ShutdownFinished();
}

void TMonitor::StopTimers() {
  FScheduler->StopTimer();
  for (QTimer* t : {&tmrAlert, &tmrAutoSave, &tmrFreeMem, &tmrEOK, &tmrPathPings}) t->stop();
}

void TMonitor::NotifyPartnersStopped() {
  for (const std::string& cls : FPartnerClasses) {
    if (cls.empty()) continue;
    if (const std::uintptr_t hwnd = FindWindow(cls))
      PostMessage(hwnd, WM_CORVALE_STOPPED, WindowHandle(), CorvaleStoppedParam);
  }
}

void TMonitor::TerminateRunningTests() {
  FRunning.TerminateAll();
}

void TMonitor::WaitForCompletions(std::initializer_list<std::atomic<int>*> counters) {
  QuietWait(
      [&] {
        for (const std::atomic<int>* c : counters)
          if (c->load() > 0) return false;
        return true;
      },
      TSteadyTime::max());
}
