#include "web/WebTemplate.h"

#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "common/Clock.h"
#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/Fields.h"
#include "common/HttpDate.h"
#include "common/ProgramVersion.h"
#include "common/SystemInfo.h"
#include "common/TextCodec.h"
#include "common/TextUtils.h"
#include "core/MessageVariables.h"
#include "core/TEventLog.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "web/TWebRequest.h"
#include "web/TWebSite.h"
#include "web/WebCommands.h"
#include "web/WebSections.h"

namespace {

// A template larger than this is refused: every page is rendered into memory.
constexpr long MaxTemplateBytes = 4 * 1024 * 1024;
constexpr std::size_t MaxHostLogLines = 15;
constexpr std::size_t MaxPageLogLines = 50;

std::string ClassName(const std::exception& e) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status),
                                              std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(typeid(e).name());
}

enum class TMode { Text, Html, Json };

// What a client sent (query values, headers) goes into a page as text: in HTML encoded,
// quotes too since pages put such values into links, so that a crafted link cannot put
// script into a page a signed-in manager opens; in plain text as it came.
std::string Encoded(TMode mode, const std::string& value) {
  return mode == TMode::Json ? JsonEscape(value) : mode == TMode::Html ? HtmlEncodeQuoted(value) : value;
}

// Page variables that are HTML-encoded anywhere but in JSON, which has its own escaping.
std::string HtmlOrJson(TMode mode, const std::string& value) {
  return mode == TMode::Json ? JsonEscape(value) : mode == TMode::Html ? HtmlEncodeQuoted(value) : HtmlEncode(value);
}

void ReplaceWhereFound(std::string& page, const std::string& variable, const std::string& value) {
  if (FindTagNoCase(page, variable, 0) != std::string::npos) page = ReplaceAll(variable, value, page, true);
}

struct TLogFields {
  std::string Date, Label, Text, Type;
};

TLogFields SplitLogLine(const std::string& line) {
  TLogFields fields;
  std::string* parts[] = {&fields.Date, &fields.Label, &fields.Text, &fields.Type};
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t tab = i < 3 ? line.find('\t', at) : std::string::npos;
    *parts[i] = line.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
    if (tab == std::string::npos) break;
    at = tab + 1;
  }
  return fields;
}

std::string LogRow(const std::string& rowTemplate, const TLogFields& fields, const std::string& host) {
  std::string row = ReplaceAll("%logdate%", fields.Date, rowTemplate, true);
  row = ReplaceAll("%loghost%", host, row, true);
  row = ReplaceAll("%logtext%", HtmlEncode(fields.Text), row, true);
  return ReplaceAll("%logtype%", HtmlEncode(fields.Type), row, true);
}

// Takes out the first "log" section, fills it with rows and puts them where it stood;
// later "log" sections go.
template <typename TFill>
void FillLogSection(std::string& page, TFill fill) {
  const auto place = FindSection(page, "log");
  if (!place) return;
  const std::string rowTemplate = page.substr(place->Content, place->End - place->Content);
  page.replace(place->Start, place->After - place->Start, fill(rowTemplate));
  DropAllSections(page, "log");
}

std::string VersionPageText() {
  return ProgramVersionNumber() + " (" + FormatDateTime("dd-mmm-yyyy", CorvaleReleaseDate) + ")";
}

