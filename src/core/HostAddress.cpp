#include "core/HostAddress.h"

#include "platform/NameLookup.h"
#include "platform/NetInterfaces.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <optional>

namespace {

using TOctets = std::array<uint8_t, 4>;

std::optional<TOctets> Octets(const std::string& dotted) {
  in_addr addr{};
  if (inet_pton(AF_INET, dotted.c_str(), &addr) != 1) return std::nullopt;
  TOctets octets{};
  const auto* bytes = reinterpret_cast<const uint8_t*>(&addr.s_addr);
  for (size_t i = 0; i < octets.size(); ++i) octets[i] = bytes[i];
  return octets;
}

std::optional<TOctets> ResolvedOctets(const std::string& address) {
  std::string ip;
  if (!Resolve(address, ip)) return std::nullopt;
  return Octets(ip);
}

// Whether match holds for some interface whose address and mask read as octets.
template <class TMatch>
bool AnyInterface(const std::vector<std::string>& addresses, const std::vector<std::string>& masks,
                  TMatch match) {
  for (size_t i = 0; i < addresses.size() && i < masks.size(); ++i) {
    const auto local = Octets(addresses[i]);
    const auto mask = Octets(masks[i]);
    if (local && mask && match(*local, *mask)) return true;
  }
  return false;
}

}  // namespace

bool OnLocalSubnet(const std::string& address) {
  std::vector<std::string> addresses, masks;
  return LocalInterfaces(addresses, masks) && OnLocalSubnet(address, addresses, masks);
}

bool OnLocalSubnet(const std::string& address, const std::vector<std::string>& addresses,
                   const std::vector<std::string>& masks) {
  const auto target = ResolvedOctets(address);
  return target && AnyInterface(addresses, masks, [&](const TOctets& local, const TOctets& mask) {
    for (size_t k = 0; k < 4; ++k)
      if (((*target)[k] & mask[k]) != (local[k] & mask[k])) return false;
    return true;
  });
}

bool IsBroadcastAddress(const std::string& address) {
  std::vector<std::string> addresses, masks;
  return LocalInterfaces(addresses, masks) && IsBroadcastAddress(address, addresses, masks);
}

bool IsBroadcastAddress(const std::string& address, const std::vector<std::string>& addresses,
                        const std::vector<std::string>& masks) {
  const auto target = ResolvedOctets(address);
  return target && AnyInterface(addresses, masks, [&](const TOctets& local, const TOctets& mask) {
    if (mask[3] > 248) return false;
    TOctets broadcast{};
    for (size_t k = 0; k < 4; ++k) broadcast[k] = (mask[k] ^ 255) | local[k];
    return broadcast == *target;
  });
}

bool IsLocalAddress(const std::string& address) {
  std::vector<std::string> addresses, masks;
  return LocalInterfaces(addresses, masks) && IsLocalAddress(address, addresses);
}

bool IsLocalAddress(const std::string& address, const std::vector<std::string>& addresses) {
  auto target = ResolvedOctets(address);
  if (!target) return false;
  for (const auto& local : addresses)
    if (Octets(local) == target) return true;
  return false;
}
