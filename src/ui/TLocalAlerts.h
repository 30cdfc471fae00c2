#pragma once
// The alert channels of the desktop program: everything the e-mail side does, plus the
// alerts for the person at the computer (sounds, the alert window, the online notice).
// The alert rules stay in TAlertChannels; this class only carries them out. The program
// without a display keeps TAlerts, where these operations do nothing.
#include <memory>
#include <string>

#include "alerts/TAlerts.h"

class TAlertSound;
class TfrmCVAlerts;

class TLocalAlerts : public TAlerts {
public:
  explicit TLocalAlerts(TMonitor& monitor);
  ~TLocalAlerts() override;

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
