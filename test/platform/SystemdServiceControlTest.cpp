// This computer's services from systemd: a transient unit the test starts is running,
// stops within the wait, and then reads stopped; the mapping of unit states and D-Bus
// errors holds without systemd.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "platform/SysErrors.h"
#include "platform/TSystemdServiceControl.h"

TEST(SystemdServiceControl, MapsUnitStatesAndErrors) {
  const struct {
    const char* Active;
    int State;
  } states[] = {{"active", svcstate::Running},         {"reloading", svcstate::Running},
                {"activating", svcstate::StartPending}, {"deactivating", svcstate::StopPending},
                {"inactive", svcstate::Stopped},        {"failed", svcstate::Stopped},
                {"bogus", 0}};
  for (const auto& s : states) EXPECT_EQ(TSystemdServiceControl::StateOfActiveState(s.Active), s.State) << s.Active;
  const struct {
    const char* Name;
    int Error;
  } errors[] = {{"org.freedesktop.systemd1.NoSuchUnit", svcerr::ERROR_SERVICE_DOES_NOT_EXIST},
                {"org.freedesktop.DBus.Error.AccessDenied", 5},
                {"org.freedesktop.DBus.Error.NoReply", svcerr::ERROR_TIMEOUT},
                {"org.freedesktop.DBus.Error.ServiceUnknown", svcerr::RPC_S_SERVER_UNAVAILABLE},
                {"something.else", syserr::ERROR_GEN_FAILURE}};
  for (const auto& e : errors) EXPECT_EQ(TSystemdServiceControl::ErrorOfDBusError(e.Name), e.Error) << e.Name;
  EXPECT_EQ(TSystemdServiceControl::UnitName("Corvale"), "Corvale.service");
  EXPECT_EQ(TSystemdServiceControl::UnitName("ssh.socket"), "ssh.socket");
}

TEST(SystemdServiceControl, ControlsATransientUnit) {
  TSystemdServiceControl local;
  if (access("/run/systemd/system", F_OK) != 0 || local.Connect("") != 0)
    GTEST_SKIP() << "systemd does not run on this machine (no /run/systemd/system or no system bus)";
  const std::string unit = "corvale-test-" + std::to_string(getpid());
  ASSERT_EQ(std::system(("systemd-run --quiet --unit=" + unit + " /bin/sleep 120").c_str()), 0);
  EXPECT_TRUE(local.IsServiceRunning("", unit)) << TServiceControl::LastServiceError();
  std::vector<TListedService> list;
  EXPECT_TRUE(local.ListServices("", list, SERVICE_WIN32, true, true, "|", 0));
  bool listed = false;
  for (const TListedService& e : list) listed = listed || (e.Text == unit && e.State == svcstate::Running);
  EXPECT_TRUE(listed);
  EXPECT_TRUE(local.StopService("", unit, 10000)) << TServiceControl::LastServiceError();
  EXPECT_FALSE(local.IsServiceRunning("", unit));
  EXPECT_FALSE(local.IsServiceRunning("", "corvale-test-no-such-unit"));
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::ERROR_SERVICE_DOES_NOT_EXIST);
}
