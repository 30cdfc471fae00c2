// The Samba server the Windows-network tests talk to: when it cannot list its shares or
// tell a wrong password, every test built on it fails for the wrong reason.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/TSambaServer.h"

using testsupport::TSambaServer;

namespace {

std::string RunShell(const std::string& command, int& exitCode) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

}  // namespace

TEST(SambaServerTest, ListsItsSharesAndRefusesAWrongPassword) {
  std::string why;
  if (!TSambaServer::Available(why)) GTEST_SKIP() << why;
  TSambaServer server;
  server.AddShare("data", "read only = no");
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.AddUser("root", "secret")) << server.Error();
  const std::string client =
      "smbclient -L 127.0.0.1 -p " + std::to_string(server.Port()) + " -s " + server.ConfFile() + " -U root%";
  int exitCode = -1;
  const std::string listing = RunShell(client + "secret", exitCode);
  EXPECT_EQ(exitCode, 0) << listing << server.Log();
  EXPECT_NE(listing.find("data"), std::string::npos) << listing;
  const std::string refused = RunShell(client + "wrong", exitCode);
  EXPECT_NE(exitCode, 0);
  EXPECT_NE(refused.find("NT_STATUS_LOGON_FAILURE"), std::string::npos) << refused;
}
