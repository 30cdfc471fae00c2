#include "hosttests/TQLHTTPDownload.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/Base64.h"
#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/QLRegistry.h"
#include "common/TextFiles.h"
#include "common/TextUtils.h"
#include "hosttests/TQLHTTPConnection.h"
#include "hosttests/THTTPResponseReader.h"
#include "platform/NameLookup.h"
#include "platform/SysErrors.h"

namespace {

using TClock = TQLHTTPConnection::TClock;
using TWait = TQLHTTPConnection::TWait;

constexpr const char* ErrorKey = "Software\\Quillmoor\\HTTPDownload";
constexpr const char* StatusFilter = ";100;200;301;302;303;";
constexpr int ConnectPauseMs = 250;
constexpr int DefaultHttpPort = 80;
constexpr int DefaultHttpsPort = 443;

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && FindText(prefix, text.substr(0, prefix.size()), 1, false) == 1;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return std::string(text);
}

std::int64_t NumberOr(std::string_view text, std::int64_t fallback) {
  return THTTPResponseReader::NumberOr(text, fallback);
}

std::string SecondsText(int ms) {
  if (ms % 1000 == 0) return std::to_string(ms / 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", ms / 1000.0);
  return text;
}

void AppendError(std::string& errorText, const std::string& message) {
  if (!errorText.empty()) errorText += "/";
  errorText += message;
}

// host, host:port or scheme://user@host:port/path; port 80 when missing or not a number.
bool ParseProxy(std::string_view text, std::string& host, int& port) {
  std::string value = Trim(text);
  if (const auto scheme = value.find("://"); scheme != std::string::npos) value.erase(0, scheme + 3);
  if (const auto path = value.find('/'); path != std::string::npos) value.resize(path);
  if (const auto user = value.rfind('@'); user != std::string::npos) value.erase(0, user + 1);
  const auto colon = value.find(':');
  host = value.substr(0, colon);
  port = colon == std::string::npos ? DefaultHttpPort
                                    : static_cast<int>(NumberOr(std::string_view(value).substr(colon + 1), DefaultHttpPort));
  return !host.empty();
}

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool NoProxyNames(const std::string& server) {
  std::string list = EnvText("no_proxy");
  if (list.empty()) list = EnvText("NO_PROXY");
  const std::string name = Lower(server);
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string entry = Lower(Trim(std::string_view(list).substr(start, end - start)));
    start = end + 1;
    if (entry == "*") return true;
    while (!entry.empty() && (entry.front() == '.' || entry.front() == '*')) entry.erase(0, 1);
    if (entry.empty()) continue;
    if (name == entry || (name.size() > entry.size() && name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
                          name[name.size() - entry.size() - 1] == '.'))
      return true;
  }
  return false;
}

// The browser preferences file a registry entry points to: user_pref lines naming the
// proxy host and port.
bool NavigatorProxy(std::string& host, int& port) {
  TQLRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  const std::string users = "\\Software\\Netscape\\Netscape Navigator\\Users";
  if (!reg.OpenKey(users, false)) return false;
  const std::string user = reg.TryReadString("CurrentUser").value_or("");
  if (user.empty() || !reg.OpenKey(users + "\\" + user, false)) return false;
  const std::string root = reg.TryReadString("DirRoot").value_or("");
  if (root.empty()) return false;
  std::string text;
  bool tail = false;
  std::string error;
  if (!ReadFileTail(NativePath(root + "\\prefs.js"), 1 << 20, text, tail, error)) return false;
  bool found = false;
  for (const std::string& raw : SplitTextLines(text)) {
    const std::string line = Lower(Trim(raw));
    if (auto at = line.find("proxy.http\""); at != std::string::npos) {
      std::string value = line.substr(at + 11);
      if (const auto comma = value.find(','); comma != std::string::npos) value.erase(0, comma + 1);
      value = Trim(value);
      if (!value.empty() && value.front() == '"') value.erase(0, 1);
      value = value.substr(0, value.find(')'));
      value = value.substr(0, value.find('"'));
      host = Trim(value);
      found = !host.empty();
    }
    if (auto at = line.find("proxy.http_port\""); at != std::string::npos) {
      std::string value = line.substr(at + 16);
      value = value.substr(0, value.find(')'));
      if (const auto comma = value.find(','); comma != std::string::npos) value.erase(0, comma + 1);
      port = static_cast<int>(NumberOr(Trim(value), DefaultHttpPort));
    }
  }
  return found;
}

