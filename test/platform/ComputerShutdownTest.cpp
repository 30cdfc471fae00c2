// Restart and shutdown requests: another computer gets them from a real Samba server on
// loopback, whose shutdown scripts write down what arrived; this computer's path runs a
// stand-in for systemctl, as nothing here may really restart the machine.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "platform/ComputerShutdown.h"
#include "platform/TNetConnections.h"
#include "support/TSambaServer.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TSambaServer;
using testsupport::TScopedEnv;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

std::string MakeScript(const TTempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.File(name);
  WriteFileBytes(path, "#!/bin/sh\n" + body + "\n");
  chmod(path.c_str(), 0755);
  return path;
}

// Auth files net was handed, still on disk.
int LeftoverAuthFiles(const std::string& folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind("corvale-auth-", 0) == 0) ++count;
  return count;
}

}  // namespace

TEST(ComputerShutdownTest, SambaServerGetsRestartShutdownAndAbortWithTheConnectionsAccount) {
  std::string why;
  if (!TSambaServer::Available(why)) GTEST_SKIP() << why;
  TTempDir dir;
  const std::string got = dir.File("got.txt");
  const std::string script = MakeScript(dir, "shutdown.sh", "echo \"$@\" >> " + got);
  const std::string abort = MakeScript(dir, "abort.sh", "echo aborted >> " + got);
  TSambaServer server;
  // smbd turns "%t" into the date before the script's own letters are expanded, so the
  // time-out cannot reach a script; the message (blanks made "_"), reboot and force can.
  server.AddGlobal("shutdown script = " + script + " \"%z\" %r %f");
  server.AddGlobal("abort shutdown script = " + abort);
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.AddUser("root", "pw secret")) << server.Error();

  TShutdownTools tools;
  tools.NetOptions = {"-s", server.ConfFile()};
  tools.SmbPort = server.Port();
  tools.WaitMs = 20000;
  TScopedEnv tmp("TMPDIR", dir.Path());
  const std::string computer = "127.0.0.1";

  // Without a connection's account the server refuses, and says so.
  TShutdownResult refused = ShutdownComputer(computer, "no account", true, 30, true, tools);
  EXPECT_NE(refused.Code, 0) << refused.Output;

  TNetConnections::Instance().Add("\\\\" + computer, {"root", "pw secret"});
  const struct {
    bool Restart, Force;
    int Timeout;
    std::string Expected;
  } cases[] = {
      {true, true, 30, "Restart_by_tester -r -f"},
      {false, false, 5, "Restart_by_tester"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(got);
    const TShutdownResult result = ShutdownComputer(computer, "Restart by tester", c.Force, c.Timeout, c.Restart, tools);
    EXPECT_EQ(result.Code, 0) << result.Output << server.Log();
    std::string line = ReadFileBytes(got);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    EXPECT_EQ(line, c.Expected) << result.Output;
  }
  std::filesystem::remove(got);
  const TShutdownResult aborted = AbortShutdown(computer, tools);
  EXPECT_EQ(aborted.Code, 0) << aborted.Output;
  EXPECT_EQ(ReadFileBytes(got), "aborted\n");
  EXPECT_EQ(LeftoverAuthFiles(dir.Path()), 0);

  // A wrong password is the logon failure, not a general one.
  TNetConnections::Instance().Cancel("\\\\" + computer);
  TNetConnections::Instance().Add("\\\\" + computer, {"root", "wrong"});
  EXPECT_EQ(ShutdownComputer(computer, "x", true, 30, true, tools).Code, 1326);
  TNetConnections::Instance().Cancel("\\\\" + computer);
  // A password that would add lines to the authentication file is refused before net runs.
  TNetConnections::Instance().Add("\\\\" + computer, {"root", "pw\nusername = other"});
  EXPECT_EQ(ShutdownComputer(computer, "x", true, 30, true, tools).Code, 87);
  TNetConnections::Instance().Cancel("\\\\" + computer);
  EXPECT_EQ(LeftoverAuthFiles(dir.Path()), 0);
}

TEST(ComputerShutdownTest, ThisComputerGoesThroughSystemctlAndReportsItsRefusal) {
  TTempDir dir;
  const std::string got = dir.File("got.txt");
  TShutdownTools tools;
  tools.WaitMs = 5000;
  EXPECT_TRUE(IsThisComputer("") && IsThisComputer("LocalHost") && IsThisComputer("."));
  EXPECT_FALSE(IsThisComputer("127.0.0.1"));
  {
    TScopedEnv stand("CORVALE_SYSTEMCTL", MakeScript(dir, "ok.sh", "echo \"$@\" >> " + got));
    EXPECT_EQ(ShutdownComputer("localhost", "Restart by tester", true, 30, true, tools).Code, 0);
    EXPECT_EQ(ShutdownComputer("", "", false, 0, false, tools).Code, 0);
    EXPECT_EQ(ReadFileBytes(got), "reboot --no-ask-password --message=Restart by tester\npoweroff --no-ask-password\n");
    EXPECT_EQ(AbortShutdown("", tools).Code, 1116);
  }
  {
    TScopedEnv stand("CORVALE_SYSTEMCTL", MakeScript(dir, "no.sh", "echo 'Access denied' >&2; exit 1"));
    const TShutdownResult refused = ShutdownComputer("", "x", true, 30, true, tools);
    EXPECT_EQ(refused.Code, 5);
    EXPECT_NE(refused.Output.find("Access denied"), std::string::npos);
  }
  {
    TScopedEnv stand("CORVALE_SYSTEMCTL", dir.File("missing"));
    EXPECT_EQ(ShutdownComputer("", "x", true, 30, true, tools).Code, 2);
  }
  {
    tools.WaitMs = 300;
    TScopedEnv stand("CORVALE_SYSTEMCTL", MakeScript(dir, "hang.sh", "sleep 20"));
    EXPECT_EQ(ShutdownComputer("", "x", true, 30, true, tools).Code, 258);
  }
  EXPECT_EQ(NetToolErrorCode("Could not connect: NT_STATUS_CONNECTION_REFUSED"), 53);
  EXPECT_EQ(NetToolErrorCode("result was: WERR_NO_SHUTDOWN_IN_PROGRESS"), 1116);
  EXPECT_EQ(NetToolErrorCode("something else"), 1);
}
