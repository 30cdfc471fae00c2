// Command lines for hosts, run for real: scripts that write what they were given to
// disk, a named action, a program that cannot start, web addresses handed to a recording
// stand-in for the desktop's opener, and the connection a "*" command asks for.
#include <QCoreApplication>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "alerts/TAlerts.h"
#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "core/MonitorFixture.h"
#include "core/THostList.h"

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::WriteFileBytes;

namespace {

void WriteScript(const std::string& path, const std::string& body) {
  WriteFileBytes(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
}

}  // namespace

class CommandRunner : public MonitorFixture {
protected:
  void SetUp() override {
    M = NewMonitor();
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = "web";
    record->Address = "192.0.2.7";
    record->WinUserName = "LAB\\ops";
    record->WinPassword = "pw";
    Host = M->Hosts().Add(std::move(record));
    Bin = FRoot.Path() + "/bin";
    ::mkdir(Bin.c_str(), 0755);
    Out = FRoot.Path() + "/out";
    ::mkdir(Out.c_str(), 0755);
  }

  // What a started program wrote, once it has written it (it runs on its own).
  std::string Output(const std::string& name) {
    const std::string path = Out + "/" + name;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!FileExists(path + ".done") && std::chrono::steady_clock::now() < deadline)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return ReadFileBytes(path);
  }

  int CountLines(const std::string& text) {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines()) n += l.Text.find(text) != std::string::npos;
    return n;
  }

  // Records its arguments and its folder instead of opening anything.
  void FakeOpener() {
    WriteScript(Bin + "/xdg-open", "printf '%s|%s' \"$*\" \"$PWD\" > " + Out + "/open\ntouch " + Out + "/open.done\n");
  }

  std::unique_ptr<TAlerts> A;
  std::unique_ptr<TMonitor> M;
  THost* Host = nullptr;
  std::string Bin, Out;
};

TEST_F(CommandRunner, ScriptGetsTheAddressVariablesAndEnvironmentInItsOwnFolder) {
  TScopedEnv env("CORVALE_TEST_SITE", "lab-7");
  TScopedEnv mixed("Corvale_Mixed_Case", "mixed");
  WriteScript(Bin + "/record.sh", "printf '%s|' \"$@\" > " + Out + "/args\npwd >> " + Out +
                                      "/args\ntouch " + Out + "/args.done\n");
  // Message variables first: %host% is never looked up in the environment, though it is
  // there too.
  TScopedEnv decoy("host", "from-environment");
  EXPECT_TRUE(A->Commands().RunHostCommand(
      Bin + "/record.sh %1 %HOST% \"%displayname% down\" %CORVALE_TEST_SITE% %corvale_mixed_case% %NOT_SET_HERE% 100%",
      *Host));
  EXPECT_EQ(Output("args"),
            "192.0.2.7|192.0.2.7|web down|lab-7|mixed|%NOT_SET_HERE%|100%|" + Bin + "\n");
  // The runner announces nothing itself: the alert rule does, for the commands it runs.
  EXPECT_EQ(CountLines("Launching Command Line"), 0);
  EXPECT_EQ(CountLines("Error Loading Command Line"), 0);
}

TEST_F(CommandRunner, NamedActionRunsItsCommandLineWithTheHostsVariables) {
  WriteScript(Bin + "/action.sh", "echo \"$1 $2\" > " + Out + "/action\ntouch " + Out + "/action.done\n");
  std::vector<std::string> asked;
  A->Commands().SetActionLookup([&](const std::string& name) -> std::optional<std::string> {
    asked.push_back(name);
    if (name == "Restart web") return Bin + "/action.sh %displayname% %1";
    return std::nullopt;
  });
  EXPECT_TRUE(A->Commands().RunHostCommand("Restart web", *Host));
  EXPECT_EQ(Output("action"), "web 192.0.2.7\n");
  EXPECT_EQ(asked, std::vector<std::string>{"Restart web"});
}

TEST_F(CommandRunner, CommandThatCannotStartIsLoggedAndNeverAnnounced) {
  EXPECT_FALSE(A->Commands().RunHostCommand("/nonexistent/tool %1", *Host));
  // The program's folder is the working folder, and it does not exist.
  EXPECT_TRUE(HasLine(*M, "Error Loading Command Line: " + ErrorText(267) + ", Cmd: /nonexistent/tool 192.0.2.7", 'W'))
      << M->Log().Lines().back().Text;
  EXPECT_FALSE(A->Commands().RunHostCommand("no-such-program-here %displayname%", *Host));
  EXPECT_TRUE(HasLine(*M, "Error Loading Command Line: " + ErrorText(2) + ", Cmd: no-such-program-here web", 'W'));

  // Through the alert rule: the offline command that fails is not announced, the online
  // one that starts is, with the command as the host gives it.
  WriteScript(Bin + "/up.sh", "touch " + Out + "/up " + Out + "/up.done\n");
  Host->OfflineCommand = "no-such-program-here %displayname%";
  Host->OnlineCommand = Bin + "/up.sh %1";
  M->UpdateHostStatus(TTestResult{Host->ID, false, true, 0, {}, "down", {}});
  ASSERT_EQ(Host->Status, StatusOffline);
  M->UpdateHostStatus(TTestResult{Host->ID, true, false, 1, {}, {}, {}});
  ASSERT_EQ(Host->Status, StatusOnline);
  Output("up");
  EXPECT_EQ(CountLines("Error Loading Command Line"), 3);
  EXPECT_EQ(CountLines("Launching Command Line: no-such-program"), 0);
  EXPECT_TRUE(HasLine(*M, "Launching Command Line: " + Bin + "/up.sh %1", 'I'));
}

