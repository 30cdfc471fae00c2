// The range of "Ping Range": prefix notation, the boxes' validity, counts and the
// confirmation threshold.
#include <gtest/gtest.h>

#include "tools/RangePing.h"

TEST(RangePing, PrefixRangesValidityAndConfirmation) {
  struct TCase {
    const char* From;
    const char* To;
    bool Valid;
    const char* First;  // after leaving the From box; "" when it is no prefix range
    const char* Last;
    std::uint32_t Count;  // of First..Last (or From..To)
    bool Confirm;
  };
  const TCase cases[] = {
      {"192.168.1.77/24", "", true, "192.168.1.1", "192.168.1.254", 254, false},
      {"10.0.0.5/29", "", true, "10.0.0.1", "10.0.0.6", 6, false},
      {"10.0.0.5/30", "", false, "", "", 0, false},
      {"10.0.0.5/7", "", false, "", "", 0, false},
      {"10.9.8.7/8", "", true, "10.0.0.1", "10.255.255.254", 16777214, true},
      {"172.16.5.9/22", "", true, "172.16.4.1", "172.16.7.254", 1022, true},
      {"10.0.0.1/2x", "", false, "", "", 0, false},
      {"10.0.0.300/24", "", false, "", "", 0, false},
      {"10.0.0.1", "10.0.1.0", true, "", "", 256, false},
      {"10.0.0.1", "10.0.1.1", true, "", "", 257, true},
      {"10.0.0.1", "10.0.1.44", true, "", "", 300, true},
      {"10.0.0.9", "10.0.0.1", true, "", "", 0, false},
      {"10.0.0.9", "", false, "", "", 0, false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(RangeInputValid(c.From, c.To), c.Valid) << c.From;
    std::string first, last;
    const bool prefix = ExpandPrefixRange(c.From, first, last);
    EXPECT_EQ(prefix, *c.First != 0) << c.From;
    if (!prefix) {
      first = c.From;
      last = c.To;
    } else {
      EXPECT_EQ(first, c.First) << c.From;
      EXPECT_EQ(last, c.Last) << c.From;
    }
    if (!c.Valid) continue;
    EXPECT_EQ(RangeCount(first, last), c.Count) << c.From;
    EXPECT_EQ(RangeNeedsConfirmation(first, last), c.Confirm) << c.From;
  }
  EXPECT_EQ(RangeConfirmationText("10.0.0.1", "10.0.1.44"),
            "The network range you have selected contains 300 hosts.  This could take a long time to process.  "
            "Would you like to ping this range of hosts anyway?");
  EXPECT_EQ(RangeAddresses("10.0.0.254", "10.0.1.1"),
            (std::vector<std::string>{"10.0.0.254", "10.0.0.255", "10.0.1.0", "10.0.1.1"}));
  EXPECT_TRUE(RangeAddresses("10.0.0.2", "10.0.0.1").empty());
  EXPECT_EQ(RangeAddresses("255.255.255.254", "255.255.255.255").size(), 2u);
}
