// The event log file and its save triggers.
#include "core/TMonitor.h"

void TMonitor::tmrAlertTimer() {
  if (FRunState.load() != rsRunning) return;
  // The alert queue and the log's quiet-time save are added with the alerts and the
  // event log files.
}

void TMonitor::tmrAutoSaveTimer() {
  Trace("Auto-save log");
  SaveEventLog();
}

void TMonitor::LoadEventLog() {}

void TMonitor::SaveEventLog() {}
