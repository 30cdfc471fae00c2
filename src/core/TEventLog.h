#pragma once
// The in-memory event log: entry lines, oldest first, at most MaxLines. Every line
// carries an increasing id so views and the web interface can ask for "lines after N".
// Owned by the main thread; other threads read it under the monitor's state lock.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/DateTime.h"

// What an entry is about; its letter is what the log file, syslog and plug-ins see.
enum class TLogCategory : char {
  Program = 'A',        // start and end of the program
  Configuration = 'C',
  Error = 'E',
  Information = 'I',
  Mail = 'M',           // alert mail
  Okay = 'O',           // a host is answering again
  Plugin = 'P',
  Test = 'T',           // tests and operations the user asked for
  Warning = 'W',
  Partners = 'Z',       // the exchange with other programs
};

constexpr char CategoryLetter(TLogCategory category) { return static_cast<char>(category); }

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
                                 const std::string& message, TLogCategory category);

private:
  std::deque<TLogLine> FLines;
  std::int64_t FNextID = 1;
};
