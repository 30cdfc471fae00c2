#pragma once
// Message variables: words between percent signs such as "%host%" in the texts users
// write for alerts, command lines, notifications and web pages, replaced by values of
// one host, and the table of variables with their hints that the variable menus show.
// Core owns them: the status evaluation expands a test's result text for the log.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "platform/FaultReport.h"

class THost;
class THostList;
class TEventLog;

// A loaded plug-in test as the variables see it. ParameterKind: 0 none, 1 to 3 the
// host's plug-in parameter, 4 its plug-in text.
struct TVariablePluginTest {
  std::string Name;
  int ParameterKind = 0;
};

// What the expander reads besides the host. The host list and the event log are read
// in place, not copied: a caller on any thread other than the main thread must hold the
// monitor's StateLock() shared for the whole expansion (the main thread changes them
// only while holding it exclusively). Either pointer may be null: no group names, no
// parent test, no log lines then. Now is one moment for the whole text.
struct TVariableContext {
  const THostList* Hosts = nullptr;
  std::vector<TVariablePluginTest> PluginTests;
  const TEventLog* Log = nullptr;
  bool Use24HourDate = false;
  TDateTime StartTime = 0;
  TDateTime Now = 0;
  TFaultHook Faults;
};


// The text with every known variable of the host replaced, each variable in turn over
// the whole text, letter case ignored, inserted values not rescanned by their own
// variable (but by later ones). In HTML mode values are HTML-encoded and the GMT date
// twins and "%statuscolor%" are replaced too. The host is copied first, so a record
// that the main thread changes meanwhile still gives values of one moment. Never
// throws: on any failure the text as far as it was expanded comes back.
std::string ExpandHostVariables(const std::string& text, const THost& host, bool html,
                                const TVariableContext& context);

// The same variables one at a time, for a text that is read once and filled for many
// hosts (the web pages' rows): the index of a "%word%" (letter case ignored), -1 when the
// mode has no such variable, and its value as the expansion inserts it (HTML-encoded in
// HTML mode except "%log%"), none when the variable stays as written. The caller holds
// what ExpandHostVariables needs; the value is never read again for variables.
int HostVariableIndex(std::string_view name, bool html);
std::optional<std::string> HostVariableValue(int index, const THost& host, bool html, const TVariableContext& context);

// The texts of the three date-time and span rules, also for other alert texts.
// A date-time: its time today, weekday and time within the last seven days or later,
// month, day and time when older, "-" for 0 or less.
std::string VariableDateText(TDateTime value, TDateTime now, bool use24Hour);
// A span in days: days (at least two digits) and ":hh:nn:ss"; a negative span with a
// leading "-"; "---" when the span is not a number.
std::string DurationText(long double days);

// One item of the variable menus, in menu order. An item with an empty Name is a
// separator. InVarsOnly: also offered by the menu of variables only (pmVarsOnly).
// None of the menu's variables is limited to HTML mode ("%statuscolor%" and the GMT
// twins, which are, are not offered).
struct TVariableMenuItem {
  const char* Submenu;
  const char* Name;
  const char* Hint;
  bool InVarsOnly;
};

std::span<const TVariableMenuItem> HostVariables();
