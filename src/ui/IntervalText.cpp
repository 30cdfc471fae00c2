#include "ui/IntervalText.h"

#include <cctype>
#include <cmath>

namespace {

constexpr long long Day = 86400;
constexpr TIntervalUnit AllUnits[] = {TIntervalUnit::Second, TIntervalUnit::Minute, TIntervalUnit::Hour,
                                      TIntervalUnit::Day,    TIntervalUnit::Week,   TIntervalUnit::Month,
                                      TIntervalUnit::Year};

// Beyond this a count of seconds no longer fits the arithmetic; far longer than any
// interval anyone monitors with.
constexpr double MaxSeconds = 1e15;

struct TUnitName {
  const char* Name;
  TIntervalUnit Unit;
};
constexpr TUnitName UnitNames[] = {
    {"s", TIntervalUnit::Second},     {"sec", TIntervalUnit::Second},    {"secs", TIntervalUnit::Second},
    {"second", TIntervalUnit::Second}, {"seconds", TIntervalUnit::Second}, {"m", TIntervalUnit::Minute},
    {"min", TIntervalUnit::Minute},   {"mins", TIntervalUnit::Minute},   {"minute", TIntervalUnit::Minute},
    {"minutes", TIntervalUnit::Minute}, {"h", TIntervalUnit::Hour},      {"hr", TIntervalUnit::Hour},
    {"hrs", TIntervalUnit::Hour},     {"hour", TIntervalUnit::Hour},     {"hours", TIntervalUnit::Hour},
    {"d", TIntervalUnit::Day},        {"day", TIntervalUnit::Day},       {"days", TIntervalUnit::Day},
    {"w", TIntervalUnit::Week},       {"wk", TIntervalUnit::Week},       {"wks", TIntervalUnit::Week},
    {"week", TIntervalUnit::Week},    {"weeks", TIntervalUnit::Week},    {"mo", TIntervalUnit::Month},
    {"mos", TIntervalUnit::Month},    {"month", TIntervalUnit::Month},   {"months", TIntervalUnit::Month},
    {"y", TIntervalUnit::Year},       {"yr", TIntervalUnit::Year},       {"yrs", TIntervalUnit::Year},
    {"year", TIntervalUnit::Year},    {"years", TIntervalUnit::Year},
};

std::optional<TIntervalUnit> UnitNamed(const std::string& lowerName) {
  for (const TUnitName& u : UnitNames)
    if (lowerName == u.Name) return u.Unit;
  return std::nullopt;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n'; }

}  // namespace

long long IntervalUnitSeconds(TIntervalUnit unit) {
  switch (unit) {
    case TIntervalUnit::Second: return 1;
    case TIntervalUnit::Minute: return 60;
    case TIntervalUnit::Hour: return 3600;
    case TIntervalUnit::Day: return Day;
    case TIntervalUnit::Week: return 7 * Day;
    case TIntervalUnit::Month: return 30 * Day;
    case TIntervalUnit::Year: return 365 * Day;
  }
  return 1;
}

const char* IntervalUnitWord(TIntervalUnit unit) {
  switch (unit) {
    case TIntervalUnit::Second: return "second";
    case TIntervalUnit::Minute: return "minute";
    case TIntervalUnit::Hour: return "hour";
    case TIntervalUnit::Day: return "day";
    case TIntervalUnit::Week: return "week";
    case TIntervalUnit::Month: return "month";
    case TIntervalUnit::Year: return "year";
  }
  return "second";
}

std::string IntervalText(double minutes, TIntervalUnit smallest, TIntervalUnit largest) {
  if (largest < smallest) largest = smallest;
  double seconds = minutes * 60.0;
  if (!(seconds > 0)) seconds = 0;  // also NaN
  if (seconds > MaxSeconds) seconds = MaxSeconds;
  // Counted in the smallest unit first, so the rounding happens once.
  const long long smallestSeconds = IntervalUnitSeconds(smallest);
  long long rest = std::llround(seconds / static_cast<double>(smallestSeconds)) * smallestSeconds;
  std::string text;
  for (auto it = std::rbegin(AllUnits); it != std::rend(AllUnits); ++it) {
    const TIntervalUnit unit = *it;
    if (unit > largest || unit < smallest) continue;
    const long long size = IntervalUnitSeconds(unit);
    const long long count = rest / size;
    rest -= count * size;
    if (count == 0) continue;
    if (!text.empty()) text += ' ';
    text += std::to_string(count) + ' ' + IntervalUnitWord(unit);
    if (count != 1) text += 's';
  }
  if (text.empty()) text = std::string("0 ") + IntervalUnitWord(smallest) + 's';
  return text;
}

std::optional<double> ParseIntervalText(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  double seconds = 0;
  int pairs = 0;
  bool bareNumber = false;
  while (true) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i == n) break;
    // The number: digits with at most one decimal point, at least one digit.
    const size_t numberStart = i;
    int digits = 0, points = 0;
    while (i < n && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) {
      if (text[i] == '.') ++points;
      else ++digits;
      ++i;
    }
    if (digits == 0 || points > 1) return std::nullopt;
    const double value = std::strtod(std::string(text.substr(numberStart, i - numberStart)).c_str(), nullptr);
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string name;
    while (i < n && std::isalpha(static_cast<unsigned char>(text[i])))
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i++])));
    ++pairs;
    if (name.empty()) {
      // Only a lone number may leave out its unit.
      if (bareNumber || pairs > 1) return std::nullopt;
      bareNumber = true;
      seconds += value * 60.0;
      continue;
    }
    if (bareNumber) return std::nullopt;
    const auto unit = UnitNamed(name);
    if (!unit) return std::nullopt;
    seconds += value * static_cast<double>(IntervalUnitSeconds(*unit));
  }
  if (pairs == 0 || !std::isfinite(seconds) || seconds > MaxSeconds) return std::nullopt;
  return seconds / 60.0;
}
