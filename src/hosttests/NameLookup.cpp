#include "hosttests/NameLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "core/HostAddress.h"
#include "platform/SysErrors.h"

bool Resolve(const std::string& name, std::uint32_t& address, std::string& dotted) {
  address = 0;
  in_addr parsed{};
  if (!Resolve(name, dotted) || inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) {
    dotted.clear();
    // Callers report the last error, and a failed lookup must never read as success.
    SetLastError(syserr::WSAHOST_NOT_FOUND);
    return false;
  }
  address = parsed.s_addr;
  return true;
}

std::string ReverseName(const std::string& dottedAddress) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (inet_pton(AF_INET, dottedAddress.c_str(), &addr.sin_addr) != 1) return {};
  char host[NI_MAXHOST] = {};
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), sizeof addr, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0)
    return {};
  return host;
}

bool Lookup(const std::string& name, std::string& dotted, std::string& reverse) {
  reverse.clear();
  std::uint32_t address = 0;
  if (!Resolve(name, address, dotted)) return false;
  reverse = ReverseName(dotted);
  return true;
}
