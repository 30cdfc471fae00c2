#include "common/HostsFileNumbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

std::string FormatGeneralNumber(double value) {
  if (!std::isfinite(value) || value == 0) return "0";
  // to_chars is locale-free; the scientific form gives the 15 digits and the exponent.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
  const size_t ePos = sci.find('e');
  std::string_view mantissa = sci.substr(0, ePos);
  const int exponent = std::atoi(std::string(sci.substr(ePos + 1)).c_str());

  std::string result;
  if (mantissa.front() == '-') {
    result.push_back('-');
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits.push_back(c);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  const int intDigits = exponent + 1;
  if (intDigits <= 0) {
    result += "0.";
    result.append(static_cast<size_t>(-intDigits), '0');
    result += digits;
  } else if (static_cast<size_t>(intDigits) >= digits.size()) {
    result += digits;
    result.append(static_cast<size_t>(intDigits) - digits.size(), '0');
  } else {
    result += digits.substr(0, static_cast<size_t>(intDigits));
    result.push_back('.');
    result += digits.substr(static_cast<size_t>(intDigits));
  }
  return result;
}

double RoundTo7Decimals(double value) {
  if (!std::isfinite(value)) return 0;
  const double scaled = value * 1e7;
  // Beyond 2^52 a double has no fraction left to round.
  if (std::fabs(scaled) >= 4503599627370496.0) return value;
  const double rounded = std::trunc(scaled + (value < 0 ? -0.5 : 0.5)) / 1e7;
  return rounded == 0 ? 0 : rounded;  // no "-0"
}

std::string QuotedNumber(double value) {
  return "\"" + FormatGeneralNumber(RoundTo7Decimals(value)) + "\"";
}

bool ParseNumber(std::string_view text, double& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  // Files written where the decimal separator is a comma: one comma and no point.
  std::string withPoint;
  if (const size_t comma = text.find(','); comma != std::string_view::npos) {
    if (text.find_first_of(",.", comma + 1) != std::string_view::npos || text.find('.') < comma) return false;
    withPoint.assign(text);
    withPoint[comma] = '.';
    text = withPoint;
  }
  for (char c : text)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
  double parsed = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size() || !std::isfinite(parsed)) return false;
  value = parsed;
  return true;
}

bool ParseInteger(std::string_view text, std::int64_t& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  std::int64_t parsed = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

double ParseIntervalText(std::string_view text, double defaultMinutes) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  const bool seconds = (!lower.empty() && lower.back() == 's') ||
                       (lower.size() >= 3 && lower.compare(lower.size() - 3, 3, "sec") == 0);
  std::string kept;
  for (char c : lower)
    if (c == ',' || c == '.' || (c >= '0' && c <= '9')) kept.push_back(c);
  double value = 0;
  if (!ParseNumber(kept, value)) return defaultMinutes;
  return seconds ? value / 60 : value;
}
