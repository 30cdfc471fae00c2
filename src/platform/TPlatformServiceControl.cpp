#include "platform/TPlatformServiceControl.h"

#include <strings.h>
#include <unistd.h>

bool TPlatformServiceControl::IsLocal(const std::string& machine) {
  std::size_t start = 0;
  while (start < machine.size() && (machine[start] == '\\' || machine[start] == '/')) ++start;
  if (start == machine.size()) return true;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return false;
  return strcasecmp(machine.c_str() + start, name) == 0;
}

TServiceControl& TPlatformServiceControl::For(const std::string& machine) {
  if (IsLocal(machine)) return FLocal;
  return FRemote;
}

int TPlatformServiceControl::Connect(const std::string& machine) { return For(machine).Connect(machine); }

int TPlatformServiceControl::QueryState(const std::string& machine, const std::string& service, int& state) {
  return For(machine).QueryState(machine, service, state);
}

int TPlatformServiceControl::SendControl(const std::string& machine, const std::string& service,
                                         TServiceControlCode code, int& state) {
  return For(machine).SendControl(machine, service, code, state);
}

int TPlatformServiceControl::Launch(const std::string& machine, const std::string& service,
                                    const std::vector<std::string>& arguments) {
  return For(machine).Launch(machine, service, arguments);
}

int TPlatformServiceControl::Enumerate(const std::string& machine, std::vector<TServiceEntry>& services) {
  return For(machine).Enumerate(machine, services);
}

int TPlatformServiceControl::EnumerateDependents(const std::string& machine, const std::string& service,
                                                 std::vector<TServiceEntry>& services) {
  return For(machine).EnumerateDependents(machine, service, services);
}
