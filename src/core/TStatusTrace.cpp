#include "core/TStatusTrace.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

#include "common/Clock.h"

// The ring file: a header, then one fixed-size record per slot. A slot's sequence is odd
// while it is being written, so a record cut short by a kill is recognised and skipped.
struct TStatusTrace::TRingHeader {
  char Magic[8];
  std::uint32_t Slots;
  std::uint32_t SlotBytes;
  std::uint32_t Open;    // 1 while a run may still trace into it
  std::uint32_t Cursor;
  std::uint64_t Count;      // traces of the run
  std::uint64_t FlushedUpTo;  // traces whose values reached the storage
  std::uint8_t Reserved[24];
};

struct TStatusTrace::TRingSlot {
  std::uint32_t Sequence;
  std::uint32_t Length;
  std::uint64_t Count;  // the trace that filled it
  double At;
  double Ticks;
  char Text[RingTextBytes];
  char Padding[16];
};

namespace {
constexpr char RingMagic[8] = {'C', 'V', 'L', 'T', 'R', 'C', '1', '\0'};
constexpr std::uint32_t MaxRingSlots = 100;
}  // namespace


TStatusTrace::TStatusTrace(const TClock& clock, int slots, TWriter writer, int flushMs, TFaultHook faults)
    : FClock(clock), FWriter(std::move(writer)), FFaults(std::move(faults)), FInterval(flushMs > 0 ? flushMs : 0),
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
  if (FWriter) {
    // The owner of the fault hook may be going too: what fails now goes unreported.
    std::string fault;
    std::lock_guard<std::mutex> flushGuard(FFlushLock);
    FlushLocked(fault);
  }
  std::lock_guard<std::mutex> guard(FLock);
  RingFlushed(0, true);
  DetachRing();
}

std::string TStatusTrace::Stamp(TDateTime at) { return FormatDateTime("yyyy-mm-dd hh:nn:ss", at); }

std::string TStatusTrace::SlotName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "Stat%03d", number);
  return name;
}

std::string TStatusTrace::SlotText(TDateTime at, double ticks, const std::string& message) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", ticks);
  return Stamp(at) + " " + text + " " + message;
}

std::string TStatusTrace::CursorText(int cursor) {
  char text[8];
  std::snprintf(text, sizeof text, "%03d", cursor);
  return text;
}

void TStatusTrace::Trace(const std::string& message) {
  const TDateTime now = FClock.Now();
  const double ticks = FClock.Milliseconds();
  bool wake = false;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FCursor = FCursor % static_cast<int>(FSlots.size()) + 1;
    ++FCount;
    if (!message.empty()) {
      TSlot& slot = FSlots[static_cast<std::size_t>(FCursor - 1)];
      slot.Message = message;
      slot.At = now;
      slot.Ticks = ticks;
      slot.Dirty = true;
      FLastSlot = FCursor;
      RingTrace(FCursor, slot);
    }
    RingCursor();
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
  std::lock_guard<std::mutex> guard(FLock);
  RingFlushed(0, true);
}

void TStatusTrace::Flush() {
  if (!FWriter) return;
  std::string fault;
  {
    std::lock_guard<std::mutex> flushGuard(FFlushLock);
    FlushLocked(fault);
  }
  // Reported with no lock held: the report is an event, and an event is traced.
  if (!fault.empty()) ReportFault(FFaults, "status trace", fault);
}

void TStatusTrace::FlushLocked(std::string& fault) {
  std::vector<std::pair<std::string, std::string>> values;
  std::uint64_t upTo = 0;
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
      values.emplace_back(SlotName(number), SlotText(slot.At, slot.Ticks, slot.Message));
    }
    values.emplace_back(std::string(), CursorText(FCursor));
    FCursorDirty = false;
    upTo = FCount;
  }
  for (const auto& [name, text] : values) Write(name, text, fault);
  std::lock_guard<std::mutex> guard(FLock);
  RingFlushed(upTo, false);
}