void PagePassMode(std::string& page, TWebRequest& request, const TWebSite& site, TMode mode, bool withLog) {
  const TWebClientInfo& client = request.Client;
  const bool nosound = !request.Param("nosound").empty();
  // This pass also runs over the page with every host's row in it: only the sections the
  // page has are looked for again, and dropping or unwrapping one never makes another.
  static constexpr std::string_view Sections[] = {"ie",    "notie", "mobile",       "notmobile", "nosound",
                                                  "sound", "auth",  "nomanageauth", "manageauth"};
  const bool keep[] = {client.IE,
                       !client.IE,
                       client.Mobile,
                       !client.Mobile,
                       nosound,
                       !nosound,
                       client.AccessLevel >= WebAccessView,
                       client.AccessLevel < WebAccessManage,
                       client.AccessLevel >= WebAccessManage};
  const std::vector<bool> present = StartTagsPresent(page, Sections);
  for (std::size_t i = 0; i < std::size(Sections); ++i)
    if (present[i]) KeepOrDropSections(page, std::string(Sections[i]), keep[i]);

  TMonitor* monitor = site.Monitor;
  const TDateTime now = monitor ? monitor->Clock().Now() : Now();
  bool use24 = false;
  std::string warning;
  int hostCount = 0;
  std::vector<std::string> logLines;
  std::unordered_map<std::string, std::string> hostIDs;
  if (monitor) {
    std::shared_lock<std::shared_mutex> guard(monitor->StateLock());
    use24 = monitor->Use24HourDate();
    warning = monitor->PublishedStatusWarning();
    hostCount = monitor->Hosts().Count();
    if (withLog && (FindSection(page, "log") || page.find("%log%") != std::string::npos)) {
      const auto& lines = monitor->Log().Lines();
      for (auto it = lines.rbegin(); it != lines.rend() && logLines.size() < MaxPageLogLines; ++it)
        logLines.push_back(it->Text);
      for (const auto& record : monitor->Hosts().Records())
        if (record && !record->IsGroup()) hostIDs.emplace(LogLabel(*record), record->IDText());
    }
  }

  const std::string path = client.Path.substr(0, client.Path.find('?'));
  const std::pair<const char*, std::string> variables[] = {
      {"%computer%", HtmlOrJson(mode, LocalComputerName())},
      {"%ver%", VersionPageText()},
      {"%user%", HtmlOrJson(mode, client.User)},
      {"%peer%", Encoded(mode, client.Peer)},
      {"%server%", Encoded(mode, client.Host)},
      {"%date%", TEventLog::FormatTime(now, use24)},
      {"%dategmt%", HttpDateText(now, true)},
      {"%nosound%", Encoded(mode, request.Param("nosound"))},
      {"%hostid%", Encoded(mode, request.Param("hostid"))},
      {"%hostcount%", std::to_string(hostCount)},
      {"%groupid%", Encoded(mode, request.Param("groupid"))},
      {"%hoststatus%", Encoded(mode, request.Param("hoststatus"))},
      {"%referer%", Encoded(mode, client.Referer)},
      {"%target%", Encoded(mode, request.Param("target"))},
      {"%url%", Encoded(mode, "http://" + client.Host + client.Path)},
      {"%page%", Encoded(mode, "http://" + client.Host + path)},
  };
  std::vector<std::string> names = PercentNames(page);
  for (const auto& [variable, value] : variables) {
    if (std::find(names.begin(), names.end(), variable) == names.end()) continue;
    page = ReplaceAll(variable, value, page, true);
    names = PercentNames(page);
  }

  if (warning.empty()) {
    DropAllSections(page, "alert");
  } else {
    const std::size_t split = warning.find(static_cast<char>(160));
    if (split != std::string::npos)
      warning = "<b>" + HtmlEncode(warning.substr(0, split)) + "</b><br>" + HtmlEncode(warning.substr(split + 1));
    ReplaceWhereFound(page, "%alert%", warning);
    UnwrapAllSections(page, "alert");
  }

  if (withLog) {
    std::vector<TLogFields> fields;
    fields.reserve(logLines.size());
    for (const std::string& line : logLines) fields.push_back(SplitLogLine(line));
    FillLogSection(page, [&](const std::string& rowTemplate) {
      std::string rows;
      for (const TLogFields& line : fields) {
        std::string host = HtmlEncode(line.Label);
        const auto id = line.Label == "---" ? hostIDs.end() : hostIDs.find(line.Label);
        if (id != hostIDs.end()) host = "<a href=\"hostinfo.html?hostid=" + id->second + "\">" + host + "</a>";
        rows += LogRow(rowTemplate, line, host);
      }
      return rows;
    });
    if (page.find("%log%") != std::string::npos) {
      std::string table;
      for (const TLogFields& line : fields)
        table += "<tr><td>" + HtmlEncode(line.Date) + "</td><td>" + HtmlEncode(line.Label) + "</td><td>" +
                 HtmlEncode(line.Text) + "</td></tr>\r\n";
      for (std::size_t at = 0; (at = page.find("%log%", at)) != std::string::npos; at += table.size())
        page.replace(at, 5, table);
    }
  }

  // A JSON page takes no free-form text from the query: a value could sit where a number
  // belongs.
  if (mode == TMode::Json) return;
  for (const auto& [name, value] : request.Params)
    if (!name.empty()) page = ReplaceAll("%" + name + "%", Encoded(mode, value), page, true);
}

