#include "ui/HTTPSettingsRules.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "common/TextUtils.h"
#include "hosttests/THTTPThread.h"

const char* const HTTPURLWarning = "URLs must begin with \"http:\".";

namespace {

char LowerAZ(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAZ(a[i]) != LowerAZ(b[i])) return false;
  return true;
}

}  // namespace

bool HTTPURLAccepted(std::string_view url) {
  if (url.empty()) return true;
  const std::string_view scheme = url.substr(0, url.find('/'));
  return SameText(scheme, "http:") || SameText(scheme, "https:");
}

float ParseChangeThreshold(std::string_view text) {
  const std::string number = TrimChars(text, "% ", 0, TrimModeBoth);
  if (number.empty()) return 0;
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size() || !std::isfinite(value) || std::fabs(value) > 1e9) return 0;
  return static_cast<float>(value);
}

std::string ChangeThresholdText(float threshold) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, threshold);
  if (error != std::errc()) return "0%";
  return std::string(text, end) + "%";
}

const std::vector<std::string>& ChangeThresholdEntries() {
  static const std::vector<std::string> entries = {
      "0.00%", "0.25%", "0.50%", "0.75%", "1.00%", "1.50%", "2.00%", "2.50%", "3.00%", "3.50%", "4.00%",
      "4.50%", "5%",    "6%",    "7%",    "8%",    "9%",    "10%",   "15%",   "20%",   "25%",   "30%",
      "35%",   "40%",   "50%",   "55%",   "60%",   "70%",   "80%",   "90%",   "100%"};
  return entries;
}

bool CanAddHTTPVariable(std::string_view name, std::string_view value) { return !name.empty() && !value.empty(); }

std::string HTTPVariableName(std::string_view entry) { return std::string(entry.substr(0, entry.find('='))); }

std::string HTTPVariableValue(std::string_view entry) {
  const auto equals = entry.find('=');
  return equals == std::string_view::npos ? std::string() : std::string(entry.substr(equals + 1));
}

void SetHTTPVariable(std::vector<std::string>& entries, std::string_view name, std::string_view value) {
  std::string entry = std::string(name) + "=" + std::string(value);
  for (std::string& existing : entries)
    if (SameText(HTTPVariableName(existing), name)) {
      existing = std::move(entry);
      return;
    }
  entries.push_back(std::move(entry));
}

std::string JoinHTTPVariables(const std::vector<std::string>& entries) {
  std::string joined;
  for (const std::string& entry : entries) {
    if (entry.empty()) continue;
    if (!joined.empty()) joined += '\xFF';
    joined += entry;
  }
  return joined;
}

std::vector<std::string> SplitHTTPVariables(const std::string& joined) { return THTTPThread::SplitVariables(joined); }
