#pragma once
// The network share test as a test kind (kind 3).
#include <cstdint>
#include <string>

#include "hosttests/TTestResult.h"

class TTestKinds;

void RegisterShareKind(TTestKinds& kinds);

// A share test's report as a result, and the status trace's line for it.
TTestResult ShareTestResult(std::int32_t hostID, bool success, std::int32_t elapsed, const std::string& resolvedAddress,
                            const std::string& resultText);
std::string ShareTestTrace(const std::string& hostAddress, const std::string& sharePath, const TTestResult& result);
