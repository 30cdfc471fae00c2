#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/THostList.h"
#include "web/WebCommands.h"
#include "web/WebFixture.h"
#include "web/WebSections.h"

namespace {

struct TSectionCase {
  const char* What;
  const char* Page;
  int Step;  // 0 unwrap all, 1 drop all, 2 take out one
  const char* Expected;
  const char* TakenOut;
};

// Nested sections of the same name, tags in any letter case, and a start tag without
// its end tag: it stays and the step ends there.
TEST(WebSections, UnwrapDropAndTakeOutFollowNestingAndStopAtAnUnmatchedStartTag) {
  const TSectionCase cases[] = {
      {"unwrap", "a<x>b</x>c", 0, "abc", ""},
      {"drop", "a<x>b</x>c", 1, "ac", ""},
      {"case ignored", "a<X>b</x>c<x>d</X>", 1, "ac", ""},
      {"nested unwrap", "<x>1<x>2</x>3</x>4", 0, "1234", ""},
      {"nested drop takes the outer", "<x>1<x>2</x>3</x>4", 1, "4", ""},
      {"nested take out", "a<x>1<x>2</x>3</x>b", 2, "ab", "1<x>2</x>3"},
      {"inner end tag belongs to the inner start", "a<x>b<x>c</x>", 1, "a<x>b<x>c</x>", ""},
      {"matched first, unmatched later", "<x>a</x><x>b", 1, "<x>b", ""},
      {"lone start tag", "a<x>b<x>c", 0, "a<x>b<x>c", ""},
      {"stray end tag before", "</x>a<x>b</x>", 0, "</x>ab", ""},
      {"other names untouched", "<xy>a</xy><x>b</x>", 1, "<xy>a</xy>", ""},
      {"unmatched first start stops all", "<x>a</X><x>b<x>c</x>", 0, "a<x>b<x>c</x>", ""},
  };
  for (const auto& c : cases) {
    std::string page = c.Page, taken;
    if (c.Step == 0) UnwrapAllSections(page, "x");
    if (c.Step == 1) DropAllSections(page, "x");
    if (c.Step == 2) {
      EXPECT_TRUE(TakeOutSection(page, "x", taken)) << c.What;
    }
    EXPECT_EQ(page, c.Expected) << c.What;
    EXPECT_EQ(taken, c.TakenOut) << c.What;
  }
  std::string lone = "a<x>b", taken = "keep";
  EXPECT_FALSE(TakeOutSection(lone, "x", taken));
  EXPECT_EQ(taken, "keep");
  EXPECT_EQ(lone, "a<x>b");
}

TEST(WebSections, ConditionalParameterSectionsKeepByParameterAndSkipUnmatchedTags) {
  TWebRequest request;
  request.SetParam("target", "t1");
  request.SetParam("empty", "");
  const std::pair<const char*, const char*> cases[] = {
      {"<var-target>T</var-target><novar-target>N</novar-target>", "T"},
      {"<VAR-Target>T</var-target>|<var-target>U</var-target>", "T|U"},
      {"<var-other>O</var-other><novar-other>N</novar-other>", "N"},
      {"<var-other>O<novar-other>N</novar-other>", "<var-other>ON"},
      {"<var-target><var-other>x</var-other>y</var-target>", "y"},
  };
  for (const auto& [page, expected] : cases) {
    std::string text = page;
    ConditionalSections(text, request);
    EXPECT_EQ(text, expected) << page;
  }
}

TEST(WebSections, JsonEscapeLeavesNoByteThatEndsAStringOrIsNotAscii) {
  EXPECT_EQ(JsonEscape("a\"b\\c"), "a\\\"b\\\\c");
  EXPECT_EQ(JsonEscape(std::string("\n\t\x01\x7f", 4)), "\\u000a\\u0009\\u0001\\u007f");
  EXPECT_EQ(JsonEscape("caf\xe9"), "caf\\u00e9");
  EXPECT_EQ(JsonEscape("plain / text"), "plain / text");
}

class WebTemplateTest : public WebFixture {};

// Six hosts in two groups: the filters, groups, breakevery with filler, host variables
// in both modes and the page variables before the rows.
TEST_F(WebTemplateTest, RowsFollowFiltersGroupsBreaksAndModes) {
  Add(";Servers", "", 0);
  THost& a = Add("alpha", "10.0.0.1", StatusOnline);
  Add("bravo", "10.0.0.2", StatusOffline);
  Add("charlie", "10.0.0.3", StatusOnline);
  Add(";Desks", "", 0);
  THost& d = Add("delta <&>", "10.0.0.4", StatusWarning);
  Add("echo", "10.0.0.5", StatusOnline);
  Add("foxtrot", "10.0.0.6", StatusOnline);

  const std::string groups = "<startgroup>[%displayname%]</startgroup><endgroup>{/%displayname%}</endgroup>";
  struct TCase {
    const char* What;
    std::string Text;
    const char* Extension;
    std::vector<std::pair<std::string, std::string>> Params;
    int GroupFilter;
    std::string Expected;
  };
  const TCase cases[] = {
      {"groups", groups + "<starthost>%displayname%,</starthost>", ".txt", {}, 0,
       "[Servers]alpha,bravo,charlie,{/Servers}[Desks]delta <&>,echo,foxtrot,"},
      {"html encodes host values", "<starthost>%displayname%,</starthost>", ".html", {{"hostid", d.IDText()}}, 0,
       "delta &lt;&amp;&gt;,"},
      {"unknown hostid", "<starthost>%displayname%</starthost>", ".txt", {{"hostid", "zzz"}}, 0, ""},
      {"hoststatus", "<starthost>%displayname%,</starthost>", ".txt", {{"hoststatus", "0"}}, 0,
       "alpha,charlie,echo,foxtrot,"},
      {"group filter with its group row", groups + "<starthost>%displayname%,</starthost>", ".txt", {}, 2,
       "[Desks]delta <&>,echo,foxtrot,"},
      {"breakevery 4 of 6", "<break>|</break><filler>_</filler><starthost>%displayname%.</starthost>", ".txt",
       {{"breakevery", "4"}}, 0, "alpha.bravo.charlie.delta <&>.|echo.foxtrot.__|"},
      {"breakevery not a number", "<break>|</break><starthost>x</starthost>", ".txt", {{"breakevery", "4a"}}, 0,
       "xxxxxx"},
      {"page url inside the block", "<starthost>%url% </starthost>", ".txt", {{"hoststatus", "2"}}, 0,
       "http://monitor.test:8080/index.html?a=1 "},
      {"query named like a host variable", "<starthost>%displayname%;</starthost>", ".txt",
       {{"displayname", "x"}, {"hoststatus", "1"}}, 0, "x;"},
      {"vars with quotes and entities",
       "<vars>a=1;b=\"x;y\";c=a&amp;b;hostid=</vars><vars>a=2</vars>%a%|%b%|%c%|%hostid%", ".txt",
       {{"hostid", "1"}}, 0, "2|x;y|a&b|"},
      {"query values are text in html, quotes too",
       "<a href=\"?t=%target%\">%q%</a>|%hostid%|%user%", ".html",
       {{"target", "\" onclick=\"x"}, {"q", "<script>"}, {"hostid", "<i>'"}}, 0,
       "<a href=\"?t=&quot; onclick=&quot;x\">&lt;script&gt;</a>|&lt;i&gt;&#39;|"},
      {"query values as sent in txt", "%target%|%q%", ".txt", {{"target", "\"<b>"}, {"q", "a&b"}}, 0,
       "\"<b>|a&b"},
      {"defaults do not replace", "<defaults>a=9;b=8</defaults>%a%%b%", ".txt", {{"a", "1"}}, 0, "18"},
      {"vars without end tag stays", "<vars>a=1</vars><vars>b=2 %a%", ".txt", {}, 0, "<vars>b=2 1"},
      {"var- sections", "<var-target>T%target%</var-target><novar-target>N</novar-target>", ".txt",
       {{"target", "t"}}, 0, "Tt"},
      {"novar- sections", "<var-target>T</var-target><novar-target>N</novar-target>", ".txt", {}, 0, "N"},
      {"no host block leaves sound", "%sound%", ".html", {}, 0, "%sound%"},
      {"txt gets no icons", "<starthost>%icon%</starthost>", ".txt", {{"hostid", a.IDText()}}, 0, "%icon%"},
      {"error sections", "<starthost><error>E</error>%displayname%;</starthost>", ".txt", {{"hoststatus", "1"}}, 0,
       "Edelta <&>;"},
  };
  d.LastErrorText = "boom";
  for (const auto& c : cases) {
    WritePage(std::string("page") + c.Extension, c.Text);
    TWebRequest request = Request();
    for (const auto& [name, value] : c.Params) request.SetParam(name, value);
    request.GroupFilter = c.GroupFilter;
    RenderTemplate(request, Site, "page", c.Extension);
    EXPECT_EQ(request.Status, "200") << c.What;
    EXPECT_EQ(request.Body, c.Expected) << c.What;
  }
  EXPECT_EQ(Render("x", ".txt").ContentType, "text/plain");
  EXPECT_EQ(Render("x", ".xml").ContentType, "text/xml");
  EXPECT_EQ(Render("x", ".htm").ContentType, "text/html");
}

TEST_F(WebTemplateTest, IconsSoundAndCommandsPerHost) {
  THost& up = Add("up", "10.0.0.1", StatusOnline);
  THost& down = Add("down", "10.0.0.2", StatusOffline);
  THost& orphan = Add("orphan", "10.0.0.3", StatusWarning);
  THost& off = Add("off", "10.0.0.4", StatusOnline);
  off.DisabledUntil = 1.0;
  THost& back = Add("back", "10.0.0.5", StatusOnline);
  back.HasBeenOffline = true;
  THost& night = Add("night", "10.0.0.6", StatusOnline);
  night.WindowStart = 0;
  night.WindowEnd = 0.25;  // tested from midnight to six; the clock says 14:05
  THost& mailOnly = Add("mail-window", "10.0.0.7", StatusOnline);
  mailOnly.WindowStart = 0;
  mailOnly.WindowEnd = 0.25;
  mailOnly.EmailWindow = true;
  mailOnly.ParentHasBeenOffline = true;
  THost& odd = Add("odd", "10.0.0.8", 7);
  orphan.ParentsUp = false;
  odd.ParentsUp = false;

  const TWebRequest icons = Render("<starthost>%icon%|%smallicon%|%largeicon%\n</starthost>");
  const std::string title = "\" align=\"absmiddle\" title=\"";
  EXPECT_NE(icons.Body.find("<img src=\"hosticon2.jpg" + title + "Online\">|<img src=\"smallicon2.jpg" + title +
                            "Online\">|<img src=\"largeicon2.jpg" + title + "Online\">"),
            std::string::npos)
      << icons.Body;
  EXPECT_NE(icons.Body.find("hosticon0.jpg" + title + "Offline\">"), std::string::npos);
  EXPECT_NE(icons.Body.find("hosticon5.jpg" + title + "Warning\">"), std::string::npos) << "parents down: n + 1";
  EXPECT_NE(icons.Body.find("hosticon14.jpg"), std::string::npos) << "disabled";
  EXPECT_NE(icons.Body.find("hosticon6.jpg"), std::string::npos) << "has been offline";
  const auto iconOf = [&](const THost& host) {
    const TWebRequest one = Render("<starthost>%icon%</starthost>", ".html", {{"hostid", host.IDText()}});
    return one.Body.substr(0, one.Body.find(".jpg"));
  };
  EXPECT_EQ(iconOf(night), "<img src=\"hosticon18");
  EXPECT_EQ(iconOf(mailOnly), "<img src=\"hosticon8") << "the window limits only mail";
  EXPECT_EQ(iconOf(odd), "<img src=\"hosticon17");
  EXPECT_EQ(iconOf(off), "<img src=\"hosticon14");

  WritePage("hosticon2std.gif", "GIF89a");
  WritePage("hosticon2.gif", "GIF89a");
  TWebRequest ie = Request({{"hostid", up.IDText()}});
  ie.Client.IE = true;
  WritePage("page.html", "<starthost>%icon%|%largeicon%</starthost>");
  RenderTemplate(ie, Site, "page", ".html");
  EXPECT_EQ(ie.Body, "<img src=\"hosticon2std.gif\" align=\"absmiddle\" alt=\"Online\">|"
                     "<img src=\"hosticon2.gif\" align=\"absmiddle\" alt=\"Online\">");

  M->Settings().HostDownSound = "down.wav";
  EXPECT_EQ(Render("<starthost></starthost>%sound%").Body,
            "<embed Name=\"alertsnd\" src=\"down.wav\" width=0 height=0 autostart=true repeat=false hidden=true>");
  EXPECT_EQ(Render("<starthost></starthost>%sound%", ".html", {{"nosound", "1"}}).Body, "");
  EXPECT_EQ(Render("<starthost></starthost>%sound%", ".html", {{"hostid", up.IDText()}}).Body, "")
      << "only an offline host listed sounds";
  down.GlobalOfflineSound = false;
  EXPECT_EQ(Render("<starthost></starthost>%sound%").Body, "");

  std::string row, expected;
  for (int c = 0; c < WebCommandCount; ++c) {
    row += "<cmd" + std::to_string(c) + ">+" + std::to_string(c) + "</cmd" + std::to_string(c) + ">";
    row += "<nocmd" + std::to_string(c) + ">-" + std::to_string(c) + "</nocmd" + std::to_string(c) + ">";
    const bool offered = CommandOffered(c, &up, false, 0, M->Settings());
    expected += (offered ? "+" : "-") + std::to_string(c);
  }
  EXPECT_EQ(Render("<starthost>" + row + "</starthost>", ".html", {{"hostid", up.IDText()}}).Body, expected);
}

TEST_F(WebTemplateTest, LogSectionsOfRowsAndPageAndTheStatusWarning) {
  THost& a = Add("alpha", "10.0.0.1", StatusOnline);
  Add("bravo", "10.0.0.2", StatusOnline);
  for (int i = 0; i < 20; ++i) M->LogEvent(&a, "a<" + std::to_string(i), TLogCategory::Warning);
  M->LogEvent(nullptr, "general & more", TLogCategory::Information);

  const TWebRequest rows =
      Render("<starthost>%displayname%:<log>[%logtext%/%logtype%]</log><log>dropped</log>;</starthost>", ".html");
  EXPECT_EQ(rows.Status, "200");
  std::string alphaRows;
  for (int i = 19; i >= 5; --i) alphaRows += "[a&lt;" + std::to_string(i) + "/W]";
  EXPECT_EQ(rows.Body, "alpha:" + alphaRows + ";bravo:;");

  const TWebRequest page = Render("<log>%loghost%|%logtext%\n</log><log>x</log>", ".html");
  std::vector<std::string> lines;
  for (std::size_t at = 0, nl; (nl = page.Body.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(page.Body.substr(at, nl - at));
  ASSERT_GE(lines.size(), 21u);
  EXPECT_LE(lines.size(), 50u);
  EXPECT_EQ(lines[0], "---|general &amp; more");
  EXPECT_EQ(lines[1], "<a href=\"hostinfo.html?hostid=" + a.IDText() + "\">alpha (10.0.0.1)</a>|a&lt;19");

  const TWebRequest table = Render("<table>%log%</table>%LOG%", ".html");
  EXPECT_NE(table.Body.find("<tr><td>"), std::string::npos);
  EXPECT_NE(table.Body.find("</td><td>---</td><td>general &amp; more</td></tr>\r\n"), std::string::npos);
  EXPECT_NE(table.Body.find("%LOG%"), std::string::npos) << "only the exact letter case";

  EXPECT_EQ(Render("<alert>!%alert%</alert>ok").Body, "ok") << "nothing published yet";
  M->PublishStatusWarning();
  EXPECT_EQ(Render("<alert>!%alert%</alert>ok").Body, "!<b>Email servers have not been configured.</b><br>"
                                                      "To send email alerts you must configure outgoing email "
                                                      "servers under Configuration / Email Configuration.ok");
  M->SetTestingOn(false);
  EXPECT_NE(Render("<alert>%alert%</alert>").Body.find("<b>Host testing has been disabled.</b>"), std::string::npos)
      << "published when testing is switched";
}

TEST_F(WebTemplateTest, FailuresAnswerWithTheirStep) {
  TWebRequest request = Request();
  RenderTemplate(request, Site, "missing", ".html");
  EXPECT_EQ(request.Status.substr(0, 4), "500 ");
  EXPECT_NE(request.Status.find("(LoadHTML)"), std::string::npos) << request.Status;
  EXPECT_TRUE(request.Body.empty());
}

}  // namespace
