// Loading and saving the host list as the current configuration.
#include "core/TMonitor.h"

void TMonitor::LoadConfiguration() {}

void TMonitor::SaveConfiguration() {}
