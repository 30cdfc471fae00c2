#pragma once
// Screenshots need a real X server: a test starts Xvfb on a free display and runs this
// test program again there with a filter naming the child test, which takes the
// pictures (this process already runs offscreen). The child sees ChildFlag set.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <string>

constexpr const char* ScreenshotChildFlag = "CORVALE_SCREENSHOT_CHILD";

struct TXvfbRun {
  std::string SkipReason;   // Xvfb is missing
  std::string Failure;      // it did not start, or the child did not end
  int ExitCode = -1;
  std::string Output;
};

inline TXvfbRun RunOnXvfb(const QString& filter) {
  TXvfbRun run;
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  if (xvfb.isEmpty()) {
    run.SkipReason = "Xvfb is not installed; no screenshot";
    return run;
  }
  // A display number nobody uses: its lock file is missing.
  int display = 94;
  while (display < 200 && QFile::exists(QString("/tmp/.X%1-lock").arg(display))) ++display;
  QProcess server;
  server.start(xvfb, {QString(":%1").arg(display), "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
  if (!server.waitForStarted(5000)) {
    run.Failure = "Xvfb did not start";
    return run;
  }
  // Ready when its socket exists.
  const QString socket = QString("/tmp/.X11-unix/X%1").arg(display);
  for (int i = 0; i < 100 && !QFile::exists(socket); ++i) QThread::msleep(50);
  if (!QFile::exists(socket)) {
    server.terminate();
    server.waitForFinished(5000);
    run.Failure = "Xvfb did not open its socket";
    return run;
  }
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(ScreenshotChildFlag, "1");
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("DISPLAY", QString(":%1").arg(display));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=" + filter});
  const bool finished = child.waitForFinished(120000);
  run.Output = child.readAll().toStdString();
  server.terminate();
  server.waitForFinished(5000);
  if (!finished) run.Failure = "the child did not end";
  run.ExitCode = child.exitCode();
  return run;
}
