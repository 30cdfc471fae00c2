#include "core/TSettings.h"

#include <charconv>

#include "common/FileUtils.h"
#include "common/QLEncryptString.h"
#include "common/TextUtils.h"
#include "common/TextFiles.h"

namespace {

const char* const ColumnWidthPrefix = "ColumnWidth-";

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextRange(a, 1, -1, b, 1, -1) == 0;
}

// A decimal integer, blanks around it allowed.
bool ParseInt(std::string_view text, int& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  int parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::string OneLine(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

}  // namespace

int TSettings::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    const std::size_t eq = FLines[i].find('=');
    if (eq != std::string::npos && SameName(std::string_view(FLines[i]).substr(0, eq), name))
      return static_cast<int>(i);
  }
  return -1;
}

bool TSettings::HasName(std::string_view name) const { return IndexOfName(name) >= 0; }

std::string TSettings::Value(std::string_view name) const {
  const int i = IndexOfName(name);
  if (i < 0) return std::string();
  const std::string& line = FLines[static_cast<std::size_t>(i)];
  return line.substr(line.find('=') + 1);
}

void TSettings::SetValue(std::string_view name, std::string_view value) {
  // The first line of a name is the one read. A value that stays as it was changes no
  // line, so a later line of the same name (a user's note, a value kept for another
  // version) outlives every save; a changed value goes into the first line only.
  const std::string text = OneLine(value);
  const int first = IndexOfName(name);
  if (first < 0) {
    if (!text.empty()) FLines.push_back(OneLine(name) + "=" + text);
    return;
  }
  std::string& line = FLines[static_cast<std::size_t>(first)];
  const std::size_t eq = line.find('=');
  if (line.compare(eq + 1, std::string::npos, text) == 0) return;
  // An emptied value loses its line, unless a later line of the name would then be the
  // one read: the empty line stays in front of it.
  bool later = false;
  for (std::size_t i = static_cast<std::size_t>(first) + 1; i < FLines.size() && !later; ++i) {
    const std::size_t at = FLines[i].find('=');
    later = at != std::string::npos && SameName(std::string_view(FLines[i]).substr(0, at), name);
  }
  if (text.empty() && !later) FLines.erase(FLines.begin() + first);
  else line = line.substr(0, eq + 1) + text;
}

int TSettings::ColumnWidth(const std::string& caption, int current) const {
  int width = current;
  ParseInt(Value(ColumnWidthPrefix + caption), width);
  return width;
}

void TSettings::SetColumnWidth(const std::string& caption, int width) {
  SetValue(ColumnWidthPrefix + caption, std::to_string(width));
}

void TSettings::LoadFromText(std::string_view text) {
  FLines = SplitTextLines(text);
  ReadSettings();
}