// The system's internet settings: "ProxyServer" as "http=host:port;https=...".
bool InternetSettingsProxy(bool secure, std::string& host, int& port) {
  TQLRegistry reg;
  reg.SetRootKey(HKEY_CURRENT_CONFIG);
  if (!reg.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", false)) return false;
  if (reg.GetDataType("ProxyEnable") != TRegDataType::rdInteger || reg.ReadInteger("ProxyEnable") == 0 ||
      reg.GetDataType("ProxyServer") != TRegDataType::rdString)
    return false;
  std::string list = EnsureSuffix(Lower(reg.ReadString("ProxyServer")), ";");
  const std::string key = secure ? "https=" : "http=";
  // "http=" must not match inside "https=".
  std::size_t at = list.find(key);
  while (at != std::string::npos && at > 0 && list[at - 1] != ';') at = list.find(key, at + 1);
  if (at == std::string::npos) return false;
  at += key.size();
  return ParseProxy(std::string_view(list).substr(at, list.find(';', at) - at), host, port);
}

}  // namespace

struct TQLHTTPDownload::TExchange {
  TClock::time_point Deadline;
  std::string Query, Auth;
  int Stage = 0;  // checkpoint reached, for the registry's error value

  std::unique_ptr<TQLHTTPConnection> Conn;
  std::string Request;
  std::string ConnectHost;
  int ConnectPort = DefaultHttpPort;
  bool Tunnel = false;
  // 0 idle, 1 connecting, 2 connected, 3 exchanging, 4 aborted, 5 closed, 6 closed after abort
  int State = 0;
  int LastError = 0;
  bool TimedOut = false;
  bool TlsFailed = false;
  bool Failed = false;  // an error cut the exchange short

  THTTPResponseReader Reader{MaxHeaderBytes};
  int Status = HTTPResultNoHeader;
  bool StatusChecked = false;
  // Basic credentials go only to the scheme, server and port they were given for.
  bool AuthFollows = true;
  std::FILE* File = nullptr;

  void StartPass() {
    Conn.reset();
    State = 0;
    LastError = 0;
    TimedOut = TlsFailed = Failed = false;
    Reader.Reset();
    Status = HTTPResultNoHeader;
    StatusChecked = false;
  }
};

TQLHTTPDownload::TQLHTTPDownload() { FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

TQLHTTPDownload::~TQLHTTPDownload() {
  if (FWake >= 0) close(FWake);
}

void TQLHTTPDownload::Abort() {
  FAbort = true;
  const int wake = FWake;
  if (wake >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake, &one, sizeof one);
  }
}

TQLHTTPDownload::TURLKind TQLHTTPDownload::SplitURL(std::string_view text, bool& secure, std::string& server, int& port,
                                                    std::string& document) {
  // A line break would end the request line early and let the address add header lines.
  if (std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; }))
    return TURLKind::Refused;
  if (text.find("://") == std::string_view::npos) {
    if (StartsWithText(text, "https:/")) document = std::string(text.substr(7));
    else if (StartsWithText(text, "http:/")) document = std::string(text.substr(6));
    else document = std::string(text);
    return TURLKind::Document;
  }
  bool isSecure;
  if (StartsWithText(text, "https:/")) isSecure = true;
  else if (StartsWithText(text, "http:/")) isSecure = false;
  else return TURLKind::Refused;
  const std::size_t first = text.find('/');
  const std::size_t second = text.find('/', first + 1);
  const std::size_t third = text.find('/', second + 1);
  std::string_view part = text.substr(second + 1, third == std::string_view::npos ? third : third - second - 1);
  document = third == std::string_view::npos ? std::string() : std::string(text.substr(third + 1));
  const int defaultPort = isSecure ? DefaultHttpsPort : DefaultHttpPort;
  const std::size_t colon = part.find(':');
  port = colon == std::string_view::npos ? defaultPort : static_cast<int>(NumberOr(part.substr(colon + 1), defaultPort));
  server = std::string(part.substr(0, colon));
  secure = isSecure;
  return TURLKind::Absolute;
}

