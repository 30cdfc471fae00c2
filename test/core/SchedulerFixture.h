#pragma once
// A monitor with hosts the test adds, for the scheduler and the host operations. Tests
// call Timer1Timer() themselves and move the fixture's clock between passes.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "hosttests/TBackgroundTask.h"

class SchedulerFixture : public MonitorFixture {
protected:
  SchedulerFixture() : FMonitor(NewMonitor()), M(*FMonitor) {
    // Probes are tested on their own; elsewhere they would only add workers.
    M.Settings().TestHostServices = false;
  }

  ~SchedulerFixture() override {
    // Alert channels a test made are gone by now.
    M.SetAlertChannels(nullptr);
    for (const TRunningTask& t : M.RunningTests()) Forget(t.Task);
    for (const auto& record : M.Hosts().Records())
      if (record->RunningTest) Forget(record->RunningTest);
    RunUntil([this] {
      for (const auto& t : FForgotten)
        if (t->IsAlive()) return false;
      return M.Completions().Echo == 0 && M.Completions().TCP == 0;
    });
  }

  // A Ping host at 127.0.0.1 that is due at once (never checked).
  THost& Add(const std::string& name, const std::string& address = "127.0.0.1") {
    std::unique_ptr<THost> record = M.Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = address;
    return *M.Hosts().Add(std::move(record));
  }

  int IndexOf(const THost& host) { return M.Hosts().IndexOf(&host); }

  // Whether a test of the host runs. It is forgotten (its result will find no running
  // test), so that the next pass may start another.
  bool Tested(THost& host) {
    if (!host.RunningTest) return false;
    M.Running().Remove(host.RunningTest.get());
    Forget(host.RunningTest);
    host.RunningTest.reset();
    return true;
  }

  void ForgetAll() {
    for (const auto& record : M.Hosts().Records()) Tested(*record);
  }

  void Forget(const std::shared_ptr<TBackgroundTask>& task) {
    if (!task) return;
    task->Terminate();
    FForgotten.push_back(task);
  }

  int RunningNamed(const std::string& name) {
    int n = 0;
    for (const TRunningTask& t : M.RunningTests()) n += t.Name == name;
    return n;
  }

  int LinesWith(const std::string& text) {
    int n = 0;
    for (const TLogLine& l : M.Log().Lines()) n += l.Text.find("\t" + text) != std::string::npos;
    return n;
  }

  static bool RunUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > ms) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
  }

  // Seconds, for moving the clock.
  void Advance(double seconds) { FClock.Advance(seconds * 1000); }

  std::unique_ptr<TMonitor> FMonitor;
  TMonitor& M;
  std::vector<std::shared_ptr<TBackgroundTask>> FForgotten;
};
