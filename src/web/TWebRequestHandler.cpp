#include "web/TWebRequestHandler.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "common/DateTime.h"
#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/SystemInfo.h"
#include "common/TextCodec.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "platform/NetInterfaces.h"

namespace {

std::string LowerText(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return text;
}

bool ParseIconNumber(const std::string& text, int& n) {
  if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  n = std::stoi(text);
  return true;
}

// A name that the file system could take for anything but a file directly in the folder.
bool UnsafeFileName(const std::string& name) {
  return name.empty() || name == "." || name == ".." ||
         std::any_of(name.begin(), name.end(), [](char c) { return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32; });
}

// The host and port part of an absolute URL ("http://host:8080/page" gives
// "host:8080"), lower case; empty when the text is no such URL.
std::string UrlAuthority(const std::string& url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return {};
  const std::size_t start = scheme + 3;
  const std::size_t end = url.find_first_of("/?#", start);
  return LowerText(url.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

}  // namespace

std::string CrossSiteRefusal(const TWebClientInfo& client) {
  // A page of another site must not act on hosts through a signed-in manager's browser
  // (an image whose address is a command). Browsers say where a request comes from;
  // a request that says nothing (a script, an old browser) is taken as it is.
  const std::string host = LowerText(client.Host);
  if (client.FetchSite == "cross-site")
    return "The browser marked this host action as asked for by another site (Sec-Fetch-Site: cross-site).";
  if (!client.Origin.empty() && UrlAuthority(client.Origin) != host)
    return "This host action was asked for by a page of another site (Origin: " + client.Origin + ").";
  if (!client.Referer.empty() && UrlAuthority(client.Referer) != host)
    return "This host action was asked for by a page of another site (Referer: " + client.Referer + ").";
  return {};
}

TWebRequestHandler::TWebRequestHandler(const TWebSite& site, const TWebRoutes& routes, int port, TTraceHook trace)
    : FSite(site), FRoutes(routes), FPort(port), FTrace(std::move(trace)) {}

void TWebRequestHandler::Step(const char* step) const {
  if (FTrace) FTrace(step);
}

std::string TWebRequestHandler::DefaultHost() const {
  const std::string name = LocalComputerName();
  return FPort == 80 ? name : name + ":" + std::to_string(FPort);
}

bool TWebRequestHandler::Handle(std::string_view head, const std::string& peer, int clientCount, int maxClients,
                                TWebRequest& request) {
  Step("WS ParseHeader");
  TWebPasswords passwords;
  if (FSite.Monitor) {
    std::shared_lock lock(FSite.Monitor->StateLock());
    passwords.Server = FSite.Monitor->Settings().WebServerPassword;
    passwords.Admin = FSite.Monitor->Settings().WebAdminPassword;
  }
  request.Client.Peer = peer;
  TWebTarget target;
  const std::string early =
      ParseWebRequest(head, passwords, DefaultHost(), FileExists(FSite.Folder + "mobile.html"), request, target);
  if (clientCount > maxClients) {
    request.Status = "500-13";
    return target.CloseAsked;
  }
  if (early == "400" && target.Version.empty() && request.Client.Path.empty()) Step("WS SendError");
  if (!early.empty()) {
    request.Status = early;
    return target.CloseAsked;
  }
  Step("WS Authorization");
  request.PeerIsLocal = PeerIsLocal(peer);
  request.GroupFilter = GroupFilter(request, target.Folder);
  Step("WS ParseFilename");
  Route(request, target);
  return target.CloseAsked;
}

std::string TWebRequestHandler::FindFile(const std::string& fileName) const {
  if (UnsafeFileName(fileName)) return {};
  struct stat info {};
  if (::stat((FSite.Folder + fileName).c_str(), &info) == 0) return S_ISREG(info.st_mode) ? fileName : std::string();
  const std::string wanted = LowerText(fileName);
  std::error_code error;
  int looked = 0;
  for (std::filesystem::directory_iterator it(FSite.Folder, error), end; !error && it != end && ++looked <= 10000;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (LowerText(name) == wanted && it->is_regular_file(error)) return name;
  }
  return {};
}

int TWebRequestHandler::GroupFilter(const TWebRequest& request, const std::string& folder) const {
  if (!FSite.Monitor) return request.GroupFilter;
  std::string folderName = folder;
  std::replace(folderName.begin(), folderName.end(), '\\', '/');
  const std::string byUser = LowerText(";" + request.Client.User);
  const std::string byFolder = LowerText(";" + UrlDecode(folderName));
  std::shared_lock lock(FSite.Monitor->StateLock());
  for (const auto& host : FSite.Monitor->Hosts().Records()) {
    if (!host->IsGroup()) continue;
    const std::string name = LowerText(host->DisplayName);
    if (name == byUser || name == byFolder) return host->GroupNumber;
  }
  return request.GroupFilter;
}

bool TWebRequestHandler::PeerIsLocal(const std::string& peer) {
  in_addr peerAddress{};
  if (inet_pton(AF_INET, peer.c_str(), &peerAddress) != 1) return peer == "::1";
  const double now = MillisecondClock();
  if (FNetworksRead < 0 || now - FNetworksRead > 5000) {
    FNetworksRead = now;
    FNetworks.clear();
    std::vector<std::string> addresses, masks;
    if (LocalInterfaces(addresses, masks))
      for (std::size_t i = 0; i < addresses.size() && i < masks.size(); ++i) {
        in_addr address{}, mask{};
        if (inet_pton(AF_INET, addresses[i].c_str(), &address) == 1 && inet_pton(AF_INET, masks[i].c_str(), &mask) == 1)
          FNetworks.emplace_back(address.s_addr, mask.s_addr);
      }
  }
  return std::any_of(FNetworks.begin(), FNetworks.end(), [&](const auto& network) {
    return (network.first & network.second) == (peerAddress.s_addr & network.second);
  });
}

void TWebRequestHandler::Route(TWebRequest& request, const TWebTarget& target) {
  Step("WS ProcCmd");
  const std::string name = LowerText(target.Name);
  const std::string ext = LowerText(target.Extension);
  const std::int32_t level = request.Client.AccessLevel;
  const auto manageOnly = [&request, level]() {
    if (level >= WebAccessManage) return false;
    request.Status = "401";
    return true;
  };

  if (name == "robots" && ext == ".txt") {
    request.Status = "200";
    request.ContentType = "text/plain";
    request.Body = "User-agent: *\r\nDisallow: /\r\n";
    request.LastModified = Now();
  } else if (ext == ".html" || ext == ".htm" || ext == ".xml" || ext == ".txt" || (name == "status" && ext == ".json")) {
    Step("WS Read Template");
    const std::string found = FindFile(target.Name + target.Extension);
    if (found.empty() || !FRoutes.Template) {
      request.Status = "404";
      return;
    }
    Step("WS FillTemplate");
    const std::size_t dot = found.rfind('.');
    FRoutes.Template(request, FSite, found.substr(0, dot), found.substr(dot));
    if (ext == ".json" && request.Status == "200") request.ContentType = "application/json";
  } else if (name == "command" && ext.empty()) {
    if (manageOnly()) return;
    if (const std::string refusal = CrossSiteRefusal(request.Client); !refusal.empty()) {
      request.Status = "403 " + refusal + " Open the page of this server and use its links.";
      return;
    }
    if (FRoutes.Command) FRoutes.Command(request, FSite);
    else request.Status = "404";
  } else if (ext == ".rdp") {
    if (manageOnly()) return;
    if (FRoutes.Rdp) FRoutes.Rdp(request, FSite, target.Name);
    else request.Status = "404";
  } else if (name == "managelogin" && ext.empty()) {
    if (manageOnly()) return;
    request.Status = "307";
    request.Body = request.Client.Referer;
  } else if (name == "logout" && ext.empty()) {
    if (request.Param("username") != request.Client.User) {
      request.Status = "307";
      request.Body = "http://" + request.Client.Host;
    } else {
      request.Status = "401";
    }
  } else if (name == "metrics" && ext.empty()) {
    if (!FRoutes.Metrics) {
      request.Status = "404";
      return;
    }
    request.Status = "200";
    request.ContentType = "text/plain; version=0.0.4";
    request.Body = FRoutes.Metrics(FSite);
  } else if (ext == ".jpg" || ext == ".jpeg") {
    Step("WS JPEG");
    const std::string fileName = target.Name + target.Extension;
    if (!FindFile(fileName).empty()) ServeFile(request, fileName, "image/jpeg", "LoadJPG");
    else if (!ServeIcon(request, name)) request.Status = "404";
  } else if (ext == ".gif") {
    Step("WS GIF");
    ServeFile(request, target.Name + target.Extension, "image/gif", "LoadGIF");
  } else if (ext == ".png") {
    Step("WS PNG");
    ServeFile(request, target.Name + target.Extension, "image/png", "LoadPNG");
  } else if (ext == ".css") {
    Step("WS CSS");
    ServeFile(request, target.Name + target.Extension, "text/css", "LoadCSS");
  } else if (ext == ".wav") {
    Step("WS WAV");
    ServeFile(request, target.Name + target.Extension, "audio/wav", "LoadWAV");
  } else {
    request.Status = "404";
  }
}

void TWebRequestHandler::ServeFile(TWebRequest& request, const std::string& fileName, const char* contentType,
                                   const char* loader) {
  struct stat info {};
  const std::string found = FindFile(fileName);
  const std::string path = FSite.Folder + found;
  if (found.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    request.Status = "404";
    return;
  }
  const TDateTime modified = UnixToDateTime(static_cast<double>(info.st_mtime));
  // The header's date has whole seconds only.
  if (request.IfModifiedSince > -1 && info.st_mtime > 0 &&
      modified <= request.IfModifiedSince + 0.5 / SecsPerDay) {
    request.Status = "304";
    return;
  }
  // Small files are kept while their size and time stay: a stylesheet asked for with
  // every page is read from the disk once.
  TKeptFile& kept = FFiles[found];
  if (kept.Size != info.st_size || kept.ModifiedNs != info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec ||
      info.st_size > MaxKeptFileBytes) {
    std::string body;
    if (!ReadWholeFile(path, body)) {
      FFiles.erase(found);
      request.Status = "500 " + ErrnoText(errno) + " (" + loader + ")";
      return;
    }
    if (info.st_size > MaxKeptFileBytes || FFiles.size() > MaxKeptFiles) {
      FFiles.erase(found);
      request.Status = "200";
      request.ContentType = contentType;
      request.Body = std::move(body);
      request.LastModified = modified;
      return;
    }
    kept.Content = std::move(body);
    kept.Size = info.st_size;
    kept.ModifiedNs = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
  }
  request.Status = "200";
  request.ContentType = contentType;
  request.Body = kept.Content;
  request.LastModified = modified;
}

bool TWebRequestHandler::ServeIcon(TWebRequest& request, const std::string& name) {
  TIconKind kind;
  std::string number;
  if (name.rfind("hosticon", 0) == 0) {
    Step("WS HostIcon");
    kind = TIconKind::Host;
    number = name.substr(8);
  } else if (name.rfind("largeicon", 0) == 0) {
    Step("WS HostIcon");
    kind = TIconKind::Large;
    number = name.substr(9);
  } else if (name.rfind("smallicon", 0) == 0) {
    Step("WS SmallIcon");
    kind = TIconKind::Small;
    number = name.substr(9);
  } else {
    return false;
  }
  int n = 0;
  if (!FRoutes.Icon || !FRoutes.IconCount || !ParseIconNumber(number, n) || n >= FRoutes.IconCount()) return false;
  if (request.IfModifiedSince >= 0 && request.IfModifiedSince <= FSite.ProgramStart) {
    request.Status = "304";
    return true;
  }
  std::string error;
  const std::optional<std::string> jpeg = FRoutes.Icon(kind, n, error);
  if (!jpeg) {
    request.Status = "500 " + error + " (EJPEG)";
    return true;
  }
  request.Status = "200";
  request.ContentType = "image/jpeg";
  request.Body = *jpeg;
  request.LastModified = FSite.ProgramStart;
  return true;
}
