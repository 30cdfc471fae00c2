#pragma once
// A small ring of the most recent internal steps, copied to persistent storage so that
// after an unexpected end the last steps tell what the program was doing. Any thread may
// trace.
//
// A busy monitor traces well over a thousand times a second, and every write of the
// persistent copy rewrites a file. So the ring lives in memory and a flusher thread
// writes the values that changed at most once per flush interval: a burst of traces
// costs one write per slot, and a trace after a quiet spell reaches the storage at once. Close(),
// Flush() and the destructor write what is pending before they return. An interval of 0
// writes every trace through before Trace() returns.
//
// What is pending when the process dies (a crash, a kill) would be lost, and those are
// the very steps the trace is for. So each trace is also copied into a ring file mapped
// shared (AttachRing): the copy is in the kernel's hands as soon as it is made, whatever
// becomes of the process. The next run that attaches the same file writes the values the
// dead run left pending, exactly as its own flush would have (messages longer than
// RingTextBytes are cut in that copy only).
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/DateTime.h"
#include "platform/FaultReport.h"

class TClock;

class TStatusTrace {
public:
  // Writes one value of the persistent copy: the slot name ("Stat001" .. "Stat100", or
  // empty for the cursor value) and its text. Called by one thread at a time, in the
  // order the values were traced; the cursor comes after the slots it points past.
  using TWriter = std::function<void(const std::string& name, const std::string& text)>;

  static constexpr int DefaultFlushMs = 500;

  // slots: 10 normally, 100 in diagnostic mode. writer may be empty (removable mode).
  // faults hears of the storage errors the trace swallows.
  TStatusTrace(const TClock& clock, int slots, TWriter writer, int flushMs = 0, TFaultHook faults = {});
  ~TStatusTrace();
  TStatusTrace(const TStatusTrace&) = delete;
  TStatusTrace& operator=(const TStatusTrace&) = delete;

  void Trace(const std::string& message);
  // The last trace at shutdown: moves the cursor and the cursor value only, and writes
  // everything pending.
  void Close();
  // Writes the values changed since the last write now.
  void Flush();
  // Copies every trace from now on into the ring file (created with mode 0600 when
  // missing). When the file holds the ring of a run that ended without writing all its
  // values, they are written first. False, with the reason, when the file cannot be used;
  // the trace then works as before.
  bool AttachRing(const std::string& fileName, std::string& error);
  static constexpr std::size_t RingTextBytes = 2000;

  std::string LastMessage() const;
  // The slot text of the last trace ("date-time message").
  std::string LastLine() const;
  // The slots in ring order, oldest first, empty slots left out.
  std::vector<std::string> Lines() const;
  int Cursor() const;
  int SlotCount() const { return static_cast<int>(FSlots.size()); }

private:
  struct TSlot {
    std::string Message;  // empty: never traced
    TDateTime At = 0;
    double Ticks = 0;
    bool Dirty = false;
  };
  struct TRingHeader;
  struct TRingSlot;
  using TSteady = std::chrono::steady_clock;

  static std::string Stamp(TDateTime at);
  static std::string SlotName(int number);
  static std::string SlotText(TDateTime at, double ticks, const std::string& message);
  static std::string CursorText(int cursor);
  void FlushLoop();
  // The ring file; called with FLock held.
  TRingHeader* Ring() const;
  void RingTrace(int number, const TSlot& slot);
  void RingCursor();
  void RingFlushed(std::uint64_t upTo, bool closed);
  void DetachRing();
  // Writes what the run of a ring left pending; the data is the file's bytes.
  void RecoverRing(const std::string& data, std::string& fault);

  const TClock& FClock;
  TWriter FWriter;
  const TFaultHook FFaults;
  // Storage errors are kept in fault (the first of them) for the caller to report.
  void Write(const std::string& name, const std::string& text, std::string& fault);
  void FlushLocked(std::string& fault);
  bool AttachRingLocked(const std::string& fileName, std::string& error, std::string& fault);
  const std::chrono::milliseconds FInterval;
  mutable std::mutex FLock;
  std::vector<TSlot> FSlots;
  int FCursor = 0;  // 1-based slot of the last trace, 0 before the first
  int FLastSlot = 0;  // slot of the last trace with a message
  bool FCursorDirty = false;
  // Serialises the writers so that values reach the storage in the order they were taken.
  std::mutex FFlushLock;
  // The flusher: woken by the first trace after a write, it waits out the interval.
  std::condition_variable FWake;
  bool FPending = false;
  bool FStopping = false;
  TSteady::time_point FLastFlush;
  std::thread FFlusher;
  // Traces so far; the ring records how many of them reached the storage.
  std::uint64_t FCount = 0;
  int FRingFd = -1;
  void* FRingMap = nullptr;
  std::size_t FRingBytes = 0;
};
