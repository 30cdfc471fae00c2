#include "web/WebTemplate.h"

#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
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
#include "web/TRowPlan.h"
#include "web/TWebRowCache.h"
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

// What a value of the log or of a host is in the page's mode.
std::string InMode(TMode mode, const std::string& value) {
  return mode == TMode::Json ? JsonEscape(value) : mode == TMode::Html ? HtmlEncode(value) : value;
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

std::string VersionPageText() {
  return ProgramVersionNumber() + " (" + FormatDateTime("dd-mmm-yyyy", CorvaleReleaseDate) + ")";
}

std::string LowerName(std::string_view name) { return LowerAscii(name); }

// A local date-time as ISO 8601 with its offset from UTC, e.g. "2026-12-10T09:56:47+01:00".
std::string IsoTime(TDateTime value) {
  int year, month, day, hour, minute, second, ms;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, ms);
  const int offset = -TimeZoneBiasMinutes(value);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year, month, day, hour, minute, second,
                offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
  return text;
}

// A time for programs: in JSON a string or null, elsewhere the text or "-".
std::string IsoValue(TMode mode, TDateTime value) {
  if (!(value > 0)) return mode == TMode::Json ? "null" : "-";
  return mode == TMode::Json ? "\"" + IsoTime(value) + "\"" : IsoTime(value);
}

// The page variables, the status warning's and the request parameters' values for one
// pass of a page, found by name without regard to letter case; the page variables go
// first, as they are replaced first.
struct TPageValues {
  std::unordered_map<std::string, std::string> Page, Params;
  // "%log%" (this letter case only) and the places of the rows and the log.
  std::unordered_map<std::string, std::string> Exact;

  const std::string* Find(std::string_view name) const {
    if (const auto exact = Exact.find(std::string(name)); exact != Exact.end()) return &exact->second;
    const std::string lower = LowerName(name);
    if (const auto found = Page.find(lower); found != Page.end()) return &found->second;
    if (const auto found = Params.find(lower); found != Params.end()) return &found->second;
    return nullptr;
  }
};

// What the monitor tells every pass of a page.
struct TMonitorFacts {
  TDateTime Now = 0;
  bool Use24 = false;
  std::string Warning;
  int HostCount = 0;
  int Counts[4] = {};  // Online, Warning, Offline, other
  std::vector<std::string> LogLines;
  std::unordered_map<std::string, std::string> HostIDs;
};

TMonitorFacts ReadFacts(const TWebSite& site, bool withLog) {
  TMonitorFacts facts;
  TMonitor* monitor = site.Monitor;
  facts.Now = monitor ? monitor->Clock().Now() : Now();
  if (!monitor) return facts;
  std::shared_lock<std::shared_mutex> guard(monitor->StateLock());
  facts.Use24 = monitor->Use24HourDate();
  facts.Warning = monitor->PublishedStatusWarning();
  facts.HostCount = monitor->Hosts().Count();
  for (const auto& record : monitor->Hosts().Records()) {
    if (!record || record->IsGroup()) continue;
    const int status = record->Status;
    ++facts.Counts[status >= StatusOnline && status <= StatusOffline ? status : 3];
  }
  if (withLog) {
    const auto& lines = monitor->Log().Lines();
    std::unordered_map<std::string, std::string> wanted;
    for (auto it = lines.rbegin(); it != lines.rend() && facts.LogLines.size() < MaxPageLogLines; ++it) {
      facts.LogLines.push_back(it->Text);
      wanted.emplace(SplitLogLine(it->Text).Label, std::string());
    }
    // Only the labels of those lines: a page of many hosts and few events stays quick.
    for (const auto& record : monitor->Hosts().Records()) {
      if (!record || record->IsGroup()) continue;
      const std::string label = LogLabel(*record);
      if (wanted.count(label)) facts.HostIDs.emplace(label, record->IDText());
    }
  }
  return facts;
}

