#pragma once
// The alert side of the desktop program: everything the e-mail side does, plus the
// route to the person at the computer (sounds, the alert window, the online notice),
// whose rule is TLocalAlertRoute's; this class only carries it out. The program without
// a display keeps TAlerts, which has no such route.
#include <memory>
#include <string>

#include "alerts/TAlerts.h"
#include "core/TLocalAlertRoute.h"

class TAlertSound;
class TfrmCVAlerts;

class TLocalAlerts : public TAlerts, public TLocalAlertRoute::TOutput {
public:
  explicit TLocalAlerts(TMonitor& monitor);
  ~TLocalAlerts() override;

  // The route to the person at the computer first, then the e-mail side's routes.
  void AddRoutes(TAlertRoutes& routes, const TAlertContext& context) override;

  // wait: sounds asked for afterwards follow this one (see TAlertSound).
  void PlaySound(const std::string& fileName, bool wait) override;
  // Lists the host in the alert window and shows the window, if hidden, without taking
  // the focus.
  void AddToAlertWindow(THost& host) override;
  void RemoveFromAlertWindow(THost& host) override;
  // A new notice for each call; each frees itself when it has faded.
  void ShowOnlinePopup(const std::string& hostLabel) override;

  TfrmCVAlerts& AlertWindow() { return *FAlertWindow; }
  TAlertSound& Sound() { return *FSound; }

private:
  std::unique_ptr<TAlertSound> FSound;
  std::unique_ptr<TfrmCVAlerts> FAlertWindow;
};
