// What the user does to hosts: disable, reset, simulate a failure.
#include "core/TMonitor.h"

void TMonitor::DisableHost(int, bool) {}
void TMonitor::DisableHostFor(int, int, bool) {}
void TMonitor::ResetHost(THost&, int) {}
void TMonitor::ResetHostStatus(int, int) {}
void TMonitor::ResetAllHosts(int) {}
void TMonitor::ResetDependentHosts(int, int) {}
void TMonitor::SimulateHostFailure(int) {}
