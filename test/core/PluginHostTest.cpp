// Plug-ins loaded by a started monitor from CORVALE_PLUGIN_DIR, their tests run in the
// plug-ins' test processes, and how every kind of answer (and misbehaviour) reaches the
// host.
#include <QCoreApplication>

#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "core/TPluginHost.h"
#include "hosttests/TBackgroundTask.h"
#include "hosttests/TPluginRunner.h"
#include "hosttests/TTestKinds.h"
#include "PluginFixture.h"

using PluginHostTest = PluginFixture;


TEST_F(PluginHostTest, PluginsLoadInFileOrderAndOneWithoutPerformTestIsDropped) {
  Start();
  const TTestKinds& kinds = TTestKinds::Standard();
  ASSERT_EQ(kinds.PluginCount(), 4);
  const char* names[] = {"Alpha 1", "Alpha 2", "Beta 1", "Beta 2"};
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(kinds.Find(PluginKind(i)));
    EXPECT_EQ(kinds.Find(PluginKind(i))->Name, names[i]);
  }
  EXPECT_EQ(kinds.FindIdentifier("Beta1")->Kind, TestPlugin + 2);  // kind 7
  ASSERT_EQ(M->Plugins().Plugins().size(), 2u);
  EXPECT_EQ(M->Plugins().Plugins()[1]->Index, 1);
  EXPECT_TRUE(HasLine(*M, "Plug-in loaded: Alpha by Test Tests: Alpha 1, Alpha 2", 'P'));
  EXPECT_TRUE(HasLine(*M, "Plug-in loaded: Beta by Test Tests: Beta 1, Beta 2", 'P'));
  EXPECT_TRUE(HasLine(*M, "Plug-in not loaded: c_noperform.so: it has no GetTestInfo or no PerformTest", 'P'));
  // The message variables name the plug-in test.
  THost& host = AddPluginHost("Var", TestPlugin + 3, "p");
  EXPECT_EQ(ExpandHostVariables("%test% %data%", host, false, M->VariableContext()), "Beta 2 p");
}

// Every answer a plug-in test can give, and what it leaves on the host.
TEST_F(PluginHostTest, EachAnswerOfPerformTestReachesTheHost) {
  Start();
  struct TCase {
    const char* Parameter;
    int Status;
    const char* LastError;  // how the note ends
    const char* Logged;     // a log line with its category, or none
    char Category;
  };
  const TCase cases[] = {
      {"ok", StatusOnline, "", nullptr, 0},
      {"fail", StatusWarning, "it failed", nullptr, 0},  // one failure is within the error-after time
      {"fatal", StatusOffline, "gone for good", nullptr, 0},
      {"throw", StatusOffline, "Fatal error in plugin: boom", nullptr, 0},
      {"noresult", StatusOnline, "nothing to say", "nothing to say", 'I'},
      {"garbage", StatusOnline, "Plugin returned an unknown result: 77 (" , nullptr, 0},
      {"log", StatusOnline, "", "[Alpha] hello from a test", 'W'},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Parameter);
    THost& host = AddPluginHost(std::string("Host ") + c.Parameter, TestPlugin, c.Parameter);
    ASSERT_TRUE(Run(host));
    EXPECT_EQ(host.Status, c.Status) << host.LastErrorText;
    EXPECT_NE(host.LastErrorText.find(c.LastError), std::string::npos) << host.LastErrorText;
    if (c.Logged) {
      EXPECT_TRUE(HasLine(*M, c.Logged, c.Category));
    }
  }
  // The returned address is the host's current one; the message buffer's missing zero
  // cut the text at 255 bytes.
  THost& ok = AddPluginHost("Address", TestPlugin, "ok");
  ASSERT_TRUE(Run(ok));
  EXPECT_EQ(ok.CurrentIP, "192.0.2.7");
  EXPECT_EQ(ok.Successes, 1u);
  const THost& garbage = *M->Hosts().Items(M->Hosts().FindByID(ok.ID) - 2);
  EXPECT_NE(garbage.LastErrorText.find(std::string(255, 'x') + ")"), std::string::npos);
  // No message but an error code: the code's text.
  THost& code = AddPluginHost("Code", TestPlugin, "code");
  ASSERT_TRUE(Run(code));
  EXPECT_NE(code.LastErrorText.find(ErrorText(10061)), std::string::npos);
  // The host information callback from the test process.
  THost& info = AddPluginHost("Info", TestPlugin + 1, "info");
  ASSERT_TRUE(Run(info));
  EXPECT_EQ(info.Successes, 1u);
}

TEST_F(PluginHostTest, APluginThatCrashesIsUnloadedAndTheOthersGoOn) {
  Start();
  THost& crash = AddPluginHost("Crash", TestPlugin + 1, "crash");
  ASSERT_TRUE(Run(crash));
  EXPECT_EQ(crash.Status, StatusOffline);
  EXPECT_NE(crash.LastErrorText.find("Fatal error in plugin: the test process ended with signal 11"),
            std::string::npos)
      << crash.LastErrorText;
  for (int i = 0; i < 50 && !M->Plugins().Plugins()[0]->Failed.load(); ++i)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_TRUE(M->Plugins().Plugins()[0]->Failed.load());
  bool logged = false;
  for (const TLogLine& l : M->Log().Lines()) logged = logged || l.Text.find("Plug-in unloaded: Alpha") != std::string::npos;
  EXPECT_TRUE(logged);
  // Its other hosts report the error at once; the other plug-in is untouched.
  THost& later = AddPluginHost("Later", TestPlugin, "ok");
  ASSERT_TRUE(Run(later));
  EXPECT_EQ(later.Status, StatusOffline);
  THost& beta = AddPluginHost("Beta", TestPlugin + 2, "ok");
  ASSERT_TRUE(Run(beta));
  EXPECT_EQ(beta.Status, StatusOnline);
  EXPECT_EQ(beta.Successes, 1u);
}

