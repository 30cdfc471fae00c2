#include "core/HostAddress.h"

#include "common/NetText.h"
#include "core/THost.h"
#include "platform/NameLookup.h"
#include "platform/NetInterfaces.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

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

void SetLocalSubnetFlags(const std::vector<THost*>& hosts, const std::function<bool(const std::string&)>& localSubnet) {
  // Name lookups at once.
  constexpr size_t MaxLookupThreads = 16;
  std::vector<std::string> addresses, masks;
  if (!localSubnet) LocalInterfaces(addresses, masks);
  // Called from several threads at once for names.
  const auto localSubnetOf = [&](const std::string& address) noexcept {
    try {
      return localSubnet ? localSubnet(address) : OnLocalSubnet(address, addresses, masks);
    } catch (const std::exception&) {
      return false;
    }
  };
  std::unordered_map<std::string, size_t> slots;
  std::vector<char> flags;
  std::vector<std::pair<size_t, const std::string*>> names;
  for (const THost* h : hosts) {
    const auto [at, added] = slots.try_emplace(h->Address, flags.size());
    if (!added) continue;
    flags.push_back(0);
    if (IsValidIPv4(h->Address)) flags.back() = localSubnetOf(h->Address);
    else names.emplace_back(at->second, &at->first);
  }
  std::atomic<size_t> next{0};
  const auto lookUp = [&] {
    for (size_t i; (i = next++) < names.size();) flags[names[i].first] = localSubnetOf(*names[i].second);
  };
  std::vector<std::thread> helpers;
  helpers.reserve(MaxLookupThreads);
  try {
    while (helpers.size() + 1 < std::min(names.size(), MaxLookupThreads)) helpers.emplace_back(lookUp);
  } catch (const std::system_error&) {
    // Fewer helpers only make it slower.
  }
  lookUp();
  for (std::thread& helper : helpers) helper.join();
  for (THost* h : hosts) h->LocalSubnet = flags[slots.at(h->Address)] != 0;
}