TPageValues PageValues(const TWebRequest& request, TMode mode, const TMonitorFacts& facts) {
  const TWebClientInfo& client = request.Client;
  const std::string path = client.Path.substr(0, client.Path.find('?'));
  TPageValues values;
  values.Page = {
      {"%computer%", HtmlOrJson(mode, LocalComputerName())},
      {"%ver%", VersionPageText()},
      {"%user%", HtmlOrJson(mode, client.User)},
      {"%peer%", Encoded(mode, client.Peer)},
      {"%server%", Encoded(mode, client.Host)},
      {"%date%", TEventLog::FormatTime(facts.Now, facts.Use24)},
      {"%dategmt%", HttpDateText(facts.Now, true)},
      {"%dateiso%", IsoTime(facts.Now)},
      {"%nosound%", Encoded(mode, request.Param("nosound"))},
      {"%hostid%", Encoded(mode, request.Param("hostid"))},
      {"%hostcount%", std::to_string(facts.HostCount)},
      {"%onlinecount%", std::to_string(facts.Counts[0])},
      {"%warningcount%", std::to_string(facts.Counts[1])},
      {"%offlinecount%", std::to_string(facts.Counts[2])},
      {"%unknowncount%", std::to_string(facts.Counts[3])},
      {"%groupid%", Encoded(mode, request.Param("groupid"))},
      {"%hoststatus%", Encoded(mode, request.Param("hoststatus"))},
      {"%referer%", Encoded(mode, client.Referer)},
      {"%target%", Encoded(mode, request.Param("target"))},
      {"%url%", Encoded(mode, "http://" + client.Host + client.Path)},
      {"%page%", Encoded(mode, "http://" + client.Host + path)},
  };
  if (!facts.Warning.empty()) {
    std::string warning = facts.Warning;
    const std::size_t split = warning.find(static_cast<char>(160));
    if (split != std::string::npos)
      warning = "<b>" + HtmlEncode(warning.substr(0, split)) + "</b><br>" + HtmlEncode(warning.substr(split + 1));
    values.Page.emplace("%alert%", mode == TMode::Json ? JsonEscape(warning) : warning);
  }
  // A JSON page takes no free-form text from the query: a value could sit where a number
  // belongs.
  if (mode != TMode::Json)
    for (const auto& [name, value] : request.Params)
      if (!name.empty()) values.Params.emplace(LowerName("%" + name + "%"), Encoded(mode, value));
  return values;
}

// Browser, login and warning sections, all occurrences.
void PageSections(std::string& page, const TWebRequest& request, const TMonitorFacts& facts) {
  const TWebClientInfo& client = request.Client;
  const bool nosound = !request.Param("nosound").empty();
  static constexpr std::string_view Sections[] = {"ie",    "notie", "mobile",       "notmobile", "nosound",
                                                  "sound", "auth",  "nomanageauth", "manageauth", "alert"};
  const bool keep[] = {client.IE,
                       !client.IE,
                       client.Mobile,
                       !client.Mobile,
                       nosound,
                       !nosound,
                       client.AccessLevel >= WebAccessView,
                       client.AccessLevel < WebAccessManage,
                       client.AccessLevel >= WebAccessManage,
                       !facts.Warning.empty()};
  const std::vector<bool> present = StartTagsPresent(page, Sections);
  for (std::size_t i = 0; i < std::size(Sections); ++i)
    if (present[i]) KeepOrDropSections(page, std::string(Sections[i]), keep[i]);
}

// The places where the rows and the log rows go in: names no template has, since their
// "%" encloses a control character.
const std::string RowsPlace = "%\x01rows%";
const std::string LogPlace = "%\x01log%";

// With log: the page's first "log" section becomes the place of the 50 newest log lines
// (later ones go), and "%log%" their table.
void PageLog(std::string& page, TPageValues& values, TMode mode, const TMonitorFacts& facts) {
  std::vector<TLogFields> fields;
  fields.reserve(facts.LogLines.size());
  for (const std::string& line : facts.LogLines) fields.push_back(SplitLogLine(line));
  if (const auto place = FindSection(page, "log")) {
    const std::string rowTemplate = page.substr(place->Content, place->End - place->Content);
    page.replace(place->Start, place->After - place->Start, LogPlace);
    DropAllSections(page, "log");
    std::string rows;
    std::unordered_map<std::string, std::string> line;
    const TVariableLookup lookup = [&](std::string_view name) -> const std::string* {
      const std::string lower = LowerName(name);
      if (const auto found = values.Page.find(lower); found != values.Page.end()) return &found->second;
      if (const auto found = line.find(lower); found != line.end()) return &found->second;
      if (const auto found = values.Params.find(lower); found != values.Params.end()) return &found->second;
      return nullptr;
    };
    for (const TLogFields& log : fields) {
      std::string host = InMode(mode, log.Label);
      const auto id = log.Label == "---" ? facts.HostIDs.end() : facts.HostIDs.find(log.Label);
      if (id != facts.HostIDs.end() && mode == TMode::Html)
        host = "<a href=\"hostinfo.html?hostid=" + id->second + "\">" + host + "</a>";
      line = {{"%logdate%", InMode(mode, log.Date)},
              {"%loghost%", host},
              {"%logtext%", InMode(mode, log.Text)},
              {"%logtype%", InMode(mode, log.Type)}};
      rows += FillVariables(rowTemplate, lookup);
    }
    values.Exact[LogPlace] = std::move(rows);
  }
  if (page.find("%log%") != std::string::npos) {
    std::string table;
    for (const TLogFields& line : fields)
      table += "<tr><td>" + HtmlEncode(line.Date) + "</td><td>" + HtmlEncode(line.Label) + "</td><td>" +
               HtmlEncode(line.Text) + "</td></tr>\r\n";
    values.Exact["%log%"] = mode == TMode::Json ? JsonEscape(table) : table;
  }
}