TEST_F(PluginHostTest, ATestThatNeverReturnsIsAbandonedAndItsLateSiblingsStillAnswer) {
  Start();
  THost& hang = AddPluginHost("Hang", TestPlugin, "hang");
  THost& ok = AddPluginHost("Ok", TestPlugin, "ok");
  // Up to the number that replaces the process, and one more in the new process.
  for (int round = 0; round <= TPluginRunner::MaxAbandoned; ++round) {
    SCOPED_TRACE(round);
    M->TestHost(M->Hosts().IndexOf(&hang));
    ASSERT_TRUE(hang.RunningTest);
    std::shared_ptr<TBackgroundTask> worker = std::exchange(hang.RunningTest, nullptr);
    // What the scheduler does to an overdue test.
    worker->Terminate();
    M->Running().Remove(worker.get());
    EXPECT_FALSE(worker->IsAlive());
    // The plug-in's other tests still answer, also while the process is replaced.
    const std::uint32_t before = ok.Successes;
    ASSERT_TRUE(Run(ok));
    // A test sent as the process is replaced has no result, and no failure.
    if (round == TPluginRunner::MaxAbandoned - 1 && ok.Successes == before) {
      EXPECT_NE(ok.LastErrorText.find("the test process was replaced: 16 tests never returned"), std::string::npos);
      EXPECT_EQ(ok.Status, StatusOnline);
    } else {
      EXPECT_EQ(ok.Successes, before + 1) << ok.LastErrorText;
    }
  }
  EXPECT_FALSE(M->Plugins().Plugins()[0]->Failed.load());
}

TEST_F(PluginHostTest, TheCallbacksRefuseWhatTheyCannotServe) {
  Start();
  TPluginHost& plugins = M->Plugins();
  THost& host = AddPluginHost("Callback", TestPlugin, "ok");
  host.Status = StatusOffline;
  // An index beyond the plug-ins, a missing host.
  EXPECT_EQ(plugins.Log(5, 0, "x", 0), 0);
  EXPECT_EQ(plugins.Log(1, host.ID, "named", 2), -1);
  EXPECT_TRUE(HasLine(*M, "[Beta] named", 'E'));
  std::string expanded;
  EXPECT_EQ(plugins.Variables(0, host.ID, "%displayname%", 100, expanded), -1);
  EXPECT_EQ(expanded, "Callback");
  EXPECT_EQ(plugins.Variables(0, host.ID, "%displayname%", 8, expanded), 0);  // "Callback" and its zero do not fit
  EXPECT_EQ(plugins.Variables(0, host.ID + 1, "%host%", 100, expanded), 0);
  TPluginHostInfo info;
  EXPECT_EQ(plugins.HostInfo(0, M->Hosts().IndexOf(&host), info), 0);
  EXPECT_EQ(info.Name, "Callback");
  EXPECT_EQ(info.Kind, "Alpha 1");
  EXPECT_EQ(info.Status, 2);
  EXPECT_EQ(plugins.HostInfo(0, 999, info), -1);
  EXPECT_EQ(plugins.HostConnection(0, host.ID, 0), -1);  // no user name
  EXPECT_EQ(plugins.HostConnection(0, host.ID, 2), -1);  // no connection kept
  EXPECT_EQ(plugins.HostConnection(0, host.ID, 9), -3);
  EXPECT_EQ(plugins.HostConnection(0, host.ID + 1, 0), -2);
  EXPECT_EQ(plugins.Email(0, host.ID, "not an address", "s", "m"), 0);
  // Parameter checks go to the plug-in's own rule.
  std::string reason;
  EXPECT_FALSE(plugins.ValidateParam(TestPlugin, "bad", reason));
  EXPECT_EQ(reason, "bad is bad");
  EXPECT_TRUE(plugins.ValidateParam(TestPlugin, "fine", reason));
}

namespace {

struct TSettingsCase {
  const char* Mode;
  bool Kept;
  const char* File;  // the settings file afterwards
};

// Each case in a process of its own: the kinds a plug-in adds stay for the process.
class PluginSettingsTest : public PluginFixture, public ::testing::WithParamInterface<TSettingsCase> {
protected:
  PluginSettingsTest() : PluginFixture(TestPlugins + "/settings") {}
  std::string SettingsFile() { return DataFolder() + "Test-Delta.CVLPS"; }
};

}  // namespace

// What InitializeEx leaves in length and capacity decides whether the block is kept and
// the settings file written.
TEST_P(PluginSettingsTest, InitializeExDecidesWhatIsKeptAndWritten) {
  EXPECT_EQ(TPluginHost::SettingsFileName("A/B", "C:D*\"x\" (1)"), "AB-CDx (1).CVLPS");
  const TSettingsCase& c = GetParam();
  testsupport::TScopedEnv mode("TEST_SETTINGS_MODE", c.Mode);
  ASSERT_TRUE(WriteWholeFile(SettingsFile(), "old"));
  Start();
  ASSERT_EQ(M->Plugins().Plugins().size(), 1u);
  const TPlugin& p = *M->Plugins().Plugins()[0];
  EXPECT_EQ(p.Settings.has_value(), c.Kept);
  std::string text;
  ASSERT_TRUE(ReadWholeFile(SettingsFile(), text));
  EXPECT_EQ(text, c.File);
}

INSTANTIATE_TEST_SUITE_P(Modes, PluginSettingsTest,
                         ::testing::Values(TSettingsCase{"keep", false, "old"}, TSettingsCase{"write", true, "hello"},
                                           TSettingsCase{"negative", false, "old"}));
