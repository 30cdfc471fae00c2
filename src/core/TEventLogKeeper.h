#pragma once
// The event log's keeper: every event goes through LogEvent, which appends it to the
// in-memory log, echoes it to the headless program's standard error, sends it to the
// syslog server and hands it to the log hooks (plug-ins). It also owns the log file
// "Corvale.log" and its save triggers. Main thread only; the log itself is changed
// under the state lock so that other threads may read it (src/core/README.md).
#include <QObject>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/TEventLog.h"
#include "platform/FaultReport.h"

class TClock;
class THost;
class TSettings;
class TSyslogSender;

class TEventLogKeeper : public QObject {
  Q_OBJECT
public:
  using TTracer = std::function<void(const std::string& message)>;
  TEventLogKeeper(TClock& clock, const TSettings& settings, std::shared_mutex& stateLock, TTracer trace,
                  QObject* parent = nullptr);
  ~TEventLogKeeper() override;

  void LogEvent(const THost* host, const std::string& message, TLogCategory category);
  // Called for every log entry with the host's ID (0 for none), the message and the
  // plug-in level ("E" 2, "I" 10, "O" 0, "W" 1, else 99; without a host below 3 is 10).
  // Errors are swallowed; an entry logged from inside a hook is not passed to hooks.
  using TLogHook = std::function<void(std::int32_t hostID, const std::string& message, int level)>;
  void AddLogHook(TLogHook hook) { FLogHooks.push_back(std::move(hook)); }
  void SetEventEcho(std::FILE* stream) { FEventEcho = stream; }
  void SetFaultHook(TFaultHook faults) { FFaults = std::move(faults); }

  // The log file of the data folder: read at start-up (an unreadable one is set aside),
  // written whole; entries stay unsaved when it cannot be written, and the next trigger
  // tries again.
  void SetDataFolder(const std::string& folder) { FDataFolder = folder; }
  void Load();
  void Save();
  // Unsaved entries have been quiet for a minute, or the oldest waits for ten.
  bool SaveDue() const;

  TEventLog& Log() { return FLog; }
  const TEventLog& Log() const { return FLog; }

signals:
  void LogLineAdded(qint64 id);

private:
  void EchoEvent(const std::string& entryLine);

  TClock& FClock;
  const TSettings& FSettings;
  std::shared_mutex& FStateLock;
  TTracer FTrace;
  TFaultHook FFaults;
  TEventLog FLog;
  std::string FDataFolder;
  std::unique_ptr<TSyslogSender> FSyslog;
  std::vector<TLogHook> FLogHooks;
  bool FInLogHooks = false;
  std::FILE* FEventEcho = nullptr;
  bool FEchoLogFileFailed = false;
  // Unsaved entries: monotonic ms of the first and of the last since the last write.
  bool FLogUnsaved = false;
  double FLogFirstUnsavedMs = 0, FLogLastUnsavedMs = 0;
};
