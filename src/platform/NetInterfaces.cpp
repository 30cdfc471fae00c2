#include "platform/NetInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

std::string DottedText(const in_addr& addr) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &addr, text, sizeof text)) return {};
  return text;
}

bool Usable(const in_addr& addr) {
  return addr.s_addr != htonl(INADDR_ANY) && addr.s_addr != htonl(INADDR_BROADCAST);
}

}  // namespace

bool LocalInterfaces(std::vector<std::string>& addresses, std::vector<std::string>& masks) {
  addresses.clear();
  masks.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  for (ifaddrs* item = list; item; item = item->ifa_next) {
    if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET || !item->ifa_netmask) continue;
    if (!(item->ifa_flags & IFF_UP)) continue;
    auto address = DottedText(reinterpret_cast<const sockaddr_in*>(item->ifa_addr)->sin_addr);
    auto mask = DottedText(reinterpret_cast<const sockaddr_in*>(item->ifa_netmask)->sin_addr);
    if (address.empty() || mask.empty()) continue;
    addresses.push_back(std::move(address));
    masks.push_back(std::move(mask));
  }
  freeifaddrs(list);
  return true;
}

bool ResolveIPv4(const std::string& name, std::string& address) {
  address.clear();
  if (name.empty() || name.find('\0') != std::string::npos) return false;
  in_addr addr{};
  if (inet_pton(AF_INET, name.c_str(), &addr) == 1) {
    if (!Usable(addr)) return false;
    address = DottedText(addr);
    return !address.empty();
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  for (addrinfo* item = found; item; item = item->ai_next) {
    if (item->ai_family != AF_INET || !item->ai_addr) continue;
    addr = reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr;
    break;
  }
  freeaddrinfo(found);
  if (!Usable(addr)) return false;
  address = DottedText(addr);
  return !address.empty();
}
