// The service control operations over a manager whose states are exact: which states
// count as running, stop and pause with and without waits, dependants depth first, the
// lists, and one last error per calling thread.
#include <gtest/gtest.h>

#include <thread>

#include "platform/TSimServiceControl.h"

using namespace svcstate;

TEST(ServiceControl, RunningStatesAndErrors) {
  struct TCase {
    int State;
    bool Running;
  };
  const TCase cases[] = {{Stopped, false},       {StartPending, true},  {StopPending, false}, {Running, true},
                         {ContinuePending, true}, {PausePending, false}, {Paused, false}};
  for (const TCase& c : cases) {
    TSimServiceControl sim;
    sim.AddService("Db", "Database", c.State);
    sim.SetPendingMs("Db", TSimServiceControl::NeverMs);
    EXPECT_EQ(sim.IsServiceRunning("", "db"), c.Running) << c.State;
    EXPECT_EQ(TServiceControl::LastServiceError(), 0) << c.State;
  }
  TSimServiceControl sim;
  sim.AddService("Db", "Database", Running);
  sim.SetUnreachable("far");
  const struct {
    std::string Machine, Service;
    int Error;
  } failures[] = {{"", "NoSuch", svcerr::ERROR_SERVICE_DOES_NOT_EXIST}, {"far", "Db", svcerr::RPC_S_SERVER_UNAVAILABLE}};
  for (const auto& f : failures) {
    EXPECT_FALSE(sim.IsServiceRunning(f.Machine, f.Service));
    EXPECT_EQ(TServiceControl::LastServiceError(), f.Error) << f.Service;
    EXPECT_FALSE(sim.StopService(f.Machine, f.Service, 0));
    EXPECT_EQ(TServiceControl::LastServiceError(), f.Error) << f.Service;
  }
  sim.SetRefusal("Db", 5);
  EXPECT_FALSE(sim.StartService("", "Db"));
  EXPECT_EQ(TServiceControl::LastServiceError(), 5);
}

TEST(ServiceControl, StopLeavesOtherStatesAloneAndTimesOutOnTheMovedClock) {
  for (const int state : {Stopped, StartPending, StopPending}) {
    TSimServiceControl sim;
    sim.AddService("Db", "Database", state);
    sim.SetPendingMs("Db", TSimServiceControl::NeverMs);
    std::vector<std::string> stopped;
    EXPECT_FALSE(sim.StopService("", "Db", 30000, &stopped));
    EXPECT_EQ(TServiceControl::LastServiceError(), 0);
    EXPECT_TRUE(sim.Requests().empty());
    EXPECT_TRUE(stopped.empty());
  }
  TSimServiceControl sim;
  sim.AddService("Db", "Database", Running);
  sim.SetPendingMs("Db", TSimServiceControl::NeverMs);
  EXPECT_FALSE(sim.StopService("", "Db", 30000));
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::ERROR_TIMEOUT);
  EXPECT_GE(sim.ClockMs(), 30000);
  EXPECT_LT(sim.ClockMs(), 30000 + 2 * TServiceControl::PollMs);
  // Without a wait, stop pending is success.
  sim.SetState("Db", Running);
  EXPECT_TRUE(sim.StopService("", "Db", 0));
  // A stop that takes 2 s ends within a 30 s wait.
  sim.SetState("Db", Running);
  sim.SetPendingMs("Db", 2000);
  EXPECT_TRUE(sim.StopService("", "Db", 30000));
  EXPECT_EQ(sim.State("Db"), Stopped);
}

TEST(ServiceControl, StopsDependantsDepthFirstAndListsThemFirst) {
  TSimServiceControl sim;
  sim.AddService("A", "Base", Running);
  sim.AddService("B", "Needs A", Running, {"A"});
  sim.AddService("C", "Needs B", Paused, {"B"});
  sim.AddService("D", "Needs A, stopped", Stopped, {"A"});
  std::vector<std::string> stopped;
  EXPECT_FALSE(sim.StopService("", "A", 0, &stopped, false));
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::ERROR_DEPENDENT_SERVICES_RUNNING);
  EXPECT_TRUE(sim.StopService("", "A", 5000, &stopped, true));
  EXPECT_EQ(stopped, (std::vector<std::string>{"C", "B", "A"}));
  EXPECT_EQ(sim.Requests(), (std::vector<std::string>{"Stop C", "Stop B", "Stop A"}));
  for (const char* name : {"A", "B", "C", "D"}) EXPECT_EQ(sim.State(name), Stopped) << name;
}

TEST(ServiceControl, PauseContinueAndStart) {
  TSimServiceControl sim;
  sim.AddService("Db", "Database", Running);
  sim.SetPendingMs("Db", TSimServiceControl::NeverMs);
  std::vector<std::string> done;
  EXPECT_TRUE(sim.PauseService("", "Db", 0, &done));
  EXPECT_EQ(sim.State("Db"), PausePending);
  sim.SetState("Db", Running);
  EXPECT_FALSE(sim.PauseService("", "Db", 1000));
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::ERROR_TIMEOUT);
  sim.SetState("Db", Paused);
  EXPECT_TRUE(sim.ContinueService("", "Db", &done));
  EXPECT_EQ(done, (std::vector<std::string>{"Db", "Db"}));
  sim.SetState("Db", Stopped);
  EXPECT_FALSE(sim.ContinueService("", "Db"));
  EXPECT_EQ(TServiceControl::LastServiceError(), 0);
  EXPECT_TRUE(sim.StartService("", "Db", {"-x"}));
  EXPECT_EQ(sim.State("Db"), StartPending);
  EXPECT_FALSE(sim.StartService("", "Db"));
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::ERROR_SERVICE_ALREADY_RUNNING);
}

TEST(ServiceControl, ListsInEachForm) {
  TSimServiceControl sim;
  sim.AddService("A", "Base", Running);
  sim.AddService("B", "Needs A", Stopped, {"A"});
  sim.AddService("C", "Also needs A", Running, {"A"});
  auto texts = [](const std::vector<TListedService>& list) {
    std::vector<std::string> out;
    for (const TListedService& e : list) out.push_back(e.Text + "=" + std::to_string(e.State));
    return out;
  };
  std::vector<TListedService> list;
  EXPECT_TRUE(sim.ListServices("", list, SERVICE_WIN32, true, false, "|", 2));
  EXPECT_EQ(texts(list), (std::vector<std::string>{"A|Base=4", "B|Needs A=1", "C|Also needs A=4"}));
  list.clear();
  EXPECT_TRUE(sim.ListServices("", list, SERVICE_WIN32, false, true, "|", 1));
  EXPECT_EQ(texts(list), (std::vector<std::string>{"Base=0", "Also needs A=0"}));
  list.clear();
  EXPECT_TRUE(sim.ListServices("", list, SERVICE_DRIVER, true, false, "|", 0));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(sim.ListDependentServices("", "A", list, true, true, ",", 0));
  EXPECT_EQ(texts(list), (std::vector<std::string>{"C=4"}));
}

TEST(ServiceControl, LastErrorBelongsToTheCallingThread) {
  TSimServiceControl sim;
  sim.AddService("Db", "Database", Running);
  int other = -1;
  EXPECT_FALSE(sim.IsServiceRunning("", "Missing"));
  std::thread([&] {
    EXPECT_TRUE(sim.IsServiceRunning("", "Db"));
    other = TServiceControl::LastServiceError();
  }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(TServiceControl::LastServiceError(), svcerr::ERROR_SERVICE_DOES_NOT_EXIST);
}
