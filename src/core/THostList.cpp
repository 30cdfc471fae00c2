#include "core/THostList.h"

#include "core/QuietWait.h"
#include "hosttests/TBackgroundTask.h"

#include <mutex>


#include <algorithm>
#include <random>
#include <thread>

namespace {

std::vector<std::string> ParentItems(const std::string& parents) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= parents.size()) {
    auto end = parents.find(';', start);
    if (end == std::string::npos) end = parents.size();
    if (end > start) items.push_back(parents.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

std::optional<uint32_t> ParseIDText(const std::string& text) {
  if (text.size() != 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  return value;
}

bool Alive(const std::shared_ptr<TBackgroundTask>& task) {
  return task && task->IsAlive();
}

}  // namespace

THostList::THostList(TRandomSource random) : FRandom(std::move(random)) {
  if (!FRandom) {
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    FRandom = [engine] { return static_cast<uint32_t>((*engine)()); };
  }
}

THostList::~THostList() = default;

THost* THostList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FHosts[static_cast<size_t>(index)].get();
}

THost* THostList::Add(std::unique_ptr<THost> record) {
  return Insert(Count(), std::move(record));
}

THost* THostList::Insert(int index, std::unique_ptr<THost> record) {
  if (!record) return nullptr;
  THost* result = record.get();
  if (index < 0 || index > Count()) index = Count();
  FHosts.insert(FHosts.begin() + index, std::move(record));
  FDependantsStale = true;
  FAddressesStale = true;
  return result;
}

std::unique_ptr<THost> THostList::Extract(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  auto record = std::move(FHosts[static_cast<size_t>(index)]);
  FHosts.erase(FHosts.begin() + index);
  FDependantsStale = true;
  FAddressesStale = true;
  return record;
}

THostList::TRecords THostList::ExtractAll() {
  TRecords records;
  records.swap(FHosts);
  FDependantsStale = true;
  FAddressesStale = true;
  return records;
}

int THostList::IndexOf(const THost* record) const {
  for (size_t i = 0; i < FHosts.size(); ++i)
    if (FHosts[i].get() == record) return static_cast<int>(i);
  return -1;
}

int THostList::FindByID(int32_t id) const {
  // Every result looks up its host and every record's parents: with thousands of hosts a
  // walk of the list each time costs more than everything else together. The map is
  // only a cache, as records may be inserted, removed or given another ID at any time:
  // a hit is checked against the record it names, and a miss walks the list, rebuilding
  // the map when the walk finds what the map did not. Readers on other threads look up
  // at the same time (under the state lock held shared), hence the cache's own lock.
  std::lock_guard<std::mutex> guard(FIndexLock);
  const auto it = FIndexByID.find(id);
  if (it != FIndexByID.end() && it->second < FHosts.size() && FHosts[it->second]->ID == id)
    return static_cast<int>(it->second);
  for (size_t i = 0; i < FHosts.size(); ++i) {
    if (FHosts[i]->ID != id) continue;
    FIndexByID.clear();
    // The first record with an ID is the one found, as by the walk.
    for (size_t j = 0; j < FHosts.size(); ++j) FIndexByID.emplace(FHosts[j]->ID, j);
    return static_cast<int>(i);
  }
  return -1;
}

int THostList::FindByIDText(const std::string& idText) const {
  // Eight upper-case digits name exactly one value, so comparing values is comparing texts.
  const auto id = ParseIDText(idText);
  return id ? FindByID(static_cast<int32_t>(*id)) : -1;
}

bool THostList::HasID(int32_t id) const {
  return FindByID(id) >= 0 || FindRetired(id) >= 0;
}

int32_t THostList::NewID(const THostList* other) {
  auto taken = [&](int32_t id) { return HasID(id) || (other && other->FindByID(id) >= 0); };
  int32_t id = static_cast<int32_t>(FRandom() & MaxHostID);
  // A source that keeps repeating itself must not hang us: after enough draws count up.
  for (int draws = 1; taken(id) && draws < 64; ++draws)
    id = static_cast<int32_t>(FRandom() & MaxHostID);
  for (int32_t step = 0; taken(id) && step <= MaxHostID; ++step)
    id = id == MaxHostID ? 0 : id + 1;
  return id;
}

std::unique_ptr<THost> THostList::NewRecord(TDateTime now) {
  auto record = std::make_unique<THost>();
  record->ID = NewID();
  record->BaselineTime = now;
  return record;
}

void THostList::CopyRecord(const THost& source, THost& target, bool full, TDateTime now) {
  if (&source == &target) return;
  if (target.RunningTest) target.RunningTest->Terminate();
  target.Config() = source.Config();
  FAddressesStale = true;
  if (full) {
    // The status, the statistics and the history; the share connection stays with the
    // record that opened it.
    std::string shareConnection = std::move(target.ShareConnection);
    target.State() = source.State();
    target.ShareConnection = std::move(shareConnection);
  } else {
    target.ID = NewID();
    target.Status = StatusUnknown;
    target.PreviousStatus = StatusUnknown;
    // When it was tested and what its parents were: a copy is not due at once.
    target.LastCheck = source.LastCheck;
    target.LastSuccess = source.LastSuccess;
    target.LastFailure = source.LastFailure;
    target.PreviousCheck = source.PreviousCheck;
    target.ParentHasBeenOffline = source.ParentHasBeenOffline;
    target.ParentsUp = source.ParentsUp;
    target.LocalSubnet = source.LocalSubnet;
  }
  // What no copy carries over: what the address answered, and the running work.
  target.CurrentIP.clear();
  target.PreviousIP.clear();
  target.MACAddress.clear();
  target.KnownRoutes.clear();
  target.LastAutoTrace = 0;
  target.BaselineTime = now;
  target.RunningTest.reset();
  target.RunningTrace.reset();
  target.SimulatedFailureUntil = 0;
  RecomputeAncestors(target);
}

std::optional<bool> THostList::AnyParentChainUp(const THost& record, bool warningIsDown,
                                                TVisits& visits) const {
  bool found = false;
  bool up = false;
  for (const auto& item : ParentItems(record.Parents)) {
    const THost* parent = Items(FindByIDText(item));
    if (!parent) continue;
    auto visit = visits.find(parent);
    // A parent still being walked lies on a cycle back to itself.
    if (visit != visits.end() && visit->second == TVisit::InProgress) continue;
    found = true;
    if (!up) up = ParentChainUp(*parent, warningIsDown, visits);
  }
  if (!found) return std::nullopt;
  return up;
}

bool THostList::ParentChainUp(const THost& parent, bool warningIsDown, TVisits& visits) const {
  if (parent.Status == StatusOffline) return false;
  if (warningIsDown && parent.Status == StatusWarning) return false;
  // A parent met again through another path answers as it did the first time, so a
  // shared grandparent that is down holds every path through it down.
  if (auto visit = visits.find(&parent); visit != visits.end())
    return visit->second == TVisit::Up;
  visits[&parent] = TVisit::InProgress;
  const bool up = AnyParentChainUp(parent, warningIsDown, visits).value_or(true);
  visits[&parent] = up ? TVisit::Up : TVisit::Down;
  return up;
}

bool THostList::ParentsUp(const THost& record, TDateTime now) const {
  // Most records have no parents, and every result re-checks all records.
  if (record.Parents.empty() || record.IsDisabled(now)) return true;
  TVisits visits{{&record, TVisit::InProgress}};
  return AnyParentChainUp(record, true, visits).value_or(true);
}

bool THostList::ParentsDown(const THost& record, TDateTime now) const {
  if (record.Parents.empty() || record.IsDisabled(now)) return false;
  TVisits visits{{&record, TVisit::InProgress}};
  return !AnyParentChainUp(record, false, visits).value_or(true);
}

void THostList::RecomputeAncestors(THost& record) const {
  const std::string own = record.IDText();
  std::vector<std::string> found;
  std::vector<const THost*> pending{&record};
  while (!pending.empty()) {
    const THost* current = pending.back();
    pending.pop_back();
    for (const auto& item : ParentItems(current->Parents)) {
      // A cycle back to the record itself would make its own recovery reset its baseline.
      if (item == own || std::find(found.begin(), found.end(), item) != found.end()) continue;
      const THost* parent = Items(FindByIDText(item));
      if (!parent) continue;
      found.push_back(item);
      pending.push_back(parent);
    }
  }
  std::string ancestors;
  for (const auto& item : found) {
    if (!ancestors.empty()) ancestors += ';';
    ancestors += item;
  }
  record.Ancestors = std::move(ancestors);
  FDependantsStale = true;
}

namespace {
std::string AddressKey(const std::string& address) {
  std::string key = address;
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}
}  // namespace

std::vector<int32_t> THostList::WithAddress(const std::string& address) const {
  if (FAddressesStale) {
    FByAddress.clear();
    for (const auto& record : FHosts) FByAddress[AddressKey(record->Address)].push_back(record->ID);
    FAddressesStale = false;
  }
  const auto it = FByAddress.find(AddressKey(address));
  return it == FByAddress.end() ? std::vector<int32_t>() : it->second;
}

const std::vector<int32_t>& THostList::Dependants(int32_t id) const {
  if (FDependantsStale) {
    FDependants.clear();
    for (const auto& record : FHosts)
      for (const auto& item : ParentItems(record->Ancestors))
        if (const auto ancestor = ParseIDText(item)) FDependants[static_cast<int32_t>(*ancestor)].push_back(record->ID);
    FDependantsStale = false;
  }
  static const std::vector<int32_t> None;
  const auto it = FDependants.find(id);
  return it == FDependants.end() ? None : it->second;
}

void THostList::RecomputeAllAncestors() {
  for (auto& record : FHosts) RecomputeAncestors(*record);
}

THost* THostList::RetiredItems(int index) const {
  if (index < 0 || index >= RetiredCount()) return nullptr;
  return FRetired[static_cast<size_t>(index)].get();
}

void THostList::Retire(std::unique_ptr<THost> record) {
  if (record) FRetired.push_back(std::move(record));
}

int THostList::FindRetired(int32_t id) const {
  for (size_t i = 0; i < FRetired.size(); ++i)
    if (FRetired[i]->ID == id) return static_cast<int>(i);
  return -1;
}

bool THostList::ReleaseRetired(int32_t id) {
  const int index = FindRetired(id);
  if (index < 0) return false;
  THost& record = *FRetired[static_cast<size_t>(index)];
  record.RunningTest.reset();
  // Freeing it now would make its trace wait on the main thread or leave a queued alert
  // without its host; it waits in the retired hosts until shutdown instead.
  if (Busy(record)) return true;
  auto released = std::move(FRetired[static_cast<size_t>(index)]);
  FRetired.erase(FRetired.begin() + index);
  FreeRecord(std::move(released));
  return true;
}

void THostList::ReleaseIdleRetired() {
  for (int i = RetiredCount() - 1; i >= 0; --i) {
    if (Busy(*FRetired[static_cast<size_t>(i)])) continue;
    auto released = std::move(FRetired[static_cast<size_t>(i)]);
    FRetired.erase(FRetired.begin() + i);
    FreeRecord(std::move(released));
  }
}

bool THostList::Busy(const THost& record) const {
  if (record.RunningTest || record.RunningTrace) return true;
  try {
    return FBusyCheck && FBusyCheck(record.ID);
  } catch (...) {
    ReportFault(FFaults, "busy check", CurrentExceptionText());
    return true;  // keeping a record too long is harmless, freeing it too early is not
  }
}

void THostList::RetireOrFree(std::unique_ptr<THost> record) {
  if (!record) return;
  if (Busy(*record))
    Retire(std::move(record));
  else
    FreeRecord(std::move(record));
}

void THostList::FreeAll(std::optional<TTick> start, bool keepMessagesFlowing, int waitMs) {
  const TTick from = start.value_or(std::chrono::steady_clock::now());
  for (auto& record : ExtractAll()) FreeRecord(std::move(record), from, keepMessagesFlowing, waitMs, FFaults);
  TRecords retired;
  retired.swap(FRetired);
  for (auto& record : retired) FreeRecord(std::move(record), from, keepMessagesFlowing, waitMs, FFaults);
}

void THostList::FreeRecord(std::unique_ptr<THost> record, std::optional<TTick> start,
                           bool keepMessagesFlowing, int waitMs, const TFaultHook& faults) {
  if (!record) return;
  try {
    if (record->RunningTest && record->RunningTest->IsEchoTest()) record->RunningTest->Abort();
    const TTick deadline = start.value_or(std::chrono::steady_clock::now()) +
                           std::chrono::milliseconds(waitMs);
    const auto ended = [&record] { return !Alive(record->RunningTest) && !Alive(record->RunningTrace); };
    if (keepMessagesFlowing) {
      // The workers' completion steps arrive through the main loop.
      QuietWait(ended, deadline);
    } else {
      while (!ended() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  } catch (...) {
    // The record goes all the same; its threads hold copies, never the record.
    ReportFault(faults, "FreeRecord", CurrentExceptionText());
  }
  record.reset();
}
