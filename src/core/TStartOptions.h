#pragma once
// What the command line asks of this run. Arguments compare without regard to case.
#include <string>
#include <vector>

struct TStartOptions {
  bool ServiceMode = false;     // "service"
  bool StartMinimized = false;  // "/minimize"
  bool NoMemCleanup = false;    // "/nomemcleanup"
  // The last argument that ends in ".cvlh"; used only when that file exists.
  std::string HostsFileArg;
};

// args excludes the program name.
TStartOptions ParseCommandLine(const std::vector<std::string>& args);
