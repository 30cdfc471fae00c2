#include "web/WebCommands.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "common/Clock.h"
#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/TextCodec.h"
#include "common/TextFiles.h"
#include "common/TextUtils.h"
#include "core/HostAddress.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "core/TSettings.h"
#include "tools/MagicWakeup.h"
#include "web/TWebRequest.h"
#include "web/TWebSite.h"
#include "web/WebSections.h"
#include "web/WebTemplate.h"

namespace {

constexpr const char* PageTitle = "Corvale Host Actions";
// Templates and remote-desktop files are small; anything larger is not ours.
constexpr std::uintmax_t MaxFileSize = 1 << 20;

const char* const DefaultRdpLines[] = {
    "screen mode id:i:2",          "desktopwidth:i:800",          "desktopheight:i:600",
    "session bpp:i:16",            "winposstr:s:0,1,0,0,800,600", "full address:s:",
    "compression:i:1",             "keyboardhook:i:2",            "audiomode:i:0",
    "redirectdrives:i:0",          "redirectprinters:i:0",        "redirectcomports:i:0",
    "redirectsmartcards:i:1",      "displayconnectionbar:i:1",    "autoreconnection enabled:i:1",
    "username:s:",                 "domain:s:",                   "alternate shell:s:",
    "shell working directory:s:",  "disable wallpaper:i:1",       "disable full window drag:i:0",
    "disable menu anims:i:0",      "disable themes:i:0",          "disable cursor setting:i:0",
    "bitmapcachepersistenable:i:1",
};

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && UpperAscii(text.substr(0, prefix.size())) == UpperAscii(prefix);
}

// A whole decimal number (a sign allowed) that fits an int; none for anything else.
std::optional<int> ParseNumber(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const char* begin = text.data();
  if (begin != end && *begin == '+') ++begin;
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end || begin == end) return std::nullopt;
  return value;
}

// Reads a file of at most MaxFileSize bytes; errno tells why not.
bool ReadSmallFile(const std::string& fileName, std::string& text, TDateTime* modified = nullptr) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode) || static_cast<std::uintmax_t>(info.st_size) > MaxFileSize) {
    errno = EFBIG;
    return false;
  }
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (modified) *modified = UnixToDateTime(static_cast<double>(info.st_mtime));
  return !in.bad();
}

// What the server thread needs of a host to carry out a command once the state lock is
// released: the main thread may change or remove the record meanwhile.
struct TTarget {
  std::int32_t ID = 0;  // 0: all hosts
  std::string IDText;
  std::string DisplayName;
  std::string Address;
  std::string URL;
  std::string WinUserName;
  std::string WinPassword;
  int Command = -1;
  bool Offered = false;
};

TTarget TargetOf(const THost* host, int command, const TWebRequest& request, const TSettings& settings,
                 TDateTime now) {
  TTarget t;
  t.Command = command;
  t.Offered = CommandOffered(command, host, request.PeerIsLocal, request.GroupFilter, settings, now);
  if (host) {
    t.ID = host->ID;
    t.IDText = host->IDText();
    t.DisplayName = host->DisplayName;
    t.Address = host->Address;
    t.URL = host->HTTPTest.URL;
    t.WinUserName = host->WinUserName;
    t.WinPassword = host->WinPassword;
  }
  return t;
}

void RemoteShutdownCommand(const TTarget& t, const std::string& name, const TWebRequest& request,
                           const TWebSite& site, std::string& message) {
  const std::string who = "\"" + name + "\" cannot be performed on \"" + HtmlEncode(t.DisplayName) + "\" (";
  if (!site.RemoteShutdown) {
    message += who + "remote restart and shutdown are not available in this version)<br>";
    return;
  }
  int result = 0;
  try {
    const std::string text = std::string("Remote ") + (t.Command == 10 ? "Restart" : "Shutdown") + " by web user " +
                             request.Client.User + "@" + request.Client.Peer;
    result = site.RemoteShutdown(t.Address, t.WinUserName, t.WinPassword, text, t.Command == 10);
  } catch (...) {
    result = 1;
  }
  if (result != 0 && result != 997)
    message += who + HtmlEncode(ErrorText(result)) + ")<br>";
  else
    message += "\"" + name + "\" is being performed on \"" + HtmlEncode(t.DisplayName) + "\"<br>";
}

