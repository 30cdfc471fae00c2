#include "platform/SysErrors.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <thread>

namespace {

void ExpectStrictlySorted(std::span<const TErrorEntry> table) {
  ASSERT_FALSE(table.empty());
  for (std::size_t i = 1; i < table.size(); ++i)
    ASSERT_LT(table[i - 1].Code, table[i].Code) << "row " << i;
}

bool HasMessage(int code) { return !SysErrorMessage(code).empty(); }

}  // namespace

TEST(SysErrors, NameTableIsSortedAndEveryRowIsFoundByItsCode) {
  auto names = SysErrorNameTable();
  ExpectStrictlySorted(names);
  for (const TErrorEntry& e : names) {
    ASSERT_GE(e.Code, 0);
    ASSERT_LE(e.Code, 0xFFFF) << "HRESULT-style value " << e.Text;
    ASSERT_EQ(SysErrorName(e.Code), e.Text);
  }
  EXPECT_EQ(names.front().Code, 0);
  EXPECT_EQ(SysErrorName(names.front().Code), "ERROR_SUCCESS");
  EXPECT_EQ(SysErrorName(names.back().Code), names.back().Text);
  EXPECT_EQ(SysErrorName(names.back().Code + 1), "");
  EXPECT_EQ(SysErrorName(-1), "");
  EXPECT_EQ(SysErrorName(INT_MIN), "");
  EXPECT_EQ(SysErrorName(INT_MAX), "");
}

TEST(SysErrors, NameTablePrefersTheErrorAndWinsockNames) {
  EXPECT_EQ(SysErrorName(2), "ERROR_FILE_NOT_FOUND");
  EXPECT_EQ(SysErrorName(13), "ERROR_INVALID_DATA");  // not its DNS alias
  EXPECT_EQ(SysErrorName(258), "WAIT_TIMEOUT");
  EXPECT_EQ(SysErrorName(1722), "RPC_S_SERVER_UNAVAILABLE");
  EXPECT_EQ(SysErrorName(10060), "WSAETIMEDOUT");
  EXPECT_EQ(SysErrorName(11003), "WSANO_RECOVERY");  // the Winsock name, not the ICMP one
  EXPECT_EQ(SysErrorName(11024), "WSA_QOS_EUNKNOWNPSOBJ");  // not the misspelt alias
  // ICMP statuses only where no Winsock code has the number.
  EXPECT_EQ(SysErrorName(11050), "IP_GENERAL_FAILURE");
  // Bases and masks are not error codes.
  EXPECT_EQ(SysErrorName(10000), "");
  EXPECT_EQ(SysErrorName(9000), "");
}

TEST(SysErrors, MessagesAreSortedOneLineTextsOfKnownCodes) {
  auto messages = SysErrorMessageTable();
  ExpectStrictlySorted(messages);
  for (const TErrorEntry& e : messages) {
    std::string text = e.Text;
    ASSERT_FALSE(text.empty()) << e.Code;
    EXPECT_EQ(text.back(), '.') << e.Code;
    for (unsigned char c : text) ASSERT_GE(c, 32) << "control character in the text of " << e.Code;
    // A mistyped code would give a message to the wrong error.
    EXPECT_NE(SysErrorName(e.Code), "") << "message for a code without a name: " << e.Code;
    EXPECT_EQ(SysErrorMessage(e.Code), text + "\r\n");
  }
  EXPECT_EQ(SysErrorMessage(40000), "");
  EXPECT_EQ(SysErrorMessage(-2), "");
}

TEST(SysErrors, EveryCodeTheProgramReportsHasAMessage) {
  for (int code : {2, 3, 5, 6, 8, 18, 53, 67, 123, 234, 258, 1208, 1326, 1327, 1400, 1460, 1722})
    EXPECT_TRUE(HasMessage(code)) << code;
  int winsock = 0, service = 0;
  for (const TErrorEntry& e : SysErrorNameTable()) {
    if (e.Code >= 10004 && e.Code <= 11004) {
      ++winsock;
      EXPECT_TRUE(HasMessage(e.Code)) << e.Text;
    }
    if (e.Code >= 1051 && e.Code <= 1079) {
      ++service;
      EXPECT_TRUE(HasMessage(e.Code)) << e.Text;
    }
  }
  EXPECT_GE(winsock, 60);
  EXPECT_EQ(service, 29);
  EXPECT_NE(SysErrorMessage(11001), SysErrorMessage(11003));
}

