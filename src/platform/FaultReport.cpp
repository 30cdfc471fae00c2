#include "platform/FaultReport.h"

#include <exception>

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

void ReportFault(const TFaultHook& hook, const std::string& where, const std::string& what) noexcept {
  if (!hook) return;
  try {
    hook(where, what);
  } catch (...) {
    // A hook that throws has nowhere left to report to.
  }
}
