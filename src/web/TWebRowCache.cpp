#include "web/TWebRowCache.h"

#include <algorithm>

void TWebRowCache::Changed(const std::vector<std::int32_t>& ids) {
  std::lock_guard<std::mutex> lock(FMutex);
  // A server that never asks must not collect every change of a long run.
  if (FPending.size() + ids.size() > 100000) FAll = true;
  else FPending.insert(FPending.end(), ids.begin(), ids.end());
}

void TWebRowCache::ChangedAll() {
  std::lock_guard<std::mutex> lock(FMutex);
  FAll = true;
}

TWebRowCache::TSlot& TWebRowCache::Slot(const std::string& key, TClock::time_point now) {
  std::vector<std::int32_t> pending;
  bool all = false;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    pending.swap(FPending);
    all = FAll;
    FAll = false;
  }
  for (auto& slot : FSlots) {
    if (all) slot->Rows.clear();
    else
      for (const std::int32_t id : pending) slot->Rows.erase(id);
  }
  for (auto& slot : FSlots)
    if (slot->Key == key) {
      slot->Used = now;
      return *slot;
    }
  if (FSlots.size() >= MaxSlots) {
    const auto oldest = std::min_element(FSlots.begin(), FSlots.end(),
                                         [](const auto& a, const auto& b) { return a->Used < b->Used; });
    FSlots.erase(oldest);
  }
  auto slot = std::make_unique<TSlot>();
  slot->Key = key;
  slot->Used = now;
  FSlots.push_back(std::move(slot));
  return *FSlots.back();
}

const TWebRowCache::TRow* TWebRowCache::Find(const TSlot& slot, std::int32_t hostID, TClock::time_point now,
                                             TClock::duration maxAge, std::int64_t logID) {
  const auto found = slot.Rows.find(hostID);
  if (found == slot.Rows.end()) return nullptr;
  const TRow& row = found->second;
  if (now - row.Made > maxAge || row.LogID != logID) return nullptr;
  return &row;
}