bool TQLHTTPDownload::SetURL(std::string_view url) {
  std::string text(url);
  if (!StartsWithText(text, "http://") && !StartsWithText(text, "https://")) {
    if (text.find("://") != std::string::npos) return false;
    text = "http://" + text;
  }
  bool secure = false;
  std::string server, document;
  int port = DefaultHttpPort;
  if (SplitURL(text, secure, server, port, document) != TURLKind::Absolute) return false;
  FUpdating = true;
  FURL = text;
  FSecure = secure;
  SetHTTPServer(server);
  SetHTTPPort(port);
  SetDocument(document);
  FUpdating = false;
  return true;
}

void TQLHTTPDownload::SetHTTPServer(std::string server) {
  FHTTPServer = std::move(server);
  Rebuild();
}

void TQLHTTPDownload::SetHTTPPort(int port) {
  FHTTPPort = port;
  Rebuild();
}

void TQLHTTPDownload::SetSecure(bool secure) {
  FSecure = secure;
  Rebuild();
}

void TQLHTTPDownload::SetDocument(std::string document) {
  FDocument = EnsurePrefix(document, "/");
  Rebuild();
}

void TQLHTTPDownload::Rebuild() {
  if (FUpdating) return;
  const int defaultPort = FSecure ? DefaultHttpsPort : DefaultHttpPort;
  FURL = std::string(FSecure ? "https://" : "http://") + FHTTPServer +
         (FHTTPPort != defaultPort ? ":" + std::to_string(FHTTPPort) : "") + FDocument;
}

std::string TQLHTTPDownload::EncodeQuery(const std::vector<std::string>& vars) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string query;
  for (const std::string& line : vars) {
    if (line.find('=') == std::string::npos) continue;
    if (!query.empty()) query += '&';
    bool firstEquals = true;
    for (char ch : line) {
      const auto c = static_cast<unsigned char>(ch);
      if (c == '=' && firstEquals) {
        firstEquals = false;
        query += '=';
      } else if (c == ' ') {
        query += '+';
      } else if (c < '0' || (c > '9' && c < 'A') || c > '}') {
        query += '%';
        query += Hex[c >> 4];
        query += Hex[c & 15];
      } else {
        query += ch;
      }
    }
  }
  return query;
}

std::optional<std::string> TQLHTTPDownload::EncodeBase64(std::string_view bytes) {
  if (bytes.size() > 255) return std::nullopt;
  return Base64Encode(bytes);
}

std::optional<std::string> TQLHTTPDownload::DecodeBase64(std::string_view text) {
  if (text.size() > 255) return std::nullopt;
  return Base64DecodeStrict(text);
}

bool TQLHTTPDownload::DetectProxy(bool secure, const std::string& server, std::string& proxyHost, int& proxyPort) {
  bool found = false;
  std::string value = EnvText(secure ? "https_proxy" : "http_proxy");
  if (value.empty()) value = EnvText(secure ? "HTTPS_PROXY" : "HTTP_PROXY");
  if (!value.empty() && !NoProxyNames(server)) found = ParseProxy(value, proxyHost, proxyPort);
  // Registry sources are best effort: a damaged entry just yields no proxy from it.
  try {
    std::string host;
    int port = DefaultHttpPort;
    if (!secure && NavigatorProxy(host, port)) {
      proxyHost = host;
      proxyPort = port;
      found = true;
    }
  } catch (const std::exception&) {
  }
  try {
    std::string host;
    int port = DefaultHttpPort;
    if (InternetSettingsProxy(secure, host, port)) {
      proxyHost = host;
      proxyPort = port;
      found = true;
    }
  } catch (const std::exception&) {
  }
  return found;
}

void TQLHTTPDownload::SetAction(TQLDownloadAction action) {
  if (action != daRequest) return;
  try {
    Perform();
  } catch (...) {
    // Nothing escapes a request; Perform has recorded what it could.
  }
  FAbort = false;
  std::uint64_t drained;
  [[maybe_unused]] const ssize_t got = read(FWake, &drained, sizeof drained);
}

void TQLHTTPDownload::NoteError(const TExchange& x, const std::string& message, char separator) {
  WriteRegText(HKEY_LOCAL_MACHINE, ErrorKey, "Error", message + separator + std::to_string(x.Stage));
}

