#include "alerts/SmtpText.h"

#include <cstdio>
#include <cstdlib>
#include <random>

#include "common/DateTime.h"

namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

// What lies between the first "<" at or after from and the next ">" (or the end).
std::string_view Bracketed(std::string_view text, std::size_t from) {
  std::size_t open = text.find('<', from);
  if (open == std::string_view::npos) return {};
  std::size_t close = text.find('>', open + 1);
  return text.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
}

}  // namespace

std::string TrimSmtp(std::string_view text) { return std::string(TrimView(text)); }

std::string SmtpHeaderValue(std::string_view text) {
  std::string value = TrimSmtp(text);
  for (char& c : value)
    if (IsBlankOrControl(c)) c = ' ';
  return value;
}

std::string SmtpAddress(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  std::string_view name, address;
  if (!text.empty() && (text.front() == '"' || text.front() == '\'')) {
    std::size_t close = text.find(text.front(), 1);
    std::size_t rest = close == std::string_view::npos ? text.size() : close + 1;
    name = text.substr(1, (close == std::string_view::npos ? text.size() : close) - 1);
    if (text.find('<', rest) != std::string_view::npos)
      address = Bracketed(text, rest);
    else
      address = TrimView(text.substr(rest));
  } else if (text.find('<') != std::string_view::npos) {
    name = TrimView(text.substr(0, text.find('<')));
    address = Bracketed(text, 0);
  } else {
    std::size_t blank = text.find(' ');
    name = text.substr(0, blank);
    address = blank == std::string_view::npos ? std::string_view() : TrimView(text.substr(blank));
  }
  address = TrimView(address);
  if (address.empty() && name.find('@') != std::string_view::npos) address = name;
  return std::string(address);
}

std::string SmtpZone(int biasMinutes) {
  int minutes = std::abs(biasMinutes);
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d%02d", biasMinutes < 0 ? '+' : '-', (minutes / 60) % 100, minutes % 60);
  return text;
}

std::string SmtpDate(double localDateTime, int biasMinutes) {
  return FormatDateTime("ddd, d mmm yyyy hh:mm:ss", localDateTime) + " " + SmtpZone(biasMinutes);
}

std::string SmtpMessageId(double utcDateTime, const std::string& hostName) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> below(0, 32766);
  std::string id = FormatDateTime("yyyymmddhhnnsszzz", utcDateTime) + ".";
  for (int i = 0; i < 4; ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", below(random));
    id += hex;
  }
  return id + "@" + hostName;
}

std::vector<std::string> SmtpBodyLines(const std::vector<std::string>& message) {
  std::vector<std::string> lines;
  for (const std::string& item : message) {
    std::string_view rest(item);
    for (;;) {
      std::size_t end = rest.find('\n');
      std::string line = TrimSmtp(rest.substr(0, end));
      if (!line.empty() && line.front() == '.') line.insert(0, 1, '.');
      lines.push_back(std::move(line));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }
  return lines;
}
