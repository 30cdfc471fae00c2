#include "common/ErrorText.h"

#include <climits>
#include <cstdio>

#include "common/CharSet.h"
#include "common/TextUtils.h"
#include "platform/SysErrors.h"

namespace {

// Codes above this have no system message; only the name table may know them.
constexpr long long KLastMessageCode = 31999;

// Line breaks and other control characters become one blank per run, so a text always
// fits on one line of a log or a hosts file.
std::string OneLine(std::string_view text) {
  return FilterChars(text, CharRange(32, 255), false, true, " ");
}

// Takes a wider type so that the positive value of INT_MIN has a name too.
std::string NameOf(long long code) {
  std::string name = code >= INT_MIN && code <= INT_MAX ? SysErrorName(static_cast<int>(code)) : std::string();
  while (!name.empty() && name.back() == '_') name.pop_back();
  return name.empty() ? "Unknown Error " + std::to_string(code) : name;
}

}  // namespace

std::string ErrorName(int code) { return NameOf(code); }

std::string ErrorText(int code) {
  const long long value = code < 0 ? -static_cast<long long>(code) : code;
  std::string text;
  if (value <= KLastMessageCode) text = OneLine(SysErrorMessage(static_cast<int>(value)));
  if (value == syserr::ERROR_EXTENDED_ERROR) {
    int providerCode = 0;
    std::string description, provider;
    if (GetProviderLastError(providerCode, description, provider))
      text = "Extended Error " + std::to_string(providerCode) + ": " + TrimTrailingSpaces(OneLine(description)) +
             " [" + TrimTrailingSpaces(OneLine(provider)) + "]";
  }
  if (text.empty()) text = NameOf(value);
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08llX", static_cast<unsigned long long>(value));
  return text + " (0x" + hex + ")";
}

std::string ErrnoText(int err) { return ErrorText(WinErrorFromErrno(err)); }
