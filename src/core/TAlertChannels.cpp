#include "core/TAlertChannels.h"

#include "hosttests/TBackgroundTask.h"

TAlertChannels::~TAlertChannels() = default;

void TAlertChannels::LoadConfiguration(const std::string&) {}

bool TAlertChannels::SaveConfiguration(const std::string&) { return true; }

void TAlertChannels::FreePendingAlerts() {}

void TAlertChannels::PlaySound(const std::string&, bool) {}

bool TAlertChannels::RunCommandLine(const std::string&, THost&) { return false; }

std::shared_ptr<TBackgroundTask> TAlertChannels::StartPeriodicTrace(THost&) { return nullptr; }
