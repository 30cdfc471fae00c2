// The programs as an administrator meets them: real processes with a private registry,
// data folder and window folder.
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/WindowMessages.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

constexpr int StartWaitMs = 20000;

class CorvaleProcessTest : public ::testing::Test {
protected:
  CorvaleProcessTest()
      : FRegistry(FRoot.Path() + "/reg"), FData(FRoot.Path() + "/data"), FRun(FRoot.Path() + "/run"),
        FEnvReg("CORVALE_REGISTRY_DIR", FRegistry), FEnvData("CORVALE_DATA_DIR", FData),
        FEnvRun("XDG_RUNTIME_DIR", FRun) {
    ::mkdir(FRegistry.c_str(), 0700);
    ::mkdir(FData.c_str(), 0700);
    ::mkdir(FRun.c_str(), 0700);
  }

  ~CorvaleProcessTest() override {
    for (QProcess* p : FProcesses) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
      delete p;
    }
  }

  // Starts a program of the build with the test's environment.
  QProcess* Start(const std::string& program, const QStringList& args, bool offscreen = false) {
    auto* p = new QProcess;
    FProcesses.push_back(p);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (offscreen) env.insert("QT_QPA_PLATFORM", "offscreen");
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QString::fromStdString(testsupport::BinDir() + "/" + program), args);
    EXPECT_TRUE(p->waitForStarted(5000)) << program;
    return p;
  }

  static std::uintptr_t WaitForWindow() {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < StartWaitMs) {
      if (const std::uintptr_t h = FindWindow("TfrmCorvale")) return h;
      QThread::msleep(20);
    }
    return 0;
  }

  // corvale-msg's output and exit code.
  std::pair<std::string, int> Msg(const QStringList& args) {
    QProcess* p = Start("corvale-msg", args);
    EXPECT_TRUE(p->waitForFinished(StartWaitMs));
    return {p->readAllStandardOutput().trimmed().toStdString(), p->exitCode()};
  }

  std::string RegistryFile(const char* root) const { return ReadFileBytes(FRegistry + "/" + root + ".reg"); }

  TTempDir FRoot;
  std::string FRegistry, FData, FRun;
  TScopedEnv FEnvReg, FEnvData, FEnvRun;
  std::vector<QProcess*> FProcesses;
};

TEST_F(CorvaleProcessTest, ServiceAnswersShowRefusesSecondCopyAndClosesInOrder) {
  QProcess* first = Start("corvale", {"SERVICE"});
  const std::uintptr_t hwnd = WaitForWindow();
  ASSERT_NE(hwnd, 0u) << "no window of class TfrmCorvale appeared";
  EXPECT_EQ(GetWindowText(hwnd), "Corvale " CORVALE_VERSION_TEXT);

  EXPECT_EQ(Msg({"TfrmCorvale", "3023"}), std::make_pair(std::string("1"), 0));

  // A second copy only makes the first show itself and leaves without touching files.
  const std::string hklmBefore = RegistryFile("HKEY_LOCAL_MACHINE");
  QProcess* second = Start("corvale", {"service"});
  ASSERT_TRUE(second->waitForFinished(StartWaitMs));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(first->state(), QProcess::Running);
  EXPECT_EQ(RegistryFile("HKEY_LOCAL_MACHINE"), hklmBefore);
  EXPECT_EQ(FindWindow("TfrmCorvale"), hwnd);

  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(first->waitForFinished(StartWaitMs));
  EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first->exitCode(), 0);
  EXPECT_EQ(FindWindow("TfrmCorvale"), 0u);

  // What the run left behind: the data folder, the program path for the supervisor and
  // the status trace ending with the shutdown.
  struct stat st {};
  EXPECT_EQ(::stat((FData + "/Quillmoor/Corvale").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_NE(RegistryFile("HKEY_LOCAL_MACHINE").find("\"EXE\"=sz:\"" + testsupport::BinDir() + "/corvale\""),
            std::string::npos);
  const std::string hkcu = RegistryFile("HKEY_CURRENT_USER");
  EXPECT_NE(hkcu.find("[Software\\Quillmoor\\Corvale\\LastStatus]"), std::string::npos);
  EXPECT_NE(hkcu.find("Corvale Shut Down"), std::string::npos);
  EXPECT_NE(hkcu.find("Corvale Loaded (Service) by "), std::string::npos);
}

TEST_F(CorvaleProcessTest, EndOfSessionSignalShutsDownInOrderAndKillLeavesFailure) {
  QProcess* p = Start("corvale", {"service"});
  ASSERT_NE(WaitForWindow(), 0u);
  ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
  ASSERT_TRUE(p->waitForFinished(StartWaitMs));
  EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p->exitCode(), 0);

  QProcess* killed = Start("corvale", {"service"});
  ASSERT_NE(WaitForWindow(), 0u);
  killed->kill();
  ASSERT_TRUE(killed->waitForFinished(StartWaitMs));
  EXPECT_NE(killed->exitStatus() == QProcess::NormalExit && killed->exitCode() == 0, true);
  // The dead copy's window is gone for the next one, which starts normally.
  EXPECT_EQ(FindWindow("TfrmCorvale"), 0u);
  QProcess* next = Start("corvale", {"service"});
  ASSERT_NE(WaitForWindow(), 0u);
  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(next->waitForFinished(StartWaitMs));
  EXPECT_EQ(next->exitCode(), 0);
}

