#pragma once
// A small ring of the most recent internal steps. It is written through to persistent
// storage, so that after an unexpected end the last steps tell what the program was
// doing. Any thread may trace.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class TClock;

class TStatusTrace {
public:
  // Writes one value of the persistent copy: the slot name ("Stat001" .. "Stat100", or
  // empty for the cursor value) and its text.
  using TWriter = std::function<void(const std::string& name, const std::string& text)>;

  // slots: 10 normally, 100 in diagnostic mode. writer may be empty (removable mode).
  TStatusTrace(const TClock& clock, int slots, TWriter writer);

  void Trace(const std::string& message);
  // The last trace at shutdown: moves the cursor and the cursor value only.
  void Close() { Trace(std::string()); }

  std::string LastMessage() const;
  // The slot text of the last trace ("date-time message").
  std::string LastLine() const;
  // The slots in ring order, oldest first, empty slots left out.
  std::vector<std::string> Lines() const;
  int Cursor() const;
  int SlotCount() const { return static_cast<int>(FSlots.size()); }

private:
  const TClock& FClock;
  TWriter FWriter;
  mutable std::mutex FLock;
  std::vector<std::string> FSlots;
  int FCursor = 0;  // 1-based slot of the last trace, 0 before the first
  std::string FLastMessage;
  std::string FLastLine;
};
