#pragma once
// The supervisor's event log: entries go to syslog(3) under the source name (the
// journal shows them), and the source's registration lives in the registry stand-in
// under "SYSTEM\CurrentControlSet\Services\EventLog\Application\<name>".
//
// Every entry is also written to an echo stream (the supervisor's standard error), so a
// supervisor run by hand shows what it logs; the echo is left out when that stream is
// the journal already, which would otherwise show each entry twice.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

class TRegistryStore;

class EEventLogError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TNTEventLog {
public:
  static constexpr std::uint32_t InformationId = 0x40020001u;
  static constexpr std::uint32_t ErrorId = 0xC0020002u;
  static constexpr std::uint32_t WarningId = 0x80020003u;
  static constexpr const char* PlaceholderName = "Corvale Event Source";

  enum class TKind { Information, Warning, Error };
  // Receives each entry instead of syslog(3); for tests that read what was logged.
  using TSink = std::function<void(TKind kind, std::uint32_t id, const std::string& text)>;

  // store: the registry to keep the registration in; null for one in the usual places.
  explicit TNTEventLog(TRegistryStore* store = nullptr);
  ~TNTEventLog();
  TNTEventLog(const TNTEventLog&) = delete;
  TNTEventLog& operator=(const TNTEventLog&) = delete;

  const std::string& AppName() const { return FAppName; }
  // An empty name becomes PlaceholderName.
  void SetAppName(const std::string& name);
  bool Enabled() const { return FEnabled; }
  bool IsOpen() const { return FOpen; }
  // The program named in the registration; the running executable unless set.
  void SetMessageFile(const std::string& path) { FMessageFile = path; }
  void SetSink(TSink sink) { FSink = std::move(sink); }
  // Null: no echo.
  void SetEcho(std::FILE* stream) { FEcho = stream; }

  // Creates the source's key with "EventMessageFile" and "TypesSupported" when it is
  // missing. Throws EEventLogError("Unable to register application.").
  bool RegisterApplication();
  // Registers, then opens the source. Throws as RegisterApplication does.
  void Open();
  // Gives the source back; later entries are dropped.
  void Close();
  // Throws EEventLogError("Unable to remove registry entries.").
  void UnregisterApplication();

  void LogInformation(const std::string& text);
  void LogWarning(const std::string& text);
  // category, data and size have no place in syslog and are accepted for the callers.
  void LogError(const std::string& text, int category = 0, std::uint32_t id = ErrorId, const void* data = nullptr,
                int size = 0);

  // The registration's key below HKEY_LOCAL_MACHINE.
  std::string SourceKey() const;
  // True when the stream is the journal stream systemd gave this process.
  static bool IsJournalStream(std::FILE* stream);

private:
  void Write(TKind kind, std::uint32_t id, const std::string& text);

  TRegistryStore* FStore;
  std::string FAppName = PlaceholderName;
  std::string FMessageFile;
  // syslog(3) keeps the pointer it is opened with: the name must outlive the opening.
  std::string FOpenIdent;
  bool FEnabled = false;
  bool FOpen = false;
  TSink FSink;
  std::FILE* FEcho = nullptr;
};
