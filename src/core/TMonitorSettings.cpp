// The settings file beside the hosts file.
#include "core/TMonitor.h"

void TMonitor::LoadSettings() {}

void TMonitor::SaveSettings() {}
