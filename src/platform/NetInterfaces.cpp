#include "platform/NetInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

std::string DottedText(const in_addr& addr) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &addr, text, sizeof text)) return {};
  return text;
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
