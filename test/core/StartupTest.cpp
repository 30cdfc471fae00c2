// Start-up of the monitor in this process: the status trace on disk while the monitor
// runs, the scheduler timer and the testing switch, the echo right.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <unistd.h>

#include <functional>

#include "MonitorFixture.h"
#include "common/QLRegistry.h"
#include "platform/TEchoEngine.h"

namespace {

class StartupTest : public MonitorFixture {
protected:
  // Lets the event loop run until done or, failing that, for at most ms.
  static bool RunUntil(const std::function<bool()>& done, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  }

  std::string UserRegistry() const {
    return testsupport::ReadFileBytes(FRoot.Path() + "/reg/HKEY_CURRENT_USER.reg");
  }

  static bool Traced(TMonitor& m, const std::string& text) {
    for (const std::string& line : m.StatusTrace().Lines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST_F(StartupTest, StatusTraceIsOnDiskWhileRunningAndAfterTheShutdown) {
  auto m = NewMonitor();
  m->Startup();
  // What an unexpected end would leave: the start-up steps, with no shutdown to write them.
  EXPECT_TRUE(RunUntil([&] { return UserRegistry().find("Log status --- Corvale Loaded") != std::string::npos; }));
  EXPECT_NE(UserRegistry().find("[Software\\Quillmoor\\Corvale\\LastStatus]"), std::string::npos);

  m->Shutdown();
  // The closing trace is written before the shutdown returns.
  const std::string stored = UserRegistry();
  EXPECT_NE(stored.find("Log status --- Corvale Shut Down"), std::string::npos);
  const std::string cursor = ReadRegText(m->Registry(), HKEY_CURRENT_USER, "Software\\Quillmoor\\Corvale\\LastStatus", "", "");
  EXPECT_EQ(cursor.size(), 3u);
  EXPECT_EQ(std::stoi(cursor), m->StatusTrace().Cursor());
}

TEST_F(StartupTest, SecondMonitorOnTheDataFolderIsRefusedUntilTheFirstHasGone) {
  auto first = NewMonitor();
  ASSERT_TRUE(first->Startup());
  EXPECT_TRUE(FileExists(DataFolder() + "Corvale.trace"));
  auto second = NewMonitor();
  EXPECT_FALSE(second->Startup());
  EXPECT_EQ(second->StartRefusal(), "Corvale is already running on the data folder " + DataFolder() + " (it holds " +
                                        DataFolder() + "Corvale.lock) and its window does not answer");
  // Refused before it wrote or registered anything.
  EXPECT_EQ(second->Log().Count(), 0u);
  EXPECT_EQ(second->WindowHandle(), 0u);
  second.reset();
  first->Shutdown();
  first.reset();
  auto third = NewMonitor();
  EXPECT_TRUE(third->Startup());
  third->Shutdown();
}

TEST_F(StartupTest, SchedulerRunsOnlyWhileTestingIsOn) {
  auto m = NewMonitor();
  m->SetTestingOn(false);
  m->Startup();
  // Testing off: no scheduler pass, however long the loop runs.
  RunUntil([] { return false; }, 1200);
  EXPECT_FALSE(Traced(*m, "Timer1 Longest Op"));
  m->SetTestingOn(true);
  EXPECT_TRUE(RunUntil([&] { return Traced(*m, "Timer1 Longest Op"); }));
  m->Shutdown();
}

TEST_F(StartupTest, EchoRightIsReportedOnlyWhenMissing) {
  auto m = NewMonitor();
  m->Startup();
  const bool missing = !m->EchoEngine().Valid();
  bool reported = false;
  for (const TLogLine& l : m->Log().Lines())
    if (l.Text.find("\t---\tNo ICMP socket could be opened") != std::string::npos && l.Text.back() == 'E') {
      EXPECT_NE(l.Text.find("setcap cap_net_raw+ep "), std::string::npos);
      EXPECT_NE(l.Text.find("net.ipv4.ping_group_range"), std::string::npos);
      reported = true;
    }
  EXPECT_EQ(reported, missing);
  m->Shutdown();
}

// Start-up changes to the program's folder; a relative name must not depend on it.
TEST(StartOptionsTest, HostsFileArgumentIsResolvedAgainstTheStartFolder) {
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  const TStartOptions parsed = ParseCommandLine({"service", "cfg\\My.CVLH"});
  EXPECT_EQ(parsed.StartFolder, std::string(cwd) + "/");
  EXPECT_EQ(parsed.HostsFilePath(), std::string(cwd) + "/cfg/My.CVLH");
  TStartOptions absolute;
  absolute.HostsFileArg = "/etc/corvale/a.cvlh";
  absolute.StartFolder = "/srv/";
  EXPECT_EQ(absolute.HostsFilePath(), "/etc/corvale/a.cvlh");
  EXPECT_EQ(TStartOptions().HostsFilePath(), "");
}

}  // namespace
