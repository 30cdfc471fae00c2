#include "core/TStatusTrace.h"

#include <cstdio>

#include "common/Clock.h"
#include "common/DateTime.h"

TStatusTrace::TStatusTrace(const TClock& clock, int slots, TWriter writer)
    : FClock(clock), FWriter(std::move(writer)), FSlots(static_cast<std::size_t>(slots < 1 ? 1 : slots)) {}

void TStatusTrace::Trace(const std::string& message) {
  const TDateTime now = FClock.Now();
  const std::string stamp = FormatDateTime("yyyy-mm-dd hh:nn:ss", now);
  // One lock around slot and write-through keeps the persistent copy in the same order
  // as the ring when several threads trace at once.
  std::lock_guard<std::mutex> guard(FLock);
  FCursor = FCursor % static_cast<int>(FSlots.size()) + 1;
  if (!message.empty()) {
    FLastLine = stamp + " " + message;
    FSlots[static_cast<std::size_t>(FCursor - 1)] = FLastLine;
    FLastMessage = message;
  }
  if (!FWriter) return;
  char cursor[8];
  std::snprintf(cursor, sizeof cursor, "%03d", FCursor);
  try {
    if (!message.empty()) {
      char ticks[32];
      std::snprintf(ticks, sizeof ticks, "%.0f", FClock.Milliseconds());
      FWriter(std::string("Stat") + cursor, stamp + " " + ticks + " " + message);
    }
    FWriter(std::string(), cursor);
  } catch (...) {
    // The trace is a diagnostic aid: storage errors never reach the caller.
  }
}

std::string TStatusTrace::LastMessage() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLastMessage;
}

std::string TStatusTrace::LastLine() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLastLine;
}

std::vector<std::string> TStatusTrace::Lines() const {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<std::string> out;
  const int n = static_cast<int>(FSlots.size());
  for (int k = 1; k <= n; ++k) {
    const std::string& s = FSlots[static_cast<std::size_t>((FCursor + k - 1) % n)];
    if (!s.empty()) out.push_back(s);
  }
  return out;
}

int TStatusTrace::Cursor() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCursor;
}
