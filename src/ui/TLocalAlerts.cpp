#include "ui/TLocalAlerts.h"

#include "core/TAlertRoutes.h"
#include "core/THost.h"
#include "core/TMonitor.h"
#include "ui/TAlertSound.h"
#include "ui/TfrmCVAlerts.h"
#include "ui/TfrmCVToaster.h"

TLocalAlerts::TLocalAlerts(TMonitor& monitor)
    : TAlerts(monitor), FSound(std::make_unique<TAlertSound>(monitor)),
      FAlertWindow(std::make_unique<TfrmCVAlerts>(
          monitor, [this](const std::string& fileName, bool async) { PlaySound(fileName, !async); })) {}

TLocalAlerts::~TLocalAlerts() = default;

void TLocalAlerts::AddRoutes(TAlertRoutes& routes, const TAlertContext& context) {
  routes.Add(std::make_unique<TLocalAlertRoute>(*this, context));
  TAlerts::AddRoutes(routes, context);
}

void TLocalAlerts::PlaySound(const std::string& fileName, bool wait) { FSound->PlayAlertSound(fileName, !wait); }

void TLocalAlerts::AddToAlertWindow(THost& host) {
  FAlertWindow->AddHost(host);
  if (FAlertWindow->isVisible()) return;
  FAlertWindow->show();
  FAlertWindow->raise();
}

void TLocalAlerts::RemoveFromAlertWindow(THost& host) { FAlertWindow->RemoveHost(host); }

void TLocalAlerts::ShowOnlinePopup(const std::string& hostLabel) {
  auto* toaster = new TfrmCVToaster(QString::fromLatin1(hostLabel.c_str()));
  toaster->show();
  toaster->raise();
}
