// The monitor object in this process: start-up, window messages, partners, shutdown.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/Clock.h"
#include "common/QLRegistry.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "hosttests/TBackgroundTask.h"
#include "platform/TServiceControl.h"
#include "platform/TWindowChannel.h"
#include "support/TestSupport.h"

using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

struct TPosted {
  std::uint32_t Msg;
  std::uintptr_t WParam;
  std::intptr_t LParam;
};

class MonitorTest : public ::testing::Test {
protected:
  MonitorTest()
      : FEnvReg("CORVALE_REGISTRY_DIR", Dir("reg")), FEnvData("CORVALE_DATA_DIR", Dir("data")),
        FEnvRun("XDG_RUNTIME_DIR", Dir("run")), FClock(EncodeDateTime(2026, 12, 8, 14, 5, 0)) {}

  std::string Dir(const char* name) {
    const std::string d = FRoot.Path() + "/" + name;
    ::mkdir(d.c_str(), 0700);
    return d;
  }

  static void RunUntil(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  static bool HasLine(TMonitor& m, const std::string& text, char category) {
    for (const TLogLine& l : m.Log().Lines())
      if (l.Text.find("\t" + text) != std::string::npos && l.Text.back() == category) return true;
    return false;
  }

  TTempDir FRoot;
  TScopedEnv FEnvReg, FEnvData, FEnvRun;
  TManualClock FClock;
  TNoServiceControl FServices;
};

TEST_F(MonitorTest, CloseRequestFromPartnerWindowLogsItsTitleAndShutsDownInOrder) {
  // A partner registered for notices hears of the start and of the end.
  ASSERT_TRUE(WriteRegText(HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale\\NotifyApps", "TPartnerWindow", ""));
  std::vector<TPosted> posted;
  TWindowChannel partner([&](std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
    posted.push_back({msg, w, l});
    return 0;
  });
  ASSERT_TRUE(partner.Register("TPartnerWindow", "Partner App"));

  TStartOptions options;
  options.ServiceMode = true;
  TMonitor monitor(options, FClock, FServices);
  bool finished = false;
  QObject::connect(&monitor, &TMonitor::ShutdownFinished, [&] { finished = true; });
  monitor.Startup();
  EXPECT_EQ(monitor.ExitCode(), 1);
  EXPECT_EQ(monitor.RunState(), rsRunning);
  ASSERT_NE(monitor.WindowHandle(), 0u);
  EXPECT_TRUE(HasLine(monitor, "Corvale Loaded (Service) by ", 'A'));
  EXPECT_TRUE(HasLine(monitor, "Corvale running as a Service; Audio and Popup alerts are disabled.", 'I'));
  EXPECT_EQ(monitor.DataFolder(), FRoot.Path() + "/data/Quillmoor/Corvale/");
  EXPECT_EQ(monitor.HostsFileName(), monitor.DataFolder() + "hosts.cvlh");
  EXPECT_EQ(monitor.SettingsFileName(), monitor.DataFolder() + "hosts.cvlp");

  RunUntil([&] { return !posted.empty(); });
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].Msg, WM_CORVALE_STARTED);
  EXPECT_EQ(posted[0].WParam, monitor.WindowHandle());
  EXPECT_EQ(posted[0].LParam, CorvaleStartedParam);

  // The show request answers 1 and asks the window to show.
  int shows = 0;
  QObject::connect(&monitor, &TMonitor::ShowRequested, [&] { ++shows; });
  std::intptr_t result = 0;
  ASSERT_TRUE(SendMessageTimeout(monitor.WindowHandle(), WM_CORVALE_SHOW, 0, 0, 5000, result));
  EXPECT_EQ(result, 1);
  EXPECT_EQ(shows, 1);

  ASSERT_TRUE(SendMessageTimeout(monitor.WindowHandle(), WM_CORVALE_CLOSE, partner.Handle(), 0, 5000, result));
  EXPECT_TRUE(HasLine(monitor, "Corvale closed by Partner App", 'I'));
  RunUntil([&] { return finished; });
  ASSERT_TRUE(finished);
  EXPECT_EQ(monitor.RunState(), rsClosed);
  EXPECT_EQ(monitor.ExitCode(), 0);
  EXPECT_EQ(monitor.Log().Lines().back().Text, TEventLog::FormatEntry(FClock.Now(), false, "---", "Corvale Shut Down", TLogCategory::Program));
  RunUntil([&] { return posted.size() >= 2; });
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[1].Msg, WM_CORVALE_STOPPED);
  EXPECT_EQ(posted[1].LParam, CorvaleStoppedParam);
  EXPECT_EQ(FindWindow("TfrmCorvale"), 0u);
}

