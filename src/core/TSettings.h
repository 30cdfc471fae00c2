#pragma once
// The program's global settings with their built-in defaults, and the settings file
// they are stored in: a text of name=value lines (the first "=" separates, names compare
// without regard to case, CR LF line ends). The whole file is kept as one list and
// written back, so entries this version does not know, and lines it cannot read,
// survive a save.
//
// The monitor owns one TSettings; the main thread changes it under the monitor's state
// lock, other threads read it under that lock held shared (src/core/README.md).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Values other parts use that are not stored. The host-list wait time is HostListWaitMs
// (core/THostList.h).
constexpr int ThreadTimeoutMs = 5 * 60 * 1000;     // an older test or trace thread is terminated
constexpr double CapabilityProbeInterval = 1.0 / 6;  // days: probes of ports 139 and 3389
constexpr double AutoTraceInterval = 1.0 / 6;        // days between periodic trace routes
constexpr int MaxPeriodicTraces = 3;

class TSettings {
public:
  enum class TLoadResult { Loaded, Missing, Unreadable };

  // A settings file larger than this is not one we wrote.
  static constexpr std::uint64_t MaxFileBytes = 1024 * 1024;
  // A new settings file holds scrambled passwords: it is for its owner only.
  static constexpr unsigned FileMode = 0600;

  int MaxPingThreads = 25;
  int NumPings = 2;
  int PingTimeout = 5000;  // ms
  int MaxTCPThreads = 10;
  // ms one connect attempt of a TCP test may take; 21000 is the original platform's own.
  static constexpr int DefaultTCPConnectTimeout = 21000;
  int TCPConnectTimeout = DefaultTCPConnectTimeout;
  int MaxServiceThreads = 10;
  int MaxShareThreads = 5;
  std::string HostDownSound = "Error.wav";
  std::string HostUpSound = "Okay.wav";
  std::string SysLogServer;  // name or address, optionally ":" and a port
  bool OfflineAlertsAtStartup = false;
  bool PlaySounds = true;
  bool PlayRepetitiveSounds = true;
  bool HostInfoPane = true;
  bool AlertsOnTop = false;
  int Use24HourDate = 0;  // 1 selects the 24-hour date-time formats
  bool FailFreqAdj = true;
  int WebServerPort = 0;  // 0: no web server
  // The port of the Windows-network protocols (SMB) for service tests and control, share
  // tests and remote shutdown.
  static constexpr int DefaultSMBPort = 445;
  int SMBPort = DefaultSMBPort;
  std::string WebServerPassword;
  std::string WebAdminPassword;
  bool WebRestarts = false;
  bool TestHostServices = true;
  // An https test fails when the server's certificate expires within this many days;
  // 0 turns the check off.
  static constexpr int DefaultCertExpiryDays = 14;
  int CertExpiryDays = DefaultCertExpiryDays;
  // Seconds one HTTP exchange (connect, request, every redirect) may take in all.
  static constexpr int DefaultHTTPTimeout = 60;
  int HTTPTimeout = DefaultHTTPTimeout;
  // HTTPTimeout in milliseconds, at most an hour.
  int HTTPTimeoutMs() const { return (HTTPTimeout < 1 ? 1 : HTTPTimeout > 3600 ? 3600 : HTTPTimeout) * 1000; }
  // TLS for alert mail: Auto sends STARTTLS when the server offers it, Required fails an
  // attempt without TLS before any AUTH, Off never starts TLS (port 465 always uses it).
  enum class TSmtpTls { Auto, Required, Off };
  TSmtpTls SmtpTls = TSmtpTls::Auto;
  // The web relay's server for relay mail (name or address, optionally ":" and a port);
  // empty: no relay route.
  std::string RelayServer;

  // The main window's layout, for the UI to apply after a load and to set before a
  // save. Empty until the file or the window gives a value; empty ones are not written.
  std::optional<int> Width, Height, Left, Top, FullWidth;
  std::optional<int> ViewStyle;  // 0 icons, 1 small icons, 2 list, 3 report

  // The stored width of the host list column with this caption, else current.
  int ColumnWidth(const std::string& caption, int current) const;
  void SetColumnWidth(const std::string& caption, int width);

  // The name=value list. Value is the first line's for a name given twice; setting a
  // value replaces that line and removes the others of the name, an empty value removes
  // them all; a new name is appended. Line breaks inside a name or value become blanks, as
  // they would split the line in the file.
  bool HasName(std::string_view name) const;
  std::string Value(std::string_view name) const;
  void SetValue(std::string_view name, std::string_view value);
  const std::vector<std::string>& Lines() const { return FLines; }

  // Replaces the list with the lines of text, then reads every setting by its rule;
  // settings the rules keep retain their current values.
  void LoadFromText(std::string_view text);
  // Writes every setting into the list and returns the list as the file's text.
  std::string SaveToText();

  // Missing: nothing changed. Unreadable: nothing changed and reason tells why: the
  // file cannot be read, is too large, or holds control characters no settings text
  // has (binary data, another encoding). Lines without "=" are not a reason: they are
  // kept as they are.
  TLoadResult LoadFromFile(const std::string& fileName, std::string& reason);

  // Whether a text may be read as a settings file; reason tells why not.
  static bool IsSettingsText(std::string_view text, std::string& reason);

private:
  int IndexOfName(std::string_view name) const;
  void ReadSettings();
  void WriteSettings();

  std::vector<std::string> FLines;
};
