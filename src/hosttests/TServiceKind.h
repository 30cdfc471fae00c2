#pragma once
// The Windows service test as a test kind (kind 2): a host is up while the named
// service of its computer runs.
#include <cstdint>
#include <string>

#include "hosttests/TTestResult.h"

class TTestKinds;

void RegisterServiceKind(TTestKinds& kinds);

// A service test's report as a result: the error's system text, none when running. A
// name syntax error (123) is a passing glitch an Online host does not record.
TTestResult ServiceTestResult(std::int32_t hostID, bool running, std::int32_t errorCode, std::int32_t elapsed,
                              const std::string& resolvedAddress);
