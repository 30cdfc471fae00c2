// The service's installation handlers: the account it runs under, the description, and
// what /UNINSTALL leaves alone.
#include <pwd.h>

#include <cstdlib>
#include <memory>

#include "common/ErrorText.h"
#include "common/QLRegistry.h"
#include "common/SystemInfo.h"
#include "service/ServiceRegistry.h"
#include "service/TCorvale.h"

namespace {
constexpr int ERROR_NONE_MAPPED = 1332;

bool UserExists(const std::string& name) { return !name.empty() && ::getpwnam(name.c_str()) != nullptr; }
}  // namespace

std::string TCorvale::ProposedAccount() {
  if (UserExists(TServiceUnit::PackageUser)) return TServiceUnit::PackageUser;
  // Whoever asked for the elevation through polkit or sudo, not root.
  const char* pkexecUid = std::getenv("PKEXEC_UID");
  if (pkexecUid && *pkexecUid) {
    if (const passwd* pw = ::getpwuid(static_cast<uid_t>(std::strtoul(pkexecUid, nullptr, 10)))) return pw->pw_name;
  }
  const char* sudoUser = std::getenv("SUDO_USER");
  if (sudoUser && *sudoUser && std::string(sudoUser) != "root") return sudoUser;
  return LocalUserName();
}

bool TCorvale::ServiceBeforeInstall(TServiceAccount& account, const std::function<void(const std::string&)>& report) {
  if (account.LocalSystem) return true;
  if (account.UserName.empty()) account.UserName = ProposedAccount();
  // systemd refuses to start a unit whose user is missing; the installation goes on, as
  // the account may be made afterwards.
  if (!UserExists(account.UserName) && report)
    report("The Corvale Service Module was not able to open the specified user account.  You may need to adjust "
           "user privileges manually.\n\n" +
           ErrorText(ERROR_NONE_MAPPED));
  return true;
}

void TCorvale::ServiceAfterInstall(const TServiceAccount&, const std::string&) {
  try {
    auto reg = MachineRegistry(FStore);
    if (reg->OpenKey(ServiceKey, false)) reg->WriteString("Description", Description);
  } catch (const std::exception&) {
  }
}

bool TCorvale::ServiceBeforeUninstall() {
  try {
    return MachineRegistry(FStore)->KeyExists(ServiceKey);
  } catch (const std::exception&) {
    return false;
  }
}

void TCorvale::ServiceAfterUninstall() {
  try {
    FEventLog.UnregisterApplication();
  } catch (const EEventLogError&) {
  }
}
