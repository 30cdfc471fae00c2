#include "service/TNTEventLog.h"

#include <sys/stat.h>
#include <syslog.h>

#include <cstdlib>
#include <memory>

#include "common/QLRegistry.h"
#include "service/ServiceRegistry.h"

namespace {
const char* const EventLogKey = "\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr int TypesSupported = 7;  // error, warning, information

const char* KindText(TNTEventLog::TKind kind) {
  switch (kind) {
    case TNTEventLog::TKind::Information: return "Information";
    case TNTEventLog::TKind::Warning: return "Warning";
    case TNTEventLog::TKind::Error: return "Error";
  }
  return "";
}
}  // namespace

TNTEventLog::TNTEventLog(TRegistryStore* store) : FStore(store) {}

TNTEventLog::~TNTEventLog() { Close(); }

void TNTEventLog::SetAppName(const std::string& name) { FAppName = name.empty() ? PlaceholderName : name; }

std::string TNTEventLog::SourceKey() const { return EventLogKey + FAppName; }

bool TNTEventLog::RegisterApplication() {
  try {
    auto reg = MachineRegistry(FStore);
    if (reg->KeyExists(SourceKey())) return true;
    if (!reg->OpenKey(SourceKey(), true)) throw EEventLogError("");
    reg->WriteString("EventMessageFile", FMessageFile.empty() ? OwnProgramPath() : FMessageFile);
    reg->WriteInteger("TypesSupported", TypesSupported);
    reg->CloseKey();
  } catch (const std::exception&) {
    throw EEventLogError("Unable to register application.");
  }
  return true;
}

void TNTEventLog::Open() {
  RegisterApplication();
  Close();
  // Opening the system logger cannot be refused here: glibc connects lazily and keeps
  // trying on every entry, so the source counts as open.
  FOpenIdent = FAppName;
  ::openlog(FOpenIdent.c_str(), LOG_PID | LOG_NDELAY, LOG_DAEMON);
  FOpen = true;
  FEnabled = true;
}

void TNTEventLog::Close() {
  if (!FOpen) return;
  ::closelog();
  FOpen = false;
}

void TNTEventLog::UnregisterApplication() {
  bool removed = false;
  try {
    auto reg = MachineRegistry(FStore);
    removed = reg->DeleteKey(SourceKey());
  } catch (const std::exception&) {
  }
  if (!removed) throw EEventLogError("Unable to remove registry entries.");
}

void TNTEventLog::LogInformation(const std::string& text) { Write(TKind::Information, InformationId, text); }

void TNTEventLog::LogWarning(const std::string& text) { Write(TKind::Warning, WarningId, text); }

void TNTEventLog::LogError(const std::string& text, int, std::uint32_t id, const void*, int) {
  Write(TKind::Error, id, text);
}

void TNTEventLog::Write(TKind kind, std::uint32_t id, const std::string& text) {
  if (!FEnabled || !FOpen) return;
  if (FSink) {
    FSink(kind, id, text);
  } else {
    const int priority = kind == TKind::Error ? LOG_ERR : kind == TKind::Warning ? LOG_WARNING : LOG_INFO;
    ::syslog(priority, "%s", text.c_str());
  }
  if (FEcho && !IsJournalStream(FEcho)) {
    std::fprintf(FEcho, "%s: %s: %s\n", FAppName.c_str(), KindText(kind), text.c_str());
    std::fflush(FEcho);
  }
}

bool TNTEventLog::IsJournalStream(std::FILE* stream) {
  // systemd names the stream it connected as "device:inode".
  const char* journal = std::getenv("JOURNAL_STREAM");
  if (!journal || !stream) return false;
  struct stat st {};
  if (::fstat(::fileno(stream), &st) != 0) return false;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) == journal;
}
