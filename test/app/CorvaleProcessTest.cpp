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
#include <functional>
#include <sstream>
#include <string>

#include "common/FileUtils.h"

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

  static std::uintptr_t WaitForWindow() { return testsupport::WaitForWindow("TfrmCorvale", StartWaitMs); }

  // corvale-msg's output and exit code.
  std::pair<std::string, int> Msg(const QStringList& args) {
    QProcess* p = Start("corvale-msg", args);
    EXPECT_TRUE(p->waitForFinished(StartWaitMs));
    return {p->readAllStandardOutput().trimmed().toStdString(), p->exitCode()};
  }

  // Starts a program (of the build, or one found on the path) with the test's
  // environment as `change` leaves it; its standard error is kept for the test.
  QProcess* StartWith(const QString& program, const QStringList& args,
                      const std::function<void(QProcessEnvironment&)>& change) {
    auto* p = new QProcess;
    FProcesses.push_back(p);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    change(env);
    p->setProcessEnvironment(env);
    p->start(program, args);
    EXPECT_TRUE(p->waitForStarted(5000)) << program.toStdString();
    return p;
  }
  static QString Bin(const char* program) { return QString::fromStdString(testsupport::BinDir() + "/" + program); }

  std::string RegistryFile(const char* root) const { return ReadFileBytes(FRegistry + "/" + root + ".reg"); }
  // The registry file without the status trace, which a running copy writes in the
  // background at any moment.
  std::string RegistryWithoutTrace(const char* root) const {
    std::istringstream lines(RegistryFile(root));
    std::string kept, line;
    bool inTrace = false;
    while (std::getline(lines, line)) {
      if (!line.empty() && line[0] == '[') inTrace = line.find("\\LastStatus]") != std::string::npos;
      if (!inTrace) kept += line + "\n";
    }
    return kept;
  }

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

TEST_F(CorvaleProcessTest, SecondCopyOnTheSameDataFolderIsRefusedEvenWhenTheWindowsCannotMeet) {
  QProcess* first = Start("corvale", {"service"});
  ASSERT_NE(WaitForWindow(), 0u);
  // The window answers once start-up, with its registry writes, is over.
  EXPECT_EQ(Msg({"TfrmCorvale", "3023"}), std::make_pair(std::string("1"), 0));
  const std::string hklmBefore = RegistryWithoutTrace("HKEY_LOCAL_MACHINE");
  const std::string hkcuBefore = RegistryWithoutTrace("HKEY_CURRENT_USER");

  // Another window folder: the second copy cannot find the first's window.
  const std::string otherRun = FRoot.Path() + "/run2";
  ::mkdir(otherRun.c_str(), 0700);
  QProcess* second = StartWith(Bin("corvale"), {"service"}, [&](QProcessEnvironment& env) {
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(otherRun));
  });
  ASSERT_TRUE(second->waitForFinished(StartWaitMs));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 1);
  const std::string said = second->readAllStandardError().toStdString();
  EXPECT_NE(said.find("Corvale is already running on the data folder " + FData + "/Quillmoor/Corvale/"),
            std::string::npos)
      << said;
  EXPECT_EQ(first->state(), QProcess::Running);
  EXPECT_EQ(RegistryWithoutTrace("HKEY_LOCAL_MACHINE"), hklmBefore);
  EXPECT_EQ(RegistryWithoutTrace("HKEY_CURRENT_USER"), hkcuBefore);
  // The trace holds the first copy's start only: the second never started a monitor.
  const std::string trace = RegistryFile("HKEY_CURRENT_USER");
  EXPECT_EQ(trace.find("Corvale Loaded"), trace.rfind("Corvale Loaded")) << trace;

  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(first->waitForFinished(StartWaitMs));
  EXPECT_EQ(first->exitCode(), 0);
  // The lock goes with the copy that held it.
  QProcess* third = StartWith(Bin("corvale"), {"service"}, [&](QProcessEnvironment& env) {
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(otherRun));
  });
  TScopedEnv otherWindows("XDG_RUNTIME_DIR", otherRun);
  ASSERT_NE(WaitForWindow(), 0u);
  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(third->waitForFinished(StartWaitMs));
  EXPECT_EQ(third->exitCode(), 0);
}