void TQLHTTPDownload::Perform() {
  FHeaderData.clear();
  FData.clear();
  FDataSplit = false;
  FBody.clear();
  FBody.shrink_to_fit();
  FHeaderText.clear();
  FErrorText.clear();
  FResultCode = 0;
  FSocketErrorCode = 0;
  FPeerNotAfter = 0;
  if (Destination == ddNone) return;
  try {
    if (Destination == ddFile && DownloadFileName.empty()) throw ENoFileSelected();
  } catch (const ENoFileSelected&) {
    return;  // callers see the empty result, as they always have
  }
  TExchange x;
  x.Deadline = TClock::now() + std::chrono::milliseconds(std::max(TimeoutMs, 1));
  x.Stage = 1;
  try {
    x.Query = EncodeQuery(UploadVars);
    if (!Username.empty()) {
      const auto coded = EncodeBase64(Username + ":" + Password);
      if (!coded) {
        FErrorText = "User name and password longer than 255 characters";
        throw std::runtime_error(FErrorText);
      }
      x.Auth = *coded;
    }
    const bool firstSecure = FSecure;
    const std::string firstServer = Lower(FHTTPServer);
    const int firstPort = FHTTPPort;
    for (int redirects = 0;; ++redirects) {
      const int result = Pass(x);
      FResultCode = result;
      if (x.State != 5 || !AutoRedirect || (result != 301 && result != 302 && result != 303)) break;
      const std::string location = THTTPResponseReader::HeaderValue(FHeaderText, "Location");
      if (location.empty()) break;
      bool secure = FSecure;
      std::string server = FHTTPServer, document;
      int port = FHTTPPort;
      const TURLKind kind = SplitURL(location, secure, server, port, document);
      if (kind == TURLKind::Refused) break;
      if (redirects == MaxRedirects) {
        AppendError(FErrorText, "More than " + std::to_string(MaxRedirects) + " redirects");
        break;
      }
      FUpdating = true;
      if (kind == TURLKind::Absolute) {
        FSecure = secure;
        FHTTPServer = server;
        FHTTPPort = port;
      }
      FDocument = EnsurePrefix(document, "/");
      FUpdating = false;
      Rebuild();
      x.Query.clear();
      // Once away from where they were given, the credentials stay behind for the rest
      // of the chain: an https page that sends the client on to plain http or to
      // another server must not receive them there.
      if (FSecure != firstSecure || Lower(FHTTPServer) != firstServer || FHTTPPort != firstPort) x.AuthFollows = false;
    }
  } catch (const std::exception& e) {
    NoteError(x, e.what(), ':');
    FResultCode = 0;
  }
  FHeaderData = SplitTextLines(FHeaderText);
}

int TQLHTTPDownload::Pass(TExchange& x) {
  x.StartPass();
  x.Stage = 2;
  FLastURL = FURL;
  FHeaderText.clear();
  FBody.clear();
  FResultCode = 0;
  FPeerNotAfter = 0;

  x.Stage = 3;
  std::string path = EnsurePrefix(FDocument, "/");
  if (Method == dmGET && !x.Query.empty()) path += "?" + x.Query;
  std::string proxyHost;
  int proxyPort = DefaultHttpPort;
  bool proxy = false;
  if (ProxyMode == dpManual) {
    proxy = !ProxyServer.empty();
    proxyHost = ProxyServer;
    proxyPort = ProxyPort;
  } else if (ProxyMode == dpAutoDetect) {
    proxy = DetectProxy(FSecure, FHTTPServer, proxyHost, proxyPort);
  }

  x.Stage = 4;
  static const char* const Methods[] = {"GET", "POST", "HEAD"};
  std::string& r = x.Request;
  r = Methods[Method];
  if (proxy && !FSecure)
    r += " http://" + FHTTPServer + (FHTTPPort != DefaultHttpPort ? ":" + std::to_string(FHTTPPort) : "") + path;
  else
    r += " " + path;
  r += std::string(" HTTP/1.") + (Protocol == dpHTTP11 ? "1" : "0") + "\r\n";
  r += "Accept: */*\r\n";
  r += "User-agent: " + UserAgent + "\r\n";
  if (!Username.empty() && x.AuthFollows) r += "Authorization: Basic " + x.Auth + "\r\n";
  if (Protocol == dpHTTP11) r += "Host: " + FHTTPServer + "\r\n";
  if (Method == dmPOST) {
    r += "Content-Type: application/x-www-form-urlencoded\r\n";
    r += "Content-Length: " + std::to_string(x.Query.size()) + "\r\n\r\n" + x.Query;
  } else {
    r += "\r\n";
  }
  x.ConnectHost = proxy ? proxyHost : FHTTPServer;
  x.ConnectPort = proxy ? proxyPort : FHTTPPort;
  x.Tunnel = proxy && FSecure;

  try {
    x.Stage = 5;
    ConnectTarget(x);
    x.Stage = 8;
    if (x.State == 2) Converse(x);
  } catch (const std::exception& e) {
    AppendError(FErrorText, e.what());
    NoteError(x, e.what(), ';');
    x.Failed = x.State == 3;
  }
  x.Stage = 10;
  if (x.File) std::fclose(x.File);
  x.File = nullptr;
  x.Conn.reset();

  x.Stage = 12;
  int result = x.Status;
  const THTTPResponseReader& reader = x.Reader;
  if (result == 200 && reader.ContentLength() >= 0 && reader.Received() < reader.ContentLength() && Method != dmHEAD)
    result = HTTPResultShortBody;
  else if (x.State < 2)
    result = HTTPResultNotConnected;
  else if (x.State == 4 || x.State == 6)
    result = HTTPResultAborted;
  else if (x.State != 5)
    result = HTTPResultOther;
  if (x.State == 4 || x.State == 6) {
    result = HTTPResultAborted;
    AppendError(FErrorText, "Aborted");
  } else if (x.TimedOut) {
    result = HTTPResultTimeout;
    AppendError(FErrorText, "No answer within " + SecondsText(std::max(TimeoutMs, 1)) + " seconds");
  } else if (x.TlsFailed) {
    result = HTTPResultTlsFailed;
  } else if (x.Failed) {
    // A bound exceeded or a file that cannot be written, also when a short body would
    // otherwise be blamed on the server.
    result = HTTPResultOther;
  }
  return result;
}

