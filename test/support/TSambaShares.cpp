#include "support/TSambaShares.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace testsupport {

TSambaShares::TSambaShares(const std::string& user, const std::string& password) {
  if (!TSambaServer::Available(FWhy)) return;
  auto server = std::make_unique<TSambaServer>();
  const std::string data = server->AddShare("data");
  std::ofstream(data + "/report.txt") << "up";
  std::filesystem::create_directories(data + "/locked/inside");
  chmod((data + "/locked").c_str(), 0700);
  server->AddShare("empty");
  server->AddShare("caf\xc3\xa9");  // the server's names are UTF-8
  if (!server->Start() || !server->AddUser(user, password)) {
    FWhy = "Samba server: " + server->Error();
    return;
  }
  FServer = std::move(server);
}

}  // namespace testsupport
