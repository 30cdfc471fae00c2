#include "core/THostNameLookups.h"

#include <cctype>
#include <mutex>
#include <vector>

#include "core/RunState.h"
#include "core/TAddressLookup.h"
#include "core/THost.h"
#include "core/THostChanges.h"
#include "core/THostList.h"
#include "core/TRunningTests.h"
#include "hosttests/THostNameThread.h"

namespace {
std::string Key(const std::string& address) {
  std::string key = address;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}
}  // namespace

THostNameLookups::THostNameLookups(TMonitorParts parts, TTestContext& tests)
    : F(std::move(parts)), FStart(NameThreads(tests)) {}

THostNameLookups::TStart THostNameLookups::NameThreads(TTestContext& tests) {
  return [&tests](const std::string& name, TDone done) -> std::shared_ptr<TBackgroundTask> {
    return THostNameThread::Create(tests, name,
                                   [done = std::move(done)](THostNameThread&, const std::string& looked,
                                                            const std::string&, const std::string& dotted) {
                                     done(looked, dotted);
                                   });
  };
}

THostNameLookups::~THostNameLookups() = default;

void THostNameLookups::LookUpMissingAddresses() {
  if (F.RunState.load() != rsRunning || !FStart) return;
  try {
    for (int index = 0; index < F.Hosts.Count(); ++index) {
      const THost& host = *F.Hosts.Items(index);
      if (host.IsGroup() || host.Address.empty() || !host.CurrentIP.empty() || TAddressLookup::IsDotted(host.Address))
        continue;
      const std::string key = Key(host.Address);
      if (FRunning.contains(key)) continue;
      const std::weak_ptr<int> alive = FAlive;
      std::shared_ptr<TBackgroundTask> task =
          FStart(host.Address, [this, alive, key](const std::string&, const std::string& dotted) {
            if (alive.lock()) Answered(key, dotted);
          });
      if (!task) continue;
      FRunning.emplace(key, task);
      F.Running.Add("HostName (for display) " + host.Address, std::move(task));
    }
  } catch (...) {
    ReportFault(F.Faults, "HostNameLookups", CurrentExceptionText());
  }
}

void THostNameLookups::Answered(const std::string& key, const std::string& dotted) {
  if (const auto it = FRunning.find(key); it != FRunning.end()) {
    F.Running.Remove(it->second.get());
    FRunning.erase(it);
  }
  if (dotted.empty() || F.RunState.load() != rsRunning) return;
  std::vector<std::int32_t> changed;
  {
    std::unique_lock<std::shared_mutex> guard(F.StateLock);
    for (const std::int32_t id : F.Hosts.WithAddress(key))
      if (THost* host = F.Hosts.Items(F.Hosts.FindByID(id)); host && !host->IsGroup() && host->CurrentIP.empty()) {
        host->CurrentIP = dotted;
        changed.push_back(id);
      }
  }
  for (const std::int32_t id : changed) F.Changes.Changed(id, "HostNameLookup");
}
