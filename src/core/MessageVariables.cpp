#include "core/MessageVariables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "common/Clock.h"
#include "common/ErrorText.h"
#include "common/Fields.h"
#include "common/HttpDate.h"
#include "common/SystemInfo.h"
#include "common/TextCodec.h"
#include "common/TextUtils.h"
#include "core/TEventLog.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "hosttests/TTestKinds.h"

namespace {

constexpr const char* None = "---";
constexpr std::size_t MaxLogLines = 15;

// Shortest decimal form: 12.3, 12, 0.
std::string ShortNumber(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("0");
}

std::string WithoutGroupMark(const std::string& name) {
  return !name.empty() && name[0] == ';' ? name.substr(1) : name;
}

// The code of a text made by ErrorText: "(0x" and eight hexadecimal digits closed by
// ")"; none when the first "(0x" is not such a code or the code is not above 0.
std::optional<std::int32_t> ErrorCode(const std::string& errorText) {
  const auto at = errorText.find("(0x");
  if (at == std::string::npos) return std::nullopt;
  const std::size_t digits = at + 3;
  if (digits + 8 >= errorText.size() || errorText[digits + 8] != ')') return std::nullopt;
  std::uint32_t code = 0;
  const char* first = errorText.data() + digits;
  const auto result = std::from_chars(first, first + 8, code, 16);
  if (result.ec != std::errc() || result.ptr != first + 8) return std::nullopt;
  const auto value = static_cast<std::int32_t>(code);
  if (value <= 0) return std::nullopt;
  return value;
}

std::string HexCode(std::int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<std::uint32_t>(code));
  return text;
}

const TVariablePluginTest* PluginTestOf(const THost& host, const TVariableContext& context) {
  if (!IsPluginKind(host.TestKind)) return nullptr;
  const auto number = static_cast<std::size_t>(PluginIndex(host.TestKind));
  return number < context.PluginTests.size() ? &context.PluginTests[number] : nullptr;
}

// The test's parameter; none leaves "%data%" in the text (a plug-in not loaded).
std::optional<std::string> TestData(const THost& host, const TVariableContext& context) {
  if (!IsPluginKind(host.TestKind)) {
    const TTestKindEntry* kind = KindOf(host);
    return kind && kind->Data ? kind->Data(host) : std::nullopt;
  }
  const TVariablePluginTest* plugin = PluginTestOf(host, context);
  if (!plugin) return std::nullopt;
  switch (plugin->ParameterKind) {
    case 0: return std::string("(None)");
    case 1:
    case 2:
    case 3: return host.PluginParam;
    case 4: return host.PluginText;
    default: return std::string("(Unknown)");
  }
}

// The variables that one kind alone fills, e.g. "%port%"; the others give "---".
std::vector<std::string> OwnVariables() {
  std::vector<std::string> names;
  for (int number = 0; number < KindNumber(TestPlugin); ++number)
    if (const TTestKindEntry* kind = TTestKinds::Standard().Find(static_cast<TTestKind>(number)))
      if (!kind->OwnVariable.empty()) names.push_back(kind->OwnVariable);
  return names;
}

std::string GroupName(const THost& host, const THostList* hosts) {
  std::string name = "(None)";
  if (!hosts) return name;
  for (const auto& record : hosts->Records())
    if (record && record->IsGroup() && record->GroupNumber == host.GroupNumber)
      name = WithoutGroupMark(record->DisplayName);
  return name;
}

// The next moment, from now on, at which the daily window opens.
TDateTime NextWindowStart(const THost& host, TDateTime now) {
  const long double startOfDay = std::fabs(host.WindowStart - std::trunc(host.WindowStart));
  TDateTime start = std::trunc(now) + static_cast<double>(startOfDay);
  if (start <= now) start += 1;
  return start;
}

std::string StatusText(const THost& host, const TVariableContext& context) {
  const TDateTime now = context.Now;
  if (host.DisabledUntil == 1.0) return "Testing disabled";
  if (now < host.DisabledUntil)
    return "Disabled until " + VariableDateText(host.DisabledUntil, now, context.Use24HourDate);
  if (!host.InDailyWindow(now))
    return "Sleep until " + VariableDateText(NextWindowStart(host, now), now, context.Use24HourDate);
  std::string text = StatusName(host.Status);
  if (host.HasBeenOffline && host.Status != StatusOffline)
    text += " (Has been offline)";
  else if (context.Hosts && !context.Hosts->ParentsUp(host, now))
    text += " (Parent offline)";
  else if (host.ParentHasBeenOffline)
    text += " (Parent has been offline)";
  return text;
}

