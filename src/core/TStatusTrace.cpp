#include "core/TStatusTrace.h"

#include <cstdio>
#include <system_error>
#include <utility>

#include "common/Clock.h"

TStatusTrace::TStatusTrace(const TClock& clock, int slots, TWriter writer, int flushMs)
    : FClock(clock), FWriter(std::move(writer)), FInterval(flushMs > 0 ? flushMs : 0),
      FSlots(static_cast<std::size_t>(slots < 1 ? 1 : slots)), FLastFlush(TSteady::now()) {
  if (!FWriter || FInterval.count() == 0) return;
  try {
    FFlusher = std::thread(&TStatusTrace::FlushLoop, this);
  } catch (const std::system_error&) {
    // No thread to spare: every trace is written through instead.
  }
}

TStatusTrace::~TStatusTrace() {
  if (FFlusher.joinable()) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      FStopping = true;
    }
    FWake.notify_all();
    FFlusher.join();
  }
  Flush();
}

std::string TStatusTrace::Stamp(TDateTime at) { return FormatDateTime("yyyy-mm-dd hh:nn:ss", at); }

void TStatusTrace::Trace(const std::string& message) {
  const TDateTime now = FClock.Now();
  const double ticks = FClock.Milliseconds();
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCursor = FCursor % static_cast<int>(FSlots.size()) + 1;
    if (!message.empty()) {
      TSlot& slot = FSlots[static_cast<std::size_t>(FCursor - 1)];
      slot.Message = message;
      slot.At = now;
      slot.Ticks = ticks;
      slot.Dirty = true;
      FLastSlot = FCursor;
    }
    FCursorDirty = true;
    if (FFlusher.joinable() && !FPending) {
      FPending = true;
      wake = true;
    }
  }
  if (wake) FWake.notify_one();
  // Without a flusher every trace is written before it returns.
  if (!FFlusher.joinable()) Flush();
}

void TStatusTrace::Close() {
  Trace(std::string());
  Flush();
}

void TStatusTrace::Flush() {
  if (!FWriter) return;
  std::lock_guard<std::mutex> flushGuard(FFlushLock);
  std::vector<std::pair<std::string, std::string>> values;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FPending = false;
    FLastFlush = TSteady::now();
    if (!FCursorDirty) return;
    // Oldest first, so that the slots reach the storage in the order they were traced
    // and the cursor, written last, never points at a slot not yet written.
    const int n = static_cast<int>(FSlots.size());
    for (int k = 1; k <= n; ++k) {
      const int number = (FCursor + k - 1) % n + 1;
      TSlot& slot = FSlots[static_cast<std::size_t>(number - 1)];
      if (!slot.Dirty) continue;
      slot.Dirty = false;
      char name[16], ticks[32];
      std::snprintf(name, sizeof name, "Stat%03d", number);
      std::snprintf(ticks, sizeof ticks, "%.0f", slot.Ticks);
      values.emplace_back(name, Stamp(slot.At) + " " + ticks + " " + slot.Message);
    }
    char cursor[8];
    std::snprintf(cursor, sizeof cursor, "%03d", FCursor);
    values.emplace_back(std::string(), cursor);
    FCursorDirty = false;
  }
  for (const auto& [name, text] : values) {
    try {
      FWriter(name, text);
    } catch (...) {
      // The trace is a diagnostic aid: storage errors never reach the caller.
    }
  }
}

void TStatusTrace::FlushLoop() {
  std::unique_lock<std::mutex> guard(FLock);
  while (true) {
    FWake.wait(guard, [this] { return FStopping || FPending; });
    if (FStopping) return;
    // The traces that follow within the interval join this write.
    FWake.wait_until(guard, FLastFlush + FInterval, [this] { return FStopping; });
    if (FStopping) return;
    guard.unlock();
    Flush();
    guard.lock();
  }
}

std::string TStatusTrace::LastMessage() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FLastSlot ? FSlots[static_cast<std::size_t>(FLastSlot - 1)].Message : std::string();
}

std::string TStatusTrace::LastLine() const {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FLastSlot) return std::string();
  const TSlot& slot = FSlots[static_cast<std::size_t>(FLastSlot - 1)];
  return Stamp(slot.At) + " " + slot.Message;
}

std::vector<std::string> TStatusTrace::Lines() const {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<std::string> out;
  const int n = static_cast<int>(FSlots.size());
  for (int k = 1; k <= n; ++k) {
    const TSlot& slot = FSlots[static_cast<std::size_t>((FCursor + k - 1) % n)];
    if (!slot.Message.empty()) out.push_back(Stamp(slot.At) + " " + slot.Message);
  }
  return out;
}

int TStatusTrace::Cursor() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCursor;
}
