// A real browser on the default pages: headless chromium loads the index page from the
// web server of a monitor in this process and reads back the document it built.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "support/TestSupport.h"
#include "web/TWebServer.h"
#include "web/WebFixture.h"
#include "web/WebStandardRoutes.h"

namespace {

class BrowserTest : public WebFixture {
protected:
  void SetUp() override {
    Chromium = QStandardPaths::findExecutable("chromium").toStdString();
    if (Chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
  }
  void TearDown() override {
    if (Server) Server->Stop();
    Server.reset();
    // The tests' workers and their queued results end with this monitor, not in the next
    // test's event loop.
    QElapsedTimer bound;
    bound.start();
    while (M && !M->RunningTests().empty() && bound.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  void StartServer() {
    TWebSite site;
    site.Monitor = M.get();
    site.Folder = testsupport::SourceDir() + "/webserver/";
    site.ProgramStart = FClock.Now();
    Server = std::make_unique<TWebServer>(site, StandardWebRoutes());
    ASSERT_TRUE(Server->Start(0)) << Server->StartError();
  }

  // Chromium's output for the page with extra switches; a bounded wait, not a timing test.
  std::string Browse(const std::string& path, const QStringList& switches, std::string& errors) {
    QProcess browser;
    QStringList args{"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--user-data-dir=" + QString::fromStdString(Dir("chromium-profile"))};
    args << switches << QString::fromStdString("http://127.0.0.1:" + std::to_string(Server->Port()) + path);
    browser.start(QString::fromStdString(Chromium), args);
    if (!browser.waitForFinished(120000)) {
      browser.kill();
      browser.waitForFinished();
      errors = "chromium did not finish";
      return {};
    }
    errors = browser.readAllStandardError().toStdString();
    return browser.readAllStandardOutput().toStdString();
  }

  std::string Chromium;
  std::unique_ptr<TWebServer> Server;
};

TEST_F(BrowserTest, IndexPageShowsEveryHostStateInARealBrowser) {
  // Two hosts get their state from real TCP tests: one port that listens, one closed.
  std::uint16_t openPort = 0, closedPort = 0;
  const int listener = testsupport::ListenOnLoopback(openPort, 8);
  ASSERT_GE(listener, 0);
  const int vanished = testsupport::ListenOnLoopback(closedPort, 1);
  ASSERT_GE(vanished, 0);
  ::close(vanished);
  {
    Add(";Servers & <Routers>", "", StatusUnknown);
    THost& web = Add("web <one>", "127.0.0.1", StatusUnknown);
    web.TestKind = TestTCP;
    web.Port = openPort;
    THost& closed = Add("closed port", "127.0.0.1", StatusUnknown);
    closed.TestKind = TestTCP;
    closed.Port = closedPort;
    Add("slow mail", "127.0.0.2", StatusWarning);
    THost& parked = Add("parked box", "127.0.0.3", StatusOnline);
    parked.DisabledUntil = 1.0;
    THost& orphan = Add("behind the router", "127.0.0.4", StatusOffline);
    orphan.ParentsUp = false;
  }
  M->TestHostNow(1);
  M->TestHostNow(2);
  const THost& web = *M->Hosts().Items(1);
  const THost& closed = *M->Hosts().Items(2);
  QElapsedTimer bound;
  bound.start();
  while (bound.elapsed() < 30000 && (web.Status == StatusUnknown || closed.Status == StatusUnknown || web.RunningTest ||
                               closed.RunningTest))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ::close(listener);
  std::string log;
  for (const TLogLine& l : M->Log().Lines()) log += l.Text + "\n";
  ASSERT_EQ(web.Status, StatusOnline) << web.LastErrorText << "\n" << log;
  ASSERT_NE(closed.Status, StatusOnline);
  ASSERT_NE(closed.Status, StatusUnknown);
  ASSERT_FALSE(closed.LastErrorText.empty());
  StartServer();

  std::string errors;
  const std::string dom = Browse("/index.html", {"--dump-dom"}, errors);
  ASSERT_NE(dom.find("</html>"), std::string::npos) << "no document from chromium: " << errors;

  // The text as the browser parsed it: names escaped once, not twice.
  EXPECT_NE(dom.find("Servers &amp; &lt;Routers&gt;"), std::string::npos) << dom;
  EXPECT_NE(dom.find("web &lt;one&gt;"), std::string::npos) << dom;
  EXPECT_EQ(dom.find("&amp;lt;"), std::string::npos) << dom;
  for (const std::string& text : {std::string("closed port"), std::string("slow mail"), std::string("parked box"),
                                  std::string("behind the router"), closed.LastErrorText, std::string("Online"),
                                  std::string("Offline"), std::string("Warning")})
    EXPECT_NE(dom.find(text), std::string::npos) << text << "\n" << dom;

  // Each state has its own generated LED: Online 2, Warning 4, disabled 14, Offline with
  // its parents down 1, and the closed port Offline 0 or, before its failures count up,
  // Warning 4.
  const std::string closedIcon = closed.Status == StatusOffline ? "hosticon0.jpg" : "hosticon4.jpg";
  for (const std::string& icon : {std::string("hosticon2.jpg"), std::string("hosticon4.jpg"),
                                  std::string("hosticon14.jpg"), std::string("hosticon1.jpg"), closedIcon})
    EXPECT_NE(dom.find(icon), std::string::npos) << icon << "\n" << dom;

  // A visitor who is not signed in as a manager gets no manage links.
  EXPECT_EQ(dom.find("command?command="), std::string::npos) << dom;

  const char* buildDir = std::getenv("CORVALE_BUILD_DIR");
  const std::string shot = std::string(buildDir ? buildDir : ".") + "/browser-index.png";
  std::filesystem::remove(shot);
  Browse("/index.html", {"--screenshot=" + QString::fromStdString(shot), "--window-size=1000,700",
                         "--hide-scrollbars"},
         errors);
  ASSERT_TRUE(std::filesystem::exists(shot)) << errors;
  const std::string png = testsupport::ReadFileBytes(shot);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

}  // namespace
