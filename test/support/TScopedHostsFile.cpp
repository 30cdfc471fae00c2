#include "support/TScopedHostsFile.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace testsupport {

TScopedHostsFile::TScopedHostsFile(const std::string& lines) {
  if (geteuid() != 0) {
    FError = "a hosts file of our own needs root";
    return;
  }
  char name[] = "/tmp/corvale-hosts-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0 || write(fd, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) {
    FError = std::string("cannot write the hosts file: ") + std::strerror(errno);
    if (fd >= 0) close(fd);
    return;
  }
  close(fd);
  FFile = name;
  FHome = open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
  // The thread's own namespace, private so that the bind never reaches the system's.
  if (FHome < 0 || unshare(CLONE_FS | CLONE_NEWNS) != 0 ||
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    FError = std::string("cannot make a mount namespace: ") + std::strerror(errno);
    return;
  }
  if (mount(FFile.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
    FError = std::string("cannot bind the hosts file: ") + std::strerror(errno);
    setns(FHome, CLONE_NEWNS);
    return;
  }
  FActive = true;
}

TScopedHostsFile::~TScopedHostsFile() {
  // Leaving the namespace drops it, and the bind with it, once no thread is left in it.
  if (FActive) setns(FHome, CLONE_NEWNS);
  if (FHome >= 0) close(FHome);
  if (!FFile.empty()) std::remove(FFile.c_str());
}

}  // namespace testsupport