TEST_F(CommandRunner, WebAddressesGoToTheOpenerWithTheirVariables) {
  FakeOpener();
  TScopedEnv path("PATH", Bin + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"));
  EXPECT_TRUE(A->Commands().RunHostCommand("http://%1:8080/status?name=%displayname%", *Host));
  // The address's slashes name no working folder: the opener runs in ours.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(Output("open"), "http://192.0.2.7:8080/status?name=web|" + std::string(cwd));

  // Without an opener installed, the start fails like any other.
  TScopedEnv noOpener("PATH", Out);
  EXPECT_FALSE(A->Commands().RunHostCommand("https://example.invalid/", *Host));
  EXPECT_TRUE(HasLine(*M, "Error Loading Command Line: " + ErrorText(2) + ", Cmd: https://example.invalid/", 'W'));
}

TEST_F(CommandRunner, StarredCommandConnectsWithTheHostsCredentialsAroundTheStart) {
  WriteScript(Bin + "/share.sh", "echo \"$1\" > " + Out + "/share\ntouch " + Out + "/share.done\n");
  // No way to connect yet: the command still starts, and that is said once.
  EXPECT_TRUE(A->Commands().RunHostCommand("*" + Bin + "/share.sh %1", *Host));
  EXPECT_EQ(Output("share"), "192.0.2.7\n");
  ::unlink((Out + "/share.done").c_str());
  EXPECT_TRUE(A->Commands().RunHostCommand("*\"" + Bin + "/share.sh\" again", *Host));
  EXPECT_EQ(Output("share"), "again\n");
  EXPECT_EQ(CountLines("start without connecting to \\\\192.0.2.7"), 1);

  std::vector<std::string> calls;
  A->Commands().SetNetworkConnector(
      {[&](const std::string& remote, const std::string& user, const std::string& password) {
         calls.push_back("connect " + remote + " " + user + " " + password);
         return remote == "\\\\192.0.2.7" ? 0 : 53;
       },
       [&](const std::string& remote) { calls.push_back("disconnect " + remote); }});
  ::unlink((Out + "/share.done").c_str());
  EXPECT_TRUE(A->Commands().RunHostCommand("*" + Bin + "/share.sh %displayname%", *Host));
  EXPECT_EQ(Output("share"), "web\n");
  // A "*" before the program after the variables are expanded asks for the connection
  // too; a connection that fails is not dropped again, and the command still starts.
  Host->Address = "192.0.2.8";
  Host->LastErrorText = "*";
  ::unlink((Out + "/share.done").c_str());
  EXPECT_TRUE(A->Commands().RunHostCommand("%error%" + Bin + "/share.sh y", *Host));
  EXPECT_EQ(Output("share"), "y\n");
  EXPECT_EQ(calls, (std::vector<std::string>{"connect \\\\192.0.2.7 LAB\\ops pw", "disconnect \\\\192.0.2.7",
                                             "connect \\\\192.0.2.8 LAB\\ops pw"}));
}

TEST(CommandRunnerText, EnvironmentExpansionWebAddressesAndProgramField) {
  TScopedEnv a("CORVALE_A", "alpha");
  TScopedEnv longValue("CORVALE_LONG", std::string(2000, 'x'));
  const std::pair<const char*, const char*> expansions[] = {
      {"%CORVALE_A%", "alpha"},
      {"x%CORVALE_A%y%CORVALE_A%", "xalphayalpha"},
      {"%%", "%%"},
      {"50% %CORVALE_A%", "50% alpha"},   // a lone sign opens nothing known
      {"%UNSET_X%CORVALE_A%", "%UNSET_Xalpha"},  // the closing sign of an unknown name opens the next
      {"%CORVALE_A", "%CORVALE_A"},
      {"%=x%", "%=x%"},
  };
  for (auto [in, out] : expansions) EXPECT_EQ(TCommandRunner::ExpandEnvironment(in), out) << in;
  EXPECT_EQ(TCommandRunner::ExpandEnvironment("a%CORVALE_LONG%b").size(), TCommandRunner::MaxExpandedLength);

  const std::pair<const char*, bool> addresses[] = {
      {"http://x", true},    {"ab://x", true},      {"a://x", false},  {"abcdefghi://x", true},
      {"abcdefghij://x", false}, {"run.sh http://x", false}, {"/usr/bin/x", false}, {"", false},
  };
  for (auto [text, web] : addresses) EXPECT_EQ(TCommandRunner::IsWebAddress(text), web) << text;

  EXPECT_EQ(TCommandRunner::ProgramField("  \"/opt/my tools/run\" a b"), (std::pair<std::size_t, std::size_t>{2, 19}));
  EXPECT_EQ(TCommandRunner::ProgramField("run"), (std::pair<std::size_t, std::size_t>{0, 3}));
  EXPECT_EQ(TCommandRunner::ProgramFolder("\"/opt/my tools/run\""), "/opt/my tools");
  EXPECT_EQ(TCommandRunner::ProgramFolder("C:\\Tools\\x.exe"), "C:\\Tools");
  EXPECT_EQ(TCommandRunner::ProgramFolder("/run"), "/");
  EXPECT_EQ(TCommandRunner::ProgramFolder("run"), "");
}
