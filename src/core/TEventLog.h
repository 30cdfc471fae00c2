#pragma once
// The in-memory event log: entry lines, oldest first, at most MaxLines. Every line
// carries an increasing id so views and the web interface can ask for "lines after N".
// Owned by the main thread; other threads read it under the monitor's state lock.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/DateTime.h"

struct TLogLine {
  std::int64_t ID = 0;
  std::string Text;
};

class TEventLog {
public:
  static constexpr std::size_t MaxLines = 5000;

  // Appends one entry line and drops the oldest beyond MaxLines; returns its id.
  std::int64_t Append(std::string line);
  // Replaces the contents (loading the log file); ids go on increasing.
  void Assign(const std::vector<std::string>& lines);
  void Clear();

  std::size_t Count() const { return FLines.size(); }
  const std::deque<TLogLine>& Lines() const { return FLines; }
  std::vector<TLogLine> LinesAfter(std::int64_t id) const;
  std::int64_t LastID() const { return FNextID - 1; }

  // The log's date-time: "mmm d, hh:nn" when use24Hour is set, else "mmm d, hh:nna/p".
  static std::string FormatTime(TDateTime when, bool use24Hour);
  // date-time TAB label TAB message TAB category.
  static std::string FormatEntry(TDateTime when, bool use24Hour, const std::string& label,
                                 const std::string& message, char category);

private:
  std::deque<TLogLine> FLines;
  std::int64_t FNextID = 1;
};
