#include "platform/ArpTable.h"

#include <arpa/inet.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/NameLookup.h"
#include "platform/NetInterfaces.h"

namespace {

constexpr std::uint16_t DiscardPort = 9;
constexpr auto ProbeWait = std::chrono::milliseconds(1000);
constexpr auto ProbeLook = std::chrono::milliseconds(20);

std::optional<TMacAddress> ParseMac(const std::string& text) {
  TMacAddress mac{};
  unsigned int b[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                  &tail) != 6)
    return std::nullopt;
  for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = static_cast<std::uint8_t>(b[i]);
  return mac;
}

// The complete entry for dotted in the neighbour table of the calling thread's network
// namespace (/proc/net follows the process's first thread, thread-self this one).
std::optional<TMacAddress> TableEntry(const std::string& dotted) {
  std::ifstream table("/proc/thread-self/net/arp");
  if (!table) table.open("/proc/net/arp");
  std::string line;
  std::getline(table, line);  // column titles
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string ip, hwType, flags, hw;
    if (!(fields >> ip >> hwType >> flags >> hw) || ip != dotted) continue;
    if (!(std::strtoul(flags.c_str(), nullptr, 16) & ATF_COM)) continue;
    auto mac = ParseMac(hw);
    if (mac && *mac != TMacAddress{}) return mac;
  }
  return std::nullopt;
}

std::uint32_t HostOrder(const std::string& dotted) {
  in_addr addr{};
  return inet_pton(AF_INET, dotted.c_str(), &addr) == 1 ? ntohl(addr.s_addr) : 0;
}

// Only a neighbour on one of our subnets can get an entry; a probe elsewhere would send
// a datagram across the network for nothing.
bool WorthProbing(const std::string& dotted) {
  const std::uint32_t target = HostOrder(dotted);
  if ((target >> 24) == 127) return false;
  std::vector<std::string> addresses, masks;
  if (!LocalInterfaces(addresses, masks)) return false;
  bool onSubnet = false;
  for (std::size_t i = 0; i < addresses.size() && i < masks.size(); ++i) {
    const std::uint32_t local = HostOrder(addresses[i]), mask = HostOrder(masks[i]);
    if (local == target) return false;  // our own address has no neighbour entry
    onSubnet = onSubnet || (mask != 0 && (local & mask) == (target & mask));
  }
  return onSubnet;
}

void Probe(const std::string& dotted) {
  int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sock < 0) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(DiscardPort);
  inet_pton(AF_INET, dotted.c_str(), &to.sin_addr);
  // The answer, if any, does not matter: the kernel's own ARP request is the point.
  (void)sendto(sock, "", 0, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  close(sock);
}

}  // namespace

TMacAddress ArpLookup(const std::string& address) {
  std::string dotted;
  if (!Resolve(address, dotted)) return {};
  if (auto mac = TableEntry(dotted)) return *mac;
  if (!WorthProbing(dotted)) return {};
  Probe(dotted);
  const auto deadline = std::chrono::steady_clock::now() + ProbeWait;
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(ProbeLook);
    if (auto mac = TableEntry(dotted)) return *mac;
  }
  return {};
}

std::string MacText(const TMacAddress& mac) {
  std::string text;
  char octet[3];
  for (std::size_t i = 0; i < mac.size(); ++i) {
    std::snprintf(octet, sizeof octet, "%02X", mac[i]);
    if (i) text += ':';
    text += octet;
  }
  return text;
}
