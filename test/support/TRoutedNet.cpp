#include "support/TRoutedNet.h"

namespace testsupport {

namespace {
std::vector<std::string> Suffixes(bool secondRouter) {
  if (secondRouter) return {"h", "r", "t", "s", "f"};
  return {"h", "r", "t"};
}
}  // namespace

TRoutedNet::TRoutedNet(const std::string& prefix, bool secondRouter)
    : FNet(prefix, Suffixes(secondRouter)), FHost(FNet.Name("h")), FRouter(FNet.Name("r")), FTarget(FNet.Name("t")) {
  const std::string h = " -n " + FHost, r = " -n " + FRouter, t = " -n " + FTarget;
  FNet.Run({"ip link add hr0 netns " + FHost + " type veth peer name rh0 netns " + FRouter,
            "ip link add rt0 netns " + FRouter + " type veth peer name tr0 netns " + FTarget,
            "ip" + h + " addr add 192.0.2.2/24 dev hr0", "ip" + h + " link set hr0 up",
            "ip" + h + " link set lo up", "ip" + h + " route add default via 192.0.2.1",
            "ip" + h + " route add unreachable 203.0.113.248/29",
            "ip" + h + " neigh add 192.0.2.99 lladdr 02:00:00:00:00:63 dev hr0 nud permanent",
            "ip netns exec " + FHost + " sysctl -qw net.ipv4.ping_group_range='0 2147483647'",
            "ip" + r + " addr add 192.0.2.1/24 dev rh0", "ip" + r + " addr add 198.51.100.1/24 dev rt0",
            "ip" + r + " link set rh0 up", "ip" + r + " link set rt0 up", "ip" + r + " link set lo up",
            "ip netns exec " + FRouter + " sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratemask=0",
            "ip" + r + " route add unreachable 203.0.113.0/25",
            "ip" + r + " route add prohibit 203.0.113.128/26",
            "ip" + t + " addr add 198.51.100.2/24 dev tr0", "ip" + t + " link set tr0 up",
            "ip" + t + " link set lo up", "ip" + t + " route add default via 198.51.100.1"});
  if (!secondRouter || !FNet.Ready()) return;
  FRouter2 = FNet.Name("s");
  FFar = FNet.Name("f");
  const std::string s = " -n " + FRouter2, f = " -n " + FFar;
  FNet.Run({"ip link add sf0 netns " + FRouter2 + " type veth peer name fs0 netns " + FFar,
            "ip" + s + " link set lo up", "ip" + s + " addr add 203.0.113.233/29 dev sf0", "ip" + s + " link set sf0 up",
            "ip netns exec " + FRouter2 + " sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratemask=0",
            "ip" + f + " addr add 203.0.113.234/29 dev fs0", "ip" + f + " link set fs0 up", "ip" + f + " link set lo up",
            "ip" + f + " route add default via 203.0.113.233"});
  CutSecondRouter(false);
}

bool TRoutedNet::CutSecondRouter(bool cut) {
  if (FRouter2.empty() || cut == FCut) return true;
  FCut = cut;
  const std::string r = " -n " + FRouter, s = " -n " + FRouter2;
  // Deleting one end of a pair deletes both, and the routes through it go with them.
  if (cut) return FNet.Run({"ip" + r + " link del rs0"});
  return FNet.Run({"ip link add rs0 netns " + FRouter + " type veth peer name sr0 netns " + FRouter2,
                   "ip" + r + " addr add 203.0.113.225/29 dev rs0", "ip" + r + " link set rs0 up",
                   "ip" + s + " addr add 203.0.113.226/29 dev sr0", "ip" + s + " link set sr0 up",
                   "ip" + r + " route add 203.0.113.232/29 via 203.0.113.226",
                   "ip" + s + " route add 192.0.2.0/24 via 203.0.113.225"});
}

}  // namespace testsupport