void PerformWebCommand(const TTarget& t, TWebRequest& request, const TWebSite& site, bool confirmed,
                       std::string& message) {
  const std::string name = WebCommandName(t.Command);
  switch (t.Command) {
    case 7:
      request.Status = "301";
      request.Body = t.IDText + ".rdp";
      return;
    case 8:
      request.Status = "301";
      request.Body = t.URL;
      return;
    case 10:
    case 11:
      if (!confirmed) {
        message += "<font color=\"#A00000\">\"" + name + "\" on \"" + HtmlEncode(t.DisplayName) +
                   "\" confirmation: <a href=\"command?hostid=" + t.IDText + "&command=" +
                   std::to_string(t.Command) + "&confirm=1\">" + name + " now</a></font><br>";
      } else {
        RemoteShutdownCommand(t, name, request, site, message);
      }
      return;
    default:
      break;
  }
  const std::string user = request.Client.User;
  const std::string peer = request.Client.Peer;
  const bool ran = site.RunOnMainThread &&
                   site.RunOnMainThread([&site, &t, &user, &peer] { RunWebAction(site, t.Command, t.ID, user, peer); });
  const std::string on = t.ID == 0 ? "all hosts" : "\"" + HtmlEncode(t.DisplayName) + "\"";
  if (ran)
    message += "\"" + name + "\" is being performed on " + on + "<br>";
  else
    message += "\"" + name + "\" cannot be performed on " + on + " (the monitor is not running)<br>";
}

void ApplyCommand(const TTarget& t, TWebRequest& request, const TWebSite& site, bool confirmed,
                  std::string& message) {
  if (t.Offered) {
    PerformWebCommand(t, request, site, confirmed, message);
  } else if (t.Command < 0 || t.Command >= WebCommandCount) {
    message += "Command ID " + std::to_string(t.Command) + " is not recognized as a valid command.<br>";
  } else if (t.ID != 0) {
    message += "Command \"" + WebCommandName(t.Command) + "\" is not valid for host \"" + HtmlEncode(t.DisplayName) +
               "\"<br>";
  } else {
    message += "Command \"" + WebCommandName(t.Command) + "\" cannot be performed on all hosts<br>";
  }
}

// The hosts the request names and the command for each, read in one short hold of the
// state lock.
std::vector<TTarget> Targets(const TWebRequest& request, TMonitor& monitor, int command) {
  std::unordered_map<std::string, std::string> params;
  for (const auto& [name, value] : request.Params) params.emplace(UpperAscii(name), value);
  const std::string hostID = UpperAscii(request.Param("hostid"));
  const TDateTime now = monitor.Clock().Now();
  std::vector<TTarget> targets;
  std::shared_lock<std::shared_mutex> guard(monitor.StateLock());
  const TSettings& settings = monitor.Settings();
  if (command != -1 && hostID == "0") {
    targets.push_back(TargetOf(nullptr, command, request, settings, now));
    return targets;
  }
  for (const auto& record : monitor.Hosts().Records()) {
    if (record->IsGroup()) continue;
    const std::string idText = record->IDText();
    const auto found = params.find(idText);
    const std::string value = found == params.end() ? std::string() : found->second;
    int apply;
    if (UpperAscii(value) == "ON" || hostID == idText) {
      apply = command;
    } else if (const std::optional<int> n = ParseNumber(value); n && *n >= 0) {
      apply = *n;
    } else {
      continue;
    }
    targets.push_back(TargetOf(record.get(), apply, request, settings, now));
  }
  return targets;
}

void MessagePage(TWebRequest& request, const TWebSite& site, std::string message) {
  if (message.empty()) message = "No valid actions were found or performed.";
  if (message.size() >= 4 && message.compare(message.size() - 4, 4, "<br>") == 0) message.resize(message.size() - 4);
  std::string page;
  if (!ReadSmallFile(site.Folder + "message.html", page)) {
    request.Status = "500 " + ErrnoText(errno) + " (LoadMessage)";
    return;
  }
  PagePass(page, request, site, true, false);
  page = ReplaceAll("%title%", PageTitle, page, false);
  page = ReplaceAll("%message%", message, page, false);
  if (!request.Param("noback").empty()) {
    DropAllSections(page, "back");
    UnwrapAllSections(page, "noback");
  } else {
    DropAllSections(page, "noback");
    UnwrapAllSections(page, "back");
  }
  request.Body = std::move(page);
  request.LastModified = site.Monitor->Clock().Now();
}

