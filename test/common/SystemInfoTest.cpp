#include "common/SystemInfo.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/TestSupport.h"

TEST(SystemInfo, NamesComeFromTheSystem) {
  utsname uts{};
  ASSERT_EQ(uname(&uts), 0);
  std::string node = uts.nodename;
  std::string computer = LocalComputerName();
  EXPECT_FALSE(computer.empty());
  EXPECT_EQ(computer, node.substr(0, node.find('.')));
  EXPECT_EQ(computer.find('.'), std::string::npos);

  // The user database wins over the environment.
  const passwd* me = getpwuid(geteuid());
  ASSERT_NE(me, nullptr);
  testsupport::TScopedEnv user("USER", "someone-else");
  EXPECT_EQ(LocalUserName(), me->pw_name);
}

TEST(SystemInfo, MillisecondClockCountsMilliseconds) {
  double first = MillisecondClock();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  double second = MillisecondClock();
  // Only a lower bound: a sleep lasts at least as long as asked. A clock in seconds or
  // microseconds would miss it by a factor of a thousand.
  EXPECT_GE(second - first, 19.0);
  EXPECT_LT(second - first, 20000.0);
  for (int i = 0; i < 1000; ++i) {
    double next = MillisecondClock();
    ASSERT_GE(next, second);
    second = next;
  }
}
