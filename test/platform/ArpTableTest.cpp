#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/ArpTable.h"
#include "support/TestNetns.h"

namespace {

// Two namespaces joined by a veth pair, removed again by the destructor:
//   near 192.0.2.1/24 (no MAC set) -- far 192.0.2.2/24 with MAC 02:00:00:00:00:42
// near also holds a permanent entry for 192.0.2.99 that no host answers to.
class TNeighbourNet {
public:
  TNeighbourNet() : FNet("cvarp-", {"n", "f"}), FNear(FNet.Name("n")), FFar(FNet.Name("f")) {
    const std::string n = " -n " + FNear, f = " -n " + FFar;
    FNet.Run({"ip link add nf0 netns " + FNear + " type veth peer name fn0 netns " + FFar,
              "ip" + f + " link set dev fn0 address 02:00:00:00:00:42",
              "ip" + n + " addr add 192.0.2.1/24 dev nf0", "ip" + f + " addr add 192.0.2.2/24 dev fn0",
              "ip" + n + " link set nf0 up", "ip" + f + " link set fn0 up",
              "ip" + n + " link set lo up", "ip" + f + " link set lo up",
              "ip" + n + " neigh add 192.0.2.99 lladdr 02:00:00:00:00:63 dev nf0 nud permanent"});
  }
  bool Ready() const { return FNet.Ready(); }
  const std::string& Error() const { return FNet.Error(); }

  // Runs body on a thread of its own inside the near namespace; false when it could not
  // enter it.
  bool InNear(const std::function<void()>& body) const {
    bool entered = false;
    std::thread([&] {
      // The thread ends inside the namespace, so it never goes back home.
      testsupport::TInNetns inside(FNear);
      entered = inside.Entered();
      if (entered) body();
    }).join();
    return entered;
  }

private:
  testsupport::TTestNetns FNet;
  std::string FNear, FFar;
};

TEST(ArpTable, MacTextIsUpperCaseHexPairs) {
  EXPECT_EQ(MacText({0x02, 0x00, 0x00, 0x00, 0x00, 0x42}), "02:00:00:00:00:42");
  EXPECT_EQ(MacText({0xAB, 0xcd, 0xEF, 0x01, 0x23, 0xFF}), "AB:CD:EF:01:23:FF");
  EXPECT_EQ(MacText({}), "00:00:00:00:00:00");
}

TEST(ArpTable, AddressesWithoutNeighbourAreAllZero) {
  // None of these may send anything: they do not resolve or are no neighbours.
  for (const char* address : {"", "0.0.0.0", "255.255.255.255", "127.0.0.1", "127.1.2.3"})
    EXPECT_EQ(ArpLookup(address), TMacAddress{}) << address;
}

TEST(ArpTable, FindsNeighboursInANamespace) {
  TNeighbourNet net;
  if (!net.Ready()) GTEST_SKIP() << "no namespaces for the neighbour table: " << net.Error();
  TMacAddress far{}, again{}, permanent{}, unknown{}, own{};
  ASSERT_TRUE(net.InNear([&] {
    far = ArpLookup("192.0.2.2");  // not in the table yet: found after the probe
    again = ArpLookup("192.0.2.2");
    permanent = ArpLookup("192.0.2.99");
    unknown = ArpLookup("192.0.2.77");
    own = ArpLookup("192.0.2.1");
  })) << "could not enter the namespace";
  EXPECT_EQ(MacText(far), "02:00:00:00:00:42");
  EXPECT_EQ(MacText(again), "02:00:00:00:00:42");
  EXPECT_EQ(MacText(permanent), "02:00:00:00:00:63");
  EXPECT_EQ(unknown, TMacAddress{});
  EXPECT_EQ(own, TMacAddress{});
}

}  // namespace
