#pragma once
// The TCP port test as a test kind (kind 1).
#include <cstdint>
#include <string>

#include "hosttests/TTestResult.h"

class TTestKinds;

void RegisterTCPKind(TTestKinds& kinds);

// A TCP test's report as a result; a host reference outside the IDs gives HostID -1.
// A time-out reads as the connection attempt timing out.
TTestResult TCPTestResult(std::int64_t hostReference, bool connected, std::int32_t elapsed,
                          const std::string& resolvedAddress, const std::string& resultText);
// The status trace's line for it.
std::string TCPTestTrace(const std::string& hostAddress, const TTestResult& result);
