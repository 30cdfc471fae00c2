// The SMB client against a real Samba server: the Windows codes its answers become are
// what the share test, the share list and the connections decide on.
#include <gtest/gtest.h>


#include <algorithm>
#include <algorithm>

#include "platform/NetResources.h"
#include "platform/NetComputers.h"
#include "platform/SysErrors.h"
#include "platform/TSmbClient.h"
#include "support/TSambaShares.h"

using testsupport::TSambaServer;

namespace {

constexpr const char* User = "corvalesmb";
constexpr const char* Password = "Share-Pass1";

class SmbClientTest : public testing::Test {
protected:
  static void SetUpTestSuite() { Shares = new testsupport::TSambaShares(User, Password); }
  static void TearDownTestSuite() {
    delete Shares;
    Shares = nullptr;
  }
  void SetUp() override {
    Server = Shares->Server();
    if (!Server) GTEST_SKIP() << Shares->Why();
    TSmbClient::SetDefaultPort(Server->Port());
  }
  void TearDown() override { TSmbClient::SetDefaultPort(TSmbClient::StandardPort); }

  static inline testsupport::TSambaShares* Shares = nullptr;
  TSambaServer* Server = nullptr;
};

TEST_F(SmbClientTest, FirstEntryAnswersWithTheWindowsCodes) {
  struct TCase {
    const char *Share, *Path, *Password;
    int Port;  // 0: the server's
    int Code;
  } cases[] = {
      {"data", "", Password, 0, 0},
      {"data", "locked\\inside", Password, 0, syserr::ERROR_ACCESS_DENIED},
      {"data", "locked", Password, 0, syserr::ERROR_ACCESS_DENIED},
      {"data", "missing\\deeper", Password, 0, syserr::ERROR_PATH_NOT_FOUND},
      {"data", "report.txt", Password, 0, syserr::ERROR_PATH_NOT_FOUND},
      {"empty", "", Password, 0, 18},
      {"caf\xe9", "", Password, 0, 18},
      {"absent", "", Password, 0, 67},
      {"absent", "folder", Password, 0, 67},
      {"data", "", "wrong", 0, syserr::ERROR_LOGON_FAILURE},
      {"data", "", Password, 1, syserr::ERROR_BAD_NETPATH},
  };
  for (const TCase& c : cases) {
    TSmbClient client(TNetCredentials{User, c.Password}, c.Port, 3000);
    EXPECT_EQ(client.FirstEntry("127.0.0.1", c.Share, c.Path), c.Code) << c.Share << " " << c.Path << " " << c.Password;
  }
}

TEST_F(SmbClientTest, ListsTheSharesAndChecksTheCredentials) {
  std::vector<std::string> shares;
  int error = -1;
  ASSERT_TRUE(ListServerShares("127.0.0.1", shares, &error)) << error;
  EXPECT_EQ(error, 0);
  for (const char* name : {"data", "empty", "caf\xe9", "IPC$"})
    EXPECT_NE(std::find(shares.begin(), shares.end(), name), shares.end()) << name;
  TSmbClient::SetDefaultPort(1);
  EXPECT_FALSE(ListServerShares("\\\\127.0.0.1", shares, &error));
  EXPECT_TRUE(shares.empty());
  EXPECT_EQ(error, syserr::ERROR_BAD_NETPATH);
  TSmbClient::SetDefaultPort(Server->Port());

  std::string connection = "left";
  EXPECT_EQ(ConnectResource("\\\\127.0.0.1", User, "wrong", connection), syserr::ERROR_LOGON_FAILURE);
  EXPECT_EQ(connection, "");
  EXPECT_FALSE(TNetConnections::Instance().CredentialsFor("127.0.0.1"));
  EXPECT_EQ(ConnectResource("\\\\127.0.0.1\\data", User, Password, connection), 0);
  EXPECT_EQ(connection, "\\\\127.0.0.1\\data");
  // Later requests without credentials of their own use the connection's.
  EXPECT_EQ(TSmbClient().FirstEntry("127.0.0.1", "data", ""), 0);
  DisconnectResource(connection);
  EXPECT_FALSE(TNetConnections::Instance().CredentialsFor("127.0.0.1"));
  EXPECT_EQ(TSmbClient().FirstEntry("127.0.0.1", "data", ""), syserr::ERROR_ACCESS_DENIED);
}

TEST(SmbClientUrlTest, EscapesWhatIsNotPlainAndTurnsBackslashes) {
  EXPECT_EQ(TSmbClient::Url("srv"), "smb://srv/");
  EXPECT_EQ(TSmbClient::Url("srv", "my share$", "a\\b c/%d\\\\"), "smb://srv/my%20share$/a/b%20c/%25d/");
  EXPECT_EQ(TSmbClient::Url("srv", "s", ""), "smb://srv/s/");
  EXPECT_EQ(TSmbClient::Url("srv", "caf\xe9"), "smb://srv/caf%C3%A9/");
}

}  // namespace
