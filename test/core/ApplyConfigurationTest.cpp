// The configuration dialog's OK as the monitor sees it: the edited list takes the place
// of the host list, busy old records wait among the retired hosts, and the hosts file
// and the log tell of the change. Also the login start-up entry the monitor reads at
// start-up and writes for the dialog.
#include <QCoreApplication>
#include <QObject>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/SystemInfo.h"
#include "core/HostAddress.h"
#include "core/SchedulerFixture.h"
#include "core/THostsFile.h"
#include "platform/LoginStartup.h"

namespace {

class ApplyConfigurationTest : public SchedulerFixture {
protected:
  std::unique_ptr<THost> Record(const std::string& name, const std::string& address = "127.0.0.1") {
    auto record = M.Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = address;
    return record;
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& record : M.Hosts().Records()) names.push_back(record->DisplayName);
    return names;
  }

  static char CategoryOf(TMonitor& m, const std::string& text) {
    for (const TLogLine& l : m.Log().Lines())
      if (l.Text.find("\t" + text) != std::string::npos) return l.Text.back();
    return 0;
  }
};

// One OK walked through: a group row, a host whose test is still running when the list
// is replaced, a new host without a baseline, a dependant; then the late result.
TEST_F(ApplyConfigurationTest, WorkingListReplacesTheHostListAndALateResultIsDropped) {
  ASSERT_TRUE(M.Startup());
  M.SetTestingOn(false);  // only the test started below runs
  THost& pinged = Add("Pinged");
  Add("Dropped");
  M.TestHost(IndexOf(pinged));
  ASSERT_TRUE(pinged.RunningTest);
  const int32_t pingedID = pinged.ID;

  int rebuilt = 0, hookCount = -1;
  QObject receiver;
  QObject::connect(&M, &TMonitor::HostListRebuilt, &receiver, [&] { ++rebuilt; });
  M.AddConfigurationChangedHook([&](const std::string&, int count) { hookCount = count; });

  THostList::TRecords working;
  // Before any group: group 0. Its flag is wrong until the list computes it (what the
  // address is depends on this computer's interfaces).
  const bool topLocal = OnLocalSubnet("192.0.2.7");
  working.push_back(Record("Top", "192.0.2.7"));
  working.back()->LocalSubnet = !topLocal;
  working.push_back(Record(";Servers"));
  // A plain copy still holds the running test; the list must not take it over.
  working.push_back(std::make_unique<THost>(pinged));
  auto fresh = Record("Fresh");
  fresh->BaselineTime = 0;
  fresh->Parents = HostIDText(pingedID);
  working.push_back(std::move(fresh));
  working.push_back(Record(";Others"));
  working.push_back(Record("Last"));
  working.push_back(nullptr);  // a hole in the list is skipped, not dereferenced
  ASSERT_TRUE(M.ApplyConfiguration(std::move(working)));

  EXPECT_EQ(Names(), (std::vector<std::string>{"Top", ";Servers", "Pinged", "Fresh", ";Others", "Last"}));
  std::vector<int32_t> groups;
  for (const auto& record : M.Hosts().Records()) groups.push_back(record->GroupNumber);
  EXPECT_EQ(groups, (std::vector<int32_t>{0, 1, 1, 1, 2, 2}));
  THost& copy = *M.Hosts().Items(2);
  EXPECT_EQ(copy.ID, pingedID);
  EXPECT_FALSE(copy.RunningTest);
  EXPECT_EQ(M.Hosts().Items(3)->BaselineTime, FClock.Now());
  EXPECT_EQ(M.Hosts().Items(3)->Ancestors, HostIDText(pingedID));
  EXPECT_TRUE(copy.LocalSubnet);
  EXPECT_EQ(M.Hosts().Items(0)->LocalSubnet, topLocal);
  EXPECT_EQ(M.Hosts().RetiredCount(), 1) << "the pinged record waits for its test; the other is freed";
  EXPECT_EQ(rebuilt, 1);
  EXPECT_EQ(hookCount, 6);
  EXPECT_EQ(CategoryOf(M, LocalUserName() + " modified configuration file"), 'C');

  // The test's end finds the new record, which did not start it: no result lands on it,
  // and the retired record is released.
  ASSERT_TRUE(RunUntil([&] { return M.Hosts().RetiredCount() == 0; }));
  EXPECT_EQ(copy.Successes + copy.Failures, 0);
  EXPECT_EQ(copy.LastSuccess, 0);

  // The saved file is the list applied.
  THostList loaded;
  THostsLoadOptions options;
  options.LocalSubnet = [](const std::string&) { return false; };
  ASSERT_TRUE(LoadHosts(M.HostsFileName(), loaded, options));
  ASSERT_EQ(loaded.Count(), M.Hosts().Count());
  for (int i = 0; i < loaded.Count(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(loaded.Items(i)->DisplayName, M.Hosts().Items(i)->DisplayName);
    EXPECT_EQ(loaded.Items(i)->GroupNumber, M.Hosts().Items(i)->GroupNumber);
    if (!loaded.Items(i)->IsGroup()) {
      EXPECT_EQ(loaded.Items(i)->ID, M.Hosts().Items(i)->ID);
    }
    EXPECT_EQ(loaded.Items(i)->Parents, M.Hosts().Items(i)->Parents);
  }
  M.Shutdown();
}

// Two records of the working list with one ID would share every result; the second gets
// a new one. A hosts file that cannot be written: false, an error, the list stands.
TEST_F(ApplyConfigurationTest, DuplicateIDsAreRenewedAndAnUnwritableFileIsReported) {
  ASSERT_TRUE(M.Startup());
  M.SetTestingOn(false);
  THostList::TRecords first;
  first.push_back(Record("One"));
  auto twin = Record("Twin");
  twin->ID = first[0]->ID;
  first.push_back(std::move(twin));
  ASSERT_TRUE(M.ApplyConfiguration(std::move(first)));
  EXPECT_NE(M.Hosts().Items(0)->ID, M.Hosts().Items(1)->ID);
  EXPECT_EQ(CategoryOf(M, "The host ID of \"Twin\" was taken by another host and was renewed"), 'W');

  ASSERT_EQ(::chmod(M.HostsFileName().c_str(), 0444), 0);
  THostList::TRecords second;
  second.push_back(Record("Only"));
  const std::size_t before = M.Log().Count();
  EXPECT_FALSE(M.ApplyConfiguration(std::move(second)));
  EXPECT_EQ(Names(), std::vector<std::string>{"Only"});
  EXPECT_EQ(CategoryOf(M, "Unable to save the configuration file " + M.HostsFileName()), 'E');
  bool modifiedAfter = false;
  for (std::size_t i = before; i < M.Log().Count(); ++i)
    modifiedAfter |= M.Log().Lines()[i].Text.find("modified configuration file") != std::string::npos;
  EXPECT_TRUE(modifiedAfter);
  ::chmod(M.HostsFileName().c_str(), 0644);
  M.Shutdown();
}

// The login start-up entry: read at start-up (this program, minimized; another program),
// written and removed for the dialog, left alone on request; a failure is an error line.
TEST_F(ApplyConfigurationTest, LoginStartupEntryIsReadAtStartupAndMaintained) {
  testsupport::TTempDir config;
  testsupport::TScopedEnv env("XDG_CONFIG_HOME", config.Path());
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  std::string error;
  ASSERT_TRUE(WriteLoginStartup("\"" + program + "\" /minimize", error)) << error;
  ASSERT_TRUE(M.Startup());
  EXPECT_TRUE(M.LoadAtLogin());
  EXPECT_TRUE(M.LoadMinimized());
  EXPECT_FALSE(M.OtherProgramAtLogin());

  M.SetLoginStartup(1, false);
  EXPECT_EQ(ReadLoginStartup(), "\"" + program + "\"");
  EXPECT_FALSE(M.LoadMinimized());
  M.SetLoginStartup(2, true);  // the grey state
  EXPECT_EQ(ReadLoginStartup(), "\"" + program + "\"");
  M.SetLoginStartup(0, false);
  EXPECT_FALSE(FileExists(LoginStartupFileName()));
  EXPECT_FALSE(M.LoadAtLogin());

  // The autostart folder cannot be made below a file.
  testsupport::TScopedEnv blocked("XDG_CONFIG_HOME", config.File("file"));
  testsupport::WriteFileBytes(config.File("file"), "x");
  M.SetLoginStartup(1, true);
  EXPECT_FALSE(M.LoadAtLogin());
  EXPECT_EQ(CategoryOf(M, "Unable to write the login start-up entry: "), 'E');
  M.Shutdown();
}

TEST_F(ApplyConfigurationTest, AnotherProgramsEntryIsToldApartAndReplacedOnlyWhenTicked) {
  testsupport::TTempDir config;
  testsupport::TScopedEnv env("XDG_CONFIG_HOME", config.Path());
  std::string error;
  ASSERT_TRUE(WriteLoginStartup("\"/opt/other/bin/corvale\" /minimize", error)) << error;
  ASSERT_TRUE(M.Startup());
  EXPECT_FALSE(M.LoadAtLogin());
  EXPECT_TRUE(M.OtherProgramAtLogin());
  M.SetLoginStartup(2, false);
  EXPECT_EQ(ReadLoginStartup(), "\"/opt/other/bin/corvale\" /minimize");
  M.SetLoginStartup(1, false);
  EXPECT_TRUE(M.LoadAtLogin());
  EXPECT_FALSE(M.OtherProgramAtLogin());
  EXPECT_EQ(ReadLoginStartup(), "\"" + M.ProgramPath() + "\"");
  M.Shutdown();
}

}  // namespace
