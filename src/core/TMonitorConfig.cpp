// Loading and saving the host list as the current configuration.
#include <chrono>
#include <unordered_set>

#include "common/Clock.h"
#include "common/FileUtils.h"
#include "common/SystemInfo.h"
#include "core/HostAddress.h"
#include "core/QuietWait.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "core/TMonitor.h"
#include "core/TPartnerWindows.h"
#include "hosttests/TBackgroundTask.h"

namespace {

using TSteadyClock = std::chrono::steady_clock;

// Asks the running tests of the records to end and waits, at most the host-list wait
// time: their completion steps still find the records they belong to.
void EndRunningTests(const THostList& hosts, TSteadyClock::time_point start) {
  const auto noneAlive = [&hosts] {
    for (const auto& record : hosts.Records())
      if (record->RunningTest && record->RunningTest->IsAlive()) return false;
    return true;
  };
  if (noneAlive()) return;
  for (int i = hosts.Count() - 1; i >= 0; --i)
    if (const THost* record = hosts.Items(i); record->RunningTest) record->RunningTest->Terminate();
  QuietWait(noneAlive, start + std::chrono::milliseconds(HostListWaitMs));
}

}  // namespace

void TMonitor::LoadConfiguration() { LoadConfiguration(FHostsFileName); }

void TMonitor::SaveConfiguration() { SaveConfiguration(FHostsFileName); }

bool TMonitor::LoadConfiguration(const std::string& fileName) {
  // Emptying the host list for a file that is not there would leave nothing to save.
  if (!FileExists(NativePath(fileName))) {
    LogEvent(nullptr, "Unable to load the configuration file " + fileName + ": it does not exist", TLogCategory::Error);
    return false;
  }
  const auto start = TSteadyClock::now();
  const TQuietOperation quiet(*this);
  EndRunningTests(*FHosts, start);

  // The file is read into a list of its own, without the state lock: reading may take a
  // while (names are looked up for the local-subnet flag), and its events take the lock.
  THostList loaded;
  THostsLoadOptions options;
  options.Now = FClock.Now();
  options.PluginTestIndex = FPluginTestIndex;
  options.Log = [this](const THost* host, const std::string& message, TLogCategory category) {
    LogEvent(host, message, category);
  };
  const bool ok = LoadHosts(fileName, loaded, options);

  THostList::TRecords previous;
  {
    // Completion steps run on this thread, after the new list stands.
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    previous = FHosts->ExtractAll();
    for (auto& record : loaded.ExtractAll()) FHosts->Add(std::move(record));
    // Even a partial list belongs to this file, whose original the load kept beside it:
    // saved under the previous name it would replace a configuration it never came from.
    FHostsFileName = fileName;
  }
  FEvaluation->CheckAllParents();
  FChanges->Rebuilt();
  for (auto& record : previous) THostList::FreeRecord(std::move(record), start, true, HostListWaitMs, FaultHook());

  if (ok) LogEvent(nullptr, "\"" + fileName + "\" loaded as the current configuration file", TLogCategory::Configuration);
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
    LogEvent(nullptr, "Unable to save the configuration file " + fileName + ": " + error, TLogCategory::Error);
    return false;
  }
  LogEvent(nullptr, "Configuration file saved: " + fileName, TLogCategory::Configuration);
  return true;
}

bool TMonitor::ApplyConfiguration(THostList::TRecords records) {
  const TDateTime now = FClock.Now();
  std::erase(records, nullptr);
  std::vector<THost*> hosts;
  int32_t group = 0;
  for (auto& record : records) {
    // A copy may carry the running test of the record it was copied from; that test's
    // result belongs to the old record, which it still finds among the retired hosts.
    record->RunningTest.reset();
    record->RunningTrace.reset();
    if (record->IsGroup()) ++group;
    else hosts.push_back(record.get());
    record->GroupNumber = group;
    if (record->BaselineTime == 0) record->BaselineTime = now;
  }
  // Two records with one ID would share every result and alert meant for either.
  std::unordered_set<int32_t> ids;
  for (auto& record : records) {
    if (ids.insert(record->ID).second) continue;
    int32_t id;
    do id = FHosts->NewID();
    while (ids.count(id) != 0);
    ids.insert(id);
    LogEvent(nullptr, "The host ID of \"" + record->DisplayName + "\" was taken by another host and was renewed",
             TLogCategory::Warning);
    record->ID = id;
  }
  // Names may wait for a name server: looked up before the state lock is taken.
  SetLocalSubnetFlags(hosts);

  {
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    THostList::TRecords previous = FHosts->ExtractAll();
    for (auto& record : records) FHosts->Add(std::move(record));
    FHosts->RecomputeAllAncestors();
    // A busy record waits among the retired hosts for its test, trace or alert; nothing
    // here waits for a test to end.
    for (auto& record : previous) FHosts->RetireOrFree(std::move(record));
  }
  FEvaluation->CheckAllParents();
  FChanges->Rebuilt();
  for (const auto& hook : FConfigurationChangedHooks) {
    try {
      hook(FHostsFileName, FHosts->Count());
    } catch (...) {
      ReportCurrentException("configuration hook");
    }
  }
  FPartners->SendHostListToSubscribers();

  const bool saved = SaveConfiguration(FHostsFileName);
  LogEvent(nullptr, LocalUserName() + " modified configuration file", TLogCategory::Configuration);
  return saved;
}
