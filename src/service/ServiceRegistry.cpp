#include "service/ServiceRegistry.h"

#include <unistd.h>

#include "common/QLRegistry.h"

std::unique_ptr<TQLRegistry> MachineRegistry(TRegistryStore* store) {
  auto reg = store ? std::make_unique<TQLRegistry>(*store) : std::make_unique<TQLRegistry>();
  reg->SetRootKey(HKEY_LOCAL_MACHINE);
  return reg;
}

std::string OwnProgramPath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
