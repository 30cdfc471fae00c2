#pragma once
// Three namespaces joined by veth pairs, removed again by the destructor:
//   host 192.0.2.2 -- 192.0.2.1 router 198.51.100.1 -- 198.51.100.2 target
// The router forwards and answers for 203.0.113.0/24: host unreachable for .0/25,
// administratively prohibited for .128/26, no route (net unreachable) for the rest.
// 192.0.2.99 is a neighbour of the host that never answers; the host itself has no route
// to 203.0.113.248/29 and admits every group to datagram ICMP sockets.
// The router sends at most five unreachables in a burst to one sender (then one a
// second), so tests ask for no more than that; its time-exceeded messages are left out
// of rate limiting, which would otherwise share that budget.
//
// With a second router, a longer route hangs off the first router as well:
//   router 203.0.113.225 -- 203.0.113.226 router2 203.0.113.233 -- 203.0.113.234 far target
// so that a trace from the host meets 192.0.2.1, 203.0.113.226 and the far target.
#include <string>
#include <vector>

#include "support/TestNetns.h"

namespace testsupport {

class TRoutedNet {
public:
  static constexpr const char* HostAddress = "192.0.2.2";
  static constexpr const char* Router = "192.0.2.1";
  static constexpr const char* Target = "198.51.100.2";
  static constexpr const char* Silent = "192.0.2.99";
  static constexpr const char* Unreachable = "203.0.113.5";
  static constexpr const char* Prohibited = "203.0.113.130";
  static constexpr const char* NoRoute = "203.0.113.200";
  static constexpr const char* LocalUnreachable = "203.0.113.250";
  static constexpr const char* Router2 = "203.0.113.226";
  static constexpr const char* FarTarget = "203.0.113.234";

  // prefix: the namespaces' name prefix, one per test program.
  explicit TRoutedNet(const std::string& prefix, bool secondRouter = false);
  bool Ready() const { return FNet.Ready(); }
  const std::string& Error() const { return FNet.Error(); }
  const std::string& Host() const { return FHost; }
  const std::string& RouterNetns() const { return FRouter; }
  const std::string& TargetNetns() const { return FTarget; }
  // With the second router: its namespace and the far target's.
  const std::string& Router2Netns() const { return FRouter2; }
  const std::string& FarTargetNetns() const { return FFar; }
  // Cuts (or mends) the link between the two routers: the first router then has no
  // route to the far target and says so. Asking for the state it is in does nothing.
  bool CutSecondRouter(bool cut);
  // Runs further commands (ip -n <TargetNetns()> link set tr0 down ...).
  bool Run(const std::vector<std::string>& commands) { return FNet.Run(commands); }

private:
  TTestNetns FNet;
  std::string FHost, FRouter, FTarget, FRouter2, FFar;
  bool FCut = true;  // the link between the routers is not there yet
};

}  // namespace testsupport
