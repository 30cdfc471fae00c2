#include "platform/NetComputers.h"

#include <cerrno>

bool ListNetworkComputers(std::vector<std::string>&, const std::atomic<bool>&, int* error) {
  if (error) *error = ENOSYS;
  return false;
}
