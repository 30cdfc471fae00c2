#include "platform/NetResources.h"

#include <optional>

#include "platform/TNetConnections.h"
#include "platform/TSmbClient.h"

namespace {

// The resource of "\\server\resource\..."; empty for "\\server".
std::string ResourceOf(const std::string& remoteName) {
  std::size_t start = remoteName.find_first_not_of("\\/");
  if (start == std::string::npos) return {};
  start = remoteName.find_first_of("\\/", start);
  if (start == std::string::npos) return {};
  start = remoteName.find_first_not_of("\\/", start);
  if (start == std::string::npos) return {};
  return remoteName.substr(start, remoteName.find_first_of("\\/", start) - start);
}

}  // namespace

int ConnectResource(const std::string& remoteName, const std::string& userName, const std::string& password,
                    std::string& connectionName, int port) {
  connectionName.clear();
  const std::string server = TNetConnections::ServerOf(remoteName);
  if (server.empty()) return 67;  // the network name cannot be found
  const bool given = !userName.empty() || !password.empty();
  TSmbClient client(given ? std::optional<TNetCredentials>(TNetCredentials{userName, password}) : std::nullopt,
                    port);
  const int code = client.CheckConnection(server, ResourceOf(remoteName));
  if (code != 0) return code;
  // Counted also without credentials, so that its Disconnect cancels this one and not
  // another connection to the same name.
  TNetConnections::Instance().Add(remoteName, {userName, password});
  connectionName = remoteName;
  return 0;
}

void DisconnectResource(const std::string& connectionName) {
  if (!connectionName.empty()) TNetConnections::Instance().Cancel(connectionName);
}

bool ListServerShares(const std::string& server, std::vector<std::string>& list, int* error) {
  list.clear();
  TSmbClient client;
  const int code = client.ListShares(TNetConnections::ServerOf(server), list);
  if (error) *error = code;
  if (code != 0) list.clear();
  return code == 0;
}
