#include "platform/NameLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>

#include "platform/SysErrors.h"

namespace {

std::string DottedText(const in_addr& addr) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &addr, text, sizeof text)) return {};
  return text;
}

bool Usable(const in_addr& addr) {
  return addr.s_addr != htonl(INADDR_ANY) && addr.s_addr != htonl(INADDR_BROADCAST);
}

std::optional<in_addr> LookUp(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  in_addr addr{};
  if (inet_pton(AF_INET, name.c_str(), &addr) == 1) {
    if (!Usable(addr)) return std::nullopt;
    return addr;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
  for (addrinfo* item = found; item; item = item->ai_next) {
    if (item->ai_family != AF_INET || !item->ai_addr) continue;
    addr = reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr;
    break;
  }
  freeaddrinfo(found);
  if (!Usable(addr)) return std::nullopt;
  return addr;
}

}  // namespace

bool Resolve(const std::string& name, std::string& dotted) {
  const auto addr = LookUp(name);
  dotted = addr ? DottedText(*addr) : std::string();
  return !dotted.empty();
}

bool Resolve(const std::string& name, std::uint32_t& address, std::string& dotted) {
  const auto addr = LookUp(name);
  dotted = addr ? DottedText(*addr) : std::string();
  if (dotted.empty()) {
    address = 0;
    // Callers report the last error, and a failed lookup must never read as success.
    SetLastError(syserr::WSAHOST_NOT_FOUND);
    return false;
  }
  address = addr->s_addr;
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
