// corvale-msg: sends one window message to a running window of a class and prints the
// window's answer, for partner programs, scripts and tests.
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/SysErrors.h"
#include "platform/WindowMessages.h"

namespace {

constexpr int ExitOk = 0, ExitNoWindow = 1, ExitUsage = 2, ExitTimeout = 3;
constexpr unsigned DefaultTimeoutMs = 10000;

const char* const SynopsisText =
    "usage: corvale-msg [--timeout MS] [--post] CLASS MESSAGE [WPARAM [LPARAM]]\n"
    "       corvale-msg [--timeout MS] --copydata DWDATA TEXT CLASS\n"
    "       corvale-msg [--timeout MS] --copydata-file DWDATA FILE CLASS\n";
const char* const DetailText =
    "Finds a window of CLASS and sends it MESSAGE, waiting up to MS milliseconds\n"
    "(default 10000), and prints its result in decimal. --post queues the message\n"
    "and prints nothing. --copydata sends TEXT (or the bytes of FILE) as a data-copy\n"
    "message with the data kind DWDATA. Numbers are decimal or 0x hexadecimal; WPARAM,\n"
    "LPARAM and DWDATA may be negative. Exit codes: 0 done, 1 no window, 2 bad\n"
    "arguments, 3 time-out.\n";

struct TUsageError {
  std::string Text;
};

// Decimal or 0x hexadecimal, an optional minus sign when allowNegative; the value as
// the 64-bit pattern (negative numbers in two's complement). Throws TUsageError.
std::uint64_t ParseNumber(const std::string& text, const char* what, bool allowNegative, std::uint64_t max) {
  std::string digits = text;
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.erase(0, 1);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.erase(0, 2);
  }
  const char* allowed = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  const bool wellFormed = !digits.empty() && digits.find_first_not_of(allowed) == std::string::npos;
  errno = 0;
  const unsigned long long value = wellFormed ? std::strtoull(digits.c_str(), nullptr, base) : 0;
  if (!wellFormed || errno == ERANGE || (negative && !allowNegative))
    throw TUsageError{std::string("bad ") + what + ": " + text};
  if (negative) {
    if (value > static_cast<unsigned long long>(INT64_MAX) + 1) throw TUsageError{std::string(what) + " out of range: " + text};
    return static_cast<std::uint64_t>(0) - value;
  }
  if (value > max) throw TUsageError{std::string(what) + " out of range: " + text};
  return value;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TUsageError{"cannot read " + path};
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw TUsageError{"cannot read " + path};
  return bytes;
}

struct TRequest {
  unsigned TimeoutMs = DefaultTimeoutMs;
  bool Post = false;
  bool CopyData = false;
  std::string ClassName;
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::uintptr_t DwData = 0;
  std::string Bytes;
};

// Options may stand anywhere; "--" ends them.
TRequest ParseArguments(const std::vector<std::string>& args) {
  TRequest request;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* name) -> const std::string& {
      if (i + 1 >= args.size()) throw TUsageError{std::string(name) + " needs a value"};
      return args[++i];
    };
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || (arg[1] >= '0' && arg[1] <= '9')) {
      positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--timeout") {
      request.TimeoutMs = static_cast<unsigned>(ParseNumber(value("--timeout"), "time-out", false, INT32_MAX));
    } else if (arg == "--post") {
      request.Post = true;
    } else if (arg == "--copydata" || arg == "--copydata-file") {
      if (request.CopyData) throw TUsageError{"only one data-copy message at a time"};
      request.CopyData = true;
      request.DwData = static_cast<std::uintptr_t>(ParseNumber(value(arg.c_str()), "DWDATA", true, UINTPTR_MAX));
      const std::string& data = value(arg.c_str());
      request.Bytes = arg == "--copydata" ? data : ReadFile(data);
      if (request.Bytes.size() > winmsg::MaxCopyDataSize) throw TUsageError{"the data is larger than 16 MiB"};
    } else {
      throw TUsageError{"unknown option " + arg};
    }
  }
  if (request.CopyData) {
    if (request.Post) throw TUsageError{"a data-copy message cannot be posted"};
    if (positional.size() != 1) throw TUsageError{"--copydata takes the window class and nothing else"};
  } else if (positional.size() < 2 || positional.size() > 4) {
    throw TUsageError{positional.empty() ? "missing window class" : positional.size() == 1 ? "missing message" : "too many arguments"};
  }
  request.ClassName = positional[0];
  if (request.ClassName.empty()) throw TUsageError{"empty window class"};
  if (request.CopyData) return request;
  request.Msg = static_cast<std::uint32_t>(ParseNumber(positional[1], "message", false, UINT32_MAX));
  if (request.Msg == winmsg::WM_COPYDATA) throw TUsageError{"use --copydata for a data-copy message"};
  if (positional.size() > 2)
    request.WParam = static_cast<std::uintptr_t>(ParseNumber(positional[2], "WPARAM", true, UINTPTR_MAX));
  if (positional.size() > 3)
    request.LParam = static_cast<std::intptr_t>(ParseNumber(positional[3], "LPARAM", true, UINTPTR_MAX));
  return request;
}

int Fail(int code, const std::string& text) {
  std::fprintf(stderr, "corvale-msg: %s\n", text.c_str());
  return code;
}

int Run(const TRequest& request) {
  const std::uintptr_t hwnd = FindWindow(request.ClassName);
  if (hwnd == 0) return Fail(ExitNoWindow, "no window of class " + request.ClassName);
  std::intptr_t result = 0;
  bool ok;
  if (request.Post) {
    ok = PostMessage(hwnd, request.Msg, request.WParam, request.LParam);
  } else if (request.CopyData) {
    ok = SendCopyData(hwnd, 0, request.DwData, request.Bytes, request.TimeoutMs, result);
  } else {
    ok = SendMessageTimeout(hwnd, request.Msg, request.WParam, request.LParam, request.TimeoutMs, result);
  }
  if (!ok) {
    if (GetLastError() == winmsg::ERROR_TIMEOUT)
      return Fail(ExitTimeout, "no answer from the window of class " + request.ClassName + " within " +
                                   std::to_string(request.TimeoutMs) + " ms");
    return Fail(ExitNoWindow, "the window of class " + request.ClassName + " went away");
  }
  if (!request.Post) std::printf("%" PRIdPTR "\n", result);
  return ExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      std::fputs(SynopsisText, stdout);
      std::fputs(DetailText, stdout);
      return ExitOk;
    }
  }
  try {
    return Run(ParseArguments(args));
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "corvale-msg: %s\n%s", error.Text.c_str(), SynopsisText);
    return ExitUsage;
  }
}
