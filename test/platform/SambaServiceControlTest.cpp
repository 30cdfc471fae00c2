// The remote service manager against a real Samba server on loopback: its built-in
// services, their states, a missing service, wrong credentials and a closed port, and
// the reading of what Samba's client prints.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/TNetConnections.h"
#include "platform/TSambaServiceControl.h"
#include "support/TSambaServer.h"
#include "support/TestSupport.h"

using testsupport::TSambaServer;

TEST(SambaServiceControl, ReadsWhatTheClientPrints) {
  const struct {
    const char* Output;
    int Error;
  } errors[] = {
      {"Failed to open service.  [WERR_SERVICE_DOES_NOT_EXIST]", svcerr::ERROR_SERVICE_DOES_NOT_EXIST},
      {"Query status request failed.  [WERR_ACCESS_DENIED]", 5},
      {"Control service request failed.  [WERR_SERVICE_NOT_ACTIVE]", svcerr::ERROR_SERVICE_NOT_ACTIVE},
      {"Could not connect to server 127.0.0.1\nConnection failed: NT_STATUS_LOGON_FAILURE", 1326},
      {"Connection failed: NT_STATUS_CONNECTION_REFUSED", svcerr::RPC_S_SERVER_UNAVAILABLE},
      {"Connection failed: NT_STATUS_ACCESS_DENIED_X", 31},
      {"Connection failed: NT_STATUS_ACCESS_DENIED", 5},
      {"", 31},
  };
  for (const auto& e : errors) EXPECT_EQ(TSambaServiceControl::ErrorOfOutput(e.Output), e.Error) << e.Output;
  const struct {
    const char* Output;
    int State;
  } states[] = {{"Spooler service is stopped.\nConfiguration details:", svcstate::Stopped},
                {"X service is running.", svcstate::Running},
                {"X service is start pending.", svcstate::StartPending},
                {"X service is resume pending.", svcstate::ContinuePending},
                {"X service is paused.", svcstate::Paused},
                {"X service is on fire.", 0},
                {"nothing", 0}};
  for (const auto& s : states) EXPECT_EQ(TSambaServiceControl::StateOfOutput(s.Output), s.State) << s.Output;
  const auto list = TSambaServiceControl::ParseList(
      "Spooler                 \"Print Spooler\"\r\nbroken line\nWINS    \"Windows Internet Name Service (WINS)\"\n");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Name, "Spooler");
  EXPECT_EQ(list[0].DisplayName, "Print Spooler");
  EXPECT_EQ(list[1].DisplayName, "Windows Internet Name Service (WINS)");
}

TEST(SambaServiceControl, HostileNamesNeverReachTheClient) {
  TSambaServiceControl remote;
  for (const char* machine : {"-U", "a b", "x%y", "\\\\"})
    EXPECT_EQ(remote.Connect(machine), svcerr::ERROR_INVALID_NAME) << machine;
  int state = 0;
  for (const char* service : {"-d10", "a\nb", "a/b"})
    EXPECT_EQ(remote.QueryState("127.0.0.1", service, state), svcerr::ERROR_INVALID_NAME) << service;
  EXPECT_EQ(remote.QueryState("127.0.0.1", std::string(300, 'a'), state), svcerr::ERROR_INVALID_NAME);
}

TEST(SambaServiceControl, AsksARealServer) {
  std::string why;
  if (!TSambaServer::Available(why)) GTEST_SKIP() << why;
  TSambaServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.AddUser("root", "pw")) << server.Error();
  TSambaServiceControl remote;
  remote.SetSMBPort(server.Port());
  TNetConnections::Instance().Add("\\\\127.0.0.1", {"root", "pw"});

  std::vector<TListedService> list;
  ASSERT_TRUE(remote.ListServices("127.0.0.1", list, SERVICE_WIN32, false, false, "|", 2))
      << TServiceControl::LastServiceError() << server.Log();
  bool found = false;
  for (const TListedService& e : list) found = found || e.Text == "RemoteRegistry|Remote Registry Service";
  EXPECT_TRUE(found);

  EXPECT_TRUE(remote.IsServiceRunning("\\\\127.0.0.1", "RemoteRegistry")) << TServiceControl::LastServiceError();
  EXPECT_FALSE(remote.IsServiceRunning("127.0.0.1", "Spooler"));
  EXPECT_EQ(TServiceControl::LastServiceError(), 0);
  EXPECT_FALSE(remote.IsServiceRunning("127.0.0.1", "NoSuch"));
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::ERROR_SERVICE_DOES_NOT_EXIST);
  // The account may not control the built-in services: the refusal comes back.
  EXPECT_FALSE(remote.StartService("127.0.0.1", "Spooler"));
  EXPECT_EQ(TServiceControl::LastServiceError(), 5);
  // A stopped service is not touched.
  EXPECT_FALSE(remote.StopService("127.0.0.1", "Spooler", 1000));
  EXPECT_EQ(TServiceControl::LastServiceError(), 0);
  TNetConnections::Instance().Cancel("\\\\127.0.0.1");

  TNetConnections::Instance().Add("\\\\127.0.0.1", {"root", "wrong"});
  EXPECT_FALSE(remote.IsServiceRunning("127.0.0.1", "RemoteRegistry"));
  EXPECT_EQ(TServiceControl::LastServiceError(), 1326);
  TNetConnections::Instance().Cancel("\\\\127.0.0.1");

  std::uint16_t closedPort = 0;
  const int probe = testsupport::ListenOnLoopback(closedPort, 1);
  ASSERT_GE(probe, 0);
  close(probe);
  remote.SetSMBPort(closedPort);
  EXPECT_FALSE(remote.IsServiceRunning("127.0.0.1", "RemoteRegistry"));
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::RPC_S_SERVER_UNAVAILABLE);
}
