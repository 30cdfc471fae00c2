#include "common/Clock.h"

#include <cmath>

#include "common/SystemInfo.h"

TDateTime TClock::Now() const { return ::Now(); }

double TClock::Milliseconds() const { return MillisecondClock(); }

TManualClock::TManualClock(TDateTime now, double milliseconds)
    : FBase(now), FAdvancedMs(0), FMilliseconds(milliseconds) {}

TDateTime TManualClock::Now() const {
  std::lock_guard<std::mutex> lock(FLock);
  // Kept as base plus one offset so that many small steps do not pile up rounding.
  return FBase + FAdvancedMs / MSecsPerDay;
}

double TManualClock::Milliseconds() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FMilliseconds;
}

void TManualClock::SetNow(TDateTime value) {
  std::lock_guard<std::mutex> lock(FLock);
  FBase = value;
  FAdvancedMs = 0;
}

void TManualClock::Advance(double ms) {
  if (!std::isfinite(ms) || ms < 0) return;
  std::lock_guard<std::mutex> lock(FLock);
  FAdvancedMs += ms;
  FMilliseconds += ms;
}