// The user name and domain of a Windows user name "{Domain\}Name" (or "Domain:Name").
void SplitWindowsUser(const std::string& user, std::string& name, std::string& domain) {
  const std::size_t cut = user.find_last_of("\\:");
  if (cut == std::string::npos) {
    name = user;
    domain.clear();
  } else {
    name = user.substr(cut + 1);
    domain = user.substr(0, cut + 1);
  }
}

}  // namespace

std::string WebCommandName(int command) {
  static const char* const names[WebCommandCount] = {
      "Test Host",        "Basic Reset",    "Reset", "Full Reset", "Disable Host", "Enable Host",
      "Simulate Failure", "Remote Desktop", "",      "Wakeup",     "Restart",      "Shutdown"};
  if (command < 0 || command >= WebCommandCount) return {};
  return names[command];
}

bool WebCommandOffered(int command, const THost* host, const TWebRequest& request, const TWebSite& site,
                       const TSettings& settings, TDateTime now) {
  if ((command == 10 || command == 11) && !site.RemoteShutdown) return false;
  return CommandOffered(command, host, request.PeerIsLocal, request.GroupFilter, settings, now);
}

bool CommandOffered(int command, const THost* host, bool peerIsLocal, int groupFilter, const TSettings& settings,
                    TDateTime now) {
  if (command < 0 || command >= WebCommandCount) return false;
  if (!host) return command <= 3 && groupFilter == 0;
  if (groupFilter != 0 && host->GroupNumber != groupFilter) return false;
  switch (command) {
    case 4:
      return host->DisabledUntil != 1.0;
    case 5:
      return host->DisabledUntil == 1.0 || host->DisabledUntil > now;
    case 7:
      return (peerIsLocal || host->Address.find('.') != std::string::npos) &&
             (!settings.TestHostServices || host->RDPCapability != 2);
    case 8:
      return host->TestKind == TestHTTP;
    case 9:
      return !host->MACAddress.empty() && host->MACAddress != "-" && host->Status > 0;
    case 10:
    case 11:
      return settings.WebRestarts && !host->CurrentIP.empty() && host->CurrentIP != "-" &&
             (!settings.TestHostServices || host->ShareCapability != 2) && OnLocalSubnet(host->CurrentIP);
    default:
      return true;
  }
}

void RunWebAction(const TWebSite& site, int command, std::int32_t hostID, const std::string& user,
                  const std::string& peer) {
  TMonitor& m = *site.Monitor;
  THostList& hosts = m.Hosts();
  const std::string by = " by remote user " + user + "@" + peer;
  // The same operations as the window's, so a web user's action does what the same
  // action does there (a reset host is tested; a second simulation ends the first).
  if (hostID == 0) {
    if (command == 0)
      m.RefreshAllHosts(by);
    else if (command >= 1 && command <= 3)
      m.ResetAllHosts(command - 1, by);
    return;
  }
  const int index = hosts.FindByID(hostID);
  if (index < 0) return;
  THost& host = *hosts.Items(index);
  const bool refresh = command >= 1 && command <= 5;
  if (refresh) m.Trace("WebAction - Host Start " + std::to_string(index));
  switch (command) {
    case 0: m.TestHostNow(index, by); break;
    case 1:
    case 2:
    case 3: m.ResetHostStatus(index, command - 1, by); break;
    case 4:
      m.LogEvent(&host, "Host Disabled" + by, TLogCategory::Information);
      m.DisableHost(index, false);
      break;
    case 5:
      m.LogEvent(&host, "Host Enabled" + by, TLogCategory::Information);
      m.DisableHost(index, true);
      break;
    case 6: m.SimulateHostFailure(index, by); break;
    case 9:
      // The same packet as the window's "Send Magic Wakeup"; nobody at the window reads
      // its message, so a failure is logged.
      if (const TToolMessage sent = SendMagicWakeup(host.MACAddress, site.WakeOnLanAddress, site.WakeOnLanPort);
          sent.Warning)
        m.ReportFault("Wakeup", sent.Text);
      break;
    default:
      break;
  }
  if (refresh) {
    if (THost* after = hosts.Items(index); after == &host) m.HostChanged(host, "WebAction");
    m.Trace("WebAction - Host End " + std::to_string(index));
  }
}

