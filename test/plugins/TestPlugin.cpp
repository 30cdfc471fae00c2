// Plug-ins for the tests, one source built several times (see test/CMakeLists.txt). Their
// PerformTest does what its parameter says, well or badly.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "corvale_plugin.h"

namespace {

std::int32_t Index = -1;
TCvlLogCallback Log = nullptr;
TCvlHostInfoCallback HostInfo = nullptr;

void Copy(char* buffer, std::size_t size, const std::string& text) {
  std::strncpy(buffer, text.c_str(), size - 1);
  buffer[size - 1] = '\0';
}

}  // namespace

extern "C" {

CVL_EXPORT std::int32_t Initialize(std::int32_t index, TCvlLogCallback log, TCvlEmailCallback, char* vendor,
                                   char* name, std::int32_t* count) {
  Index = index;
  Log = log;
  Copy(vendor, CVL_NAME_SIZE, "Test");
  Copy(name, CVL_NAME_SIZE, TEST_PLUGIN_NAME);
  *count = TEST_PLUGIN_TESTS;
  return 0;
}

#ifdef TEST_PLUGIN_SETTINGS
// The settings block as the environment's TEST_SETTINGS_MODE says: "keep" leaves length
// and capacity positive, "write" puts "hello" with capacity 0, "negative" a length of -1.
CVL_EXPORT std::int32_t InitializeEx(TCvlVariablesCallback, TCvlVariablesMenuCallback, TCvlHostInfoCallback info,
                                     TCvlHostConnectionCallback, void* settings, std::int32_t* length,
                                     std::int32_t* capacity, std::int32_t*) {
  HostInfo = info;
  const char* mode = std::getenv("TEST_SETTINGS_MODE");
  const std::string m = mode ? mode : "";
  if (m == "keep") {
    *length = 3;
  } else if (m == "write" && settings && *capacity >= 5) {
    std::memcpy(settings, "hello", 5);
    *length = 5;
    *capacity = 0;
  } else if (m == "negative") {
    *length = -1;
    *capacity = 0;
  }
  return 0;
}
#else
CVL_EXPORT std::int32_t InitializeEx(TCvlVariablesCallback, TCvlVariablesMenuCallback, TCvlHostInfoCallback info,
                                     TCvlHostConnectionCallback, void*, std::int32_t*, std::int32_t*,
                                     std::int32_t*) {
  HostInfo = info;
  return 0;
}
#endif

CVL_EXPORT std::int32_t GetTestInfo(std::int32_t test, char* identifier, char* name, std::int32_t* kind,
                                    std::int32_t* size) {
  Copy(identifier, CVL_NAME_SIZE, std::string(TEST_PLUGIN_NAME) + std::to_string(test + 1));
  Copy(name, CVL_NAME_SIZE, std::string(TEST_PLUGIN_NAME) + " " + std::to_string(test + 1));
  *kind = CVL_PARAM_TEXT;
  *size = 0;
  return 0;
}

CVL_EXPORT std::int32_t ValidateTestParam(std::int32_t, const char* parameter, char* error) {
  if (std::strcmp(parameter, "bad") != 0) return 1;
  Copy(error, CVL_NAME_SIZE, "bad is bad");
  return 0;
}

#ifndef TEST_PLUGIN_NO_PERFORM
CVL_EXPORT std::int32_t PerformTest(std::int32_t, std::int32_t hostID, const char*, const char*, const char* parameter,
                                    std::int32_t, std::int32_t* errorCode, char* message, std::int32_t* responseTime,
                                    std::uint8_t* address, std::int32_t* fatal) {
  const std::string p = parameter;
  *responseTime = 7;
  if (p == "ok") {
    address[0] = 192, address[1] = 0, address[2] = 2, address[3] = 7;
    return -1;
  }
  if (p == "fail") {
    Copy(message, CVL_MESSAGE_SIZE, "it failed");
    return 0;
  }
  if (p == "fatal") {
    *fatal = 1;
    Copy(message, CVL_MESSAGE_SIZE, "gone for good");
    return 1;
  }
  if (p == "noresult") {
    Copy(message, CVL_MESSAGE_SIZE, "nothing to say");
    return -2;
  }
  if (p == "garbage") {
    std::memset(message, 'x', CVL_MESSAGE_SIZE);  // no terminating zero
    return 77;
  }
  if (p == "code") {
    *errorCode = 10061;
    return 0;
  }
  if (p == "throw") throw std::runtime_error("boom");
  if (p == "log") {
    Log(Index, 0, hostID, "hello from a test", 1);
    return 1;
  }
  if (p == "info") {
    char name[CVL_TEXT_SIZE] = {}, kind[CVL_TEXT_SIZE] = {};
    std::int32_t id = 0, status = 0;
    const std::int32_t result = HostInfo(Index, 0, &id, name, nullptr, kind, &status, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr);
    Copy(message, CVL_MESSAGE_SIZE, std::to_string(result) + " " + name + " " + kind);
    return 1;
  }
  if (p == "crash") std::raise(SIGSEGV);
  if (p == "hang")
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(60));
  return 0;
}
#endif

#ifdef TEST_PLUGIN_MENU
// One item for a host, none without one; choosing it logs what was chosen.
CVL_EXPORT std::int32_t GetPopupMenuItem(std::int32_t hostIndex, std::int32_t hostID, std::int32_t, std::int32_t item,
                                         char* caption) {
  if (hostIndex < 0 || item > 0) return 0;
  Copy(caption, CVL_MESSAGE_SIZE, "Check host " + std::to_string(hostID));
  return 1;
}

CVL_EXPORT std::int32_t PerformPopupMenuItem(std::int32_t, std::int32_t hostID, std::int32_t, std::int32_t item) {
  Log(Index, 0, hostID, ("menu item " + std::to_string(item) + " chosen").c_str(), 1);
  return 1;
}
#endif

}  // extern "C"
