#pragma once
// The host lists the benchmarks share: loopback hosts in groups of 100, every fifth
// depending on the first host of its group.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/THostList.h"

namespace benchhosts {

// Host n (0-based) answers on loopback: 127.1.0.1 upwards, 250 to a /24 so that no
// address ends in 0 or 255, and 250 of those to a /16 (127.1.x.x, then 127.2.x.x ...):
// a million hosts still end below 127.17.0.0, well inside 127.0.0.0/8.
inline std::string LoopbackAddress(int n) {
  constexpr int PerNet = 250, PerBlock = 250 * 250;
  return "127." + std::to_string(1 + n / PerBlock) + "." + std::to_string(n % PerBlock / PerNet) + "." +
         std::to_string(n % PerNet + 1);
}

// Appends count ping hosts named "Host <n>" with their group rows; shape sets whatever
// else host n should have. The records get the IDs that follow the list's highest, in
// order: drawing a free random ID looks through the whole list, which 100,000 times over
// takes minutes.
inline void AddLoopbackHosts(THostList& list, int count, const std::function<void(THost&, int)>& shape = {}) {
  std::int32_t nextID = 0;
  for (const auto& record : list.Records()) nextID = std::max(nextID, record->ID);
  auto newRecord = [&] {
    auto record = std::make_unique<THost>();
    record->ID = ++nextID;
    record->BaselineTime = 1;
    return record;
  };
  std::string groupHead;
  for (int i = 0; i < count; ++i) {
    if (i % 100 == 0) {
      auto group = newRecord();
      group->DisplayName = ";Group " + std::to_string(i / 100);
      list.Add(std::move(group));
    }
    auto h = newRecord();
    h->DisplayName = "Host " + std::to_string(i);
    h->Address = LoopbackAddress(i);
    if (i % 100 == 0) groupHead = h->IDText();
    else if (i % 5 == 0) h->Parents = groupHead;
    if (shape) shape(*h, i);
    list.Add(std::move(h));
  }
}

}  // namespace benchhosts
