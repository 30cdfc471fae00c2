// Share hosts through the whole monitor against a real Samba server on loopback: the
// scheduler hands the share test the host's share path, Windows account and the SMBPort
// setting, and the status evaluation takes its answer.
#include <QCoreApplication>

#include <chrono>

#include "common/ErrorText.h"
#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "support/TSambaServer.h"

namespace {

class ShareMonitoring : public MonitorFixture {
protected:
  void SetUp() override {
    std::string why;
    if (!testsupport::TSambaServer::Available(why)) GTEST_SKIP() << why;
    Server.AddShare("docs");
    ASSERT_TRUE(Server.Start()) << Server.Error();
    ASSERT_TRUE(Server.AddUser("corvalemon", "Mon-Pass4")) << Server.Error();
    M = NewMonitor();
    M->Settings().SMBPort = Server.Port();
    M->Settings().TestHostServices = false;
  }

  THost* AddShareHost(const std::string& name, const std::string& sharePath, const std::string& password) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = "127.0.0.1";
    record->TestKind = TestShare;
    record->SharePath = sharePath;
    record->WinUserName = "corvalemon";
    record->WinPassword = password;
    record->TestInterval = 1;
    record->ErrorAfter = 3;
    return M->Hosts().Add(std::move(record));
  }

  testsupport::TSambaServer Server;
  std::unique_ptr<TMonitor> M;
};

TEST_F(ShareMonitoring, ThePresentShareIsOnlineAndTheMissingOneFailsWithItsText) {
  THost* present = AddShareHost("Documents", "docs\\not yet made", "Mon-Pass4");
  THost* missing = AddShareHost("Gone", "archive", "Mon-Pass4");
  M->Timer1Timer();
  ASSERT_TRUE(WaitIdle(*M, 30));
  EXPECT_EQ(present->Status, StatusOnline) << present->LastErrorText;
  EXPECT_EQ(present->CurrentIP, "127.0.0.1");
  EXPECT_EQ(missing->Status, StatusWarning);
  EXPECT_NE(missing->LastErrorText.find(ErrorText(67)), std::string::npos) << missing->LastErrorText;
}

}  // namespace