TEST_F(CorvaleProcessTest, DesktopCopyRaisesTheFirstAndEndsOnCloseRequest) {
  QProcess* first = Start("corvale", {"/minimize"}, true);
  ASSERT_NE(WaitForWindow(), 0u);
  QProcess* second = Start("corvale", {}, true);
  ASSERT_TRUE(second->waitForFinished(StartWaitMs));
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(first->state(), QProcess::Running);
  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(first->waitForFinished(StartWaitMs));
  EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first->exitCode(), 0);
}

TEST_F(CorvaleProcessTest, ReadOnlyMachineRegistryStillRunsAndNoDisplayIsRefusedClearly) {
  // A limited user: the machine root cannot be written, so "EXE" is not stored, and the
  // program runs all the same.
  testsupport::WriteFileBytes(FRegistry + "/HKEY_LOCAL_MACHINE.reg", "[Software]\n");
  ::chmod((FRegistry + "/HKEY_LOCAL_MACHINE.reg").c_str(), 0444);
  QProcess* p = Start("corvale", {"service"});
  ASSERT_NE(WaitForWindow(), 0u);
  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(p->waitForFinished(StartWaitMs));
  EXPECT_EQ(p->exitCode(), 0);
  EXPECT_EQ(RegistryFile("HKEY_LOCAL_MACHINE"), "[Software]\n");

  TScopedEnv noDisplay("DISPLAY", "");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
  QProcess* gui = Start("corvale", {});
  ASSERT_TRUE(gui->waitForFinished(StartWaitMs));
  EXPECT_EQ(gui->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(gui->exitCode(), 1);
}

TEST_F(CorvaleProcessTest, RelativeHostsFileIsTheOneInTheFolderTheProgramStartsIn) {
  const std::string folder = FRoot.Path() + "/config";
  ::mkdir(folder.c_str(), 0700);
  testsupport::WriteFileBytes(folder + "/my.cvlh", "\"A\",\"127.0.0.1\"\r\n");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(folder.c_str()), 0);
  QProcess* p = Start("corvale", {"service", "my.cvlh"});
  ASSERT_EQ(::chdir(cwd), 0);
  ASSERT_NE(WaitForWindow(), 0u);
  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(p->waitForFinished(StartWaitMs));
  EXPECT_EQ(p->exitCode(), 0);
  // Loaded and saved where it lies; the data folder got no hosts file of its own.
  EXPECT_TRUE(std::filesystem::exists(folder + "/my.cvlh.bak"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/my.cvlp"));
  EXPECT_FALSE(std::filesystem::exists(FData + "/Quillmoor/Corvale/hosts.cvlh"));
}

}  // namespace
