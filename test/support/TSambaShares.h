#pragma once
// The shares the tests of the share features read, on one Samba server for a whole
// suite: "data" with a file and a folder "locked" (with "locked/inside") that only root
// may read, "empty", and "caf" + e-acute (a name beyond ASCII). The account is a plain one: root would read anything.
#include <memory>
#include <string>

#include "support/TSambaServer.h"

namespace testsupport {

class TSambaShares {
public:
  // Starts the server with the account; Server() is null when it could not (why says).
  TSambaShares(const std::string& user, const std::string& password);
  TSambaServer* Server() const { return FServer.get(); }
  const std::string& Why() const { return FWhy; }

private:
  std::unique_ptr<TSambaServer> FServer;
  std::string FWhy;
};

}  // namespace testsupport