int IconNumber(const THost& host, TDateTime now) {
  int n;
  if (host.IsDisabled(now))
    n = 14;
  else if (!host.EmailWindow && !host.InDailyWindow(now))
    n = 18;
  else
    switch (host.Status) {
      case StatusOnline: n = host.HasBeenOffline ? 6 : host.ParentHasBeenOffline ? 8 : 2; break;
      case StatusWarning: n = 4; break;
      case StatusOffline: n = 0; break;
      case 3: n = 14; break;
      default: n = 16;
    }
  if (!host.ParentsUp && (n <= 8 || n == 16)) ++n;
  return n;
}

// Everything the rows of one page share.
struct TRowWalk {
  TWebRequest& Request;
  const TWebSite& Site;
  TMode Mode;
  std::string GroupStart, GroupEnd, Filler, Break;
  std::array<std::optional<bool>, 32> StdIcon, LargeIcon;
  bool Sound = false;
  std::optional<std::unordered_map<std::string, std::vector<TLogFields>>> HostLog;

  bool IconFile(std::array<std::optional<bool>, 32>& known, int n, const std::string& suffix) {
    auto& slot = known[static_cast<std::size_t>(n) % known.size()];
    if (!slot) slot = FileExists(Site.Folder + "hosticon" + std::to_string(n) + suffix);
    return *slot;
  }
};

// Each %word% of the text expanded alone and JSON-escaped, so that no host value can end
// a JSON string.
std::string ExpandJson(const std::string& text, const THost& host, const TVariableContext& context) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('%', at);
    if (open == std::string::npos) break;
    std::size_t close = open + 1;
    while (close < text.size() && (std::isalnum(static_cast<unsigned char>(text[close])) || text[close] == '_'))
      ++close;
    if (close >= text.size() || text[close] != '%' || close == open + 1) {
      out.append(text, at, close - at);
      at = close;
      continue;
    }
    out.append(text, at, open - at);
    const std::string variable = text.substr(open, close - open + 1);
    const std::string value = ExpandHostVariables(variable, host, false, context);
    out += value == variable ? variable : JsonEscape(value);
    at = close + 1;
  }
  if (at < text.size()) out.append(text, at, std::string::npos);
  return out;
}

std::string ExpandRow(const std::string& text, const THost& host, TMode mode, const TVariableContext& context) {
  std::string row = ReplaceAll("%statuscode%", std::to_string(host.Status), text, true);
  if (mode == TMode::Json) return ExpandJson(row, host, context);
  return ExpandHostVariables(row, host, mode == TMode::Html, context);
}

