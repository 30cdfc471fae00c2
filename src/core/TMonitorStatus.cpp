// The status evaluation of every finished test.
#include "core/TMonitor.h"

void TMonitor::UpdateHostStatus(int, bool, bool, std::int32_t, const std::string&, const std::string&,
                                const std::string&) {}
void TMonitor::IPAddressChange(const std::string&, const std::string&, const std::string&, THost&) {}
void TMonitor::CheckParents() {}
