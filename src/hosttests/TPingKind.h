#pragma once
// The echo test as a test kind (kind 0).
#include <cstdint>
#include <string>

#include "hosttests/TTestResult.h"

class TTestKinds;

void RegisterPingKind(TTestKinds& kinds);

// An echo test's report as a result: the responder is named when an address other than
// the host's answered.
TTestResult PingTestResult(std::int32_t tag, bool success, std::int32_t responseTime, const std::string& errorText,
                           const std::string& responder, const std::string& resolvedAddress);