void PagePassMode(std::string& page, TWebRequest& request, const TWebSite& site, TMode mode, bool withLog) {
  const TMonitorFacts facts =
      ReadFacts(site, withLog && (FindSection(page, "log") || page.find("%log%") != std::string::npos));
  PageSections(page, request, facts);
  TPageValues values = PageValues(request, mode, facts);
  if (withLog) PageLog(page, values, mode, facts);
  page = FillVariables(page, [&](std::string_view name) { return values.Find(name); });
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

// The variables of rows beside the host's message variables (numbered from RowVariables):
// the status in decimal, the icons, and values for programs.
constexpr int RowVariables = 1000;
constexpr int LogVariables = 2000;
constexpr std::string_view RowNames[] = {"%statuscode%",    "%icon%",          "%smallicon%",     "%largeicon%",
                                         "%responsems%",    "%uppercentvalue%", "%lastcheckiso%", "%lastsuccessiso%",
                                         "%lastfailiso%",   "%downsince%",     "%downsinceiso%"};
enum TRowVariable {
  RowStatusCode = RowVariables, RowIcon, RowSmallIcon, RowLargeIcon, RowResponseMs, RowUpPercentValue,
  RowLastCheckIso, RowLastSuccessIso, RowLastFailIso, RowDownSince, RowDownSinceIso
};
constexpr std::string_view LogNames[] = {"%logdate%", "%loghost%", "%logtext%", "%logtype%"};

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

// The numbers of a row's variables: the page's values first (they were replaced before
// the rows were made), then the row's own, the log's inside its section, the host's.
TRowPlan::TResolver RowResolver(const TPageValues& values, TMode mode, bool rowVariables) {
  return [&values, mode, rowVariables](std::string_view name, bool inLog, std::string& literal) {
    if (const std::string* value = values.Find(name); value && !values.Exact.count(std::string(name))) {
      literal = *value;
      return TRowPlan::Literal;
    }
    const std::string lower = LowerName(name);
    if (lower == "%statuscode%") return static_cast<int>(RowStatusCode);
    if (rowVariables)
      for (std::size_t i = 1; i < std::size(RowNames); ++i)
        if (lower == RowNames[i]) {
          if (mode != TMode::Html && i <= 3) break;
          return RowVariables + static_cast<int>(i);
        }
    if (inLog)
      for (std::size_t i = 0; i < std::size(LogNames); ++i)
        if (lower == LogNames[i]) return LogVariables + static_cast<int>(i);
    const int index = HostVariableIndex(lower, mode == TMode::Html);
    return index >= 0 ? index : TRowPlan::Unknown;
  };
}

// The values of one host's row; under the state lock held shared.
class THostRowValues : public TRowValues {
public:
  THostRowValues(TRowWalk& walk, const THost& host, const TVariableContext& context, TMonitor& monitor)
      : W(walk), H(host), C(context), M(monitor) {}

  void Append(std::string& out, int variable, const std::string& written) override {
    if (variable >= LogVariables) {
      if (!FLine) return;
      const std::string* fields[] = {&FLine->Date, &FLine->Label, &FLine->Text, &FLine->Type};
      const std::size_t index = static_cast<std::size_t>(variable - LogVariables);
      // The date is the log's own text.
      out += index == 0 && W.Mode != TMode::Json ? *fields[0] : InMode(W.Mode, *fields[index % 4]);
      return;
    }
    if (variable >= RowVariables) {
      AppendRowVariable(out, static_cast<TRowVariable>(variable));
      return;
    }
    const bool html = W.Mode == TMode::Html;
    const std::optional<std::string> value = HostVariableValue(variable, H, html, C);
    if (!value) {
      out += written;
      return;
    }
    out += W.Mode == TMode::Json ? JsonEscape(*value) : *value;
  }

  bool Keep(int section) override {
    if (section == TRowPlan::ErrorSection) return !H.LastErrorText.empty();
    const bool no = section >= TRowPlan::NoCmdSection;
    const int command = section - (no ? TRowPlan::NoCmdSection : TRowPlan::CmdSection);
    bool offered = false;
    try {
      offered = WebCommandOffered(command, &H, W.Request, W.Site, M.Settings(), C.Now);
    } catch (...) {
      ReportFault(C.Faults, "Web page command sections", CurrentExceptionText());
    }
    return no ? !offered : offered;
  }

  void AppendLog(std::string& out, const std::vector<TRowNode>& content) override {
    try {
      if (!W.HostLog) {
        W.HostLog.emplace();
        const auto& lines = M.Log().Lines();
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
          TLogFields fields = SplitLogLine(it->Text);
          auto& list = (*W.HostLog)[fields.Label];
          if (list.size() < MaxHostLogLines) list.push_back(std::move(fields));
        }
      }
      const auto found = W.HostLog->find(LogLabel(H));
      if (found == W.HostLog->end()) return;
      for (const TLogFields& line : found->second) {
        FLine = &line;
        TRowPlan::Render(out, *this, content);
      }
      FLine = nullptr;
    } catch (...) {
      FLine = nullptr;
      ReportFault(C.Faults, "Web page host log", CurrentExceptionText());
    }
  }

private:
  void AppendRowVariable(std::string& out, TRowVariable variable) {
    switch (variable) {
      case RowStatusCode: out += std::to_string(H.Status); return;
      case RowIcon:
      case RowSmallIcon:
      case RowLargeIcon: AppendIcon(out, variable); return;
      case RowResponseMs: {
        const bool known = H.Successes > 0 && H.LastResponse() >= 0;
        out += known ? std::to_string(H.LastResponse()) : W.Mode == TMode::Json ? "null" : "";
        return;
      }
      case RowUpPercentValue: {
        const auto percent = H.UpPercent();
        if (!percent) {
          out += W.Mode == TMode::Json ? "null" : "";
          return;
        }
        char text[32];
        std::snprintf(text, sizeof text, "%.1Lf", *percent);
        out += text;
        return;
      }
      case RowLastCheckIso: out += IsoValue(W.Mode, H.LastCheck); return;
      case RowLastSuccessIso: out += IsoValue(W.Mode, H.LastSuccess); return;
      case RowLastFailIso: out += IsoValue(W.Mode, H.LastFailure); return;
      case RowDownSince:
      case RowDownSinceIso: {
        // Offline since the last success; the date only when it was not today.
        const TDateTime since = H.Status == StatusOffline ? H.LastSuccess : 0;
        if (variable == RowDownSinceIso) {
          out += IsoValue(W.Mode, since);
        } else if (since > 0) {
          const bool today = std::trunc(since) == std::trunc(C.Now);
          const char* clock = C.Use24HourDate ? "hh:nn" : "hh:nna/p";
          out += InMode(W.Mode, FormatDateTime(today ? clock : std::string("dd-mmm-yyyy ") + clock, since));
        }
        return;
      }
    }
  }

  void AppendIcon(std::string& out, TRowVariable variable) {
    try {
      const int n = IconNumber(H, C.Now);
      const std::string number = std::to_string(n);
      std::string src;
      if (variable == RowIcon)
        src = "hosticon" + number + (W.IconFile(W.StdIcon, n, "std.gif") ? "std.gif" : ".jpg");
      else if (variable == RowSmallIcon)
        src = "smallicon" + number + ".jpg";
      else
        src = W.IconFile(W.LargeIcon, n, ".gif") ? "hosticon" + number + ".gif" : "largeicon" + number + ".jpg";
      const std::string status = HostVariableValue(HostVariableIndex("%status%", true), H, true, C).value_or("");
      out += "<img src=\"" + src + "\" align=\"absmiddle\" " + (W.Request.Client.IE ? "alt" : "title") + "=\"" +
             status + "\">";
    } catch (...) {
      ReportFault(C.Faults, "Web page icons", CurrentExceptionText());
    }
  }

  TRowWalk& W;
  const THost& H;
  const TVariableContext& C;
  TMonitor& M;
  const TLogFields* FLine = nullptr;
};

