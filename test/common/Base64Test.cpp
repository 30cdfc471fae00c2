#include <gtest/gtest.h>

#include "common/Base64.h"

TEST(Base64, EncodesAndDecodesTheStandardVectors) {
  const std::pair<std::string, std::string> table[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {std::string("\0\xff\xfe", 3), "AP/+"},
  };
  for (const auto& [plain, coded] : table) {
    EXPECT_EQ(Base64Encode(plain), coded) << plain;
    EXPECT_EQ(Base64Decode(coded), plain) << coded;
    EXPECT_EQ(Base64DecodeStrict(std::string(coded).substr(0, coded.find('='))), plain) << coded;
  }
}

TEST(Base64, LenientDecodingSkipsForeignCharactersStrictDecodingRefusesThem) {
  EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), "foobar");
  EXPECT_EQ(Base64Decode("Zm8=\t"), "fo");
  EXPECT_EQ(Base64DecodeStrict("Zm9v\r\n"), std::nullopt);
  EXPECT_EQ(Base64DecodeStrict("Zm*v"), std::nullopt);
  // Padding counts as zero bits and still yields its bytes.
  EXPECT_EQ(Base64DecodeStrict("Zg=="), std::string("f\0\0", 3));
  EXPECT_EQ(Base64DecodeStrict("Zm8="), std::string("fo\0", 3));
}
