// The supervisor as systemd runs it: a real corvale-service starting a real
// "corvale service", with a private registry, data folder, window folder and unit folder.
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "common/QLRegistry.h"
#include "platform/WindowMessages.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

constexpr int StartWaitMs = 30000;

class SupervisorProcessTest : public ::testing::Test {
protected:
  SupervisorProcessTest()
      : FRegistry(FRoot.Path() + "/reg"), FData(FRoot.Path() + "/data"), FRun(FRoot.Path() + "/run"),
        FUnits(FRoot.Path() + "/units"), FEnvReg("CORVALE_REGISTRY_DIR", FRegistry), FEnvData("CORVALE_DATA_DIR", FData),
        FEnvRun("XDG_RUNTIME_DIR", FRun), FEnvUnits("CORVALE_UNIT_DIR", FUnits), FEnvJournal("JOURNAL_STREAM", "") {
    for (const std::string& d : {FRegistry, FData, FRun}) ::mkdir(d.c_str(), 0700);
  }

  ~SupervisorProcessTest() override {
    // Whatever a failed test left running: the supervisor, then any monitor it started.
    if (FSupervisor.state() != QProcess::NotRunning) {
      FSupervisor.kill();
      FSupervisor.waitForFinished(5000);
    }
    for (qint64 pid : FMonitorPids) ::kill(static_cast<pid_t>(pid), SIGKILL);
    for (std::uintptr_t hwnd : FindWindows("TfrmCorvale")) PostMessage(hwnd, 3022, 0, 0);
  }

  void StartSupervisor(const QString& program, int waitDivisor = 1) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (waitDivisor > 1) env.insert("CORVALE_SERVICE_WAIT_DIVISOR", QString::number(waitDivisor));
    FSupervisor.setProcessEnvironment(env);
    FSupervisor.setWorkingDirectory(QString::fromStdString(FRoot.Path()));
    FSupervisor.start(program, {});
    ASSERT_TRUE(FSupervisor.waitForStarted(5000));
  }

  // Reads the supervisor's standard error (its own entries and the monitor's events)
  // until text appears after position from; the position just past it, or npos.
  std::size_t WaitForText(const std::string& text, std::size_t from = 0, int timeoutMs = StartWaitMs) {
    QElapsedTimer t;
    t.start();
    for (;;) {
      FErr += FSupervisor.readAllStandardError().toStdString();
      const std::size_t at = FErr.find(text, from);
      if (at != std::string::npos) return at + text.size();
      if (t.elapsed() > timeoutMs || FSupervisor.state() == QProcess::NotRunning) return std::string::npos;
      FSupervisor.waitForReadyRead(50);
    }
  }

  // The monitor's process id from the supervisor's start entry.
  qint64 MonitorPid() {
    const std::size_t at = WaitForText("Corvale service started; Process handle: ");
    if (at == std::string::npos) return 0;
    const qint64 pid = std::stoll(FErr.substr(at));
    FMonitorPids.push_back(pid);
    return pid;
  }

  static std::uintptr_t WaitForWindow() { return testsupport::WaitForWindow("TfrmCorvale", StartWaitMs); }

  static std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  void Stop() { ::kill(static_cast<pid_t>(FSupervisor.processId()), SIGTERM); }

  std::string Finish() {
    EXPECT_TRUE(FSupervisor.waitForFinished(StartWaitMs));
    FErr += FSupervisor.readAllStandardError().toStdString();
    return FErr;
  }

  static QString Bin(const char* program) { return QString::fromStdString(testsupport::BinDir() + "/" + program); }

  TTempDir FRoot;
  std::string FRegistry, FData, FRun, FUnits;
  TScopedEnv FEnvReg, FEnvData, FEnvRun, FEnvUnits, FEnvJournal;
  QProcess FSupervisor;
  std::string FErr;
  std::vector<qint64> FMonitorPids;
};

