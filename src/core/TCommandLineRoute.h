#pragma once
// The command-line route: a host's offline and online commands, run with its message
// variables; a launch that happens is logged.
#include <functional>
#include <string>

#include "core/TAlertChannels.h"
#include "core/THostTransition.h"

class TCommandLineRoute : public TTransitionSubscriber {
public:
  // run: starts the command line for the host; true when it started.
  using TRun = std::function<bool(const std::string& command, THost& host)>;
  TCommandLineRoute(TRun run, const TAlertContext& context) : FRun(std::move(run)), FContext(context) {}
  void HostTransition(const THostTransition& transition, THost& host, TTransitionWork& work) override;

private:
  TRun FRun;
  TAlertContext FContext;
};
