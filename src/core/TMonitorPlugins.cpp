// TMonitor: loading and unloading the plug-ins.
#include <cstdlib>

#include "common/FileUtils.h"
#include "core/TMonitor.h"
#include "core/TPluginHost.h"
#include "hosttests/TTestKinds.h"

void TMonitor::LoadPlugins() {
  const char* extra = std::getenv("CORVALE_PLUGIN_DIR");
  const char* runner = std::getenv("CORVALE_PLUGIN_RUNNER");
  const std::string folder = IncludeTrailingPathDelimiter(FProgramFolder);
  FPlugins->Load({folder + "Plugins", extra ? std::string(extra) : std::string()},
                 runner && *runner ? std::string(runner) : folder + "corvale-plugin-runner", TTestKinds::Standard());
}

void TMonitor::UnloadPlugins() { FPlugins->Unload(); }
