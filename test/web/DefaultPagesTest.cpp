#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "web/WebCommands.h"
#include "web/WebFixture.h"

namespace {

// The page set of the repository, rendered against hosts in every state.
class DefaultPagesTest : public WebFixture {
protected:
  DefaultPagesTest() {
    for (const auto& entry : std::filesystem::directory_iterator(std::string(CORVALE_SOURCE_DIR) + "/webserver"))
      std::filesystem::copy_file(entry.path(), Site.Folder + entry.path().filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
    Add(";Core network", "", 0);
    THost& online = Add("gateway", "10.1.0.1", StatusOnline);
    online.LastCheck = FClock.Now();
    Add("mail", "10.1.0.2", StatusWarning).LastErrorText = "slow answer";
    Add(";Branch", "", 0);
    Offline = &Add("branch-router", "10.2.0.1", StatusOffline);
    Offline->LastErrorText = "Request timed out";
    Add("printer", "10.2.0.9", StatusUnknown);
    Add("archive", "10.2.0.10", StatusOnline).DisabledUntil = 1.0;
    M->LogEvent(Offline, "Host is not responding", TLogCategory::Warning);
    M->LogEvent(nullptr, "Monitoring started", TLogCategory::Program);
  }

  TWebRequest Page(const std::string& name, int access,
                   std::initializer_list<std::pair<std::string, std::string>> params = {}) {
    TWebRequest request = Request(params);
    request.Client.AccessLevel = access;
    request.PeerIsLocal = true;
    const std::size_t dot = name.rfind('.');
    RenderTemplate(request, Site, name.substr(0, dot), name.substr(dot));
    return request;
  }

  // What the engine should have consumed: variables and its own tags.
  static std::vector<std::string> Leftovers(const std::string& body) {
    std::vector<std::string> found;
    static const std::regex leftover(
        R"(%[a-z]+%|</?(starthost|startgroup|endgroup|log|error|cmd\d+|nocmd\d+|auth|manageauth|nomanageauth|alert|vars|defaults)>)",
        std::regex::icase);
    for (std::sregex_iterator it(body.begin(), body.end(), leftover), end; it != end; ++it)
      found.push_back(it->str());
    return found;
  }

  THost* Offline = nullptr;
};

TEST_F(DefaultPagesTest, EveryPageRendersCompletelyForViewersAndManagers) {
  for (const char* name : {"index.html", "mobile.html", "hostinfo.html"})
    for (int access : {WebAccessView, WebAccessManage}) {
      const TWebRequest page = Page(name, access, {{"hostid", Offline->IDText()}});
      SCOPED_TRACE(std::string(name) + " at level " + std::to_string(access));
      ASSERT_EQ(page.Status, "200");
      EXPECT_EQ(page.ContentType, "text/html");
      EXPECT_EQ(Leftovers(page.Body), std::vector<std::string>());
      EXPECT_NE(page.Body.find("http-equiv=\"refresh\" content=\"30\""), std::string::npos);
      EXPECT_NE(page.Body.find("branch-router"), std::string::npos);
      EXPECT_EQ(page.Body.find("http://"), std::string::npos) << "no external resources";
      // The one script is the index page's own few lines ("12 min ago").
      const std::size_t script = page.Body.find("<script");
      if (std::string(name) == "index.html") {
        ASSERT_NE(script, std::string::npos);
        EXPECT_EQ(page.Body.find("<script", script + 1), std::string::npos);
        EXPECT_NE(page.Body.find("document.querySelectorAll(\".since[data-since]\")", script), std::string::npos);
      } else {
        EXPECT_EQ(script, std::string::npos);
      }
    }

  const TWebRequest index = Page("index.html", WebAccessView);
  for (const char* text : {"Core network", "gateway", "mail", "slow answer", "Branch", "printer", "archive",
                           "Request timed out", "Host is not responding", "Monitoring started"})
    EXPECT_NE(index.Body.find(text), std::string::npos) << text;
  EXPECT_EQ(index.Body.find("command?"), std::string::npos) << "manage links only for managers";
  EXPECT_NE(index.Body.find("hostinfo.html?hostid=" + Offline->IDText()), std::string::npos);
  EXPECT_LT(index.Body.find("Core network"), index.Body.find("gateway"));
  EXPECT_LT(index.Body.find("gateway"), index.Body.find("Branch"));

  const TWebRequest managed = Page("index.html", WebAccessManage);
  EXPECT_EQ(managed.Body.find("command?") != std::string::npos,
            CommandOffered(0, Offline, true, 0, M->Settings()) || CommandOffered(2, Offline, true, 0, M->Settings()) ||
                CommandOffered(4, Offline, true, 0, M->Settings()));

  const TWebRequest info = Page("hostinfo.html", WebAccessView, {{"hostid", Offline->IDText()}});
  EXPECT_EQ(info.Body.find("gateway"), std::string::npos) << "one host only";
  EXPECT_NE(info.Body.find("Host is not responding"), std::string::npos) << "with its log";
  EXPECT_EQ(Page("hostinfo.html", WebAccessView).Body.find("gateway"), std::string::npos)
      << "no host without a hostid";

  const TWebRequest offlineOnly = Page("mobile.html", WebAccessView, {{"hoststatus", "2"}});
  EXPECT_EQ(offlineOnly.Body.find("gateway"), std::string::npos);
  EXPECT_NE(offlineOnly.Body.find("branch-router"), std::string::npos);

  std::string message = testsupport::ReadFileBytes(Site.Folder + "message.html");
  TWebRequest request = Request();
  PagePass(message, request, Site, true, false);
  EXPECT_NE(message.find("%title%"), std::string::npos) << "the host actions fill in their answer";
  EXPECT_NE(message.find("<back>"), std::string::npos);
}

// Links that could not work: the remote-desktop template ships beside the program,
// restart and shutdown are offered only where computers can be controlled remotely, the
// up percentage carries one "%", and the pages link to signing in and out.
TEST_F(DefaultPagesTest, EveryLinkOfferedCanWork) {
  std::filesystem::copy_file(std::string(CORVALE_SOURCE_DIR) + "/rdp/default.rdp", FRoot.Path() + "/default.rdp",
                             std::filesystem::copy_options::overwrite_existing);
  TWebRequest rdp = Request();
  rdp.Client.AccessLevel = WebAccessManage;
  RdpRoute(rdp, Site, Offline->IDText());
  ASSERT_EQ(rdp.Status, "200");
  std::string text;
  for (std::size_t i = 2; i + 1 < rdp.Body.size(); i += 2) text += rdp.Body[i];
  EXPECT_NE(text.find("full address:s:10.2.0.1\r\n"), std::string::npos) << text;

  {
    std::unique_lock lock(M->StateLock());
    M->Settings().WebRestarts = true;
    Offline->CurrentIP = "127.0.0.1";
  }
  const auto restartOffered = [&] {
    return Page("hostinfo.html", WebAccessManage, {{"hostid", Offline->IDText()}}).Body.find("command=10") !=
           std::string::npos;
  };
  EXPECT_FALSE(restartOffered()) << "no remote control: no restart link";
  Site.RemoteShutdown = [](const std::string&, const std::string&, const std::string&, const std::string&, bool) {
    return 0;
  };
  if (CommandOffered(10, Offline, true, 0, M->Settings())) {
    EXPECT_TRUE(restartOffered());
  }

  Offline->Uptime = 1;
  const TWebRequest info = Page("hostinfo.html", WebAccessView, {{"hostid", Offline->IDText()}});
  EXPECT_NE(info.Body.find("<dd>100.0%</dd>"), std::string::npos);
  EXPECT_EQ(info.Body.find("% %"), std::string::npos);
  EXPECT_NE(Page("index.html", WebAccessView).Body.find("href=\"managelogin\""), std::string::npos);
  EXPECT_NE(Page("index.html", WebAccessManage).Body.find("href=\"logout?username="), std::string::npos);
}

// Host names no JSON writer of ours may pass on raw; Python's json module is the judge.
TEST_F(DefaultPagesTest, StatusJsonIsValidForAnyHostName) {
  const std::vector<std::string> hostile = {"quote\"d", "back\\slash", std::string("ctl\x01\t\n\r\x1f", 9),
                                            "caf\xe9 \xff\xa0", "</starthost>%id%", "{\"x\":1}"};
  for (const std::string& name : hostile) Add(name, "10.9.9.9", StatusOnline).LastErrorText = name + "\"err";

  const TWebRequest json = Page("status.json", WebAccessView, {{"hostid", "\"}"}});
  ASSERT_EQ(json.Status, "200");
  EXPECT_EQ(json.ContentType, "application/json");
  TWebRequest all = Request({{"statuscode", "x\""}, {"displayname", "\"]"}});
  RenderTemplate(all, Site, "status", ".json");
  ASSERT_EQ(all.Status, "200");

  const std::string file = FRoot.File("status.json");
  std::ofstream(file, std::ios::binary) << all.Body;
  QProcess python;
  python.start("/usr/bin/python3",
               QStringList{"-c",
                           "import json,sys\n"
                           "d=json.load(open(sys.argv[1],encoding='ascii'))\n"
                           "import re\n"
                           "iso=re.compile(r'^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$')\n"
                           "assert iso.match(d['generatedTime']), d['generatedTime']\n"
                           "assert all(type(d['counts'][k]) is int for k in ('online','warning','offline','unknown'))\n"
                           "for h in d['hosts']:\n"
                           "  assert set(h)=={'id','name','address','group','status','statusText','lastCheck',"
                           "'lastSuccess','responseMs','upPercent','error','lastResponseMs','upPercentValue',"
                           "'lastCheckTime','lastSuccessTime','lastFailureTime','downSinceTime'}, h\n"
                           "  assert h['lastResponseMs'] is None or type(h['lastResponseMs']) is int, h\n"
                           "  assert h['upPercentValue'] is None or type(h['upPercentValue']) in (int,float), h\n"
                           "  for k in ('lastCheckTime','lastSuccessTime','lastFailureTime','downSinceTime'):\n"
                           "    assert h[k] is None or iso.match(h[k]), h\n"
                           "  assert h['address']!='10.9.9.9' or '%' in h['name'] or h['error']==h['name']+'\"err', h\n"
                           "  print(h['name'].encode('latin-1').hex(), h['status'], h['group'].encode('latin-1').hex())\n",
                           QString::fromStdString(file)});
  ASSERT_TRUE(python.waitForFinished(60000));
  const std::string out = python.readAllStandardOutput().toStdString();
  ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString() << all.Body;

  std::string expected;
  const auto hex = [](const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (unsigned char c : text) h += std::string{digits[c >> 4], digits[c & 15]};
    return h;
  };
  for (int i = 0; i < M->Hosts().Count(); ++i) {
    const THost& host = *M->Hosts().Items(i);
    if (host.IsGroup()) continue;
    const std::string group = host.GroupNumber == 1 ? "Core network" : "Branch";
    expected += hex(host.DisplayName) + " " + std::to_string(host.Status) + " " + hex(group) + "\n";
  }
  EXPECT_EQ(out, expected);
}

}  // namespace