// One host's row; under the state lock held shared.
std::string HostRow(TRowWalk& walk, const std::string& rowTemplate, const THost& host,
                    const TVariableContext& context, TMonitor& monitor) {
  std::string row = rowTemplate;
  const TDateTime now = context.Now;
  // The icons go in before the row's variables, with "%status%" in their title, so that
  // the row's own expansion fills that in too.
  if (walk.Mode == TMode::Html && FindTagNoCase(row, "icon%", 0) != std::string::npos) {
    try {
      const int n = IconNumber(host, now);
      const std::string attribute = walk.Request.Client.IE ? "alt" : "title";
      const std::string tail = "\" align=\"absmiddle\" " + attribute + "=\"%status%\">";
      const std::string number = std::to_string(n);
      ReplaceWhereFound(row, "%icon%",
                        "<img src=\"hosticon" + number + (walk.IconFile(walk.StdIcon, n, "std.gif") ? "std.gif" : ".jpg") + tail);
      ReplaceWhereFound(row, "%smallicon%", "<img src=\"smallicon" + number + ".jpg" + tail);
      ReplaceWhereFound(row, "%largeicon%",
                        walk.IconFile(walk.LargeIcon, n, ".gif") ? "<img src=\"hosticon" + number + ".gif" + tail
                                                                 : "<img src=\"largeicon" + number + ".jpg" + tail);
    } catch (...) {
    }
  }
  row = ExpandRow(row, host, walk.Mode, context);
  try {
    KeepOrDropSections(row, "error", !host.LastErrorText.empty());
  } catch (...) {
  }
  try {
    // Which command sections the row holds, found in one walk: a search for each of the
    // commands in every row is most of what a page of many hosts costs.
    std::array<bool, WebCommandCount> cmd{}, nocmd{};
    for (const auto& [tag, present] : {std::pair{"<cmd", &cmd}, std::pair{"<nocmd", &nocmd}}) {
      const std::size_t length = std::char_traits<char>::length(tag);
      for (std::size_t at = FindTagNoCase(row, tag, 0); at != std::string::npos;
           at = FindTagNoCase(row, tag, at + length)) {
        std::size_t end = at + length;
        int number = 0;
        while (end < row.size() && end < at + length + 3 && std::isdigit(static_cast<unsigned char>(row[end])))
          number = number * 10 + (row[end++] - '0');
        if (end > at + length && end < row.size() && row[end] == '>' && number < WebCommandCount)
          (*present)[static_cast<std::size_t>(number)] = true;
      }
    }
    for (int c = 0; c < WebCommandCount; ++c) {
      const auto index = static_cast<std::size_t>(c);
      if (!cmd[index] && !nocmd[index]) continue;
      const bool offered =
          CommandOffered(c, &host, walk.Request.PeerIsLocal, walk.Request.GroupFilter, monitor.Settings());
      if (cmd[index]) KeepOrDropSections(row, "cmd" + std::to_string(c), offered);
      if (nocmd[index]) KeepOrDropSections(row, "nocmd" + std::to_string(c), !offered);
    }
  } catch (...) {
  }
  try {
    if (FindSection(row, "log")) {
      if (!walk.HostLog) {
        walk.HostLog.emplace();
        const auto& lines = monitor.Log().Lines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
          TLogFields fields = SplitLogLine(it->Text);
          auto& list = (*walk.HostLog)[fields.Label];
          if (list.size() < MaxHostLogLines) list.push_back(std::move(fields));
        }
      }
      const auto found = walk.HostLog->find(LogLabel(host));
      FillLogSection(row, [&](const std::string& rowTemplate) {
        std::string rows;
        if (found != walk.HostLog->end())
          for (const TLogFields& line : found->second) rows += LogRow(rowTemplate, line, HtmlEncode(line.Label));
        return rows;
      });
    }
  } catch (...) {
  }
  if (host.Status == StatusOffline && host.GlobalOfflineSound && !host.IsDisabled(now)) walk.Sound = true;
  return row;
}

bool PassesFilters(const TWebRequest& request, const THost& host) {
  const std::string status = request.Param("hoststatus");
  if (!status.empty() && status != std::to_string(host.Status)) return false;
  const std::string id = request.Param("hostid");
  if (!id.empty() && id != host.IDText()) return false;
  return request.GroupFilter == 0 || request.GroupFilter == host.GroupNumber;
}

int BreakEvery(const TWebRequest& request) {
  const std::string text = request.Param("breakevery");
  if (text.empty() || text.size() > 9) return 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return end && *end == 0 && value > 0 ? static_cast<int>(value) : 0;
}

// The rows of the host list; each host is read under its own short hold of the lock.
std::string HostRows(TRowWalk& walk, const std::string& rowTemplate, int& step) {
  std::string rows;
  TMonitor* monitor = walk.Site.Monitor;
  if (!monitor) return rows;
  const int breakEvery = BreakEvery(walk.Request);
  int count = 0;
  bool groupOpen = false, rowWritten = false;
  std::string pendingEnd;
  for (int index = 0;; ++index) {
    step = 70;
    std::shared_lock<std::shared_mutex> guard(monitor->StateLock());
    if (index >= monitor->Hosts().Count()) break;
    const THost* host = monitor->Hosts().Items(index);
    if (!host || !PassesFilters(walk.Request, *host)) continue;
    TVariableContext context = monitor->VariableContext();
    context.Faults = {};
    if (host->IsGroup()) {
      step = 80;
      if (groupOpen) rows += pendingEnd;
      if (!walk.GroupStart.empty()) rows += ExpandRow(walk.GroupStart, *host, walk.Mode, context);
      pendingEnd = walk.GroupEnd.empty() ? std::string() : ExpandRow(walk.GroupEnd, *host, walk.Mode, context);
      groupOpen = true;
      continue;
    }
    step = 90;
    ++count;
    std::string row = HostRow(walk, rowTemplate, *host, context, *monitor);
    guard.unlock();
    step = 130;
    if (walk.Mode == TMode::Json && rowWritten) rows += ',';
    rows += row;
    rowWritten = true;
    if (breakEvery > 0 && count % breakEvery == 0) rows += walk.Break;
    step = 135;
  }
  step = 140;
  if (breakEvery > 0 && count % breakEvery != 0) {
    rows += RepeatText(breakEvery - count % breakEvery, walk.Filler);
    rows += walk.Break;
  }
  return rows;
}

