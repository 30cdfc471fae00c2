#pragma once
// Restarting or shutting down the computer behind a host, for the host menu and the web
// interface alike: an authenticated connection to "\\" + address with the host's
// Windows account first (its credentials go with the request), the request, and the
// connection dropped again. Blocking; runs on any thread.
#include <string>

#include "platform/ComputerShutdown.h"

struct TRemoteShutdownRequest {
  std::string Address;
  std::string User, Password;  // the host's Windows account ("Domain\User")
  std::string Message;
  bool Force = true;
  int TimeoutSeconds = 30;
  bool Restart = false;
};

// 0, or 997 (pending) when the computer goes ahead; else the Windows error code of the
// connection or of the request. output (optional) gets what the tool said.
int RemoteShutdown(const TRemoteShutdownRequest& request, const TShutdownTools& tools, std::string* output = nullptr);
// Cancels a shutdown the computer counts down to, over the same kind of connection.
int RemoteAbortShutdown(const TRemoteShutdownRequest& request, const TShutdownTools& tools,
                        std::string* output = nullptr);

// Whether restart and shutdown can be asked of the address from here: this computer
// through systemctl, another one when Samba's net tool is installed.
bool RemoteShutdownAvailable(const std::string& address, const TShutdownTools& tools);

// "Remote computer " + address + " is being restarted." / "... cannot be shutdown.:..."
// as the host menu reports a request's result.
std::string ShutdownResultText(const std::string& address, bool restart, int code);
