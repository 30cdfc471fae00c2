#include "core/TAlertChannels.h"

#include "hosttests/TBackgroundTask.h"

TAlertChannels::~TAlertChannels() = default;

void TAlertChannels::LoadConfiguration(const std::string&) {}

void TAlertChannels::AlertTimer() {}

void TAlertChannels::FreePendingAlerts() {}

std::string TAlertChannels::ExpandHostVariables(const std::string& text, const THost&) { return text; }

std::string TAlertChannels::Template(TAlertTemplate) const { return {}; }

void TAlertChannels::QueueAlert(const std::string&, const std::string&, const std::string&, TDateTime, TDateTime,
                                THost&, int, int, bool) {}

void TAlertChannels::PlaySound(const std::string&, bool) {}

void TAlertChannels::AddToAlertWindow(THost&) {}

void TAlertChannels::RemoveFromAlertWindow(THost&) {}

void TAlertChannels::ShowOnlinePopup(const std::string&) {}

void TAlertChannels::RunCommandLine(const std::string&, THost&) {}

std::shared_ptr<TBackgroundTask> TAlertChannels::StartHttpNotification(THost&, bool) { return nullptr; }

std::shared_ptr<TBackgroundTask> TAlertChannels::StartHostDownTrace(THost&) { return nullptr; }

std::shared_ptr<TBackgroundTask> TAlertChannels::StartPeriodicTrace(THost&) { return nullptr; }

void TAlertChannels::SendHostUpdate(THost&) {}
