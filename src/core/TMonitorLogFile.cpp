// The alert timer's pass: the alert channels' dispatch, the retired records, the fault
// log's held-back reports and the event log's save triggers.
#include <mutex>

#include "core/THostList.h"
#include "core/TMonitor.h"

void TMonitor::tmrAlertTimer() {
  if (FRunState.load() != rsRunning) return;
  try {
    FAlerts->AlertTimer();
    // Records kept only for alerts that have now left the queue.
    if (FHosts->RetiredCount() > 0) {
      std::unique_lock<std::shared_mutex> guard(FStateLock);
      FHosts->ReleaseIdleRetired();
    }
  } catch (...) {
    // One bad pass of the queue must not stop the saves below.
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