void TQLHTTPDownload::ConnectTarget(TExchange& x) {
  x.Conn = std::make_unique<TQLHTTPConnection>(FWake, x.Deadline);
  for (int attempt = 0; attempt < ConnectTries; ++attempt) {
    if (FAbort) {
      x.State = 4;
      return;
    }
    if (attempt > 0) {
      const TWait pause = TQLHTTPConnection::Sleep(FWake, x.Deadline, ConnectPauseMs);
      if (pause == TWait::Woken) {
        x.State = 4;
        return;
      }
      if (pause == TWait::TimedOut) {
        x.TimedOut = true;
        break;
      }
    }
    FSocketErrorCode = 0;
    x.State = 1;
    std::uint32_t address = 0;
    std::string dotted;
    SetLastError(0);
    if (!Resolve(x.ConnectHost, address, dotted)) {
      x.LastError = GetLastError() != 0 ? GetLastError() : syserr::WSAHOST_NOT_FOUND;
      if (x.LastError == syserr::WSANO_DATA) break;
      continue;
    }
    const TWait wait = x.Conn->Connect(address, x.ConnectPort, ConnectWaitMs);
    if (wait == TWait::Ready) {
      x.State = 2;
      break;
    }
    if (wait == TWait::Woken) {
      x.State = 4;
      return;
    }
    if (wait == TWait::TimedOut) {
      x.TimedOut = true;
      x.LastError = syserr::WSAETIMEDOUT;
      break;
    }
    x.LastError = FSocketErrorCode = WinErrorFromErrno(x.Conn->Errno());
    // A refused connect is reported as made and closed at once; one that saw no
    // answer stays in the connecting state.
    if (x.Conn->Errno() != ETIMEDOUT) x.State = 5;
    break;
  }
  if (x.State != 2) FErrorText = ::ErrorText(x.LastError != 0 ? x.LastError : syserr::WSAHOST_NOT_FOUND);
}