TEST_F(SupervisorProcessTest, RestartsAKilledMonitorAndStopsTheAnsweringOneInOrder) {
  StartSupervisor(Bin("corvale-service"));
  const qint64 first = MonitorPid();
  ASSERT_GT(first, 0) << FErr;
  ASSERT_NE(WaitForWindow(), 0u) << FErr;
  // The supervisor looks for the window on its own; give it time to have seen it, or
  // the kill would be of a monitor that never got ready.
  QThread::msleep(500);
  // The event source is registered in the registry stand-in.
  EXPECT_EQ(ReadRegText(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvale Service",
                        "EventMessageFile", ""),
            testsupport::BinDir() + "/corvale-service");

  QElapsedTimer sinceKill;
  ::kill(static_cast<pid_t>(first), SIGKILL);
  sinceKill.start();
  const std::size_t warned = WaitForText("Corvale Service: Warning: Premature closing of Corvale.exe; Exit code: ");
  const qint64 restartMs = sinceKill.elapsed();
  ASSERT_NE(warned, std::string::npos) << FErr;
  // Killed by signal 9; read a moment before the system has the end to tell, still running.
  const std::string code = FErr.substr(warned, 24);
  EXPECT_TRUE(code == "137.  Restarting Corvale" || code == "259.  Restarting Corvale") << code;
  std::printf("the supervisor noticed the killed monitor after %lld ms\n", static_cast<long long>(restartMs));
  // A bound that only a broken watch misses; the pace itself is measured above.
  EXPECT_LT(restartMs, 5000);
  ASSERT_NE(WaitForText("Corvale Loaded (Service)", warned), std::string::npos) << "a second monitor started";
  const std::uintptr_t second = WaitForWindow();
  ASSERT_NE(second, 0u);

  const std::size_t beforeStop = FErr.size();
  Stop();
  const std::string err = Finish();
  EXPECT_EQ(FSupervisor.exitCode(), 0) << err;
  const std::string afterStop = err.substr(beforeStop);
  EXPECT_EQ(Count(afterStop, "Corvale Service: Information: "), 1u) << afterStop;
  EXPECT_EQ(Count(afterStop, "Corvale Service: Information: Stop received; Corvale being shut down"), 1u);
  EXPECT_EQ(Count(afterStop, "Corvale Service: Warning"), 0u) << afterStop;
  EXPECT_NE(afterStop.find("Corvale Shut Down"), std::string::npos) << "the monitor closed in order: " << afterStop;
  EXPECT_EQ(FindWindow("TfrmCorvale"), 0u);
}

TEST_F(SupervisorProcessTest, HungMonitorGetsTheWarningThenIsEnded) {
  // A hundredth of the waits: 250 ms for each close request, 600 ms in all.
  StartSupervisor(Bin("corvale-service"), 100);
  const qint64 pid = MonitorPid();
  ASSERT_GT(pid, 0) << FErr;
  ASSERT_NE(WaitForWindow(), 0u) << FErr;
  ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGSTOP), 0);
  const std::size_t beforeStop = FErr.size();
  Stop();
  const std::string err = Finish();
  const std::string afterStop = err.substr(beforeStop);
  const std::size_t stop = afterStop.find("Information: Stop received; Corvale being shut down");
  const std::size_t warning =
      afterStop.find("Warning: Corvale not responding to shutdown request...attempting another method");
  ASSERT_NE(stop, std::string::npos) << afterStop;
  ASSERT_NE(warning, std::string::npos) << afterStop;
  EXPECT_LT(stop, warning);
  EXPECT_EQ(FSupervisor.exitCode(), 0);
  // Ended: the process is gone (not merely stopped), so its window is too.
  EXPECT_NE(::kill(static_cast<pid_t>(pid), 0), 0);
  EXPECT_EQ(FindWindow("TfrmCorvale"), 0u);
}

