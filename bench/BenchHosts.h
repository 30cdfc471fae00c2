#pragma once
// The host lists the benchmarks share: loopback hosts in groups of 100, every fifth
// depending on the first host of its group.
#include <functional>
#include <string>

#include "core/THostList.h"

namespace benchhosts {

// Host n (0-based) answers on loopback: 127.1.0.1 upwards, 250 to a /24 so that no
// address ends in 0 or 255.
inline std::string LoopbackAddress(int n) {
  return "127.1." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

// Appends count ping hosts named "Host <n>" with their group rows; shape sets whatever
// else host n should have.
inline void AddLoopbackHosts(THostList& list, int count, const std::function<void(THost&, int)>& shape = {}) {
  std::string groupHead;
  for (int i = 0; i < count; ++i) {
    if (i % 100 == 0) {
      auto group = list.NewRecord(1);
      group->DisplayName = ";Group " + std::to_string(i / 100);
      list.Add(std::move(group));
    }
    auto h = list.NewRecord(1);
    h->DisplayName = "Host " + std::to_string(i);
    h->Address = LoopbackAddress(i);
    if (i % 100 == 0) groupHead = h->IDText();
    else if (i % 5 == 0) h->Parents = groupHead;
    if (shape) shape(*h, i);
    list.Add(std::move(h));
  }
}

}  // namespace benchhosts
