#include "core/TEventLog.h"

#include <algorithm>

std::int64_t TEventLog::Append(std::string line) {
  const std::int64_t id = FNextID++;
  FLines.push_back(TLogLine{id, std::move(line)});
  while (FLines.size() > MaxLines) FLines.pop_front();
  return id;
}

void TEventLog::Assign(const std::vector<std::string>& lines) {
  FLines.clear();
  const std::size_t first = lines.size() > MaxLines ? lines.size() - MaxLines : 0;
  for (std::size_t i = first; i < lines.size(); ++i) FLines.push_back(TLogLine{FNextID++, lines[i]});
}

void TEventLog::Clear() { FLines.clear(); }

std::vector<TLogLine> TEventLog::LinesAfter(std::int64_t id) const {
  // Ids increase along the deque, so the first newer line is found by binary search.
  auto it = std::upper_bound(FLines.begin(), FLines.end(), id,
                             [](std::int64_t v, const TLogLine& l) { return v < l.ID; });
  return std::vector<TLogLine>(it, FLines.end());
}

std::string TEventLog::FormatTime(TDateTime when, bool use24Hour) {
  return FormatDateTime(use24Hour ? "mmm d, hh:nn" : "mmm d, hh:nna/p", when);
}

std::string TEventLog::FormatEntry(TDateTime when, bool use24Hour, const std::string& label,
                                   const std::string& message, TLogCategory category) {
  std::string line = FormatTime(when, use24Hour);
  line.reserve(line.size() + label.size() + message.size() + 4);
  line += '\t';
  line += label;
  line += '\t';
  line += message;
  line += '\t';
  line += CategoryLetter(category);
  return line;
}