TEST_F(SupervisorProcessTest, MissingOrFailingMonitorStopsTheServiceWithAnError) {
  // A copy of the supervisor in a folder of its own, without the monitor beside it.
  const std::string folder = FRoot.Path() + "/bin";
  ::mkdir(folder.c_str(), 0755);
  std::filesystem::copy_file(testsupport::BinDir() + "/corvale-service", folder + "/corvale-service");
  StartSupervisor(QString::fromStdString(folder + "/corvale-service"));
  std::string err = Finish();
  EXPECT_EQ(FSupervisor.exitCode(), 1);
  EXPECT_NE(err.find("Corvale Service: Error: Error launching Corvale.exe: "), std::string::npos) << err;

  // A monitor that ends before it is ever ready is not started over and over.
  testsupport::WriteFileBytes(folder + "/corvale", "#!/bin/sh\nexit 3\n");
  ::chmod((folder + "/corvale").c_str(), 0755);
  FErr.clear();
  StartSupervisor(QString::fromStdString(folder + "/corvale-service"));
  err = Finish();
  EXPECT_EQ(FSupervisor.exitCode(), 1);
  EXPECT_NE(err.find("Error: Corvale.exe ended before its window appeared; Exit code: 3"), std::string::npos) << err;
  EXPECT_EQ(Count(err, "Corvale service started"), 1u);
}

TEST_F(SupervisorProcessTest, UnregistrableEventSourceStopsTheServiceBeforeItStartsAnything) {
  testsupport::WriteFileBytes(FRegistry + "/HKEY_LOCAL_MACHINE.reg", "[Software]\n");
  ::chmod((FRegistry + "/HKEY_LOCAL_MACHINE.reg").c_str(), 0444);
  StartSupervisor(Bin("corvale-service"));
  const std::string err = Finish();
  EXPECT_EQ(FSupervisor.exitCode(), 1);
  EXPECT_NE(err.find("Corvale Service: Service failed on execute: Unable to register application."), std::string::npos)
      << err;
  EXPECT_EQ(err.find("Corvale service started"), std::string::npos) << "no monitor was started";
}

TEST_F(SupervisorProcessTest, InstallWritesUnitAndKeysAndUninstallRemovesThem) {
  auto run = [this](const QStringList& args, std::string& out) {
    QProcess p;
    p.start(Bin("corvale-service"), args);
    EXPECT_TRUE(p.waitForFinished(StartWaitMs));
    out = (p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
    return p.exitCode();
  };
  const std::string key = "System\\CurrentControlSet\\Services\\Corvale";
  const std::string unit = FUnits + "/corvale.service";
  std::string out;

  // Not installed: uninstalling ends at once and says nothing.
  EXPECT_EQ(run({"/UNINSTALL"}, out), 0);
  EXPECT_EQ(out, "");

  EXPECT_EQ(run({"/INSTALL", "/ACCOUNT=root", "/MANUAL"}, out), 0);
  EXPECT_NE(out.find("Service installed successfully"), std::string::npos) << out;
  const std::string text = ReadFileBytes(unit);
  EXPECT_NE(text.find("ExecStart=" + testsupport::BinDir() + "/corvale-service\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nUser=root\n"), std::string::npos);
  EXPECT_EQ(ReadRegText(HKEY_LOCAL_MACHINE, key, "Description", ""),
            "Monitors remote and local services and hosts and issues alerts when they are offline.");
  EXPECT_EQ(ReadRegText(HKEY_LOCAL_MACHINE, key, "ObjectName", ""), "root");
  {
    TQLRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(key, false));
    EXPECT_EQ(reg.ReadInteger("Start"), 3) << "manual";
  }

  // Again as Local System, silently: the unit is replaced.
  EXPECT_EQ(run({"-install", "-silent", "/LOCALSYSTEM"}, out), 0);
  EXPECT_EQ(out.find("successfully"), std::string::npos) << out;
  EXPECT_EQ(ReadFileBytes(unit).find("User="), std::string::npos);
  EXPECT_EQ(ReadRegText(HKEY_LOCAL_MACHINE, key, "ObjectName", ""), "LocalSystem");

  // An account that does not exist is reported, and the installation goes on.
  EXPECT_EQ(run({"/INSTALL", "/SILENT", "/ACCOUNT=no-such-user-corvale"}, out), 0);
  EXPECT_NE(out.find("was not able to open the specified user account"), std::string::npos) << out;

  // The event source registered by a run goes with the service.
  ASSERT_TRUE(WriteRegText(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvale Service",
                           "EventMessageFile", "x"));
  EXPECT_EQ(run({"/UNINSTALL"}, out), 0);
  EXPECT_NE(out.find("Service uninstalled successfully"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, key));
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvale Service"));

  EXPECT_EQ(run({"/INSTALL", "/UNINSTALL"}, out), 2);
}

}  // namespace
