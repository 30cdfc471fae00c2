#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/MessageVariables.h"
#include "alerts/TEmailInfo.h"
#include "common/ErrorText.h"
#include "common/SystemInfo.h"
#include "core/MonitorFixture.h"
#include "core/TEventLog.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "support/TestSupport.h"

namespace {

// Tuesday, 8 December 2026, 14:05:00.
const TDateTime Now = EncodeDateTime(2026, 12, 8, 14, 5, 0);

class MessageVariablesTest : public ::testing::Test {
protected:
  MessageVariablesTest() {
    Host.ID = 0x3E8;
    Host.DisplayName = "Mail server";
    Host.Address = "mail.example";
    Host.Status = StatusOnline;
    Context.Hosts = &Hosts;
    Context.Log = &Log;
    Context.Now = Now;
    Context.StartTime = EncodeDateTime(2026, 12, 8, 9, 0, 0);
  }

  std::string Plain(const std::string& text) { return ExpandHostVariables(text, Host, false, Context); }
  std::string Html(const std::string& text) { return ExpandHostVariables(text, Host, true, Context); }

  THost* AddHost(const std::string& name, int32_t id, int32_t group = 0) {
    auto record = std::make_unique<THost>();
    record->DisplayName = name;
    record->ID = id;
    record->GroupNumber = group;
    return Hosts.Add(std::move(record));
  }

