#pragma once
// What one finished host test says about its host: built from the worker's completion
// on the main thread and handed to the status evaluation by value, so the worker may go
// as soon as it has reported.
#include <cstdint>
#include <string>

struct TTestResult {
  std::int32_t HostID = 0;
  bool Success = false;
  // The failure is final at once (a simulated failure, a test that knows the host is gone).
  bool ForcedOffline = false;
  std::int32_t ResponseTime = 0;
  // The address the test reached; empty when it learned none.
  std::string NewIP;
  // The error of a failure, or a remark on a success; may hold message variables.
  std::string ErrorText;
  // "[responder]" when an address other than the host's answered the echo.
  std::string EchoDetail;
  // An HTTP test's result: PageChange is the fraction of its page that changed (0 when
  // it was not measured).
  bool PageTest = false;
  // A passing glitch: not recorded while the host is Online.
  bool DropWhenOnline = false;
  float PageChange = 0;
  // A plug-in test that had nothing to say: only the host's note (ErrorText) and the log
  // change, never its status.
  bool NoResult = false;
};
