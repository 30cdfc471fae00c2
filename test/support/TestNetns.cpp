#include "support/TestNetns.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace testsupport {

int Shell(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char chunk[512];
  while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TTestNetns::TTestNetns(const std::string& prefix, const std::vector<std::string>& suffixes) : FPrefix(prefix) {
  if (geteuid() != 0) {
    FError = "network namespaces need root";
    return;
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/var/run/netns", ec)) {
    const std::string name = entry.path().filename();
    if (name.rfind(FPrefix, 0) != 0) continue;
    const pid_t pid = std::atoi(name.c_str() + FPrefix.size());
    if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) Shell("ip netns del " + name);
  }
  for (const std::string& suffix : suffixes) {
    const std::string name = Name(suffix);
    if (!Run({"ip netns add " + name})) return;
    FNames.push_back(name);
  }
}

TTestNetns::~TTestNetns() {
  for (const std::string& name : FNames) Shell("ip netns del " + name);
}

bool TTestNetns::Run(const std::vector<std::string>& commands) {
  if (!FError.empty()) return false;
  for (const std::string& command : commands) {
    std::string output;
    if (Shell(command, &output) != 0) {
      FError = "'" + command + "' failed: " + output;
      return false;
    }
  }
  return true;
}

std::string TTestNetns::Name(const std::string& suffix) const {
  return FPrefix + std::to_string(getpid()) + "-" + suffix;
}

TInNetns::TInNetns(const std::string& name) {
  FHome = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  FEntered = FHome >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
  if (target >= 0) close(target);
}

TInNetns::~TInNetns() {
  if (FEntered) setns(FHome, CLONE_NEWNET);
  if (FHome >= 0) close(FHome);
}

}  // namespace testsupport
