#include "platform/NetComputers.h"

#include <libsmbclient.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Browsing asks for no credentials: what an anonymous listing shows is what is listed.
void NoCredentials(const char*, const char*, char*, int, char* user, int userLength, char* password,
                   int passwordLength) {
  if (userLength > 0) user[0] = '\0';
  if (passwordLength > 0) password[0] = '\0';
}

struct TContextFree {
  void operator()(SMBCCTX* context) const { smbc_free_context(context, 1); }
};
using TContext = std::unique_ptr<SMBCCTX, TContextFree>;

// The names of the entries of a browse folder that have the type wanted; false with
// errno when the folder could not be opened.
bool ListFolder(SMBCCTX* context, const std::string& url, unsigned int type, std::vector<std::string>& names,
                const std::atomic<bool>& stop) {
  SMBCFILE* folder = smbc_getFunctionOpendir(context)(context, url.c_str());
  if (!folder) return false;
  while (!stop) {
    const smbc_dirent* entry = smbc_getFunctionReaddir(context)(context, folder);
    if (!entry) break;
    if (entry->smbc_type == type && entry->name[0] != '\0') names.emplace_back(entry->name);
  }
  smbc_getFunctionClosedir(context)(context, folder);
  return true;
}

}  // namespace

bool ListNetworkComputers(std::vector<std::string>& list, const std::atomic<bool>& stop, int* error) {
  const auto fail = [error](int code) {
    if (error) *error = code;
    return false;
  };
  TContext context(smbc_new_context());
  if (!context) return fail(errno != 0 ? errno : ENOMEM);
  smbc_setDebug(context.get(), 0);
  smbc_setTimeout(context.get(), NetComputersTimeoutMs);
  smbc_setFunctionAuthData(context.get(), NoCredentials);
  if (!smbc_init_context(context.get())) {
    const int code = errno != 0 ? errno : EINVAL;
    // An uninitialised context must not be shut down.
    smbc_free_context(context.release(), 0);
    return fail(code);
  }

  std::vector<std::string> workgroups;
  if (!ListFolder(context.get(), "smb://", SMBC_WORKGROUP, workgroups, stop)) return fail(errno);
  for (const std::string& workgroup : workgroups) {
    if (stop) break;
    std::vector<std::string> servers;
    // A workgroup whose master browser does not answer leaves the others to list.
    if (!ListFolder(context.get(), "smb://" + workgroup + "/", SMBC_SERVER, servers, stop)) continue;
    for (const std::string& server : servers) list.push_back("\\\\" + server);
  }
  if (error) *error = 0;
  return true;
}
