#pragma once
// A started monitor that loads the plug-ins of one folder (CORVALE_PLUGIN_DIR) and runs
// their tests in the built test process program; hosts are tested when a test asks.
#include <QCoreApplication>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "MonitorFixture.h"

inline const std::string TestPlugins = std::string(CORVALE_BIN_DIR) + "/../test/plugins";
inline const std::string Runner = std::string(CORVALE_BIN_DIR) + "/corvale-plugin-runner";

class PluginFixture : public MonitorFixture {
protected:
  explicit PluginFixture(const std::string& folder = TestPlugins)
      : FEnvPlugins("CORVALE_PLUGIN_DIR", folder), FEnvRunner("CORVALE_PLUGIN_RUNNER", Runner) {}

  void Start() {
    M = NewMonitor();
    ASSERT_TRUE(M->Startup());
  }
  ~PluginFixture() override {
    if (M) M->Shutdown();
  }

  THost& AddPluginHost(const std::string& name, TTestKind kind, const std::string& parameter,
                       const std::string& address = "127.0.0.1") {
    THost& host = InsertTestHost(*M, name, address, StatusOnline);
    host.TestKind = kind;
    host.PluginParam = parameter;
    // Tested only when a test asks: results count only while testing is on.
    host.TestInterval = 100000;
    host.LastCheck = FClock.Now();
    return host;
  }

  // Tests the host and lets the event loop run until the host has taken its result (a
  // success or failure counted, or a new note), which may follow a name lookup.
  bool Run(THost& host, int timeoutMs = 15000) {
    const std::uint32_t counted = host.Successes + host.Failures;
    const std::string note = host.LastErrorText;
    M->TestHost(M->Hosts().IndexOf(&host));
    if (!host.RunningTest) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((host.RunningTest || (host.Successes + host.Failures == counted && host.LastErrorText == note)) &&
           std::chrono::steady_clock::now() < deadline) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::chrono::steady_clock::now() < deadline;
  }

  testsupport::TScopedEnv FEnvPlugins, FEnvRunner;
  std::unique_ptr<TMonitor> M;
};

