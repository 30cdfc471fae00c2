// The event log file and its save triggers.
#include <cstdio>
#include <mutex>

#include "common/Clock.h"
#include "common/FileUtils.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "common/TextFiles.h"

namespace {
const char* const LogFileName = "Corvale.log";
// Only the last TEventLog::MaxLines lines are kept, so a longer file is read from its end.
constexpr std::uint64_t MaxLogFileBytes = 64 * 1024 * 1024;
constexpr double QuietAfterLastMs = 60000;
constexpr double LongestUnsavedMs = 600000;
}  // namespace

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
  if (LogSaveDue()) {
    SaveEventLog();
    std::string error;
    if (!SaveHostsFile(FHostsFileName, &error)) Trace("Hosts file not saved: " + error);
  }
}

void TMonitor::tmrAutoSaveTimer() {
  Trace("Auto-save log");
  SaveEventLog();
}

bool TMonitor::LogSaveDue() const {
  if (!FLogUnsaved) return false;
  const double now = FClock.Milliseconds();
  return now - FLogLastUnsavedMs > QuietAfterLastMs || now - FLogFirstUnsavedMs > LongestUnsavedMs;
}

void TMonitor::LoadEventLog() {
  const std::string fileName = FDataFolder + LogFileName;
  if (!FileExists(fileName)) return;
  std::string text, error;
  bool tail = false;
  if (!ReadFileTail(fileName, MaxLogFileBytes, text, tail, error)) {
    // The save at the end of start-up would replace it: it is set aside first.
    std::string asideError;
    const std::string kept =
        SetFileAside(fileName, ".unreadable-" + FormatDateTime("yyyymmdd-hhnnss", FClock.Now()), asideError);
    LogEvent(nullptr, "Unable to read the log file " + fileName + ": " + error +
                          (kept.empty() ? "; it could not be set aside: " + asideError : "; it was kept as " + kept),
             'E');
    return;
  }
  std::vector<std::string> lines = SplitTextLines(text);
  std::erase_if(lines, [](const std::string& line) { return line.empty(); });
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    FLog.Assign(lines);
  }
  FLogUnsaved = false;
  FLogFirstUnsavedMs = FClock.Milliseconds();
}

void TMonitor::SaveEventLog() {
  if (FDataFolder.empty()) return;
  std::string text;
  for (const TLogLine& line : FLog.Lines()) {
    // One entry per line: a line break inside a message would split it when read back.
    const std::size_t start = text.size();
    text += line.Text;
    for (std::size_t i = start; i < text.size(); ++i)
      if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
    text += "\r\n";
  }
  std::string error;
  if (!ReplaceFileText(FDataFolder + LogFileName, text, 0644, error)) {
    // The entries stay unsaved, so the next trigger tries again.
    Trace("Log file not saved: " + error);
    if (FEventEcho && !FEchoLogFileFailed) {
      // Not an event: it would only add to what cannot be saved, once a minute.
      std::fprintf(FEventEcho, "corvale: unable to save the log file %s%s: %s\n", FDataFolder.c_str(), LogFileName,
                   error.c_str());
      std::fflush(FEventEcho);
    }
    FEchoLogFileFailed = true;
    return;
  }
  FEchoLogFileFailed = false;
  FLogUnsaved = false;
  FLogFirstUnsavedMs = FClock.Milliseconds();
}