  THost Host;
  THostList Hosts;
  TEventLog Log;
  TVariableContext Context;
};

TEST_F(MessageVariablesTest, TextWithoutVariablesAndLetterCase) {
  EXPECT_EQ(Plain("no variables here"), "no variables here");
  EXPECT_EQ(Plain(""), "");
  EXPECT_EQ(Plain("100% sure, 50% done"), "100% sure, 50% done");
  EXPECT_EQ(Plain("%HOST% and %HoSt% and %host%"), "mail.example and mail.example and mail.example");
  EXPECT_EQ(Plain("%unknown% %host"), "%unknown% %host");
  EXPECT_EQ(Plain("%ID% %Group%"), "000003E8 0");
}

TEST_F(MessageVariablesTest, InsertedValuesMeetLaterVariablesOnly) {
  // %displayname% comes before %host%: the name it inserts is expanded further.
  Host.DisplayName = "[%host%]";
  EXPECT_EQ(Plain("%displayname%"), "[mail.example]");
  // A variable's own value is not searched again, nor are variables that came earlier.
  Host.Address = "%host%/%error%";
  Host.LastErrorText = "broken";
  EXPECT_EQ(Plain("%host% %error%"), "%host%/%error% broken");
  // A value can also make a later variable with the text on both sides of it.
  Host.DisplayName = "time";
  EXPECT_EQ(Plain("%up%displayname%%"), Plain("%uptime%"));
  EXPECT_EQ(Plain("[%displayname%]"), "[time]");
}

TEST_F(MessageVariablesTest, DateRuleInBothFormats) {
  const auto dates = [this](bool use24) {
    Context.Use24HourDate = use24;
    return Plain("%lastsuccess%|%lastfail%|%lastcheck%|%prevcheck%|%now%");
  };
  Host.LastSuccess = EncodeDateTime(2026, 12, 8, 9, 3, 4);    // today
  Host.LastFailure = EncodeDateTime(2026, 12, 7, 18, 30, 0);  // yesterday
  Host.LastCheck = EncodeDateTime(2026, 12, 1, 18, 30, 0);    // seven days back
  Host.PreviousCheck = 0;
  EXPECT_EQ(dates(false), "09:03:04a|Mon 06:30p|Dec 1, 06:30p|-|02:05:00p");
  EXPECT_EQ(dates(true), "09:03:04|Mon 18:30|Dec 1, 18:30|-|14:05:00");

  // Six days back and any later day count as this week.
  EXPECT_EQ(VariableDateText(EncodeDateTime(2026, 12, 2, 0, 0, 0), Now, true), "Wed 00:00");
  EXPECT_EQ(VariableDateText(EncodeDateTime(2027, 3, 1, 12, 0, 0), Now, false), "Mon 12:00p");
  EXPECT_EQ(VariableDateText(EncodeDateTime(2025, 12, 8, 14, 5, 0), Now, true), "Dec 8, 14:05");
  EXPECT_EQ(VariableDateText(-3.5, Now, true), "-");
}

TEST_F(MessageVariablesTest, GmtTwinsAcrossDaylightSavingChange) {
  testsupport::TScopedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  Host.LastSuccess = EncodeDateTime(2026, 7, 1, 12, 0, 0);   // summer: two hours ahead
  Host.LastFailure = EncodeDateTime(2026, 12, 1, 12, 0, 0);  // winter: one hour ahead
  Host.LastCheck = 0;                                        // never: the program's start
  const std::string text = "%lastsuccessgmt%;%lastfailGMT%;%lastcheckgmt%;%nowgmt%";
  EXPECT_EQ(Html(text),
            "Wed, 1 Jul 2026 10:00:00 GMT;Tue, 1 Dec 2026 11:00:00 GMT;"
            "Tue, 8 Dec 2026 08:00:00 GMT;Tue, 8 Dec 2026 13:05:00 GMT");
  // The twins belong to HTML mode; the plain dates next to them are replaced there too.
  EXPECT_EQ(Plain("%nowgmt% %now%"), "%nowgmt% 02:05:00p");
  EXPECT_EQ(Html("%prevcheckgmt% %prevcheck%"), "Tue, 8 Dec 2026 08:00:00 GMT -");
}

TEST_F(MessageVariablesTest, DurationsCountersAndResponses) {
  Host.Uptime = 90.0L / MinsPerDay;
  Host.Downtime = 3 + 4.0L / 24;
  Host.TestInterval = 1;
  Host.ErrorAfter = 90;
  EXPECT_EQ(Plain("%uptime% %downtime% %frequency% %failtime%"), "00:01:30:00 03:04:00:00 00:00:01:00 00:01:30:00");
  EXPECT_EQ(DurationText(123.5L), "123:12:00:00");
  EXPECT_EQ(DurationText(2.9999999999L), "03:00:00:00");
  EXPECT_EQ(DurationText(-0.5L), "-00:12:00:00");

  // Never tested: no spans since, no share of up time, no responses.
  Host.Uptime = Host.Downtime = 0;
  EXPECT_EQ(Plain("%upfor% %downfor% %uppercent% %avgresponse% %lastresponse%"), "--- --- --- --- ---");
  EXPECT_EQ(Plain("%successes%/%failures%/%warnings%/%btbfailures%"), "0/0/0/0");

  Host.LastSuccess = Now - 2.0 / 24;
  Host.LastFailure = Now - 1 - 30.0 / MinsPerDay;
  Host.Uptime = 199;
  Host.Downtime = 1;
  Host.Successes = 4000000000u;
  Host.Failures = 7;
  Host.Warnings = 2;
  Host.BackToBackFailures = 3;
  Host.TotalResponse = 49400000000LL;  // 12.35 ms each
  EXPECT_EQ(Plain("%downfor% %upfor% %uppercent% %avgresponse% %lastresponse%"),
            "00:02:00:00 01:00:30:00 99.5% 12.3 ---");
  EXPECT_EQ(Plain("%successes%/%failures%/%warnings%/%btbfailures%"), "4000000000/7/2/3");
  Host.Successes = 4;
  Host.TotalResponse = 48;
  Host.ResponseHistory.back() = 17;
  EXPECT_EQ(Plain("%avgresponse% %lastresponse%"), "12 17");

  Host.HTTPTest.LastChange = 0.1235f;
  EXPECT_EQ(Plain("%pctchanged%"), "12.35%");
  Host.HTTPTest.LastChange = 0;
  EXPECT_EQ(Plain("%pctchanged%"), "0%");
}

TEST_F(MessageVariablesTest, ErrorCodeExtraction) {
  Host.LastErrorText = ErrorText(5);
  ASSERT_NE(Host.LastErrorText.find("(0x00000005)"), std::string::npos);
  EXPECT_EQ(Plain("%errcode%"), "0x00000005");
  EXPECT_EQ(Plain("%errid%"), ErrorName(5) + " (0x00000005)");
  EXPECT_EQ(Plain("%error%"), Host.LastErrorText);

  // Without a well-formed code above 0 both give the whole text.
  for (const std::string text : {"Request timed out", "Odd (0x0000000G)", "Zero (0x00000000)",
                                 "Short (0x0005)", "Open (0x00000005", "Case (0X00000005)", ""}) {
    Host.LastErrorText = text;
    EXPECT_EQ(Plain("%errid%|%errcode%"), text + "|" + text) << text;
  }
  // Only the first "(0x" counts.
  Host.LastErrorText = "See (0xZZ) then (0x00000005)";
  EXPECT_EQ(Plain("%errcode%"), Host.LastErrorText);
}

TEST_F(MessageVariablesTest, TestKindsAndTheirParameters) {
  const std::string all = "%addr%|%test%|%port%|%service%|%share%|%url%|%data%";
  EXPECT_EQ(Plain(all), "mail.example|Ping|---|---|---|---|");

  Host.TestKind = TestTCP;
  Host.Port = 25;
  EXPECT_EQ(Plain(all), "mail.example:25|TCP|25|---|---|---|25");

  Host.TestKind = TestService;
  Host.Service = "\"Odd|Name\"|Odd Service";
  EXPECT_EQ(Plain(all), "mail.example/Odd|Name|Service|---|Odd Service|---|---|Odd Service");

  Host.TestKind = TestShare;
  Host.SharePath = "public";
  EXPECT_EQ(Plain(all), "mail.example\\public|Share|---|---|public|---|public");

  Host.TestKind = TestHTTP;
  Host.HTTPTest.URL = "http://mail.example/status";
  EXPECT_EQ(Plain(all), "http://mail.example/status|HTTP|---|---|---|http://mail.example/status|"
                        "http://mail.example/status");

  Context.PluginTests = {{"Disk space", 0}, {"Database", 2}, {"Script", 4}, {"Odd", 9}};
  Host.PluginParam = "param";
  Host.PluginText = "text";
  const std::string plugin = "%test%|%data%";
  const auto kind = [this, &plugin](int number) {
    Host.TestKind = TestPlugin + number;
    return Plain(plugin);
  };
  EXPECT_EQ(kind(0), "Disk space|(None)");
  EXPECT_EQ(kind(1), "Database|param");
  EXPECT_EQ(kind(2), "Script|text");
  EXPECT_EQ(kind(3), "Odd|(Unknown)");
  // A plug-in test that is not loaded: no name, and %data% stays.
  EXPECT_EQ(kind(4), "|%data%");
}

TEST_F(MessageVariablesTest, StatusTextsAndColours) {
  const std::string both = "%status%|%statuscolor%";
  EXPECT_EQ(Html(both), "Online|#000000");
  EXPECT_EQ(Plain(both), "Online|%statuscolor%");
  Host.Status = StatusWarning;
  EXPECT_EQ(Html(both), "Warning|#CFCF00");
  Host.Status = StatusUnknown;
  EXPECT_EQ(Html(both), "Unknown|#0000CF");
  Host.Status = 7;
  EXPECT_EQ(Html(both), "Unknown|");

  // Has been offline is no news while the host is offline.
  Host.HasBeenOffline = true;
  Host.Status = StatusOffline;
  EXPECT_EQ(Html(both), "Offline|#FF0000");
  Host.Status = StatusOnline;
  EXPECT_EQ(Plain("%status%"), "Online (Has been offline)");
  Host.HasBeenOffline = false;

  THost* parent = AddHost("Router", 0x10);
  parent->Status = StatusOffline;
  Host.Parents = "00000010";
  Host.ParentHasBeenOffline = true;
  EXPECT_EQ(Plain("%status%"), "Online (Parent offline)");
  parent->Status = StatusOnline;
  EXPECT_EQ(Plain("%status%"), "Online (Parent has been offline)");

  // Disabled and sleeping come first, whatever the status.
  Host.DisabledUntil = 1.0;
  EXPECT_EQ(Html(both), "Testing disabled|#CFCFCF");
  Host.DisabledUntil = Now + 1 - 5.0 / 24;  // tomorrow 09:05
  EXPECT_EQ(Html(both), "Disabled until Wed 09:05a|#CFCFCF");
  Host.DisabledUntil = Now - 1;
  Host.WindowStart = 22.0 / 24;
  Host.WindowEnd = 6.0 / 24;
  EXPECT_EQ(Html(both), "Sleep until 10:00:00p|#000000");
  // The window's start is a time of day: the next one after a window closed today is
  // tomorrow's.
  Host.WindowStart = 8.0 / 24;
  Host.WindowEnd = 12.0 / 24;
  Context.Use24HourDate = true;
  EXPECT_EQ(Plain("%status%"), "Sleep until Wed 08:00");
  Host.WindowEnd = 15.0 / 24;
  EXPECT_EQ(Plain("%status%"), "Online (Parent has been offline)");
}

TEST_F(MessageVariablesTest, GroupNames) {
  EXPECT_EQ(Plain("%groupname%"), "(None)");
  AddHost(";Servers", 1, 3);
  AddHost("Not a group", 2, 3);
  Host.GroupNumber = 3;
  EXPECT_EQ(Plain("%groupname% #%group%"), "Servers #3");
  AddHost(";Backbone", 4, 3);
  AddHost(";Printers", 5, 4);
  EXPECT_EQ(Plain("%GROUPNAME%"), "Backbone");
  Host.GroupNumber = 9;
  EXPECT_EQ(Plain("%groupname%"), "(None)");
  Context.Hosts = nullptr;
  EXPECT_EQ(Plain("%groupname%|%status%"), "(None)|Online");
}

TEST_F(MessageVariablesTest, HostLogNewestFirstAndLimited) {
  Host.TestKind = TestTCP;
  Host.Port = 25;
  const std::string label = "Mail server (mail.example:25)";
  for (int i = 1; i <= 20; ++i) {
    Log.Append("Dec 8, 14:" + std::to_string(10 + i) + "\t" + label + "\tline " + std::to_string(i) + " <b>\tO");
    Log.Append("Dec 8, 14:00\tOther (other.example)\tnot mine\tI");
  }
  Log.Append("Dec 8, 14:59\tMail server (mail.example)\tport-less label\tI");

  std::string plain;
  std::string html;
  for (int i = 20; i > 5; --i) {
    const std::string time = "Dec 8, 14:" + std::to_string(10 + i);
    const std::string message = "line " + std::to_string(i);
    plain += time + "\t" + label + "\t" + message + " <b>\r\n";
    html += "<tr><td>" + time + "</td><td>" + message + " &lt;b&gt;</td></tr>\r\n";
  }
  EXPECT_EQ(Plain("%log%"), plain);
  EXPECT_EQ(Html("%Log%"), html);

  Host.Port = 0;
  EXPECT_EQ(Plain("[%log%]"), "[Dec 8, 14:59\tMail server (mail.example)\tport-less label\r\n]");
  Host.DisplayName = "Nobody";
  EXPECT_EQ(Plain("[%log%]"), "[]");
  Context.Log = nullptr;
  EXPECT_EQ(Plain("[%log%]"), "[]");
}

TEST_F(MessageVariablesTest, HtmlModeEncodesValues) {
  Host.DisplayName = ";<Core> & \"Edge\"";
  Host.LastErrorText = "a<b";
  EXPECT_EQ(Plain("%displayname% %error%"), "<Core> & \"Edge\" a<b");
  EXPECT_EQ(Html("%displayname% %error%"), "&lt;Core&gt; &amp; \"Edge\" a&lt;b");
  // Text around the variables is the page's own and stays as it is.
  EXPECT_EQ(Html("<td>%host%</td>"), "<td>mail.example</td>");
}

TEST_F(MessageVariablesTest, MenuVariablesAreAllExpanded) {
  int items = 0;
  int varsOnly = 0;
  for (const TVariableMenuItem& item : HostVariables()) {
    const std::string name = item.Name;
    if (name.empty()) continue;
    ++items;
    if (item.InVarsOnly) ++varsOnly;
    EXPECT_NE(std::string(item.Hint), "") << name;
    const bool trace = name == "%lasthost%" || name == "%traceroute%" || name == "%droppedat%";
    EXPECT_EQ(Plain(name) == name, trace) << name;
  }
  EXPECT_EQ(items, 41);
  EXPECT_EQ(varsOnly, 41 - 6 - 3);
  EXPECT_EQ(Plain("%computer%/%username%"), LocalComputerName() + "/" + LocalUserName());
}

TEST(FillTraceVariablesTest, ReplacesInSubjectAndBodyAndEndsTheWait) {
  TEmailInfo entry;
  entry.WaitingForTrace = true;
  entry.Subject = "Down at %DroppedAt%";
  entry.Body = "Last %lasthost%\r\n%traceroute%\r\n%droppedat%";
  FillTraceVariables(entry, "10.0.0.1", "10.0.0.2", "1 10.0.0.1\r\n2 %lasthost%");
  EXPECT_EQ(entry.Subject, "Down at 10.0.0.2");
  // The route is inserted before %lasthost% is replaced, so a route that names it gets it.
  EXPECT_EQ(entry.Body, "Last 10.0.0.1\r\n1 10.0.0.1\r\n2 10.0.0.1\r\n10.0.0.2");
  EXPECT_FALSE(entry.WaitingForTrace);
}

class MessageVariablesMonitorTest : public MonitorFixture {};

TEST_F(MessageVariablesMonitorTest, ContextFollowsTheMonitor) {
  auto monitor = NewMonitor();
  THost* host = monitor->Hosts().Add(std::make_unique<THost>());
  host->DisplayName = "Gateway";
  host->Address = "127.0.0.1";
  monitor->Settings().Use24HourDate = 1;
  monitor->LogEvent(host, "Host Online", TLogCategory::Okay);
  FClock.Advance(60000);

  const TVariableContext context = monitor->VariableContext();
  EXPECT_EQ(context.Now, FClock.Now());
  EXPECT_EQ(context.StartTime, monitor->StartTime());
  EXPECT_EQ(ExpandHostVariables("%now% %log%", *host, false, context),
            "14:06:00 Dec 8, 14:05\tGateway (127.0.0.1)\tHost Online\r\n");
}

}  // namespace
