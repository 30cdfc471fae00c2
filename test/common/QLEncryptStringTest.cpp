#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

#include "common/QLEncryptString.h"

namespace {

std::string AllBytesTwice() {
  std::string text;
  for (int round = 0; round < 2; ++round)
    for (int c = 0; c < 256; ++c) text.push_back(static_cast<char>(c));
  return text;
}

std::string Range(int lo, int hi) {
  std::string text;
  for (int c = lo; c <= hi; ++c) text.push_back(static_cast<char>(c));
  return text;
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return bytes;
}

}  // namespace

// Worked by hand for the range A..F, key 3: the accumulator runs 3, 6, 9, 12, 15, 18 and
// picks pool positions 3, 1, 1, 0, 1, 0.
TEST(QLEncryptStringTest, SmallRangeFollowsTheAlgorithmStepByStep) {
  TQLEncryptString s(65, 70, 3, 1);
  EXPECT_EQ(s.Permutation(), "DBCAFE");
  // Counter starts at 1 and grows by 1 per character.
  EXPECT_EQ(s.Encrypt("AAAA"), "BCAF");
  EXPECT_EQ(s.Encrypt("FED"), "DDD");
  EXPECT_EQ(s.Decrypt("BCAF"), "AAAA");
  EXPECT_EQ(s.Decrypt("DDD"), "FED");
  // A character outside the range is copied but still moves the counter on.
  EXPECT_EQ(s.Encrypt("A!A"), "B!A");
  EXPECT_EQ(s.Encrypt("A\nA"), "B\nA");
  EXPECT_EQ(s.Encrypt("AA"), "BC");
  EXPECT_EQ(s.Decrypt("B!A"), "A!A");
  EXPECT_EQ(s.Encrypt(""), "");
  EXPECT_EQ(s.Decrypt(""), "");
}

TEST(QLEncryptStringTest, FileParameterSetGivesTheStoredForm) {
  const TQLEncryptString s(32, 254, 40729, 9164);
  EXPECT_EQ(s.Permutation().substr(0, 20), FromHex("afefe494e5fbd888f050717a6f593c20e6d9e129"));
  EXPECT_EQ(ScrambleText("password"), FromHex("363485a8bf72293b"));
  EXPECT_EQ(ScrambleText("Secret 123!"), FromHex("4c23eba3d1af5ea071f33e"));
  // 255 and the line break lie outside 32..254 and stay as they are.
  EXPECT_EQ(ScrambleText("\xfe\xff\r\n ~"), FromHex("6bff0d0aa271"));
  EXPECT_EQ(UnscrambleText(FromHex("363485a8bf72293b")), "password");
  EXPECT_EQ(UnscrambleText(FromHex("6bff0d0aa271")), "\xfe\xff\r\n ~");
  const std::string all = AllBytesTwice();
  EXPECT_EQ(UnscrambleText(ScrambleText(all)), all);
  EXPECT_NE(ScrambleText(all), all);
  EXPECT_EQ(ScrambleText(""), "");
}

TEST(QLEncryptStringTest, DefaultsLeaveTextUnchanged) {
  TQLEncryptString s;
  EXPECT_EQ(s.LoChar(), 32);
  EXPECT_EQ(s.HiChar(), 126);
  EXPECT_EQ(s.EncryptionKey(), 0);
  EXPECT_EQ(s.Shift(), 0);
  EXPECT_EQ(s.Permutation(), Range(32, 126));
  const std::string all = AllBytesTwice();
  EXPECT_EQ(s.Encrypt(all), all);
  EXPECT_EQ(s.Decrypt(all), all);
}

// Keys whose absolute value or running sum reaches -2^31 must still pick inside the pool.
TEST(QLEncryptStringTest, ExtremeKeysGiveDeterministicPermutations) {
  EXPECT_EQ(TQLEncryptString(65, 70, INT_MIN, 0).Permutation(), "CABDEF");
  EXPECT_EQ(TQLEncryptString(65, 70, INT_MAX, 0).Permutation(), "BDFECA");
  EXPECT_EQ(TQLEncryptString(65, 70, -INT_MAX, 0).Permutation(), "BDFECA");
  EXPECT_EQ(TQLEncryptString(65, 70, -3, 0).Permutation(), "DBCAFE");
  EXPECT_EQ(TQLEncryptString(32, 126, 1 << 30, 0).Permutation().substr(0, 10), "Qe!VcGt9%*");
}

TEST(QLEncryptStringTest, EveryParameterCombinationRoundTrips) {
  const int keys[] = {0, 1, -1, 3, 40729, -40729, 123456789, 1 << 30, INT_MAX, INT_MIN, INT_MIN + 1};
  const int shifts[] = {0, 1, -1, 7, 9164, -9164, 32767, -32768, 32768, 40000, 100000, -70000};
  const int ranges[][2] = {{32, 126}, {32, 254}, {0, 255}, {65, 70}, {100, 100}, {250, 255}};
  const std::string all = AllBytesTwice();
  for (const auto& range : ranges) {
    for (int key : keys) {
      TQLEncryptString s(static_cast<std::uint8_t>(range[0]), static_cast<std::uint8_t>(range[1]), key, 0);
      std::string sorted = s.Permutation();
      std::sort(sorted.begin(), sorted.end(), [](char a, char b) {
        return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
      });
      ASSERT_EQ(sorted, Range(range[0], range[1])) << "key " << key;
      for (int shift : shifts) {
        s.SetShift(shift);
        const std::string scrambled = s.Encrypt(all);
        ASSERT_EQ(scrambled.size(), all.size());
        ASSERT_EQ(s.Decrypt(scrambled), all) << "range " << range[0] << ".." << range[1] << " key " << key
                                             << " shift " << shift;
        for (size_t i = 0; i < all.size(); ++i) {
          const int c = static_cast<unsigned char>(all[i]);
          if (c < range[0] || c > range[1]) {
            ASSERT_EQ(scrambled[i], all[i]);
          }
        }
      }
    }
  }
}

TEST(QLEncryptStringTest, SettersClampTheRangeAndRebuild) {
  TQLEncryptString s;
  s.SetLoChar(200);
  EXPECT_EQ(s.LoChar(), 200);
  EXPECT_EQ(s.HiChar(), 200);
  s.SetHiChar(50);
  EXPECT_EQ(s.LoChar(), 50);
  EXPECT_EQ(s.HiChar(), 50);
  s.SetHiChar(70);
  s.SetLoChar(65);
  EXPECT_EQ(s.Permutation(), "ABCDEF");
  s.SetEncryptionKey(3);
  EXPECT_EQ(s.Permutation(), "DBCAFE");
  s.SetShift(1);
  EXPECT_EQ(s.Encrypt("AAAA"), "BCAF");
  s.SetLoChar(66);
  EXPECT_EQ(s.Permutation(), "EDBCF");

  TQLEncryptString reversed(70, 65, 0, 0);
  EXPECT_EQ(reversed.LoChar(), 65);
  EXPECT_EQ(reversed.HiChar(), 65);

  // Shift is 16 bits wide: a wider value acts as its 16-bit wrap.
  TQLEncryptString wide(32, 254, 40729, 40000), wrapped(32, 254, 40729, -25536);
  EXPECT_EQ(wide.Shift(), -25536);
  EXPECT_EQ(wide.Encrypt("some password text"), wrapped.Encrypt("some password text"));
}