void CommandPage(TWebRequest& request, const TWebSite& site) {
  request.Status = "200";
  request.ContentType = "text/html";
  if (!site.Monitor) {
    request.Status = "500 No monitor (CommandPage)";
    return;
  }
  const std::optional<int> number = ParseNumber(request.Param("command"));
  const int command = number ? *number : -1;
  const bool confirmed = !request.Param("confirm").empty();
  std::string message;
  for (const TTarget& t : Targets(request, *site.Monitor, command)) {
    ApplyCommand(t, request, site, confirmed, message);
    if (request.Status != "200") return;
  }
  MessagePage(request, site, std::move(message));
  if (request.Status != "200") return;
  ConditionalSections(request.Body, request);
}

void RdpRoute(TWebRequest& request, const TWebSite& site, const std::string& name) {
  request.Status = "404";
  if (!site.Monitor || name.empty() || name.size() > 8) return;
  std::int32_t id = 0;
  const auto [ptr, ec] = std::from_chars(name.data(), name.data() + name.size(), id, 16);
  if (ec != std::errc() || ptr != name.data() + name.size() || id <= 0) return;
  std::string displayName, address;
  std::unique_ptr<THost> copy;
  {
    std::shared_lock<std::shared_mutex> guard(site.Monitor->StateLock());
    const int index = site.Monitor->Hosts().FindByID(id);
    if (index < 0) return;
    const THost& host = *site.Monitor->Hosts().Items(index);
    if (host.IsGroup()) return;
    copy = std::make_unique<THost>();
    copy->ID = host.ID;
    copy->DisplayName = host.DisplayName;
    copy->Address = host.Address;
    copy->WinUserName = host.WinUserName;
  }
  std::string text;
  TDateTime modified = 0;
  // The display name becomes a file name: one that could leave the data folder has none.
  const bool safeName = copy->DisplayName.find('/') == std::string::npos && copy->DisplayName != "." &&
                        copy->DisplayName != "..";
  const std::string own = site.Monitor->DataFolder() + copy->DisplayName + ".rdp";
  if (safeName && !site.Monitor->DataFolder().empty() && ReadSmallFile(own, text, &modified)) {
    request.Status = "200";
    request.ContentType = "application/octet-stream";
    request.Body = std::move(text);
    request.LastModified = modified;
    return;
  }
  std::string folder = site.Folder;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  const std::string fallback = ExtractFilePath(folder) + "default.rdp";
  if (folder.empty() || !ReadSmallFile(fallback, text)) return;
  request.Status = "200";
  request.ContentType = "application/octet-stream";
  request.Body = WriteRdpFile(copy.get(), copy->Address, text);
}

std::string WriteRdpFile(const THost* host, const std::string& address, const std::string& templateText) {
  std::string text = templateText;
  if (text.empty()) {
    for (const char* line : DefaultRdpLines) {
      if (!text.empty()) text += "\r\n";
      text += line;
    }
  } else if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
    text = Utf16ToText(text);
  }
  std::string name, domain;
  if (host) SplitWindowsUser(host->WinUserName, name, domain);
  const std::pair<const char*, std::string> keys[] = {
      {"full address:s:", address}, {"username:s:", name}, {"domain:s:", domain}, {"password:s:", ""}};
  std::string joined;
  bool first = true;
  for (std::string& line : SplitTextLines(text)) {
    for (const auto& [key, value] : keys)
      if (StartsWithNoCase(line, key)) {
        line = std::string(key) + value;
        break;
      }
    if (!first) joined += "\r\n";
    first = false;
    joined += line;
  }
  std::string out = "\xFF\xFE";
  out.reserve(2 + joined.size() * 2);
  for (char c : joined) {
    out += c;
    out += '\0';
  }
  return out;
}