std::string StatusColor(const THost& host, TDateTime now) {
  if (host.IsDisabled(now)) return "#CFCFCF";
  switch (host.Status) {
    case StatusUnknown: return "#0000CF";
    case StatusOnline: return "#000000";
    case StatusWarning: return "#CFCF00";
    case StatusOffline: return "#FF0000";
    default: return {};
  }
}

// The host's newest log lines, newest first; rows of a table in HTML mode.
std::string HostLog(const THost& host, bool html, const TEventLog* log) {
  std::string result;
  if (!log) return result;
  const std::string label = LogLabel(host);
  std::size_t taken = 0;
  const auto& lines = log->Lines();
  for (auto line = lines.rbegin(); line != lines.rend() && taken < MaxLogLines; ++line) {
    const std::string& text = line->Text;
    if (GetField(text, '\t', 2, '\0') != label) continue;
    ++taken;
    if (html)
      result += "<tr><td>" + HtmlEncode(GetField(text, '\t', 1, '\0')) + "</td><td>" +
                HtmlEncode(GetField(text, '\t', 3, '\0')) + "</td></tr>\r\n";
    else
      result += TextDropRight(text, 2) + "\r\n";
  }
  return result;
}

std::string SinceText(TDateTime since, TDateTime now) {
  return since > 0 ? DurationText(static_cast<long double>(now) - since) : std::string(None);
}

// Replaces the variables one after the other in the text it holds. A value is computed
// only when its variable is in the text as it stands when the variable's turn comes.
class TExpansion {
public:
  TExpansion(std::string& text, bool html) : FText(text), FHtml(html), FNames(PercentNames(text)) {}

  // value() gives the text, or none to leave the variable where it is. The name is a
  // "%word%" in lower case.
  template <class TValue>
  void Replace(std::string_view name, const TValue& value, bool encode = true) {
    if (std::find(FNames.begin(), FNames.end(), name) == FNames.end()) return;
    const std::optional<std::string> found = value();
    if (!found) return;
    const std::string inserted = FHtml && encode ? HtmlEncode(*found) : *found;
    bool rescan = inserted.find('%') != std::string::npos;
    const bool joins = std::all_of(inserted.begin(), inserted.end(), NameChar);
    std::string out;
    out.reserve(FText.size() + inserted.size());
    std::size_t from = 0;
    while (const int at = FindText(name, FText, static_cast<int>(from) + 1, false)) {
      const std::size_t start = static_cast<std::size_t>(at) - 1;
      out.append(FText, from, start - from);
      from = start + name.size();
      // A value of letters and digits alone between two such characters may make a name
      // of its own with them, e.g. "%up" + "time" + "%".
      if (joins && !out.empty() && (NameChar(out.back()) || out.back() == '%') && from < FText.size() &&
          (NameChar(FText[from]) || FText[from] == '%'))
        rescan = true;
      out += inserted;
    }
    out.append(FText, from, std::string::npos);
    FText = std::move(out);
    if (rescan) FNames = PercentNames(FText);
  }