// The request's host filters, read once for the walk.
struct THostFilter {
  std::string Status, ID;
  std::int32_t Group = 0;
  explicit THostFilter(const TWebRequest& request)
      : Status(request.Param("hoststatus")), ID(request.Param("hostid")), Group(request.GroupFilter) {}
  bool Passes(const THost& host) const {
    if (!Status.empty() && Status != std::to_string(host.Status)) return false;
    if (!ID.empty() && ID != host.IDText()) return false;
    return Group == 0 || Group == host.GroupNumber;
  }
};

int BreakEvery(const TWebRequest& request) {
  const std::string text = request.Param("breakevery");
  if (text.empty() || text.size() > 9) return 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  return end && *end == 0 && value > 0 ? static_cast<int>(value) : 0;
}

// How long a kept row stays good: a row with a running duration or the time now for a
// second, any other for a few seconds, since its texts and icon also move with the clock
// (a disabling or the daily window ending) and with settings and parents.
std::chrono::steady_clock::duration RowLife(const TRowPlan& plan) {
  for (const char* timed : {"%downfor%", "%upfor%", "%now%", "%nowgmt%"})
    if (const int index = HostVariableIndex(timed, true); index >= 0 && plan.Uses(index)) return std::chrono::seconds(1);
  return std::chrono::seconds(10);
}

