#include "platform/NetComputers.h"

#include <libsmbclient.h>

#include "platform/TSmbClient.h"

bool ListNetworkComputers(std::vector<std::string>& list, const std::atomic<bool>& stop, int* error) {
  const auto fail = [error](int code) {
    if (error) *error = code;
    return false;
  };
  // Browsing asks for no credentials: what an anonymous listing shows is what is listed.
  TSmbClient client(TNetCredentials{}, 0, NetComputersTimeoutMs);
  std::vector<std::string> workgroups;
  if (const int err = client.BrowseNames("smb://", SMBC_WORKGROUP, workgroups, stop); err != 0) return fail(err);
  for (const std::string& workgroup : workgroups) {
    if (stop) break;
    std::vector<std::string> servers;
    // A workgroup whose master browser does not answer leaves the others to list.
    if (client.BrowseNames(TSmbClient::Url(workgroup), SMBC_SERVER, servers, stop) != 0) continue;
    for (const std::string& server : servers) list.push_back("\\\\" + server);
  }
  if (error) *error = 0;
  return true;
}
