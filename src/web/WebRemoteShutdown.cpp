#include "web/WebRemoteShutdown.h"

#include <mutex>
#include <shared_mutex>

#include "core/TMonitor.h"
#include "tools/RemoteControl.h"
#include "web/TWebSite.h"

void SetUpWebRemoteShutdown(TWebSite& site, const TShutdownTools& tools) {
  site.RemoteShutdown = nullptr;
  if (!site.Monitor || !ProgramAvailable(tools.NetProgram)) return;
  TMonitor* monitor = site.Monitor;
  site.RemoteShutdown = [monitor, tools](const std::string& address, const std::string& user,
                                         const std::string& password, const std::string& message, bool restart) {
    TShutdownTools now = tools;
    {
      std::shared_lock<std::shared_mutex> guard(monitor->StateLock());
      now.SmbPort = monitor->Settings().SMBPort;
    }
    return RemoteShutdown({address, user, password, message, true, 30, restart}, now);
  };
}