TEST(SysErrors, ErrnoValuesMapToTheMatchingCodes) {
  EXPECT_EQ(WinErrorFromErrno(ENOENT), 2);
  EXPECT_EQ(WinErrorFromErrno(ENOTDIR), 3);
  EXPECT_EQ(WinErrorFromErrno(EACCES), 5);
  EXPECT_EQ(WinErrorFromErrno(EPERM), 5);
  EXPECT_EQ(WinErrorFromErrno(EBADF), 6);
  EXPECT_EQ(WinErrorFromErrno(ENOMEM), 8);
  EXPECT_EQ(WinErrorFromErrno(EINVAL), 87);
  EXPECT_EQ(WinErrorFromErrno(ENOSPC), 112);
  EXPECT_EQ(WinErrorFromErrno(EEXIST), 183);
  EXPECT_EQ(WinErrorFromErrno(EINTR), 10004);
  EXPECT_EQ(WinErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(WinErrorFromErrno(EWOULDBLOCK), 10035);
  EXPECT_EQ(WinErrorFromErrno(EINPROGRESS), 10036);
  EXPECT_EQ(WinErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(WinErrorFromErrno(ENETUNREACH), 10051);
  EXPECT_EQ(WinErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(WinErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WinErrorFromErrno(EHOSTUNREACH), 10065);
  // A failure is never reported as success, and every mapped code can be shown.
  EXPECT_EQ(WinErrorFromErrno(0), syserr::ERROR_GEN_FAILURE);
  EXPECT_EQ(WinErrorFromErrno(-1), syserr::ERROR_GEN_FAILURE);
  EXPECT_EQ(WinErrorFromErrno(100000), syserr::ERROR_GEN_FAILURE);
  for (int err = 0; err < 200; ++err) {
    int code = WinErrorFromErrno(err);
    ASSERT_NE(code, 0) << err;
    EXPECT_TRUE(HasMessage(code)) << "errno " << err << " maps to " << code;
  }
}

TEST(SysErrors, RealSocketFailuresMapThroughErrno) {
  // A loopback port with no listener refuses the connection.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  close(listener);  // the port is now known to be free
  int s = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  ASSERT_NE(connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(SetLastErrorFromErrno(), syserr::WSAECONNREFUSED);
  EXPECT_EQ(GetLastError(), syserr::WSAECONNREFUSED);
  close(s);

  // A numeric-only lookup of a name fails without asking any name server.
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* result = nullptr;
  int rc = getaddrinfo("no-such-host.invalid", nullptr, &hints, &result);
  ASSERT_NE(rc, 0);
  EXPECT_EQ(WinErrorFromGai(rc), syserr::WSAHOST_NOT_FOUND);
}

TEST(SysErrors, LookupFailuresMapToTheWinsockLookupCodes) {
  EXPECT_EQ(WinErrorFromGai(0), 0);
  EXPECT_EQ(WinErrorFromGai(EAI_NONAME), 11001);
  EXPECT_EQ(WinErrorFromGai(EAI_AGAIN), 11002);
  EXPECT_EQ(WinErrorFromGai(EAI_FAIL), 11003);
  EXPECT_EQ(WinErrorFromGai(EAI_NODATA), 11004);
  EXPECT_EQ(WinErrorFromGai(EAI_ADDRFAMILY), 11004);
  EXPECT_EQ(WinErrorFromGai(EAI_MEMORY), 8);
  errno = ETIMEDOUT;
  EXPECT_EQ(WinErrorFromGai(EAI_SYSTEM), 10060);
  errno = 0;
  EXPECT_NE(WinErrorFromGai(EAI_SYSTEM), 0);
  EXPECT_EQ(WinErrorFromGai(12345), 11003);
}

TEST(SysErrors, LastErrorsBelongToTheirThread) {
  SetLastError(1460);
  ClearProviderLastError();
  int code = -1;
  std::string description = "x", provider = "y";
  EXPECT_FALSE(GetProviderLastError(code, description, provider));
  SetProviderLastError(1244, "not authenticated", "Test Network");

  int otherLast = -1;
  bool otherHasProvider = true;
  std::thread other([&] {
    otherLast = GetLastError();
    int c;
    std::string d, p;
    otherHasProvider = GetProviderLastError(c, d, p);
    SetLastError(5);
    SetProviderLastError(1, "other", "other");
  });
  other.join();
  EXPECT_EQ(otherLast, 0);
  EXPECT_FALSE(otherHasProvider);

  EXPECT_EQ(GetLastError(), 1460);
  ASSERT_TRUE(GetProviderLastError(code, description, provider));
  EXPECT_EQ(code, 1244);
  EXPECT_EQ(description, "not authenticated");
  EXPECT_EQ(provider, "Test Network");
  ClearProviderLastError();
  EXPECT_FALSE(GetProviderLastError(code, description, provider));
  SetLastError(0);
}
