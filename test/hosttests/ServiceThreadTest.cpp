// The service test: its result from a real Samba server's service manager (running,
// stopped, missing, wrong password), the error rules, the trace, and the slot limit
// (with queries held on the simulated manager).
#include <gtest/gtest.h>

#include <QObject>

#include <condition_variable>
#include <mutex>

#include "common/ErrorText.h"
#include "hosttests/TServiceKind.h"
#include "hosttests/TServiceThread.h"
#include "hosttests/TTestContext.h"
#include "platform/TNetConnections.h"
#include "platform/TSambaServiceControl.h"
#include "platform/TSimServiceControl.h"
#include "support/TSambaServer.h"
#include "WorkerTestSupport.h"

using testsupport::TSambaServer;
using workertest::PumpUntil;

namespace {

struct TOutcome {
  bool Called = false, Running = false;
  std::int32_t Error = -1, HostID = 0, Elapsed = -1;
  std::string Resolved, Service;
};

struct TRig {
  explicit TRig(TServiceControl& services) : Main(new QObject), Context(Main.get(), nullptr) {
    Context.Services.store(&services);
    Context.SetTracer([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(Lock);
      Lines.push_back(line);
    });
  }
  std::shared_ptr<TServiceThread> Start(TOutcome& out, const std::string& service, const std::string& user = "",
                                        const std::string& password = "", const std::string& address = "127.0.0.1") {
    return TServiceThread::Create(
        Context, "Service test", address, 7,
        [&out](TServiceThread&, const std::string&, const std::string& resolved, bool running, std::int32_t error,
               std::int32_t id, std::int32_t elapsed, const std::string& name) {
          out = {true, running, error, id, elapsed, resolved, name};
        },
        service, password, user);
  }
  std::vector<std::string> Traces() {
    std::lock_guard<std::mutex> lock(Lock);
    return Lines;
  }
  std::unique_ptr<QObject> Main;
  std::mutex Lock;
  std::vector<std::string> Lines;
  TTestContext Context;
};

}  // namespace

TEST(ServiceThread, ErrorRules) {
  EXPECT_EQ(TServiceThread::QueryError(true, 0), 0);
  EXPECT_EQ(TServiceThread::QueryError(false, 0), svcerr::ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_EQ(TServiceThread::QueryError(false, 1060), 1060);
  const TTestResult up = ServiceTestResult(3, true, 0, 12, "127.0.0.1");
  EXPECT_TRUE(up.Success);
  EXPECT_EQ(up.ErrorText, "");
  EXPECT_EQ(up.ResponseTime, 12);
  EXPECT_FALSE(up.DropWhenOnline);
  const TTestResult missing = ServiceTestResult(3, false, 1060, 12, "");
  EXPECT_EQ(missing.ErrorText, ErrorText(1060));
  EXPECT_TRUE(ServiceTestResult(3, false, svcerr::ERROR_INVALID_NAME, 0, "").DropWhenOnline);
}

TEST(ServiceThread, AsksARealServer) {
  std::string why;
  if (!TSambaServer::Available(why)) GTEST_SKIP() << why;
  TSambaServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.AddUser("root", "pw")) << server.Error();
  TSambaServiceControl remote(server.Port());
  TRig rig(remote);
  const struct {
    const char* Service;
    const char* Password;
    bool Running;
    int Error;
  } cases[] = {{"RemoteRegistry", "pw", true, 0},
               {"Spooler", "pw", false, svcerr::ERROR_SERVICE_NOT_ACTIVE},
               {"NoSuch", "pw", false, svcerr::ERROR_SERVICE_DOES_NOT_EXIST},
               {"RemoteRegistry", "wrong", false, -1}};
  for (const auto& c : cases) {
    TOutcome out;
    auto test = rig.Start(out, c.Service, "root", c.Password);
    ASSERT_TRUE(PumpUntil([&] { return out.Called; })) << c.Service;
    EXPECT_EQ(out.Running, c.Running) << c.Service;
    if (c.Error >= 0) {
      EXPECT_EQ(out.Error, c.Error) << c.Service << " " << server.Log();
    } else {
      EXPECT_NE(out.Error, 0);
      EXPECT_NE(out.Error, svcerr::ERROR_SERVICE_NOT_ACTIVE);
    }
    EXPECT_EQ(out.HostID, 7);
    EXPECT_EQ(out.Resolved, "127.0.0.1");
    EXPECT_EQ(out.Service, c.Service);
    EXPECT_GE(out.Elapsed, 0);
    EXPECT_FALSE(TNetConnections::Instance().CredentialsFor("127.0.0.1")) << "the connection outlived the test";
  }
  const std::vector<std::string> traces = rig.Traces();
  ASSERT_GE(traces.size(), 8u);
  const std::vector<std::string> first(traces.begin(), traces.begin() + 8);
  EXPECT_EQ(first, (std::vector<std::string>{"ServiceThread Execute", "ServiceThread Authentication 127.0.0.1",
                                             "ServiceThread Wait 127.0.0.1", "ServiceThread Test 127.0.0.1",
                                             "ServiceThread Result 127.0.0.1", "ServiceThread Callback Wait",
                                             "ServiceThread Callback Alert",
                                             "ServiceThread Done"}));
  EXPECT_EQ(rig.Context.ServiceSlots.InFlight(), 0);
  EXPECT_EQ(rig.Context.Completions.Service.load(), 0);
}

TEST(ServiceThread, SixthTestWaitsForOneOfFiveSlots) {
  TSimServiceControl sim;
  sim.AddService("Db", "Database", svcstate::Running);
  std::mutex lock;
  std::condition_variable wake;
  int held = 0;
  bool release = false;
  sim.SetQueryHook([&] {
    std::unique_lock<std::mutex> guard(lock);
    ++held;
    wake.notify_all();
    wake.wait(guard, [&] { return release; });
  });
  TRig rig(sim);
  rig.Context.MaxServiceThreads.store(5);
  std::vector<TOutcome> outs(6);
  std::vector<std::shared_ptr<TServiceThread>> tests;
  for (TOutcome& out : outs) tests.push_back(rig.Start(out, "Db"));
  {
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(wake.wait_for(guard, std::chrono::seconds(10), [&] { return held == 5; }));
  }
  ASSERT_TRUE(PumpUntil([&] { return rig.Context.ServiceSlots.Waiting() == 1; }, std::chrono::seconds(10)));
  EXPECT_EQ(rig.Context.ServiceSlots.InFlight(), 5);
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  wake.notify_all();
  ASSERT_TRUE(PumpUntil([&] {
    return std::all_of(outs.begin(), outs.end(), [](const TOutcome& o) { return o.Called; });
  }));
  for (const TOutcome& out : outs) EXPECT_TRUE(out.Running);
  EXPECT_EQ(held, 6);
  EXPECT_EQ(rig.Context.ServiceSlots.InFlight(), 0);
  // No credentials: no connection is tried.
  for (const std::string& line : rig.Traces()) EXPECT_EQ(line.find("Authentication"), std::string::npos);
}
