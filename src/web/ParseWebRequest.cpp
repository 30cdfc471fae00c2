#include "web/ParseWebRequest.h"

#include <algorithm>
#include <vector>

#include "common/Fields.h"
#include "common/HttpDate.h"
#include "common/TextCodec.h"
#include "hosttests/TQLHTTPDownload.h"

namespace {

constexpr std::size_t MaxPathLength = 256;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string LowerText(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return Lower(a) == Lower(b); });
}

std::vector<std::string_view> HeadLines(std::string_view head) {
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const std::size_t end = head.find('\n');
    lines.push_back(Trimmed(head.substr(0, end)));
    if (end == std::string_view::npos) break;
    head.remove_prefix(end + 1);
  }
  return lines;
}

// The value of the first line that begins with name followed by a blank; found tells
// whether there was one.
std::string HeaderValue(const std::vector<std::string_view>& lines, std::string_view name, bool* found = nullptr) {
  for (const std::string_view line : lines) {
    if (line.size() > name.size() && StartsWithNoCase(line, name) && line[name.size()] == ' ') {
      if (found) *found = true;
      return std::string(Trimmed(line.substr(name.size() + 1)));
    }
  }
  if (found) *found = false;
  return {};
}

std::string BlankField(std::string_view text, int n) { return GetField(text, ' ', n, 0); }

void SplitQuery(TWebRequest& request, std::string& path) {
  const std::size_t question = path.find('?');
  if (question == std::string::npos) return;
  std::string_view query(path);
  query.remove_prefix(question + 1);
  while (true) {
    const std::size_t amp = query.find('&');
    const std::string piece = UrlDecode(query.substr(0, amp));
    const std::size_t eq = piece.find('=');
    const std::string name = piece.substr(0, eq);
    if (!name.empty() && !request.HasParam(name))
      request.Params.emplace_back(name, eq == std::string::npos ? std::string() : piece.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  path.resize(question);
}

}  // namespace

bool MobileUserAgent(std::string_view userAgent) {
  const std::string agent = LowerText(userAgent);
  for (const char* mark : {"ce; ppc;", "ce; smartphone;", "; iemobile", "blackberry/", "symbianos/"})
    if (agent.find(mark) != std::string::npos) return true;
  return agent.rfind("mot-", 0) == 0;
}

std::int32_t WebAccessLevel(const std::string& user, const std::string& password, const TWebPasswords& passwords) {
  const auto quoted = [](const std::string& s) { return s.find_first_of("\"'") != std::string::npos; };
  if (quoted(user) || quoted(password)) return WebAccessNone;
  if (user.empty() && !password.empty()) return WebAccessNone;
  if (!passwords.Admin.empty() && passwords.Admin == password) return WebAccessManage;
  if (passwords.Admin.empty() && !passwords.Server.empty() && passwords.Server == password) return WebAccessManage;
  if (!passwords.Server.empty() && passwords.Server == password) return WebAccessView;
  if (!passwords.Server.empty()) return WebAccessNone;
  return WebAccessView;
}

std::string ParseWebRequest(std::string_view head, const TWebPasswords& passwords, const std::string& defaultHost,
                            bool mobilePageExists, TWebRequest& request, TWebTarget& target) {
  const std::vector<std::string_view> lines = HeadLines(head);
  TWebClientInfo& client = request.Client;
  client.UserAgent = HeaderValue(lines, "user-agent:");
  bool hasHost = false;
  client.Host = HeaderValue(lines, "Host:", &hasHost);
  if (!hasHost || client.Host.empty()) client.Host = defaultHost;
  client.Referer = HeaderValue(lines, "Referer:");
  client.Origin = HeaderValue(lines, "Origin:");
  client.FetchSite = LowerText(HeaderValue(lines, "Sec-Fetch-Site:"));
  target.CloseAsked = LowerText(HeaderValue(lines, "connection:")) == "close";
  client.Mobile = MobileUserAgent(client.UserAgent);
  client.IE = client.UserAgent.find("; MSIE ") != std::string::npos;

  bool found = false;
  std::string requestLine = HeaderValue(lines, "GET", &found);
  request.Head = false;
  if (!found) {
    requestLine = HeaderValue(lines, "HEAD", &found);
    request.Head = found;
  }
  if (!found) return "400";

  target.Version = BlankField(requestLine, 2);
  client.HTTP11 = LowerText(target.Version) >= "http/1.1";

  client.User.clear();
  std::string password;
  const std::string authorization = HeaderValue(lines, "Authorization:");
  if (!authorization.empty()) {
    std::string decoded = TQLHTTPDownload::DecodeBase64(BlankField(authorization, 2)).value_or(std::string());
    decoded.erase(std::remove_if(decoded.begin(), decoded.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }),
                  decoded.end());
    client.User = GetField(decoded, ':', 1, 0);
    password = GetField(decoded, ':', 2, 0);
  }
  client.AccessLevel = WebAccessLevel(client.User, password, passwords);

  std::string path = BlankField(requestLine, 1);
  client.Path = path;
  const std::string since = HeaderValue(lines, "If-Modified-Since:");
  request.IfModifiedSince = since.empty() ? -1 : ParseHttpDate(since);

  SplitQuery(request, path);
  std::replace(path.begin(), path.end(), '/', '\\');
  const std::size_t slash = path.rfind('\\');
  const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
  while (!folder.empty() && folder.front() == '\\') folder.erase(0, 1);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  target.Folder = folder;
  const std::size_t dot = fileName.rfind('.');
  target.Name = dot == std::string::npos ? fileName : fileName.substr(0, dot);
  target.Extension = dot == std::string::npos ? std::string() : fileName.substr(dot);
  if (target.Folder.empty() && fileName.empty()) {
    target.Name = client.Mobile && mobilePageExists ? "mobile" : "index";
    target.Extension = ".html";
  }

  const std::string groupID = request.Param("groupid");
  request.GroupFilter = 0;
  if (!groupID.empty() && groupID.size() < 10 && std::all_of(groupID.begin(), groupID.end(), [](char c) { return c >= '0' && c <= '9'; }))
    request.GroupFilter = std::stoi(groupID);

  if (path.size() >= MaxPathLength || target.Version.rfind("HTTP/", 0) != 0) return "400";
  if (client.AccessLevel == WebAccessNone) return "401";
  return {};
}
