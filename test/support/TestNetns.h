#pragma once
// Network namespaces for tests that need hosts, routers and neighbours of their own.
// Everything is created inside namespaces named after the test process, and removed
// again even when a test fails; namespaces left by a killed run are removed first.
#include <string>
#include <vector>

namespace testsupport {

// Runs a shell command; its exit status, with standard output and error in output.
int Shell(const std::string& command, std::string* output = nullptr);

class TTestNetns {
public:
  // Creates one namespace per suffix, named prefix + pid + "-" + suffix, then runs the
  // setup commands in order (they refer to the namespaces through Name()). Needs root.
  TTestNetns(const std::string& prefix, const std::vector<std::string>& suffixes);
  ~TTestNetns();
  TTestNetns(const TTestNetns&) = delete;
  TTestNetns& operator=(const TTestNetns&) = delete;

  // Runs setup commands; false (and Error() tells which one failed) at the first failure.
  bool Run(const std::vector<std::string>& commands);
  std::string Name(const std::string& suffix) const;
  bool Ready() const { return FError.empty(); }
  const std::string& Error() const { return FError; }

private:
  std::string FPrefix;
  std::vector<std::string> FNames;
  std::string FError;
};

// The calling thread is in the named namespace for the object's lifetime; sockets it
// opens meanwhile stay in that namespace.
class TInNetns {
public:
  explicit TInNetns(const std::string& name);
  ~TInNetns();
  TInNetns(const TInNetns&) = delete;
  TInNetns& operator=(const TInNetns&) = delete;
  bool Entered() const { return FEntered; }

private:
  int FHome = -1;
  bool FEntered = false;
};

}  // namespace testsupport