TEST_F(CorvaleProcessTest, WindowFolderTakenByAnotherUserNeitherHidesTheWindowNorLetsASecondCopyIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user and to mount a private /tmp";
  // The run happens in a mount namespace with a /tmp of its own, where the user nobody
  // has made the folder under /tmp that a fixed name would use, open to all. The build
  // may lie under /tmp itself: the new /tmp is prepared beside it with the programs
  // bound in and the home and data folders made, and only then moved over /tmp.
  TTempDir outside;
  const std::string fresh = outside.Path() + "/tmp";
  ::mkdir(fresh.c_str(), 0700);
  const char* script = R"sh(
B="$1"; N="$2"
mount -t tmpfs -o mode=1777,size=4m corvale-tmp "$N" || exit 90
mkdir -m 0755 "$N/bin" && mkdir -m 0700 "$N/home" "$N/data" || exit 90
mount --bind "$B" "$N/bin" && mount --move "$N" /tmp || exit 90
setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "umask 0; mkdir -m 0777 /tmp/corvale-$(id -u) /tmp/corvale-$(id -u)/windows" || exit 91
B=/tmp/bin
timeout -s KILL 40 "$B/corvale" service 2>/dev/null & first=$!
i=0
until [ "$("$B/corvale-msg" TfrmCorvale 3023 2>/dev/null)" = 1 ]; do
  i=$((i+1)); [ $i -ge 150 ] && break; sleep 0.1
done
echo "show=$("$B/corvale-msg" TfrmCorvale 3023 2>/dev/null)"
timeout -s KILL 20 "$B/corvale" service 2>/dev/null; echo "second=$?"
"$B/corvale-msg" TfrmCorvale 3022 >/dev/null 2>&1
wait $first; echo "first=$?"
echo "windows=$(stat -c %a /tmp/home/.cache/corvale/windows)"
)sh";
  QProcess* run = StartWith("unshare", {"-m", "--propagation", "private", "sh", "-c", script, "sh",
                                        QString::fromStdString(testsupport::BinDir()), QString::fromStdString(fresh)},
                            [&](QProcessEnvironment& env) {
                              env.remove("XDG_RUNTIME_DIR");
                              env.insert("TMPDIR", "/tmp");
                              env.insert("HOME", "/tmp/home");
                              env.insert("CORVALE_REGISTRY_DIR", "/tmp/data");
                              env.insert("CORVALE_DATA_DIR", "/tmp/data");
                            });
  ASSERT_TRUE(run->waitForFinished(90000));
  if (run->exitCode() == 90 || run->exitCode() == 91)
    GTEST_SKIP() << "no private /tmp or no second user here: " << run->readAllStandardError().toStdString();
  // The window folder falls back to the user's own, closed to others.
  EXPECT_EQ(run->readAllStandardOutput().toStdString(), "show=1\nsecond=0\nfirst=0\nwindows=700\n");
}

TEST_F(CorvaleProcessTest, HeadlessCopyTellsEveryEventOnStandardErrorAndAFailedSaveInItsExitCode) {
  // The data folder cannot be written: as root only a read-only mount says so.
  const std::string folder = FData + "/Quillmoor/Corvale";
  ASSERT_TRUE(ForceDirectories(folder));
  QProcess* p;
  if (::geteuid() == 0) {
    p = StartWith("unshare",
                  {"-m", "--propagation", "private", "sh", "-c",
                   R"sh(mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" || exit 90; exec "$2" service)sh", "sh",
                   QString::fromStdString(folder), Bin("corvale")},
                  [](QProcessEnvironment&) {});
  } else {
    ::chmod(folder.c_str(), 0555);
    p = StartWith(Bin("corvale"), {"service"}, [](QProcessEnvironment&) {});
  }
  ASSERT_NE(WaitForWindow(), 0u) << p->readAllStandardError().toStdString();
  EXPECT_EQ(Msg({"TfrmCorvale", "3022"}).second, 0);
  ASSERT_TRUE(p->waitForFinished(StartWaitMs));
  ::chmod(folder.c_str(), 0700);
  EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p->exitCode(), 2);

  const QStringList lines = QString::fromLatin1(p->readAllStandardError()).split('\n', Qt::SkipEmptyParts);
  const auto event = [&](const QString& message, char category) {
    for (const QString& line : lines) {
      const QStringList fields = line.split('\t');
      if (fields.size() == 4 && fields[2].startsWith(message) && fields[3] == QString(QChar(category))) return true;
    }
    return false;
  };
  EXPECT_TRUE(event("Corvale Loaded (Service) by ", 'A')) << lines.join('\n').toStdString();
  EXPECT_TRUE(event("Unable to save the configuration file " + QString::fromStdString(folder) + "/hosts.cvlh", 'E'));
  EXPECT_TRUE(event("Corvale Shut Down", 'A'));
  EXPECT_TRUE(lines.join('\n').contains("unable to save the log file"));
}

}  // namespace
