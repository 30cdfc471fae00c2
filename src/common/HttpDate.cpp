#include "common/HttpDate.h"

#include <array>
#include <vector>

namespace {

constexpr std::array<std::string_view, 7> DayNames = {"sun", "mon", "tue", "wed",
                                                      "thu", "fri", "sat"};
constexpr std::array<std::string_view, 12> MonthNames = {
    "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

std::string TrimmedLower(std::string_view text) {
  std::size_t start = 0, end = text.size();
  while (start < end && static_cast<unsigned char>(text[start]) <= ' ') ++start;
  while (end > start && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  std::string out(text.substr(start, end - start));
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Pieces between separators; a run of separators counts as one when collapse is set.
std::vector<std::string_view> SplitAt(std::string_view text, char separator, bool collapse) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t next = text.find(separator, start);
    const std::size_t length = next == std::string_view::npos ? text.npos : next - start;
    const std::string_view part = text.substr(start, length);
    if (!collapse || !part.empty()) parts.push_back(part);
    if (next == std::string_view::npos) break;
    start = next + 1;
  }
  return parts;
}

// A plain decimal number of at most nine digits, else -1.
int NumberOf(std::string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

template <std::size_t N>
int IndexOf(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == name) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::string HttpDateText(TDateTime value, bool toGMT) {
  const TDateTime shown = toGMT ? LocalToUniversal(value) : value;
  return FormatDateTime("ddd, d mmm yyyy hh:nn:ss", shown) + " GMT";
}

TDateTime ParseHttpDate(std::string_view text) {
  const std::string clean = TrimmedLower(text);
  const std::string_view all = clean;
  if (all.size() < 5 || IndexOf(DayNames, all.substr(0, 3)) < 0 || all.substr(3, 2) != ", ")
    return -1;
  const std::vector<std::string_view> fields = SplitAt(all.substr(5), ' ', true);
  if (fields.size() < 4) return -1;

  const int day = NumberOf(fields[0]);
  const int month = IndexOf(MonthNames, fields[1]) + 1;
  const int year = NumberOf(fields[2]);
  const std::vector<std::string_view> clock = SplitAt(fields[3], ':', false);
  if (clock.size() != 3) return -1;
  const int hour = NumberOf(clock[0]), min = NumberOf(clock[1]), sec = NumberOf(clock[2]);
  if (month < 1 || day < 1 || day > 31 || year < 1900 || hour < 0 || hour > 23 || min < 0 ||
      min > 60 || sec < 0 || sec > 60)
    return -1;

  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, min, sec, 0, time))
    return -1;
  const TDateTime value = date + time;
  const bool gmt = fields.size() >= 5 && fields[4] == "gmt";
  return gmt ? UniversalToLocal(value) : value;
}