void TStatusTrace::Write(const std::string& name, const std::string& text, std::string& fault) {
  try {
    FWriter(name, text);
  } catch (...) {
    // The trace is a diagnostic aid: storage errors never reach the caller.
    if (fault.empty()) fault = CurrentExceptionText();
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

TStatusTrace::TRingHeader* TStatusTrace::Ring() const {
  // The file's layout is fixed: a ring written by one build is read by the next.
  static_assert(sizeof(TRingHeader) == 64 && sizeof(TRingSlot) == 2048);
  return static_cast<TRingHeader*>(FRingMap);
}

void TStatusTrace::RingTrace(int number, const TSlot& slot) {
  TRingHeader* ring = Ring();
  if (!ring) return;
  TRingSlot* records = reinterpret_cast<TRingSlot*>(ring + 1);
  TRingSlot& record = records[number - 1];
  std::atomic_ref<std::uint32_t> sequence(record.Sequence);
  sequence.store(sequence.load(std::memory_order_relaxed) | 1u, std::memory_order_release);
  std::atomic_thread_fence(std::memory_order_release);
  const std::size_t length = std::min(slot.Message.size(), RingTextBytes);
  std::memcpy(record.Text, slot.Message.data(), length);
  record.Length = static_cast<std::uint32_t>(length);
  record.Count = FCount;
  record.At = slot.At;
  record.Ticks = slot.Ticks;
  std::atomic_thread_fence(std::memory_order_release);
  sequence.store(sequence.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void TStatusTrace::RingCursor() {
  TRingHeader* ring = Ring();
  if (!ring) return;
  ring->Cursor = static_cast<std::uint32_t>(FCursor);
  ring->Count = FCount;
  ring->Open = 1;
}

void TStatusTrace::RingFlushed(std::uint64_t upTo, bool closed) {
  TRingHeader* ring = Ring();
  if (!ring) return;
  if (upTo > ring->FlushedUpTo) ring->FlushedUpTo = upTo;
  // Closed only once nothing is left pending: a later trace opens it again.
  if (closed && !FCursorDirty) ring->Open = 0;
}

void TStatusTrace::DetachRing() {
  if (FRingMap) ::munmap(FRingMap, FRingBytes);
  if (FRingFd >= 0) ::close(FRingFd);
  FRingMap = nullptr;
  FRingFd = -1;
  FRingBytes = 0;
}

void TStatusTrace::RecoverRing(const std::string& data, std::string& fault) {
  if (!FWriter || data.size() < sizeof(TRingHeader)) return;
  TRingHeader header;
  std::memcpy(&header, data.data(), sizeof header);
  if (std::memcmp(header.Magic, RingMagic, sizeof RingMagic) != 0 || header.Open != 1 || header.Slots < 1 ||
      header.Slots > MaxRingSlots || header.SlotBytes != sizeof(TRingSlot) ||
      data.size() < sizeof(TRingHeader) + header.Slots * sizeof(TRingSlot) || header.Count <= header.FlushedUpTo)
    return;
  struct TPending {
    std::uint64_t Count;
    int Number;
    std::string Text;
  };
  std::vector<TPending> pending;
  for (std::uint32_t i = 0; i < header.Slots; ++i) {
    TRingSlot record;
    std::memcpy(&record, data.data() + sizeof(TRingHeader) + i * sizeof(TRingSlot), sizeof record);
    if ((record.Sequence & 1u) != 0 || record.Length == 0 || record.Length > RingTextBytes ||
        record.Count <= header.FlushedUpTo || record.Count > header.Count)
      continue;
    pending.push_back({record.Count, static_cast<int>(i + 1),
                       SlotText(record.At, record.Ticks, std::string(record.Text, record.Length))});
  }
  std::sort(pending.begin(), pending.end(), [](const TPending& a, const TPending& b) { return a.Count < b.Count; });
  for (const TPending& p : pending) Write(SlotName(p.Number), p.Text, fault);
  if (header.Cursor >= 1 && header.Cursor <= header.Slots)
    Write(std::string(), CursorText(static_cast<int>(header.Cursor)), fault);
}

bool TStatusTrace::AttachRing(const std::string& fileName, std::string& error) {
  std::string fault;
  bool attached;
  {
    std::lock_guard<std::mutex> flushGuard(FFlushLock);
    attached = AttachRingLocked(fileName, error, fault);
  }
  if (!fault.empty()) ReportFault(FFaults, "status trace", fault);
  return attached;
}

bool TStatusTrace::AttachRingLocked(const std::string& fileName, std::string& error, std::string& fault) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    DetachRing();
  }
  const int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    ::close(fd);
    return false;
  }
  const std::size_t bytes = sizeof(TRingHeader) + FSlots.size() * sizeof(TRingSlot);
  const std::size_t biggest = sizeof(TRingHeader) + MaxRingSlots * sizeof(TRingSlot);
  std::string previous(std::min(static_cast<std::size_t>(st.st_size), biggest), '\0');
  std::size_t got = 0;
  while (got < previous.size()) {
    const ssize_t n = ::pread(fd, previous.data() + got, previous.size() - got, static_cast<off_t>(got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  previous.resize(got);
  RecoverRing(previous, fault);

  // A fresh ring: zeroed, then sized, so that no record of the last run survives in it.
  if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  std::lock_guard<std::mutex> guard(FLock);
  FRingFd = fd;
  FRingMap = map;
  FRingBytes = bytes;
  TRingHeader* ring = Ring();
  std::memcpy(ring->Magic, RingMagic, sizeof RingMagic);
  ring->Slots = static_cast<std::uint32_t>(FSlots.size());
  ring->SlotBytes = sizeof(TRingSlot);
  // The recovered values may have replaced some of this run's: they are all written again.
  const int n = static_cast<int>(FSlots.size());
  for (int k = 1; k <= n; ++k) {
    const int number = (FCursor + k - 1) % n + 1;
    TSlot& slot = FSlots[static_cast<std::size_t>(number - 1)];
    if (slot.Message.empty()) continue;
    slot.Dirty = true;
    RingTrace(number, slot);
  }
  if (FCursor > 0) {
    FCursorDirty = true;
    RingCursor();
    if (FFlusher.joinable() && !FPending) {
      FPending = true;
      FWake.notify_one();
    }
  }
  return true;
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
