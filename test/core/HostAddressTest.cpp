#include "core/HostAddress.h"
#include "platform/NetInterfaces.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::vector<std::string> Addresses{"198.51.100.7", "192.0.2.9", "203.0.113.130"};
const std::vector<std::string> Masks{"255.255.255.252", "255.255.255.0", "255.255.255.248"};

TEST(HostAddressTest, SubnetMatchUsesEachInterfacesOwnMask) {
  EXPECT_TRUE(OnLocalSubnet("192.0.2.200", Addresses, Masks));
  EXPECT_TRUE(OnLocalSubnet("198.51.100.5", Addresses, Masks));
  EXPECT_FALSE(OnLocalSubnet("198.51.100.8", Addresses, Masks));  // outside the /30
  EXPECT_TRUE(OnLocalSubnet("203.0.113.135", Addresses, Masks));
  EXPECT_FALSE(OnLocalSubnet("203.0.113.136", Addresses, Masks));
  EXPECT_FALSE(OnLocalSubnet("192.0.3.1", Addresses, Masks));
  EXPECT_FALSE(OnLocalSubnet("0.0.0.0", Addresses, Masks));
  EXPECT_FALSE(OnLocalSubnet("192.0.2.1", {}, {}));
  // A mask list shorter than the address list pairs only what it can.
  EXPECT_FALSE(OnLocalSubnet("192.0.2.1", Addresses, {"255.255.255.252"}));
}

TEST(HostAddressTest, BroadcastNeedsHostBitsInTheLastOctet) {
  EXPECT_TRUE(IsBroadcastAddress("192.0.2.255", Addresses, Masks));
  EXPECT_TRUE(IsBroadcastAddress("203.0.113.135", Addresses, Masks));  // /29: last octet 248
  EXPECT_FALSE(IsBroadcastAddress("198.51.100.7", Addresses, Masks));  // /30: 252 is too narrow
  EXPECT_FALSE(IsBroadcastAddress("192.0.2.254", Addresses, Masks));
  EXPECT_FALSE(IsBroadcastAddress("255.255.255.255", Addresses, Masks));
  EXPECT_TRUE(IsBroadcastAddress("10.255.255.255", {"10.1.2.3"}, {"255.0.0.0"}));
}

TEST(HostAddressTest, LocalAddressIsAnExactInterfaceAddress) {
  EXPECT_TRUE(IsLocalAddress("192.0.2.9", Addresses));
  EXPECT_FALSE(IsLocalAddress("192.0.2.10", Addresses));
  EXPECT_FALSE(IsLocalAddress("0.0.0.0", {"0.0.0.0"}));
}

TEST(HostAddressTest, LoopbackInterfaceOfThisComputer) {
  std::vector<std::string> addresses, masks;
  ASSERT_TRUE(LocalInterfaces(addresses, masks));
  ASSERT_EQ(addresses.size(), masks.size());
  auto lo = std::find(addresses.begin(), addresses.end(), "127.0.0.1");
  if (lo == addresses.end()) GTEST_SKIP() << "no 127.0.0.1 interface in this environment";
  EXPECT_EQ(masks[static_cast<size_t>(lo - addresses.begin())], "255.0.0.0");

  EXPECT_TRUE(OnLocalSubnet("127.0.0.5"));
  EXPECT_TRUE(OnLocalSubnet("localhost"));
  EXPECT_TRUE(IsLocalAddress("127.0.0.1"));
  EXPECT_FALSE(IsLocalAddress("127.0.0.5"));
  EXPECT_TRUE(IsBroadcastAddress("127.255.255.255"));
  EXPECT_FALSE(IsBroadcastAddress("127.0.0.1"));
  EXPECT_FALSE(OnLocalSubnet("255.255.255.255"));
}

}  // namespace
