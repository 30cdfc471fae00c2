#include "alerts/SmtpText.h"

#include <algorithm>
#include <cctype>
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

namespace {

std::size_t LeadingDigits(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && line[n] >= '0' && line[n] <= '9') ++n;
  return n;
}

}  // namespace

TSmtpReplyLine ReadSmtpReplyLine(std::string_view line) {
  TSmtpReplyLine reply;
  const std::size_t digits = LeadingDigits(line);
  reply.Continued = digits > 0 && digits < line.size() && line[digits] == '-';
  if (digits > 4) {
    reply.Code = 9999;
  } else if (digits > 0) {
    reply.Code = 0;
    for (std::size_t i = 0; i < digits; ++i) reply.Code = reply.Code * 10 + (line[i] - '0');
  }
  return reply;
}

void NoteEhloOffer(std::string_view line, bool& startTls, std::vector<std::string>& types, std::size_t maxTypes) {
  const std::size_t digits = LeadingDigits(line);
  if (digits == 0 || line.size() < digits + 6) return;
  std::string rest(line.substr(digits + 1));
  for (char& c : rest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (TrimSmtp(rest) == "STARTTLS") {
    startTls = true;
    return;
  }
  if (rest.compare(0, 5, "AUTH ") != 0 && rest.compare(0, 5, "AUTH=") != 0) return;
  std::replace(rest.begin(), rest.end(), '=', ' ');
  std::size_t pos = 4;
  while (pos < rest.size()) {
    const std::size_t start = rest.find_first_not_of(' ', pos);
    if (start == std::string::npos) break;
    const std::size_t stop = rest.find(' ', start);
    std::string word = TrimSmtp(rest.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    // The list is bounded, so each word costs at most maxTypes comparisons.
    if (types.size() >= maxTypes) return;
    if (!word.empty() && std::find(types.begin(), types.end(), word) == types.end()) types.push_back(std::move(word));
    pos = stop == std::string::npos ? rest.size() : stop;
  }
}
