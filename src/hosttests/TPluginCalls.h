#pragma once
// The program's side of the plug-in callbacks, whichever way a plug-in reaches them
// (in the monitor's process or from its test process). Every member may be called on any
// thread; each returns what the callback returns.
#include <cstdint>
#include <string>

struct TPluginHostInfo {
  std::int32_t ID = 0;
  std::string Name, Address, Kind;
  std::int32_t Status = 0;
  std::int64_t Successes = 0, Failures = 0, BackToBackFailures = 0;
  double LastCheck = 0, LastSuccess = 0, LastFailure = 0;
  std::string LastError;
};

class TPluginCalls {
public:
  virtual ~TPluginCalls() = default;
  virtual std::int32_t Log(std::int32_t index, std::int32_t hostID, const std::string& message, std::int32_t type) = 0;
  virtual std::int32_t Email(std::int32_t index, std::int32_t hostID, const std::string& recipients,
                             const std::string& subject, const std::string& message) = 0;
  // -1 with expanded set when the expansion is shorter than bufferSize, else 0.
  virtual std::int32_t Variables(std::int32_t index, std::int32_t hostID, const std::string& text,
                                 std::int32_t bufferSize, std::string& expanded) = 0;
  virtual std::int32_t VariablesMenu(std::int32_t index, std::int32_t hostID, std::int32_t x, std::int32_t y,
                                     std::string& chosen) = 0;
  virtual std::int32_t HostInfo(std::int32_t index, std::int32_t hostIndex, TPluginHostInfo& info) = 0;
  virtual std::int32_t HostConnection(std::int32_t index, std::int32_t hostID, std::int32_t action) = 0;
};
