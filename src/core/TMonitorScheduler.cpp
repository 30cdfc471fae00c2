// The scheduler pass on Timer1, test starts and the host tests' completion handlers.
#include "core/TMonitor.h"

void TMonitor::Timer1Timer() {}
void TMonitor::SetTestingOn(bool on) { FTestingOn = on; }
void TMonitor::TestHost(int) {}
void TMonitor::TestHostNow(int) {}
void TMonitor::RefreshAllHosts() {}
void TMonitor::AddRunningTest(const std::string&, std::shared_ptr<TBackgroundTask>) {}
void TMonitor::RemoveFromRunningTests(const TBackgroundTask*) {}
void TMonitor::RefreshHostRow(int index, const std::string& tracePrefix) {
  Trace(tracePrefix + " - Host Start " + std::to_string(index));
  emit HostChanged(index);
  Trace(tracePrefix + " - Host End " + std::to_string(index));
}
void TMonitor::PingCallback(TPingThread&, const std::string&, const std::string&, std::int32_t, std::int32_t,
                            const std::string&, std::int32_t, bool, const std::string&) {}
void TMonitor::TCPCallback(TTCPThread&, const std::string&, const std::string&, std::int32_t, bool,
                           const std::string&, std::int64_t, std::int32_t) {}
void TMonitor::ProbeCallback(TTCPThread&, const std::string&, const std::string&, std::int32_t, bool,
                             const std::string&, std::int64_t, std::int32_t) {}
