#include <arpa/inet.h>
#include <sched.h>
#include <unistd.h>

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "platform/NameLookup.h"
#include "platform/SysErrors.h"

namespace {

TEST(NameLookup, DottedAddressesAndLocalhostResolve) {
  std::uint32_t address = 0;
  std::string dotted;
  ASSERT_TRUE(Resolve("127.0.0.1", address, dotted));
  EXPECT_EQ(address, htonl(0x7F000001u));
  EXPECT_EQ(dotted, "127.0.0.1");
  ASSERT_TRUE(Resolve("127.1.2.3", address, dotted));
  EXPECT_EQ(address, htonl(0x7F010203u));
  EXPECT_EQ(dotted, "127.1.2.3");

  ASSERT_TRUE(Resolve("localhost", address, dotted));
  EXPECT_EQ(dotted, "127.0.0.1");
  EXPECT_EQ(address, htonl(0x7F000001u));
}

TEST(NameLookup, DottedOnlyFormTakesDottedAddressesAndRefusesTheTwoSpecialOnes) {
  std::string ip = "stale";
  EXPECT_TRUE(Resolve("192.0.2.44", ip));
  EXPECT_EQ(ip, "192.0.2.44");
  EXPECT_FALSE(Resolve("0.0.0.0", ip));
  EXPECT_EQ(ip, "");
  SetLastError(0);
  EXPECT_FALSE(Resolve("255.255.255.255", ip));
  EXPECT_EQ(GetLastError(), 0) << "only the workers' form reports through the last error";
  EXPECT_FALSE(Resolve("", ip));
  EXPECT_FALSE(Resolve(std::string("127.0.0.1\0evil", 14), ip));
  EXPECT_TRUE(Resolve("localhost", ip));
  EXPECT_EQ(ip.rfind("127.", 0), 0u) << ip;
}

TEST(NameLookup, LookupFailureValuesAreNotAddresses) {
  for (const char* name : {"0.0.0.0", "255.255.255.255", ""}) {
    std::uint32_t address = 12345;
    std::string dotted = "left over";
    SetLastError(0);
    EXPECT_FALSE(Resolve(name, address, dotted)) << name;
    EXPECT_EQ(address, 0u) << name;
    EXPECT_EQ(dotted, "") << name;
    EXPECT_EQ(GetLastError(), syserr::WSAHOST_NOT_FOUND) << name;
  }
}

TEST(NameLookup, ReverseNameAndLookupOfLoopback) {
  std::string name = ReverseName("127.0.0.1");
  ASSERT_FALSE(name.empty());
  std::uint32_t address = 0;
  std::string dotted;
  EXPECT_TRUE(Resolve(name, address, dotted)) << name;
  EXPECT_EQ(dotted, "127.0.0.1") << name;

  EXPECT_EQ(ReverseName("not an address"), "");
  EXPECT_EQ(ReverseName(""), "");

  std::string reverse = "left over";
  ASSERT_TRUE(Lookup("127.0.0.1", dotted, reverse));
  EXPECT_EQ(dotted, "127.0.0.1");
  EXPECT_EQ(reverse, name);
  ASSERT_TRUE(Lookup("localhost", dotted, reverse));
  EXPECT_EQ(dotted, "127.0.0.1");
  EXPECT_EQ(reverse, name);
}

// Names that are not in the hosts file go to the name server; in a fresh network
// namespace of a thread of our own that query cannot leave the computer and fails at once.
TEST(NameLookup, UnknownNamesFailInAnIsolatedNamespace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to isolate the lookup in a network namespace";
  bool isolated = false, resolved = true, looked = true;
  int lastError = 0;
  std::uint32_t address = 1;
  std::string dotted = "x", reverse = "x", unknownReverse = "x";
  std::thread([&] {
    isolated = unshare(CLONE_NEWNET) == 0;
    if (!isolated) return;
    SetLastError(0);
    resolved = Resolve("name.invalid", address, dotted);
    lastError = GetLastError();
    looked = Lookup("name.invalid", dotted, reverse);
    unknownReverse = ReverseName("192.0.2.55");
  }).join();
  ASSERT_TRUE(isolated) << "unshare of the network namespace failed";
  EXPECT_FALSE(resolved);
  EXPECT_EQ(address, 0u);
  EXPECT_EQ(lastError, syserr::WSAHOST_NOT_FOUND);
  EXPECT_FALSE(looked);
  EXPECT_EQ(dotted, "");
  EXPECT_EQ(reverse, "");
  EXPECT_EQ(unknownReverse, "");
}

}  // namespace
