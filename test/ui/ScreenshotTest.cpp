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
#include <QListWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>

#include <cmath>
#include <cstdlib>

#include "core/TEventLog.h"
#include "ui/THostInfoPane.h"
#include "ui/TLogListView.h"
#include "ui/TLogView.h"
#include "ui/TPingListView.h"
#include "ui/TfrmCVAlerts.h"
#include "ui/TfrmCVToaster.h"
#include "ui/WindowFixture.h"
#include "ui/XvfbRun.h"

namespace {
const char* const ChildFlag = ScreenshotChildFlag;

QString ScreenshotFolder() {
  const char* build = std::getenv("CORVALE_BUILD_DIR");
  return QString::fromLocal8Bit(build ? build : ".") + "/screenshots/";
}
QString ScreenshotFile() { return ScreenshotFolder() + "main-window.png"; }
// The other pictures of the same run.
const char* const OtherShots[] = {"log-page.png", "test-history.png", "mini-mode.png", "toaster.png",
                                  "alert-window.png"};

bool SaveShot(QWidget& widget, const char* name) {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QImage shot = widget.grab().toImage();
  return !shot.isNull() && shot.save(ScreenshotFolder() + name, "PNG");
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

  // The log page with a selected bar line, the pane's history over several days.
  THost& mail = *M->Hosts().Items(4);
  const TDateTime now = FClock.Now();
  for (int i = 0; i < 40; ++i) {
    const int status = i % 7 == 0 ? StatusOffline : i % 5 == 0 ? StatusWarning : StatusOnline;
    mail.StatusHistory.push_back({now - (40 - i) * 0.09, static_cast<uint8_t>(status), 10 + i});
  }
  M->LogEvent(&mail, "Error State", TLogCategory::Error);
  M->LogEvent(M->Hosts().Items(3), "Warning State", TLogCategory::Warning);
  M->LogEvent(M->Hosts().Items(1), "Okay State", TLogCategory::Okay);
  M->LogEvent(nullptr, "Refresh All Hosts", TLogCategory::Configuration);
  Settle();
  W->SelectHostIndex(3);
  W->SelectHostIndex(4);
  W->pcHostInfo->setCurrentWidget(W->pcHostInfo->lvHistory);
  ASSERT_TRUE(SaveShot(*W, OtherShots[1]));
  W->pcHostInfo->setCurrentIndex(0);
  W->pcCorvale->setCurrentWidget(W->tsLog);
  W->frmLog->lbLog->setCurrentIndex(W->frmLog->lbLog->model()->index(W->frmLog->lbLog->model()->rowCount() - 3, 0));
  ASSERT_TRUE(SaveShot(*W, OtherShots[0]));
  W->pcCorvale->setCurrentWidget(W->tsPing);
  W->qlsbMini->setChecked(true);
  W->qlsbMiniClick(false);
  ASSERT_TRUE(SaveShot(*W, OtherShots[2]));

  TfrmCVToaster toaster("Web site (127.0.0.8@index.html)");
  toaster.show();
  ASSERT_TRUE(SaveShot(toaster, OtherShots[3]));
  TfrmCVAlerts alerts(*M, [](const std::string&, bool) {});
  alerts.AddHost(mail);
  alerts.AddHost(*M->Hosts().Items(12));
  alerts.show();
  ASSERT_TRUE(SaveShot(alerts, OtherShots[4]));
}

TEST(ScreenshotRun, MainWindowOnXvfb) {
  if (std::getenv(ChildFlag)) GTEST_SKIP() << "the child only takes the picture";
  QFile::remove(ScreenshotFile());
  for (const char* name : OtherShots) QFile::remove(ScreenshotFolder() + name);
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
  for (const char* name : OtherShots) EXPECT_FALSE(QImage(ScreenshotFolder() + name).isNull()) << name;
}
