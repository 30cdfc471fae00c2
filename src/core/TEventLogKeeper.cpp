#include "core/TEventLogKeeper.h"

#include <mutex>

#include "common/Clock.h"
#include "common/FileUtils.h"
#include "common/TextFiles.h"
#include "core/THost.h"
#include "core/TSettings.h"
#include "core/TSyslogSender.h"

namespace {

const char* const LogFileName = "Corvale.log";
// Only the last TEventLog::MaxLines lines are kept, so a longer file is read from its end.
constexpr std::uint64_t MaxLogFileBytes = 64 * 1024 * 1024;
constexpr double QuietAfterLastMs = 60000;
constexpr double LongestUnsavedMs = 600000;

int PluginLogLevel(TLogCategory category, bool hasHost) {
  int level = 99;
  switch (category) {
    case TLogCategory::Error: level = 2; break;
    case TLogCategory::Information: level = 10; break;
    case TLogCategory::Okay: level = 0; break;
    case TLogCategory::Warning: level = 1; break;
    default: break;
  }
  return !hasHost && level < 3 ? 10 : level;
}

}  // namespace

TEventLogKeeper::TEventLogKeeper(TClock& clock, const TSettings& settings, std::shared_mutex& stateLock,
                                 TTracer trace, QObject* parent)
    : QObject(parent), FClock(clock), FSettings(settings), FStateLock(stateLock), FTrace(std::move(trace)),
      FSyslog(std::make_unique<TSyslogSender>(clock)) {
  // Logged from the event loop: the error's own entry goes to the server too, and must
  // not be sent from inside the send that failed.
  FSyslog->SetErrorSink([this](const std::string& message) {
    QMetaObject::invokeMethod(
        this, [this, message] { LogEvent(nullptr, message, TLogCategory::Warning); }, Qt::QueuedConnection);
  });
}

TEventLogKeeper::~TEventLogKeeper() = default;

void TEventLogKeeper::LogEvent(const THost* host, const std::string& message, TLogCategory category) {
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
      ReportFault(FFaults, "LogEvent", CurrentExceptionText());
    }
  }
  FTrace("Log status " + label + " " + message);
  const TDateTime now = FClock.Now();
  std::string entry = TEventLog::FormatEntry(now, FSettings.Use24HourDate == 1, label, message, category);
  if (FEventEcho) EchoEvent(entry);
  std::int64_t id;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    id = FLog.Append(std::move(entry));
  }
  emit LogLineAdded(id);

  if (!FSettings.SysLogServer.empty()) {
    FSyslog->SetServer(FSettings.SysLogServer);
    FSyslog->Send(now, host ? label : std::string(), message, CategoryLetter(category));
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
        ReportFault(FFaults, "log hook", CurrentExceptionText());
      }
    }
    FInLogHooks = false;
  }
}

void TEventLogKeeper::EchoEvent(const std::string& entryLine) {
  // One line per event, whatever the message holds, and no line without end.
  constexpr std::size_t MaxEchoBytes = 4096;
  std::string line = entryLine.substr(0, MaxEchoBytes);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), FEventEcho);
  std::fflush(FEventEcho);
}

bool TEventLogKeeper::SaveDue() const {
  if (!FLogUnsaved) return false;
  const double now = FClock.Milliseconds();
  return now - FLogLastUnsavedMs > QuietAfterLastMs || now - FLogFirstUnsavedMs > LongestUnsavedMs;
}

void TEventLogKeeper::Load() {
  const std::string fileName = FDataFolder + LogFileName;
  if (FDataFolder.empty() || !FileExists(fileName)) return;
  std::string text, error;
  bool tail = false;
  if (!ReadFileTail(fileName, MaxLogFileBytes, text, tail, error)) {
    // The save at the end of start-up would replace it: it is set aside first.
    std::string asideError;
    const std::string kept =
        SetFileAside(fileName, ".unreadable-" + FormatDateTime("yyyymmdd-hhnnss", FClock.Now()), asideError);
    LogEvent(nullptr, "Unable to read the log file " + fileName + ": " + error +
                          (kept.empty() ? "; it could not be set aside: " + asideError : "; it was kept as " + kept),
             TLogCategory::Error);
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

void TEventLogKeeper::Save() {
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
    FTrace("Log file not saved: " + error);
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
