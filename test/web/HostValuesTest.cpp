// What hosts hold goes into the pages as values: never read again as variables or
// sections, encoded for HTML, escaped for JSON; and the values for programs and people
// that the default pages show.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <string>
#include <vector>

#include "common/SystemInfo.h"
#include "common/TextCodec.h"
#include "web/WebFixture.h"

namespace {

class HostValuesTest : public WebFixture {
protected:
  HostValuesTest() {
    for (const char* page : {"status.json", "index.html"})
      std::filesystem::copy_file(std::string(CORVALE_SOURCE_DIR) + "/webserver/" + page, Site.Folder + page,
                                 std::filesystem::copy_options::overwrite_existing);
  }

  TWebRequest Page(const std::string& name, int access = WebAccessView) {
    TWebRequest request = Request();
    request.Client.AccessLevel = access;
    request.Client.Referer = "http://referer.example/";
    request.PeerIsLocal = true;
    const std::size_t dot = name.rfind('.');
    RenderTemplate(request, Site, name.substr(0, dot), name.substr(dot));
    return request;
  }
};

// Names that once made the page read them as template text.
const std::vector<std::string> Hostile = {
    "%log%",         "quote\" and \\",     "CR\r\nLF",           "<cmd0>x</cmd0>",  "<manageauth>m</manageauth>",
    "%computer%",    "%referer%",          "%server%",           "<log>%logtext%</log>", "%statuscode%<error>e</error>",
    "%\x01rows%",    "%\x01log%",          "</starthost>%id%",   "%url%%hostid%",   "<var-x>v</var-x>"};

TEST_F(HostValuesTest, HostNamesAreValuesInEveryMode) {
  for (const std::string& name : Hostile) {
    THost& host = Add(name, "10.0.0.1", StatusOffline);
    host.LastErrorText = name;
    M->LogEvent(&host, "said \"" + name + "\"\r\n", TLogCategory::Warning);
  }
  WritePage("rows.txt", "<starthost>[%displayname%|%error%]<log>(%logtext%)</log>\n</starthost>");
  WritePage("rows.html", "<starthost><td>%displayname%</td><log><i>%logtext%</i></log>\n</starthost>%log%");

  const TWebRequest text = Page("rows.txt");
  ASSERT_EQ(text.Status, "200");
  const TWebRequest html = Page("rows.html");
  ASSERT_EQ(html.Status, "200");
  for (const std::string& name : Hostile) {
    EXPECT_NE(text.Body.find("[" + name + "|" + name + "](said \"" + name + "\"\r\n)"), std::string::npos) << name;
    EXPECT_NE(html.Body.find("<td>" + HtmlEncode(name) + "</td><i>" + HtmlEncode("said \"" + name + "\"\r\n") + "</i>"),
              std::string::npos)
        << name;
  }
  EXPECT_EQ(text.Body.find(LocalComputerName()), std::string::npos);
  EXPECT_EQ(text.Body.find("referer.example"), std::string::npos);
  EXPECT_EQ(html.Body.find("<script"), std::string::npos);

  // The shipped status.json and a log section in a JSON row stay JSON a strict reader takes.
  WritePage("status2.json", "[<starthost>{\"n\":\"%displayname%\",\"log\":\"<log>%logtext%;</log>\"}</starthost>]");
  for (const char* page : {"status.json", "status2.json", "index.html"}) {
    for (const int access : {WebAccessView, WebAccessManage}) {
      const TWebRequest r = Page(page, access);
      ASSERT_EQ(r.Status, "200") << page;
      if (std::string(page).find(".json") == std::string::npos) continue;
      QJsonParseError error{};
      const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(r.Body), &error);
      ASSERT_EQ(error.error, QJsonParseError::NoError) << page << ": " << error.errorString().toStdString() << "\n"
                                                       << r.Body;
      const QJsonArray hosts = document.isArray() ? document.array() : document.object()["hosts"].toArray();
      ASSERT_EQ(hosts.size(), static_cast<int>(Hostile.size())) << page;
      for (int i = 0; i < hosts.size(); ++i) {
        const QJsonObject h = hosts[i].toObject();
        const QString key = h.contains("name") ? "name" : "n";
        EXPECT_EQ(h[key].toString().toLatin1().toStdString(), Hostile[static_cast<std::size_t>(i)]) << page;
      }
    }
  }
}

// Values for programs in status.json, the summary counts, problems first, and "down
// since" with the date when it was not today.
TEST_F(HostValuesTest, ProgramValuesCountsAndProblemsFirst) {
  THost& up = Add("up", "10.0.0.1", StatusOnline);
  up.Uptime = 4;
  up.Downtime = 1;
  up.LastCheck = FClock.Now();
  THost& down = Add("down", "10.0.0.2", StatusOffline);
  down.LastSuccess = FClock.Now() - 3;
  THost& warn = Add("warn", "10.0.0.3", StatusWarning);
  Add("unknown", "10.0.0.4", StatusUnknown);
  (void)warn;
  WritePage("p.txt",
            "%onlinecount%/%warningcount%/%offlinecount%/%unknowncount% "
            "<starthost>%displayname%=%responsems%,%uppercentvalue%,%downsince%;</starthost>");
  TWebRequest r = Request();
  RenderTemplate(r, Site, "p", ".txt");
  ASSERT_EQ(r.Status, "200");
  EXPECT_EQ(r.Body.substr(0, 8), "1/1/1/1 ");
  EXPECT_NE(r.Body.find("up=,80.0,;"), std::string::npos) << r.Body;
  EXPECT_NE(r.Body.find("down=,,05-Dec-2026 "), std::string::npos) << r.Body;

  r = Request({{"problemsfirst", "1"}});
  RenderTemplate(r, Site, "p", ".txt");
  const auto at = [&](const char* name) { return r.Body.find(std::string(name) + "="); };
  EXPECT_LT(at("down"), at("warn"));
  EXPECT_LT(at("warn"), at("unknown"));
  EXPECT_LT(at("unknown"), at("up"));

  const TWebRequest json = Page("status.json");
  const QJsonObject document = QJsonDocument::fromJson(QByteArray::fromStdString(json.Body)).object();
  EXPECT_EQ(document["counts"].toObject()["offline"].toInt(), 1);
  const QJsonObject first = document["hosts"].toArray()[0].toObject();
  EXPECT_EQ(first["upPercentValue"].toDouble(), 80.0);
  EXPECT_TRUE(first["lastResponseMs"].isNull());
  EXPECT_EQ(first["lastCheckTime"].toString().left(19).toStdString(), "2026-12-08T14:05:00");
  EXPECT_TRUE(first["downSinceTime"].isNull());
}

}  // namespace
