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

namespace {

int Shell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char chunk[512];
  while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
  int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Two namespaces joined by a veth pair, removed again by the destructor:
//   near 192.0.2.1/24 (no MAC set) -- far 192.0.2.2/24 with MAC 02:00:00:00:00:42
// near also holds a permanent entry for 192.0.2.99 that no host answers to.
class TNeighbourNet {
public:
  TNeighbourNet() {
    if (geteuid() != 0) {
      FError = "network namespaces need root";
      return;
    }
    RemoveStale();
    FNear = Prefix() + std::to_string(getpid()) + "-n";
    FFar = Prefix() + std::to_string(getpid()) + "-f";
    const std::string n = " -n " + FNear, f = " -n " + FFar;
    const std::vector<std::string> steps = {
        "ip netns add " + FNear, "ip netns add " + FFar,
        "ip link add nf0 netns " + FNear + " type veth peer name fn0 netns " + FFar,
        "ip" + f + " link set dev fn0 address 02:00:00:00:00:42",
        "ip" + n + " addr add 192.0.2.1/24 dev nf0", "ip" + f + " addr add 192.0.2.2/24 dev fn0",
        "ip" + n + " link set nf0 up", "ip" + f + " link set fn0 up",
        "ip" + n + " link set lo up", "ip" + f + " link set lo up",
        "ip" + n + " neigh add 192.0.2.99 lladdr 02:00:00:00:00:63 dev nf0 nud permanent"};
    for (const std::string& step : steps) {
      std::string output;
      if (Shell(step, &output) != 0) {
        FError = "'" + step + "' failed: " + output;
        return;
      }
    }
    FReady = true;
  }
  ~TNeighbourNet() {
    for (const std::string& name : {FNear, FFar})
      if (!name.empty()) Shell("ip netns del " + name);
  }
  bool Ready() const { return FReady; }
  const std::string& Error() const { return FError; }

  // Runs body on a thread of its own inside the near namespace; false when it could not
  // enter it.
  bool InNear(const std::function<void()>& body) const {
    bool entered = false;
    std::thread([&] {
      int target = open(("/var/run/netns/" + FNear).c_str(), O_RDONLY | O_CLOEXEC);
      entered = target >= 0 && setns(target, CLONE_NEWNET) == 0;
      if (target >= 0) close(target);
      // The thread ends here, so it never goes back to the home namespace.
      if (entered) body();
    }).join();
    return entered;
  }

private:
  static std::string Prefix() { return "cvarp-"; }
  // Namespaces left by a test run that was killed.
  static void RemoveStale() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/var/run/netns", ec)) {
      std::string name = entry.path().filename();
      if (name.rfind(Prefix(), 0) != 0) continue;
      pid_t pid = std::atoi(name.c_str() + Prefix().size());
      if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) Shell("ip netns del " + name);
    }
  }
  std::string FNear, FFar, FError;
  bool FReady = false;
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
