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
  // The folder the program was started in, with a trailing "/"; empty for the current
  // folder. Start-up changes to the program's folder, so a relative HostsFileArg is
  // resolved against this one.
  std::string StartFolder;

  // HostsFileArg as a native path that no change of folder alters; empty when none.
  std::string HostsFilePath() const;
};

// args excludes the program name. StartFolder is the current folder.
TStartOptions ParseCommandLine(const std::vector<std::string>& args);
