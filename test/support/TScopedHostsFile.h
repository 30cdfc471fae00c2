#pragma once
// Name lookups of the calling thread, and of threads it creates meanwhile, read a hosts
// file of the test's own instead of /etc/hosts: the thread moves into a mount namespace
// of its own with the file bound over /etc/hosts, and moves back at the end. Needs root.
// Use it once per thread (a test suite's set-up): a thread that has left such a namespace
// cannot always bind in a new one.
#include <string>

namespace testsupport {

class TScopedHostsFile {
public:
  // lines: the file's text ("198.51.100.2 cvtarget\n" ...).
  explicit TScopedHostsFile(const std::string& lines);
  ~TScopedHostsFile();
  TScopedHostsFile(const TScopedHostsFile&) = delete;
  TScopedHostsFile& operator=(const TScopedHostsFile&) = delete;
  bool Active() const { return FActive; }
  const std::string& Error() const { return FError; }

private:
  int FHome = -1;
  bool FActive = false;
  std::string FFile;
  std::string FError;
};

}  // namespace testsupport
