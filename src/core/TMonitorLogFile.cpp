// The 5-second pass: the retired records, the fault log's held-back reports and the event
// log's save triggers. The alert channels dispatch on a timer of their own.
#include <mutex>

#include "core/THostList.h"
#include "core/TMonitor.h"

void TMonitor::tmrAlertTimer() {
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
