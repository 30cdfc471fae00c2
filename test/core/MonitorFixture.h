#pragma once
// A monitor in this process with its own registry, data folder and window folder, and a
// clock that tests move: 8 December 2026, 14:05:00.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Clock.h"
#include "common/FileUtils.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/THostNameLookups.h"
#include "core/TMonitor.h"
#include "platform/TSimServiceControl.h"
#include "support/TestSupport.h"

// The rows the monitor asks the views to show again, as list indexes, each batch in list
// order (the order within a batch means nothing); Take tells the pending batch first and
// empties the record.
class TChangedRows {
public:
  explicit TChangedRows(TMonitor& m) : M(m) {
    QObject::connect(&M.Changes(), &THostChanges::HostsChanged, &FReceiver, [this](const QList<qint32>& ids) {
      const std::size_t start = Rows.size();
      for (qint32 id : ids) Rows.push_back(M.Hosts().FindByID(id));
      std::sort(Rows.begin() + static_cast<std::ptrdiff_t>(start), Rows.end());
    });
  }
  std::vector<int> Take() {
    M.Changes().Flush();
    return std::exchange(Rows, {});
  }
  std::vector<int> Rows;

private:
  TMonitor& M;
  QObject FReceiver;
};

class MonitorFixture : public ::testing::Test {
protected:
  MonitorFixture()
      : FEnvReg("CORVALE_REGISTRY_DIR", Dir("reg")), FEnvData("CORVALE_DATA_DIR", Dir("data")),
        FEnvRun("XDG_RUNTIME_DIR", Dir("run")), FClock(EncodeDateTime(2026, 12, 8, 14, 5, 0), 1000) {
    ForceDirectories(DataFolder());
  }

  std::string Dir(const char* name) {
    const std::string d = FRoot.Path() + "/" + name;
    ::mkdir(d.c_str(), 0700);
    return d;
  }

  // Where the started monitor keeps its files.
  std::string DataFolder() const { return FRoot.Path() + "/data/Quillmoor/Corvale/"; }

  std::unique_ptr<TMonitor> NewMonitor() {
    TStartOptions options;
    options.ServiceMode = true;
    auto monitor = std::make_unique<TMonitor>(options, FClock, FServices);
    // The names tests give their hosts are not looked up for the list: a name server is
    // no loopback peer. A test of the lookups gives them a way of its own.
    monitor->NameLookups().SetStart({});
    return monitor;
  }

  // A host put straight into the monitor's list with the given status, its parents up;
  // nothing tests it unless a test asks.
  THost& InsertTestHost(TMonitor& m, const std::string& name, const std::string& address, int status) {
    auto record = m.Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = address;
    THost* host = m.InsertHost(m.Hosts().Count(), std::move(record));
    host->Status = status;
    host->ParentsUp = true;
    return *host;
  }

  // Lets the results of running tests arrive; false when some are still running after
  // the seconds given.
  static bool WaitIdle(TMonitor& m, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      bool busy = false;
      for (const auto& record : m.Hosts().Records()) busy = busy || record->RunningTest != nullptr;
      // A result may still wait for the address of its host.
      if (!busy && m.Evaluation().LookupsWaiting() == 0) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
  }

  static bool HasLine(TMonitor& m, const std::string& text, char category) {
    for (const TLogLine& l : m.Log().Lines())
      if (l.Text.find("\t" + text) != std::string::npos && l.Text.back() == category) return true;
    return false;
  }

  testsupport::TTempDir FRoot;
  testsupport::TScopedEnv FEnvReg, FEnvData, FEnvRun;
  TManualClock FClock;
  TSimServiceControl FServices;  // no services until a test adds some
};