void TQLHTTPDownload::Converse(TExchange& x) {
  auto stopped = [&x](TWait wait) {
    if (wait == TWait::Woken) x.State = 4;
    else if (wait == TWait::TimedOut) x.TimedOut = true;
    else if (wait != TWait::Ready) x.State = 5;
    return wait != TWait::Ready;
  };
  if (x.Tunnel) {
    const std::string target = FHTTPServer + ":" + std::to_string(FHTTPPort);
    if (stopped(x.Conn->Send("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\nUser-agent: " + UserAgent +
                             "\r\n\r\n")))
      return;
    std::string answer;
    std::size_t end;
    while ((end = answer.find("\r\n\r\n")) == std::string::npos && answer.find("\n\n") == std::string::npos) {
      if (answer.size() > MaxHeaderBytes)
        throw std::runtime_error("Proxy answer larger than " + std::to_string(MaxHeaderBytes) + " bytes");
      if (stopped(x.Conn->Receive(answer))) return;
    }
    const int status = THTTPResponseReader::StatusOf(answer);
    if (status != 200) {
      FHeaderText = answer.substr(0, std::min(answer.find('\n'), answer.size()));
      x.Status = status;
      x.State = 5;
      AppendError(FErrorText, "The proxy refused the tunnel to " + target);
      return;
    }
  }
  if (FSecure) {
    const TWait wait = x.Conn->StartTls(FHTTPServer);
    FPeerNotAfter = x.Conn->PeerNotAfter();
    if (wait == TWait::Failed) {
      x.TlsFailed = true;
      x.State = 5;
      AppendError(FErrorText, x.Conn->TlsError());
      return;
    }
    if (stopped(wait)) return;
  }
  x.Stage = 9;
  x.State = 3;
  if (stopped(x.Conn->Send(x.Request)) && x.State != 5) return;
  THTTPResponseReader& reader = x.Reader;
  while (x.State == 3) {
    const TWait wait = x.Conn->Receive(reader.Buffer());
    if (wait == TWait::Failed) FSocketErrorCode = WinErrorFromErrno(x.Conn->Errno());
    if (stopped(wait)) break;
    TakeHeader(x);
    if (x.State == 3 && reader.HeaderDone() && !reader.Buffer().empty()) TakeBody(x);
    if (x.State == 3 && reader.HeaderDone() &&
        ((reader.ContentLength() >= 0 && reader.Received() >= reader.ContentLength()) || Method == dmHEAD ||
         reader.BodyEnded())) {
      x.State = 5;
      x.Conn->Close();
    }
  }
}

void TQLHTTPDownload::TakeHeader(TExchange& x) {
  if (!x.Reader.HeaderDone()) {
    if (!x.Reader.TakeHeader()) return;
    FHeaderText = x.Reader.Header();
  }
  if (!x.StatusChecked) {
    x.StatusChecked = true;
    x.Status = x.Reader.Status();
    if (x.Reader.Versioned() &&
        std::string_view(StatusFilter).find(";" + std::to_string(x.Status) + ";") == std::string::npos) {
      x.State = 5;
      x.Conn->Close();
    }
  }
}

void TQLHTTPDownload::TakeBody(TExchange& x) {
  std::string piece;
  x.Reader.TakeBody(piece);
  if (x.Reader.ContentLength() >= 0 && OnFileTransfer) {
    try {
      OnFileTransfer(x.Reader.Received(), x.Reader.ContentLength());
    } catch (...) {
      // A progress display that fails must not cost the download.
    }
  }
  Output(x, piece);
}

void TQLHTTPDownload::Output(TExchange& x, const std::string& piece) {
  if (Destination == ddFile) {
    if (Method == dmHEAD) return;
    if (!x.File) {
      const std::string path = NativePath(DownloadFileName);
      std::remove(path.c_str());
      x.File = std::fopen(path.c_str(), "wb");
      if (!x.File) throw std::runtime_error("Cannot create " + DownloadFileName + ": " + ErrnoText(errno));
    }
    if (!piece.empty() &&
        (std::fwrite(piece.data(), 1, piece.size(), x.File) != piece.size() || std::fflush(x.File) != 0))
      throw std::runtime_error("Cannot write " + DownloadFileName + ": " + ErrnoText(errno));
    return;
  }
  if (FBody.size() + piece.size() > MaxBodyBytes) {
    // What came is cut off, so it is no page: keep none of it.
    FBody.clear();
    FBody.shrink_to_fit();
    throw std::runtime_error("Response body larger than " + std::to_string(MaxBodyBytes) + " bytes");
  }
  // Grown in steps of its bound's eighth at most, not by doubling: a body just above
  // half the bound must not hold the whole bound's room.
  if (FBody.capacity() < FBody.size() + piece.size())
    FBody.reserve(std::min(MaxBodyBytes, FBody.size() + std::max(piece.size(), std::min(FBody.size(), MaxBodyBytes / 8))));
  FBody += piece;
}

const std::vector<std::string>& TQLHTTPDownload::Data() const {
  if (!FDataSplit && Destination == ddString) FData = SplitTextLines(FBody);
  FDataSplit = true;
  return FData;
}