  // A date variable; in HTML mode after its GMT twin.
  void ReplaceDate(std::string_view name, TDateTime value, const TVariableContext& context) {
    if (FHtml) {
      std::string twin(name.substr(0, name.size() - 1));
      twin += "gmt%";
      Replace(twin, [&] { return HttpDateText(value > 0 ? value : context.StartTime, true); });
    }
    Replace(name, [&] { return VariableDateText(value, context.Now, context.Use24HourDate); });
  }

private:
  // The names are found once (a web page expands this for every host) and again only
  // after a value that may have brought variables of its own: one holding a "%", or one
  // that may have made a name with the text around it. Names a replacement took away may
  // stay listed: their turn then replaces nothing.
  static bool NameChar(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

  std::string& FText;
  bool FHtml;
  std::vector<std::string> FNames;
};

using TValueOf = std::optional<std::string> (*)(const THost& host, const TVariableContext& context);

// One variable of the expansion. Encode: HTML-encoded in HTML mode. HtmlOnly: known in
// HTML mode only (the GMT twins, "%statuscolor%").
struct THostVariable {
  std::string_view Name;
  TValueOf Value;  // nullptr: "%log%", or the variable of a test kind (Own)
  bool Encode = true;
  bool HtmlOnly = false;
  bool Own = false;
};

std::optional<std::string> DateOf(TDateTime value, const TVariableContext& context) {
  return VariableDateText(value, context.Now, context.Use24HourDate);
}

std::optional<std::string> GmtOf(TDateTime value, const TVariableContext& context) {
  return HttpDateText(value > 0 ? value : context.StartTime, true);
}

// In the order of the expansion: a value may bring the names of later variables. The test
// kinds' own variables ("%port%" ...) stand between these two parts.
constexpr THostVariable HeadVariables[] = {
    {"%error%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return h.LastErrorText; }},
    {"%errid%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       const auto code = ErrorCode(h.LastErrorText);
       return code ? ErrorName(*code) + " (0x" + HexCode(*code) + ")" : h.LastErrorText;
     }},
    {"%errcode%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       const auto code = ErrorCode(h.LastErrorText);
       return code ? "0x" + HexCode(*code) : h.LastErrorText;
     }},
    {"%addr%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return TestAddress(h); }},
    {"%id%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return h.IDText(); }},
    {"%status%", [](const THost& h, const TVariableContext& c) -> std::optional<std::string> { return StatusText(h, c); }},
    {"%group%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return std::to_string(h.GroupNumber); }},
    {"%groupname%",
     [](const THost& h, const TVariableContext& c) -> std::optional<std::string> { return GroupName(h, c.Hosts); }},
    {"%ip%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return h.CurrentIP; }},
    {"%oldip%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return h.PreviousIP; }},
    {"%mac%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return h.MACAddress; }},
    {"%displayname%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return WithoutGroupMark(h.DisplayName); }},
    {"%host%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return h.Address; }},
    {"%test%",
     [](const THost& h, const TVariableContext& c) -> std::optional<std::string> {
       if (!IsPluginKind(h.TestKind)) return TestKindName(h.TestKind);
       const TVariablePluginTest* plugin = PluginTestOf(h, c);
       return plugin ? plugin->Name : std::string();
     }},
};

constexpr THostVariable TailVariables[] = {
    {"%data%", [](const THost& h, const TVariableContext& c) { return TestData(h, c); }},
    {"%lastsuccessgmt%", [](const THost& h, const TVariableContext& c) { return GmtOf(h.LastSuccess, c); }, true, true},
    {"%lastsuccess%", [](const THost& h, const TVariableContext& c) { return DateOf(h.LastSuccess, c); }},
    {"%lastfailgmt%", [](const THost& h, const TVariableContext& c) { return GmtOf(h.LastFailure, c); }, true, true},
    {"%lastfail%", [](const THost& h, const TVariableContext& c) { return DateOf(h.LastFailure, c); }},
    {"%lastcheckgmt%", [](const THost& h, const TVariableContext& c) { return GmtOf(h.LastCheck, c); }, true, true},
    {"%lastcheck%", [](const THost& h, const TVariableContext& c) { return DateOf(h.LastCheck, c); }},
    {"%prevcheckgmt%", [](const THost& h, const TVariableContext& c) { return GmtOf(h.PreviousCheck, c); }, true, true},
    {"%prevcheck%", [](const THost& h, const TVariableContext& c) { return DateOf(h.PreviousCheck, c); }},
    {"%nowgmt%", [](const THost&, const TVariableContext& c) { return GmtOf(c.Now, c); }, true, true},
    {"%now%", [](const THost&, const TVariableContext& c) { return DateOf(c.Now, c); }},
    {"%successes%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return std::to_string(h.Successes); }},
    {"%failures%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return std::to_string(h.Failures); }},
    {"%warnings%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return std::to_string(h.Warnings); }},
    {"%btbfailures%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       return std::to_string(h.BackToBackFailures);
     }},
    {"%uptime%", [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return DurationText(h.Uptime); }},
    {"%downtime%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> { return DurationText(h.Downtime); }},
    {"%uppercent%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       const auto percent = h.UpPercent();
       if (!percent) return std::string(None);
       char text[64];
       std::snprintf(text, sizeof text, "%.1Lf%%", *percent);
       return std::string(text);
     }},
    {"%downfor%",
     [](const THost& h, const TVariableContext& c) -> std::optional<std::string> { return SinceText(h.LastSuccess, c.Now); }},
    {"%upfor%",
     [](const THost& h, const TVariableContext& c) -> std::optional<std::string> { return SinceText(h.LastFailure, c.Now); }},
    {"%frequency%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       return DurationText(h.TestInterval / MinsPerDay);
     }},
    {"%failtime%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       return DurationText(h.ErrorAfter / MinsPerDay);
     }},
    {"%pctchanged%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       const double change = std::trunc(static_cast<double>(h.HTTPTest.LastChange) * 10000 + 0.5) / 100;
       return ShortNumber(change) + "%";
     }},
    {"%avgresponse%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       const auto average = h.AverageResponse();
       return average ? ShortNumber(std::trunc(*average * 10) / 10) : std::string(None);
     }},
    {"%lastresponse%",
     [](const THost& h, const TVariableContext&) -> std::optional<std::string> {
       return h.Successes > 0 && h.LastResponse() >= 0 ? std::to_string(h.LastResponse()) : std::string(None);
     }},
    {"%statuscolor%",
     [](const THost& h, const TVariableContext& c) -> std::optional<std::string> { return StatusColor(h, c.Now); }, true,
     true},
    {"%log%", nullptr, false},
    // The variable menus offer these two for every text, so every text gets them.
    {"%computer%", [](const THost&, const TVariableContext&) -> std::optional<std::string> { return LocalComputerName(); }},
    {"%username%", [](const THost&, const TVariableContext&) -> std::optional<std::string> { return LocalUserName(); }},
};

// Every variable in the order of the expansion, the kinds' own among them.
const std::vector<THostVariable>& Variables() {
  static const std::vector<THostVariable> all = [] {
    std::vector<THostVariable> list(std::begin(HeadVariables), std::end(HeadVariables));
    static const std::vector<std::string> own = OwnVariables();
    for (const std::string& name : own) list.push_back({name, nullptr, true, false, true});
    list.insert(list.end(), std::begin(TailVariables), std::end(TailVariables));
    return list;
  }();
  return all;
}

// "%log%" is the one variable whose value depends on the mode: rows of a table in HTML. A
// kind's own variable has the kind's value for its hosts and none for the others.
std::optional<std::string> ValueOf(const THostVariable& variable, const THost& host, bool html,
                                   const TVariableContext& context) {
  if (variable.Own) {
    const TTestKindEntry* kind = KindOf(host);
    return kind && kind->OwnVariable == variable.Name && kind->OwnValue ? kind->OwnValue(host) : std::string(None);
  }
  if (!variable.Value) return HostLog(host, html, context.Log);
  return variable.Value(host, context);
}

void ExpandInto(std::string& text, const THost& host, bool html, const TVariableContext& context) {
  TExpansion x(text, html);
  for (const THostVariable& variable : Variables()) {
    if (variable.HtmlOnly && !html) continue;
    x.Replace(variable.Name, [&] { return ValueOf(variable, host, html, context); }, variable.Encode);
  }
}

}  // namespace

std::string VariableDateText(TDateTime value, TDateTime now, bool use24Hour) {
  if (!(value > 0)) return "-";
  const double day = std::trunc(value);
  const double today = std::trunc(now);
  if (day == today) return FormatDateTime(use24Hour ? "hh:nn:ss" : "hh:nn:ssa/p", value);
  if (day > today - 7) return FormatDateTime(use24Hour ? "ddd hh:nn" : "ddd hh:nna/p", value);
  return FormatDateTime(use24Hour ? "mmm d, hh:nn" : "mmm d, hh:nna/p", value);
}

std::string DurationText(long double days) {
  if (!std::isfinite(days)) return None;
  // Whole milliseconds first, so that 2.9999999 days is 3 days and not 2 days and 24 hours.
  const long double totalMs = std::round(std::fabs(days) * static_cast<long double>(MSecsPerDay));
  if (totalMs >= 9.2e18L) return None;
  const auto ms = static_cast<long long>(totalMs);
  const long long seconds = ms / 1000;
  char text[64];
  std::snprintf(text, sizeof text, "%s%02lld:%02lld:%02lld:%02lld", days < 0 && ms > 0 ? "-" : "",
                seconds / 86400, seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string ExpandHostVariables(const std::string& text, const THost& host, bool html,
                                const TVariableContext& context) {
  if (text.find('%') == std::string::npos) return text;
  std::string result = text;
  try {
    const THost copy = host;
    ExpandInto(result, copy, html, context);
  } catch (...) {
    // The text goes out with the variables expanded so far.
    ReportFault(context.Faults, "ExpandHostVariables", CurrentExceptionText());
  }
  return result;
}

int HostVariableIndex(std::string_view name, bool html) {
  const std::vector<THostVariable>& variables = Variables();
  for (std::size_t i = 0; i < variables.size(); ++i) {
    const THostVariable& variable = variables[i];
    if (variable.HtmlOnly && !html) continue;
    if (variable.Name.size() == name.size() &&
        std::equal(name.begin(), name.end(), variable.Name.begin(), [](char a, char b) {
          return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b;
        }))
      return static_cast<int>(i);
  }
  return -1;
}

std::optional<std::string> HostVariableValue(int index, const THost& host, bool html, const TVariableContext& context) {
  const std::vector<THostVariable>& variables = Variables();
  if (index < 0 || static_cast<std::size_t>(index) >= variables.size()) return std::nullopt;
  const THostVariable& variable = variables[static_cast<std::size_t>(index)];
  try {
    std::optional<std::string> value = ValueOf(variable, host, html, context);
    if (value && html && variable.Encode) *value = HtmlEncode(*value);
    return value;
  } catch (...) {
    ReportFault(context.Faults, "HostVariableValue", CurrentExceptionText());
    return std::nullopt;
  }
}

std::span<const TVariableMenuItem> HostVariables() {
  static constexpr const char* Basic = "Basic Host Information";
  static constexpr const char* Status = "Host Status";
  static constexpr const char* General = "General Information";
  static constexpr TVariableMenuItem Items[] = {
      {Basic, "%displayname%", "Host Display Name", true},
      {Basic, "%host%", "Host Address, as it appears in the configuration", true},
      {Basic, "%group%", "Group number to whch a host belongs", true},
      {Basic, "%id%", "ID number of a host", true},
      {Basic, "", "", true},
      {Basic, "%addr%", "Short address of a host, such as server:80", true},
      {Basic, "%ip%", "Resolved IP Address of host", false},
      {Basic, "%oldip%", "Previous IP address of a host", true},
      {Basic, "%mac%", "MAC address of a host", false},
      {Basic, "", "", true},
      {Basic, "%test%", "Type of test being performed", true},
      {Basic, "%data%", "Host test parameter, such as port number", true},
      {Basic, "%port%", "Port number (TCP tests only)", false},
      {Basic, "%service%", "Service being tested (Service tests only)", false},
      {Basic, "%share%", "Share being tested (Share tests only)", false},
      {Basic, "%url%", "URL being tested (HTTP tests only)", false},
      {Basic, "", "", true},
      {Basic, "%frequency%", "Frequency at which a host is tested", true},
      {Basic, "%failtime%", "Amount of time before a host is designated as offline", true},
      {Status, "%status%", "Descriptive string of host status, such as Offline", true},
      {Status, "%error%", "Error string, which corresponds with the Notes column of the host display", true},
      {Status, "%errid%", "Short Error ID, such as FILE_NOT_FOUND", true},
      {Status, "%errcode%", "Hexadecimal error code number, such as 0x00000005", true},
      {Status, "", "", true},
      {Status, "%lastsuccess%", "Date/Time of the last successful host test", true},
      {Status, "%lastfail%", "Date/Time of the last failed host test", true},
      {Status, "%lastcheck%", "Date/Time of the last time a host test was initiated", true},
      {Status, "%prevcheck%", "Previous Date/Time a host test was initiated", true},
      {Status, "", "", true},
      {Status, "%successes%", "Number of times a host test has returned an Online result", true},
      {Status, "%failures%", "Number of times a host test has returned an Offline result", true},
      {Status, "%warnings%", "Number of times a host test has returned a Warning result", true},
      {Status, "%btbfailures%", "Number of Back-to-Back test failures", true},
      {Status, "", "", true},
      {Status, "%uptime%", "Total up time of a host", true},
      {Status, "%downtime%", "Total downtime of a host", true},
      {Status, "%uppercent%", "Percentage of the time a host is Online", true},
      {Status, "%upfor%", "Amount of time a host has been online (since the last Offline status)", true},
      {Status, "%downfor%", "Amount of time a host has been offline (since the last Online status)", true},
      {Status, "%avgresponse%", "Average time a host takes to respond (ms)", true},
      {Status, "%lastresponse%", "Amount of time a host took to respond on the last test (ms)", true},
      {Status, "", "", false},
      {Status, "%lasthost%", "Last host to respond in connection to specified host (traceroute)", false},
      {Status, "%traceroute%", "Full traceroute results for a host", false},
      {Status, "%droppedat%", "Host that may be dropping a connection", false},
      {Status, "", "", true},
      {Status, "%pctchanged%", "Percentage of change on a web page (HTTP tests only)", true},
      {General, "%computer%", "Name of the computer running Corvale", true},
      {General, "%username%", "User account under which Corvale is running", true},
  };
  return Items;
}
