// The own service gives way to an interactive copy: a real "corvale service" run as the
// service "Corvale" is stopped by the start-up steps, which wait for its window to go,
// and started again by the exit steps.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "core/TProgramEntry.h"
#include "platform/TSimServiceControl.h"
#include "support/TestSupport.h"

using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

bool WaitFor(bool wanted, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (ShowRunningInstance() != wanted) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace

TEST(OwnService, InteractiveStartStopsTheServiceAndExitStartsItAgain) {
  TTempDir root;
  const std::string registry = root.Path() + "/reg", data = root.Path() + "/data", run = root.Path() + "/run";
  for (const std::string& dir : {registry, data, run}) ::mkdir(dir.c_str(), 0700);
  TScopedEnv envReg("CORVALE_REGISTRY_DIR", registry), envData("CORVALE_DATA_DIR", data), envRun("XDG_RUNTIME_DIR", run);

  TSimServiceControl services;
  services.AddProcessService("Corvale", {testsupport::BinDir() + "/corvale", "service"});
  THeadlessEntryUi ui;
  // Nothing runs: nothing is stopped, nothing to restart.
  EXPECT_FALSE(StopOwnService(services, ui));

  ASSERT_TRUE(services.StartService("", "Corvale")) << TServiceControl::LastServiceError();
  ASSERT_TRUE(WaitFor(true, std::chrono::seconds(20))) << "the service's copy showed no window";
  EXPECT_TRUE(StopOwnService(services, ui));
  EXPECT_EQ(services.State("Corvale"), svcstate::Stopped);
  EXPECT_FALSE(ShowRunningInstance());

  RestartOwnService(services, ui);
  EXPECT_TRUE(services.IsServiceRunning("", "Corvale"));
  ASSERT_TRUE(WaitFor(true, std::chrono::seconds(20))) << "the restarted service showed no window";
  EXPECT_EQ(services.Requests(), (std::vector<std::string>{"Start Corvale", "Stop Corvale", "Start Corvale"}));
  EXPECT_TRUE(services.StopService("", "Corvale", 20000));
}