// A worker that stays alive until told to stop, as a test thread would.
class TLingeringTask : public TBackgroundTask {
public:
  TLingeringTask() : TBackgroundTask("Ping lingering") {}
  bool IsAlive() const override { return !Terminated(); }
};

TEST_F(MonitorTest, ShutdownTerminatesRunningTestsAndFreesHosts) {
  TStartOptions options;
  options.ServiceMode = true;
  TMonitor monitor(options, FClock, FServices);
  monitor.Startup();
  auto task = std::make_shared<TLingeringTask>();
  THost* host = monitor.Hosts().Add(monitor.Hosts().NewRecord(FClock.Now()));
  host->RunningTest = task;
  monitor.Running().Add(task->Name(), task);
  monitor.Shutdown();
  EXPECT_TRUE(task->Terminated());
  EXPECT_EQ(monitor.Hosts().Count(), 0);
  EXPECT_TRUE(monitor.RunningTests().empty());
  EXPECT_EQ(monitor.ExitCode(), 0);
  // A second shutdown (the destructor path) changes nothing.
  const std::size_t lines = monitor.Log().Count();
  monitor.Shutdown();
  EXPECT_EQ(monitor.Log().Count(), lines);
}

TEST_F(MonitorTest, ShutdownStopsHostTestsAndRunsALastPass) {
  TStartOptions options;
  options.ServiceMode = true;
  TMonitor monitor(options, FClock, FServices);
  monitor.Startup();
  monitor.SetTestingOn(false);
  // One test is told to end; the other is overdue, which only a last scheduler pass
  // notices.
  auto watched = std::make_shared<TLingeringTask>();
  THost* host = monitor.Hosts().Add(monitor.Hosts().NewRecord(FClock.Now()));
  host->DisplayName = "watched";
  host->RunningTest = watched;
  host->LastCheck = FClock.Now();
  auto overdue = std::make_shared<TLingeringTask>();
  THost* late = monitor.Hosts().Add(monitor.Hosts().NewRecord(FClock.Now()));
  late->DisplayName = "late";
  late->RunningTrace = overdue;
  late->LastCheck = FClock.Now();
  FClock.Advance(6 * 60000.0);

  monitor.Shutdown();
  EXPECT_TRUE(watched->Terminated());
  EXPECT_TRUE(HasLine(monitor, "Trace Thread Forcibly Terminated", 'E'));
  EXPECT_TRUE(overdue->Terminated());
}

TEST_F(MonitorTest, EndOfSessionRestartsTheOwnServiceOnceAndCloses) {
  class TRecordingServices : public TNoServiceControl {
  public:
    int Launch(const std::string&, const std::string& s, const std::vector<std::string>&) override {
      started.push_back(s);
      return 0;
    }
    std::vector<std::string> started;
  } services;
  TStartOptions options;
  options.ServiceMode = true;
  TMonitor monitor(options, FClock, services);
  bool finished = false;
  QObject::connect(&monitor, &TMonitor::ShutdownFinished, [&] { finished = true; });
  monitor.Startup();
  monitor.SetRestartServiceAtExit(true);
  std::intptr_t result = -1;
  ASSERT_TRUE(SendMessageTimeout(monitor.WindowHandle(), winmsg::WM_ENDSESSION, 1, 0, 5000, result));
  EXPECT_EQ(result, 0);
  RunUntil([&] { return finished; });
  EXPECT_TRUE(finished);
  EXPECT_EQ(services.started, std::vector<std::string>{"Corvale"});
  EXPECT_FALSE(monitor.RestartServiceAtExit());
}

}  // namespace
