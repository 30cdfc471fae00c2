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
#include <string>

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

  // prefix: the namespaces' name prefix, one per test program.
  explicit TRoutedNet(const std::string& prefix);
  bool Ready() const { return FNet.Ready(); }
  const std::string& Error() const { return FNet.Error(); }
  const std::string& Host() const { return FHost; }
  const std::string& RouterNetns() const { return FRouter; }
  const std::string& TargetNetns() const { return FTarget; }
  // Runs further commands (ip -n <TargetNetns()> link set tr0 down ...).
  bool Run(const std::vector<std::string>& commands) { return FNet.Run(commands); }

private:
  TTestNetns FNet;
  std::string FHost, FRouter, FTarget;
};

}  // namespace testsupport