// Severity order for "problemsfirst": Offline, Warning, Unknown and the rest, Online.
int ProblemRank(const THost& host) {
  switch (host.Status) {
    case StatusOffline: return 0;
    case StatusWarning: return 1;
    case StatusOnline: return 3;
    default: return 2;
  }
}

// The rows of the host list; each host is read under its own short hold of the lock.
// Rows kept in the site's cache are taken as they are when still good.
std::string HostRows(TRowWalk& walk, const TRowPlan& plan, const TRowPlan& groupStart, const TRowPlan& groupEnd,
                     int& step) {
  std::string rows;
  TMonitor* monitor = walk.Site.Monitor;
  if (!monitor) return rows;

  const int breakEvery = BreakEvery(walk.Request);
  const auto now = TWebRowCache::TClock::now();
  TWebRowCache::TSlot* slot = nullptr;
  if (walk.Site.RowCache) {
    const TWebRequest& r = walk.Request;
    const std::string key = std::to_string(static_cast<int>(walk.Mode)) + (r.Client.IE ? "I" : "-") +
                            (r.PeerIsLocal ? "L" : "-") + std::to_string(r.GroupFilter) + "|" + plan.Key();
    slot = &walk.Site.RowCache->Slot(key, now);
    rows.reserve(slot->Size + slot->Size / 8);
  }
  const auto life = RowLife(plan);
  // Problems first: one walk per rank, without the group rows.
  const bool problemsFirst = !walk.Request.Param("problemsfirst").empty();
  const THostFilter filter(walk.Request);
  const TFaultHook faults = monitor->FaultHook();
  int count = 0;
  bool groupOpen = false, rowWritten = false;
  std::string pendingEnd;
  for (int rank = problemsFirst ? 0 : -1; rank < (problemsFirst ? 4 : 0); ++rank)
    for (int index = 0;; ++index) {
      step = 70;
      std::shared_lock<std::shared_mutex> guard(monitor->StateLock());
      if (index >= monitor->Hosts().Count()) break;
      const THost* host = monitor->Hosts().Items(index);
      if (!host || !filter.Passes(*host)) continue;
      if (problemsFirst && (host->IsGroup() || ProblemRank(*host) != rank)) continue;
      // Made only for a row that is made: a page of kept rows needs none.
      std::optional<TVariableContext> made;
      const auto context = [&]() -> const TVariableContext& {
        if (!made) {
          made = monitor->VariableContext();
          made->Faults = faults;
        }
        return *made;
      };
      if (host->IsGroup()) {
        step = 80;
        if (groupOpen) rows += pendingEnd;
        THostRowValues values(walk, *host, context(), *monitor);
        groupStart.Render(rows, values);
        pendingEnd.clear();
        groupEnd.Render(pendingEnd, values);
        groupOpen = true;
        continue;
      }
      step = 90;
      ++count;
      if (walk.Mode == TMode::Json && rowWritten) rows += ',';
      rowWritten = true;
      const std::int64_t logID = plan.HasLog() ? monitor->Log().LastID() : 0;
      const TWebRowCache::TRow* kept = slot ? TWebRowCache::Find(*slot, host->ID, now, life, logID) : nullptr;
      if (kept) {
        rows += kept->Text;
        walk.Sound = walk.Sound || kept->Sound;
      } else {
        TWebRowCache::TRow row;
        THostRowValues values(walk, *host, context(), *monitor);
        plan.Render(row.Text, values);
        row.Sound = host->Status == StatusOffline && host->GlobalOfflineSound && !host->IsDisabled(context().Now);
        walk.Sound = walk.Sound || row.Sound;
        rows += row.Text;
        if (slot) {
          row.LogID = logID;
          row.Made = now;
          slot->Rows[host->ID] = std::move(row);
        }
      }
      guard.unlock();
      step = 130;
      if (breakEvery > 0 && count % breakEvery == 0) rows += walk.Break;
      step = 135;
    }
  step = 140;
  if (breakEvery > 0 && count % breakEvery != 0) {
    rows += RepeatText(breakEvery - count % breakEvery, walk.Filler);
    rows += walk.Break;
  }
  if (slot) slot->Size = rows.size();
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
    // The conditional parameter sections depend on the parameters alone: they are taken
    // here, on the template's own text, so that no value put into the page is read as one.
    ConditionalSections(page, request);
    step = 40;
    const bool wantsLog = FindSection(page, "log") || page.find("%log%") != std::string::npos;
    const TMonitorFacts facts = ReadFacts(site, wantsLog);
    PageSections(page, request, facts);
    TPageValues values = PageValues(request, mode, facts);
    step = 50;
    TRowWalk walk{request, site, mode, {}, {}, {}, {}, {}, {}, false, std::nullopt};
    TakeOutSection(page, "startgroup", walk.GroupStart);
    TakeOutSection(page, "endgroup", walk.GroupEnd);
    TakeOutSection(page, "filler", walk.Filler);
    TakeOutSection(page, "break", walk.Break);
    const auto fill = [&values](const std::string& text) {
      return FillVariables(text, [&values](std::string_view n) { return values.Find(n); });
    };
    walk.Filler = fill(walk.Filler);
    walk.Break = fill(walk.Break);
    step = 60;
    const std::size_t blockStart = FindTagNoCase(page, "<starthost>", 0);
    const std::size_t blockEnd =
        blockStart == std::string::npos ? std::string::npos : FindTagNoCase(page, "</starthost>", blockStart);
    if (blockEnd != std::string::npos) {
      const std::string rowTemplate = page.substr(blockStart + 11, blockEnd - blockStart - 11);
      page = page.substr(0, blockStart) + RowsPlace + page.substr(blockEnd + 12);
      const TRowPlan plan(rowTemplate, RowResolver(values, mode, true));
      const TRowPlan groupStart(walk.GroupStart, RowResolver(values, mode, false), false);
      const TRowPlan groupEnd(walk.GroupEnd, RowResolver(values, mode, false), false);
      std::string rows = HostRows(walk, plan, groupStart, groupEnd, step);
      step = 145;
      values.Exact[RowsPlace] = std::move(rows);
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
        if (!values.Params.count("%sound%")) values.Page.emplace("%sound%", sound);
      }
    }
    step = 200;
    PageLog(page, values, mode, facts);
    // The rows go in last and once, beside the filled text around them.
    const std::size_t place = page.find(RowsPlace);
    if (place != std::string::npos && values.Exact.count(RowsPlace)) {
      std::string rows = std::move(values.Exact[RowsPlace]);
      values.Exact.erase(RowsPlace);
      const std::string before = fill(page.substr(0, place));
      const std::string after = fill(page.substr(place + RowsPlace.size()));
      page.clear();
      page.reserve(before.size() + rows.size() + after.size());
      page += before;
      page += rows;
      page += after;
    } else {
      page = fill(page);
    }
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
