#include "common/SystemInfo.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

std::string LocalComputerName() {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
  std::string name(buffer);
  return name.substr(0, name.find('.'));
}

std::string LocalUserName() {
  long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
  passwd entry{};
  passwd* result = nullptr;
  int rc;
  // Entries with long member lists may need more room than the system suggests.
  while ((rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result)) == ERANGE &&
         buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (rc == 0 && result != nullptr && result->pw_name != nullptr && *result->pw_name != '\0') return result->pw_name;
  const char* user = std::getenv("USER");
  return user != nullptr ? user : "";
}

double MillisecondClock() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}
