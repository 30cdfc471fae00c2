#include "core/TStartOptions.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "common/FileUtils.h"

namespace {
std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}
}  // namespace

TStartOptions ParseCommandLine(const std::vector<std::string>& args) {
  TStartOptions o;
  for (const std::string& arg : args) {
    const std::string a = Lower(arg);
    if (a == "service") o.ServiceMode = true;
    else if (a == "/minimize") o.StartMinimized = true;
    else if (a == "/nomemcleanup") o.NoMemCleanup = true;
    else if (a.size() > 5 && a.compare(a.size() - 5, 5, ".cvlh") == 0) o.HostsFileArg = arg;
  }
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd)) o.StartFolder = IncludeTrailingPathDelimiter(cwd);
  return o;
}

std::string TStartOptions::HostsFilePath() const {
  if (HostsFileArg.empty()) return std::string();
  const std::string path = NativePath(HostsFileArg);
  return path.front() == '/' ? path : StartFolder + path;
}