const char* ContentTypeOf(const std::string& extension) {
  const std::string ext = LowerAscii(extension);
  if (ext == ".xml") return "text/xml";
  if (ext == ".txt") return "text/plain";
  if (ext == ".json") return "application/json";
  return "text/html";
}

bool ReadTemplate(const std::string& fileName, std::string& text) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName.c_str(), "rb"), std::fclose);
  if (!file) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text.append(buffer, got);
    if (text.size() > static_cast<std::size_t>(MaxTemplateBytes)) {
      errno = EFBIG;
      return false;
    }
  }
  return std::ferror(file.get()) == 0;
}

}  // namespace

void PagePass(std::string& page, TWebRequest& request, const TWebSite& site, bool html, bool withLog) {
  PagePassMode(page, request, site, html ? TMode::Html : TMode::Text, withLog);
}

void RenderTemplate(TWebRequest& request, const TWebSite& site, const std::string& name, const std::string& extension) {
  int step = 10;
  try {
    const std::string ext = LowerAscii(extension);
    const TMode mode = ext == ".txt" ? TMode::Text : ext == ".json" ? TMode::Json : TMode::Html;
    std::string page;
    if (!ReadTemplate(site.Folder + name + extension, page)) {
      request.Status = "500 " + ErrnoText(errno) + " (LoadHTML)";
      return;
    }
    step = 20;
    SetListedParameters(page, request, "vars", false);
    step = 30;
    SetListedParameters(page, request, "defaults", true);
    step = 40;
    PagePassMode(page, request, site, mode, false);
    step = 50;
    TRowWalk walk{request, site, mode, {}, {}, {}, {}, {}, {}, false, std::nullopt};
    TakeOutSection(page, "startgroup", walk.GroupStart);
    TakeOutSection(page, "endgroup", walk.GroupEnd);
    TakeOutSection(page, "filler", walk.Filler);
    TakeOutSection(page, "break", walk.Break);
    step = 60;
    const std::size_t blockStart = FindTagNoCase(page, "<starthost>", 0);
    const std::size_t blockEnd =
        blockStart == std::string::npos ? std::string::npos : FindTagNoCase(page, "</starthost>", blockStart);
    if (blockEnd != std::string::npos) {
      const std::string rowTemplate = page.substr(blockStart + 11, blockEnd - blockStart - 11);
      std::string rows = HostRows(walk, rowTemplate, step);
      step = 145;
      page = page.substr(0, blockStart) + rows + page.substr(blockEnd + 12);
      step = 150;
      if (mode == TMode::Html) {
        if (!request.Param("nosound").empty()) walk.Sound = false;
        std::string sound;
        if (walk.Sound && site.Monitor) {
          std::string file;
          {
            std::shared_lock<std::shared_mutex> guard(site.Monitor->StateLock());
            file = site.Monitor->Settings().HostDownSound;
          }
          sound = request.Client.IE ? "<bgsound src=\"" + file + "\" Loop=0>"
                                    : "<embed Name=\"alertsnd\" src=\"" + file +
                                          "\" width=0 height=0 autostart=true repeat=false hidden=true>";
        }
        ReplaceWhereFound(page, "%sound%", sound);
      }
    }
    step = 200;
    PagePassMode(page, request, site, mode, true);
    ConditionalSections(page, request);
    request.Status = "200";
    request.ContentType = ContentTypeOf(ext);
    request.Body = std::move(page);
    request.LastModified = site.Monitor ? site.Monitor->Clock().Now() : Now();
  } catch (const std::exception& e) {
    request.Status = "500 " + std::string(e.what()) + " (" + ClassName(e) + ") (Step " + std::to_string(step) + ")";
  } catch (...) {
    request.Status = "500 Unknown exception (Step " + std::to_string(step) + ")";
  }
}
