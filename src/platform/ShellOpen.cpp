#include "platform/ShellOpen.h"

const char* const ShellOpenProgram = "xdg-open";

TProcessHandle ShellOpen(const std::string& target, const std::string& workDir) {
  TSpawnOptions options;
  options.Program = ShellOpenProgram;
  // One argument, whatever blanks or quotes the target holds: no command line is parsed.
  options.Arguments = {target};
  options.WorkDir = workDir;
  return SpawnProcess(options);
}
