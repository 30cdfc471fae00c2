#pragma once
// The route to the person at the computer: the sounds of a host that went down or came
// back, the alert window, and the pop-up of a host back online. In service mode only a host answering again leaves the window.
#include <string>

#include "core/TAlertChannels.h"
#include "core/THostTransition.h"

class TLocalAlertRoute : public TTransitionSubscriber {
public:
  // What the desktop does for the route.
  class TOutput {
  public:
    virtual ~TOutput() = default;
    // wait: sounds asked for afterwards follow when this one has finished.
    virtual void PlaySound(const std::string& fileName, bool wait) = 0;
    // Add the host to the top of the alert window's list (once) and show it without
    // taking the focus; remove it again, closing the window when its list empties.
    virtual void AddToAlertWindow(THost& host) = 0;
    virtual void RemoveFromAlertWindow(THost& host) = 0;
    // The pop-up of a host back online, with its label.
    virtual void ShowOnlinePopup(const std::string& hostLabel) = 0;
  };

  TLocalAlertRoute(TOutput& output, const TAlertContext& context) : FOutput(output), FContext(context) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  TOutput& FOutput;
  TAlertContext FContext;
};
