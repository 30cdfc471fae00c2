#include "platform/NetResources.h"

#include "platform/TNetConnections.h"

// Until the SMB client checks them, credentials are recorded unchecked: the requests
// that use them report a wrong password themselves.
int ConnectResource(const std::string& remoteName, const std::string& userName, const std::string& password,
                    std::string& connectionName) {
  connectionName.clear();
  if (!userName.empty() || !password.empty()) TNetConnections::Instance().Add(remoteName, {userName, password});
  connectionName = remoteName;
  return 0;
}

void DisconnectResource(const std::string& connectionName) {
  if (!connectionName.empty()) TNetConnections::Instance().Cancel(connectionName);
}
