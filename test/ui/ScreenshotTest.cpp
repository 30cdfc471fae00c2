// The main window with a dozen loopback hosts in every state, photographed on a real X
// server (Xvfb) into build/screenshots/main-window.png. The test starts Xvfb on a free
// display and runs itself again there, since this process already runs offscreen.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTreeView>

#include <cmath>
#include <cstdlib>

#include "ui/TPingListView.h"
#include "ui/WindowFixture.h"
#include "ui/XvfbRun.h"

namespace {
const char* const ChildFlag = ScreenshotChildFlag;

QString ScreenshotFile() {
  const char* build = std::getenv("CORVALE_BUILD_DIR");
  return QString::fromLocal8Bit(build ? build : ".") + "/screenshots/main-window.png";
}

class Screenshot : public WindowFixture {
protected:
  THost& Host(const std::string& name, int n, int status, unsigned ok, unsigned warn, int errors) {
    THost& h = Add(name, "127.0.0." + std::to_string(n), status);
    const TDateTime now = FClock.Now();
    h.Successes = ok;
    h.Warnings = warn;
    h.Errors = errors;
    h.Failures = static_cast<unsigned>(errors) + warn;
    h.LastCheck = now - 20.0 / 86400;
    h.PreviousCheck = now - 80.0 / 86400;
    if (ok) h.LastSuccess = status == StatusOnline ? h.LastCheck : now - 2.0;
    if (errors || warn) h.LastFailure = status == StatusOnline ? now - 3.5 : h.LastCheck;
    for (std::size_t i = 0; i < ResponseHistorySize; ++i)
      h.ResponseHistory[i] = ok ? static_cast<int>(3 + 2 * std::sin(static_cast<double>(i + n))) + n : -1;
    h.TotalResponse = static_cast<long long>(ok) * (3 + n);
    h.Uptime = ok / 1440.0;
    h.Downtime = errors / 1440.0;
    if (status != StatusOnline && status != StatusUnknown) h.LastErrorText = "Request timed out";
    return h;
  }
};
}  // namespace

TEST_F(Screenshot, MainWindowWithHostsInEveryState) {
  if (!std::getenv(ChildFlag)) GTEST_SKIP() << "runs in the child process of MainWindowOnXvfb";
  Add(";Core network", "", 0);
  Host("Gateway", 1, StatusOnline, 1200, 0, 0);
  Host("Core switch", 2, StatusOnline, 900, 40, 12).HasBeenOffline = true;
  Host("DNS server", 3, StatusWarning, 300, 20, 0);
  Host("Mail server", 4, StatusOffline, 400, 10, 80);
  Add(";Branch office", "", 0);
  THost& branch = Host("Branch router", 5, StatusOnline, 700, 5, 3);
  branch.ParentHasBeenOffline = true;
  Host("File server", 6, StatusOffline, 100, 3, 30).ParentsUp = false;
  Host("Printer", 7, StatusUnknown, 0, 0, 0);
  Host("Web site", 8, StatusOnline, 50, 0, 0).DisabledUntil = 1.0;
  THost& night = Host("Backup NAS", 9, StatusOnline, 80, 2, 1);
  night.WindowStart = 22.0 / 24;
  night.WindowEnd = 23.0 / 24;
  Host("Camera", 10, StatusWarning, 60, 30, 0).ParentsUp = false;
  Host("Phone system", 11, StatusOnline, 500, 1, 0);
  Host("Test lab", 12, StatusOffline, 10, 0, 44);
  W->resize(1180, 560);
  W->show();
  W->SelectHostIndex(4);
  Settle();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QImage shot = W->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  QDir().mkpath(QFileInfo(ScreenshotFile()).path());
  ASSERT_TRUE(shot.save(ScreenshotFile(), "PNG"));
}

TEST(ScreenshotRun, MainWindowOnXvfb) {
  if (std::getenv(ChildFlag)) GTEST_SKIP() << "the child only takes the picture";
  QFile::remove(ScreenshotFile());
  const TXvfbRun run = RunOnXvfb("Screenshot.MainWindowWithHostsInEveryState");
  if (!run.SkipReason.empty()) GTEST_SKIP() << run.SkipReason;
  ASSERT_TRUE(run.Failure.empty()) << run.Failure << "\n" << run.Output;
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  const QByteArray output = QByteArray::fromStdString(run.Output);

  const QImage shot(ScreenshotFile());
  ASSERT_FALSE(shot.isNull()) << output.toStdString();
  EXPECT_GE(shot.width(), 1000);
  // An Offline host's text is red: some clearly red pixels must be in the picture.
  int red = 0;
  for (int y = 0; y < shot.height(); y += 2)
    for (int x = 0; x < shot.width(); x += 2) {
      const QColor c = shot.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 60 && c.blue() < 60) ++red;
    }
  EXPECT_GT(red, 20);
}
