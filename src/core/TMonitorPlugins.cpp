// TMonitor: loading and unloading the plug-ins.
#include <cstdlib>

#include "common/FileUtils.h"
#include "core/TMonitor.h"
#include "core/TPluginHost.h"
#include "hosttests/TTestKinds.h"
#include "platform/NetResources.h"

void TMonitor::LoadPlugins() {
  const char* extra = std::getenv("CORVALE_PLUGIN_DIR");
  const char* runner = std::getenv("CORVALE_PLUGIN_RUNNER");
  const std::string folder = IncludeTrailingPathDelimiter(FProgramFolder);
  // A plug-in's host connection opens the same connection a service or share test would.
  FPlugins->SetConnector(
      [](const std::string& remote, const std::string& user, const std::string& password, std::string& connection) {
        return ConnectResource(remote, user, password, connection);
      },
      [](const std::string& connection) {
        DisconnectResource(connection);
        return 0;
      });
  FPlugins->Load({folder + "Plugins", extra ? std::string(extra) : std::string()},
                 runner && *runner ? std::string(runner) : folder + "corvale-plugin-runner", TTestKinds::Standard());
}

void TMonitor::UnloadPlugins() { FPlugins->Unload(); }
