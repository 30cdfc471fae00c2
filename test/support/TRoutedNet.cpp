#include "support/TRoutedNet.h"

namespace testsupport {

TRoutedNet::TRoutedNet(const std::string& prefix)
    : FNet(prefix, {"h", "r", "t"}), FHost(FNet.Name("h")), FRouter(FNet.Name("r")), FTarget(FNet.Name("t")) {
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
}

}  // namespace testsupport
