#include "common/ErrorText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/SysErrors.h"

namespace {

// The message as the system gives it, without its closing line break.
std::string Message(int code) {
  std::string m = SysErrorMessage(code);
  EXPECT_GE(m.size(), 2u);
  return m.substr(0, m.size() - 2);
}

// Reads the code back the way alert texts do: the eight digits after the first "(0x",
// valid only when ")" follows them.
long long CodeInText(const std::string& text) {
  auto at = text.find("(0x");
  if (at == std::string::npos || at + 11 >= text.size() || text[at + 11] != ')') return -1;
  return std::strtoll(text.substr(at + 3, 8).c_str(), nullptr, 16);
}

std::string HexSuffix(int code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(code));
  return std::string(" (0x") + hex + ")";
}

}  // namespace

TEST(ErrorText, MessageThenOneBlankForTheLineBreakThenTheHexCode) {
  EXPECT_EQ(ErrorText(2), Message(2) + " " + " (0x00000002)");
  EXPECT_EQ(ErrorText(10060), Message(10060) + "  (0x0000274C)");
  EXPECT_EQ(ErrorText(0), Message(0) + "  (0x00000000)");
  // The status evaluation looks for hard error codes written this way.
  EXPECT_NE(ErrorText(11003).find("00002AFB)"), std::string::npos);
}

TEST(ErrorText, NegativeCodesReadAsPositive) {
  for (int code : {2, 5, 1326, 10061, 11001, 40000})
    EXPECT_EQ(ErrorText(-code), ErrorText(code)) << code;
  // INT_MIN has no positive int: its value is still shown, not an overflowed one.
  EXPECT_EQ(ErrorText(INT_MIN), "Unknown Error 2147483648 (0x80000000)");
  EXPECT_EQ(ErrorText(INT_MAX), "Unknown Error 2147483647 (0x7FFFFFFF)");
  EXPECT_EQ(ErrorText(-INT_MAX), ErrorText(INT_MAX));
}

TEST(ErrorText, CodesWithoutAMessageShowTheirName) {
  EXPECT_EQ(ErrorText(40000), "Unknown Error 40000 (0x00009C40)");
  EXPECT_EQ(ErrorText(32000), "Unknown Error 32000 (0x00007D00)");
  // Named codes without a message, below and above the last message code.
  EXPECT_EQ(ErrorText(11050), "IP_GENERAL_FAILURE (0x00002B2A)");
  EXPECT_EQ(ErrorText(9001), "DNS_ERROR_RCODE_FORMAT_ERROR (0x00002329)");
  for (const TErrorEntry& e : SysErrorNameTable()) {
    if (e.Code > 31999 || SysErrorMessage(e.Code).empty()) {
      ASSERT_EQ(ErrorText(e.Code), e.Text + HexSuffix(e.Code));
    }
  }
}

TEST(ErrorText, NamesAndTheirFallback) {
  EXPECT_EQ(ErrorName(2), "ERROR_FILE_NOT_FOUND");
  EXPECT_EQ(ErrorName(10060), "WSAETIMEDOUT");
  EXPECT_EQ(ErrorName(11001), "WSAHOST_NOT_FOUND");
  EXPECT_EQ(ErrorName(40000), "Unknown Error 40000");
  EXPECT_EQ(ErrorName(-2), "Unknown Error -2");
  EXPECT_EQ(ErrorName(INT_MIN), "Unknown Error -2147483648");
  for (const TErrorEntry& e : SysErrorNameTable()) ASSERT_NE(ErrorName(e.Code).back(), '_') << e.Text;
}

TEST(ErrorText, ExtendedErrorShowsTheProviderErrorWhenThereIsOne) {
  ClearProviderLastError();
  EXPECT_EQ(ErrorText(1208), Message(1208) + "  (0x000004B8)");

  SetProviderLastError(1244, "The share refused the user", "Test Network");
  EXPECT_EQ(ErrorText(1208), "Extended Error 1244: The share refused the user [Test Network] (0x000004B8)");
  EXPECT_EQ(ErrorText(-1208), ErrorText(1208));
  // Only 1208 refers to the provider's error.
  EXPECT_EQ(ErrorText(1244), Message(1244) + "  (0x000004DC)");

  // The provider's text may carry line breaks; the error text stays one line.
  SetProviderLastError(-5, "first line\r\nsecond line\r\n", "Net\tWork");
  EXPECT_EQ(ErrorText(1208), "Extended Error -5: first line second line [Net Work] (0x000004B8)");

  // Another thread has no provider error of its own.
  std::string other;
  std::thread([&] { other = ErrorText(1208); }).join();
  EXPECT_EQ(other, Message(1208) + "  (0x000004B8)");
  ClearProviderLastError();
}

TEST(ErrorText, EveryTextIsOneLineAndGivesItsCodeBack) {
  auto check = [](int code) {
    std::string text = ErrorText(code);
    for (unsigned char c : text) ASSERT_GE(c, 32) << code;
    ASSERT_EQ(CodeInText(text), code) << text;
  };
  for (const TErrorEntry& e : SysErrorMessageTable()) check(e.Code);
  for (const TErrorEntry& e : SysErrorNameTable()) check(e.Code);
  check(40000);
}