std::string TSettings::SaveToText() {
  WriteSettings();
  std::string text;
  for (const std::string& line : FLines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TSettings::ReadSettings() {
  // Counts and time-outs below 1 would stop every test of their kind for good, so they
  // count as unreadable.
  const auto positive = [this](const char* name, int& target) {
    int v = 0;
    if (ParseInt(Value(name), v) && v >= 1) target = v;
  };
  const auto text = [this](const char* name, std::string& target) {
    if (HasName(name)) target = Value(name);
  };
  const auto optionalInt = [this](const char* name, std::optional<int>& target) {
    int v = 0;
    if (ParseInt(Value(name), v)) target = v;
  };

  positive("MaxPingThreads", MaxPingThreads);
  positive("NumPings", NumPings);
  positive("PingTimeout", PingTimeout);
  positive("MaxTCPThreads", MaxTCPThreads);
  positive("TCPConnectTimeout", TCPConnectTimeout);
  positive("MaxServiceThreads", MaxServiceThreads);
  positive("MaxShareThreads", MaxShareThreads);
  text("HostDownSound", HostDownSound);
  text("HostUpSound", HostUpSound);
  text("SysLogServer", SysLogServer);
  // Flags are read unconditionally: a missing name reads as an empty value.
  OfflineAlertsAtStartup = Value("OfflineAlertsAtStartup") == "1";
  PlaySounds = Value("PlaySounds") != "0";
  PlayRepetitiveSounds = Value("PlayRepetitiveSounds") != "0";
  HostInfoPane = Value("HostInfoPane") == "1";
  AlertsOnTop = Value("AlertsOnTop") == "1";
  Use24HourDate = 0;
  ParseInt(Value("Use24HourDate"), Use24HourDate);
  FailFreqAdj = Value("FailFreqAdj") != "0";
  int port = 0;
  WebServerPort = ParseInt(Value("WebServerPort"), port) && port >= 0 && port <= 65535 ? port : 0;
  SMBPort = ParseInt(Value("SMBPort"), port) && port > 0 && port <= 65535 ? port : DefaultSMBPort;
  WebServerPassword = UnscrambleText(Value("WebServerPassword"));
  WebAdminPassword = UnscrambleText(Value("WebAdminPassword"));
  WebRestarts = Value("WebRestarts") == "1";
  TestHostServices = Value("TestHostServices") == "1";
  int days = 0;
  if (ParseInt(Value("CertExpiryDays"), days) && days >= 0) CertExpiryDays = days;
  positive("HTTPTimeout", HTTPTimeout);
  const std::string tls = Value("SmtpTls");
  if (SameName(tls, "auto")) SmtpTls = TSmtpTls::Auto;
  else if (SameName(tls, "required")) SmtpTls = TSmtpTls::Required;
  else if (SameName(tls, "off")) SmtpTls = TSmtpTls::Off;
  text("RelayServer", RelayServer);
  optionalInt("Width", Width);
  optionalInt("Height", Height);
  optionalInt("Left", Left);
  optionalInt("Top", Top);
  optionalInt("FullWidth", FullWidth);
  int style = 0;
  if (ParseInt(Value("ViewStyle"), style) && style >= 0 && style <= 3) ViewStyle = style;
}

void TSettings::WriteSettings() {
  const auto integer = [this](const char* name, int v) { SetValue(name, std::to_string(v)); };
  const auto flag = [this](const char* name, bool v) { SetValue(name, v ? "1" : "0"); };
  const auto optionalInt = [this](const char* name, const std::optional<int>& v) {
    if (v) SetValue(name, std::to_string(*v));
  };

  integer("MaxPingThreads", MaxPingThreads);
  integer("NumPings", NumPings);
  integer("PingTimeout", PingTimeout);
  integer("MaxTCPThreads", MaxTCPThreads);
  // Only a file that names it, or a changed value, gets the line.
  if (TCPConnectTimeout != DefaultTCPConnectTimeout || HasName("TCPConnectTimeout"))
    integer("TCPConnectTimeout", TCPConnectTimeout);
  integer("MaxServiceThreads", MaxServiceThreads);
  integer("MaxShareThreads", MaxShareThreads);
  SetValue("HostDownSound", HostDownSound);
  SetValue("HostUpSound", HostUpSound);
  SetValue("SysLogServer", SysLogServer);
  flag("OfflineAlertsAtStartup", OfflineAlertsAtStartup);
  flag("PlaySounds", PlaySounds);
  flag("PlayRepetitiveSounds", PlayRepetitiveSounds);
  flag("HostInfoPane", HostInfoPane);
  flag("AlertsOnTop", AlertsOnTop);
  integer("Use24HourDate", Use24HourDate);
  flag("FailFreqAdj", FailFreqAdj);
  integer("WebServerPort", WebServerPort);
  SetValue("WebServerPassword", ScrambleText(WebServerPassword));
  SetValue("WebAdminPassword", ScrambleText(WebAdminPassword));
  flag("WebRestarts", WebRestarts);
  flag("TestHostServices", TestHostServices);
  // Settings of later versions get a line only when the file names them or they differ
  // from the default, so that a save changes nothing else in an older file.
  if (CertExpiryDays != DefaultCertExpiryDays || HasName("CertExpiryDays")) integer("CertExpiryDays", CertExpiryDays);
  if (HTTPTimeout != DefaultHTTPTimeout || HasName("HTTPTimeout")) integer("HTTPTimeout", HTTPTimeout);
  if (SMBPort != DefaultSMBPort || HasName("SMBPort")) integer("SMBPort", SMBPort);
  if (SmtpTls != TSmtpTls::Auto || HasName("SmtpTls"))
    SetValue("SmtpTls", SmtpTls == TSmtpTls::Required ? "required" : SmtpTls == TSmtpTls::Off ? "off" : "auto");
  if (!RelayServer.empty() || HasName("RelayServer")) SetValue("RelayServer", RelayServer);
  optionalInt("Width", Width);
  optionalInt("Height", Height);
  optionalInt("Left", Left);
  optionalInt("Top", Top);
  optionalInt("FullWidth", FullWidth);
  optionalInt("ViewStyle", ViewStyle);
}

bool TSettings::IsSettingsText(std::string_view text, std::string& reason) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 && c != '\t' && c != '\r' && c != '\n') {
      reason = "it holds binary data (character " + std::to_string(u) + ")";
      return false;
    }
  }
  return true;
}

TSettings::TLoadResult TSettings::LoadFromFile(const std::string& fileName, std::string& reason) {
  if (!FileExists(fileName)) return TLoadResult::Missing;
  std::string text;
  bool tail = false;
  if (!ReadFileTail(fileName, MaxFileBytes, text, tail, reason)) return TLoadResult::Unreadable;
  if (tail) {
    reason = "it is larger than " + std::to_string(MaxFileBytes) + " bytes";
    return TLoadResult::Unreadable;
  }
  if (!IsSettingsText(text, reason)) return TLoadResult::Unreadable;
  LoadFromText(text);
  return TLoadResult::Loaded;
}
