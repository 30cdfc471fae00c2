// Loading and saving the host list as the current configuration.
#include <QCoreApplication>
#include <QThread>

#include <chrono>

#include "common/Clock.h"
#include "common/FileUtils.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "core/TMonitor.h"
#include "hosttests/TBackgroundTask.h"

namespace {

using TSteadyClock = std::chrono::steady_clock;

// Asks the running tests of the records to end and waits, at most the host-list wait
// time, with the event loop running: their completion steps arrive through it and
// still find the records they belong to.
void EndRunningTests(const THostList& hosts, TSteadyClock::time_point start) {
  const auto anyAlive = [&hosts] {
    for (const auto& record : hosts.Records())
      if (record->RunningTest && record->RunningTest->IsAlive()) return true;
    return false;
  };
  if (!anyAlive()) return;
  for (int i = hosts.Count() - 1; i >= 0; --i)
    if (const THost* record = hosts.Items(i); record->RunningTest) record->RunningTest->Terminate();
  while (anyAlive() && TSteadyClock::now() - start < std::chrono::milliseconds(HostListWaitMs)) {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(10);
  }
}

}  // namespace

void TMonitor::LoadConfiguration() { LoadConfiguration(FHostsFileName); }

void TMonitor::SaveConfiguration() { SaveConfiguration(FHostsFileName); }

bool TMonitor::LoadConfiguration(const std::string& fileName) {
  // Emptying the host list for a file that is not there would leave nothing to save.
  if (!FileExists(NativePath(fileName))) {
    LogEvent(nullptr, "Unable to load the configuration file " + fileName + ": it does not exist", 'E');
    return false;
  }
  const auto start = TSteadyClock::now();
  EndRunningTests(*FHosts, start);

  // The file is read into a list of its own, without the state lock: reading may take a
  // while (names are looked up for the local-subnet flag), and its events take the lock.
  THostList loaded;
  THostsLoadOptions options;
  options.Now = FClock.Now();
  options.PluginTestIndex = FPluginTestIndex;
  options.Log = [this](const THost* host, const std::string& message, char category) {
    LogEvent(host, message, category);
  };
  const bool ok = LoadHosts(fileName, loaded, options);

  THostList::TRecords previous;
  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    previous = FHosts->ExtractAll();
    for (auto& record : loaded.ExtractAll()) FHosts->Add(std::move(record));
    // Even a partial list belongs to this file, whose original the load kept beside it:
    // saved under the previous name it would replace a configuration it never came from.
    FHostsFileName = fileName;
  }
  for (auto& record : previous) THostList::FreeRecord(std::move(record), start, true, HostListWaitMs, FaultHook());
  emit HostListRebuilt();

  if (ok) LogEvent(nullptr, "\"" + fileName + "\" loaded as the current configuration file", 'C');
  for (const auto& hook : FConfigurationChangedHooks) {
    try {
      hook(fileName, FHosts->Count());
    } catch (...) {
      ReportCurrentException("configuration hook");
    }
  }
  return ok;
}

bool TMonitor::SaveHostsFile(const std::string& fileName, std::string* errorText) {
  THostsSaveOptions options;
  options.PluginTestIdentifier = FPluginTestIdentifier;
  return SaveHosts(fileName, *FHosts, options, errorText);
}

bool TMonitor::SaveConfiguration(const std::string& fileName) {
  std::string error;
  if (!SaveHostsFile(fileName, &error)) {
    // Unsaved changes would otherwise vanish without a word at shutdown.
    LogEvent(nullptr, "Unable to save the configuration file " + fileName + ": " + error, 'E');
    return false;
  }
  LogEvent(nullptr, "Configuration file saved: " + fileName, 'C');
  return true;
}
