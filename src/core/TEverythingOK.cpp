#include "core/TEverythingOK.h"

#include <limits>

#include "core/THost.h"
#include "core/THostList.h"

bool TEverythingOK::AllWell(const THostList& hosts, TDateTime now) {
  for (const auto& host : hosts.Records()) {
    if (host->IsGroup() || host->IsDisabled(now)) continue;
    if (host->Status > StatusOnline) return false;
    if (host->Successes == 0 && host->Failures == 0) return false;
  }
  return true;
}

std::string TEverythingOK::Tick(bool allWell) {
  if (!allWell) {
    const bool wasSteady = FCounter >= 4;
    FCounter = 0;
    return wasSteady ? "eokb.wav" : std::string();
  }
  std::string sound;
  if (FCounter == 0) sound = "eoki.wav";
  else if (FCounter > 3) sound = "eok.wav";
  // Days of good ticks must not wrap the count back to the opening sound.
  if (FCounter < std::numeric_limits<int>::max()) ++FCounter;
  return sound;
}
