// The DNS and NTP plug-ins built with the program, against scripted servers on loopback.
#include "PluginFixture.h"
#include "core/TPluginHost.h"
#include "hosttests/TTestKinds.h"
#include "support/TPythonServer.h"

namespace {

class ProjectPluginsTest : public PluginFixture {
protected:
  ProjectPluginsTest() : PluginFixture(std::string(CORVALE_BIN_DIR) + "/Plugins") {}

  TTestKind Kind(const char* identifier) {
    const TTestKindEntry* entry = TTestKinds::Standard().FindIdentifier(identifier);
    return entry ? entry->Kind : TestPing;
  }
  static std::string Script(const char* name) { return std::string(CORVALE_SOURCE_DIR) + "/test/plugins/" + name; }
};

}  // namespace

TEST_F(ProjectPluginsTest, DnsLookupAgainstALoopbackNameServer) {
  testsupport::TPythonServer server("the name server");
  ASSERT_TRUE(server.Start(Script("dns_server.py"), {})) << server.Error();
  Start();
  const TTestKind dns = Kind("CorvaleDNS");
  ASSERT_TRUE(IsPluginKind(dns));
  const std::string port = " port=" + std::to_string(server.Port());
  struct TCase {
    std::string Parameter;
    int Successes;
    const char* Text;  // in the host's last error text
  } cases[] = {
      {"www.test" + port, 1, "www.test is 192.0.2.10"},
      {"www.test expect=192.0.2.10" + port, 1, "www.test is 192.0.2.10"},
      {"www.test expect=192.0.2.99" + port, 0, "www.test is 192.0.2.10, not 192.0.2.99"},
      {"missing.test" + port, 0, "Answer code 3 (NXDOMAIN) for missing.test"},
      {"slow.test timeout=300" + port, 0, "no answer within 300 ms"},
      {"big.test" + port, 1, "big.test is 192.0.2.20, 192.0.2.21"},  // truncated over UDP, whole over TCP
      {"www.test type=AAAA" + port, 0, "No AAAA record for www.test"},
      {"www.test colour=blue", 0, "Parameter: \"colour\" is not an option"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Parameter);
    THost& host = AddPluginHost(c.Parameter, dns, c.Parameter);
    ASSERT_TRUE(Run(host));
    EXPECT_EQ(host.Successes, static_cast<std::uint32_t>(c.Successes));
    EXPECT_NE(host.LastErrorText.find(c.Text), std::string::npos) << host.LastErrorText;
  }
  std::string reason;
  EXPECT_FALSE(M->Plugins().ValidateParam(dns, "www.test port=0", reason));
  EXPECT_NE(reason.find("port must be 1 to 65535"), std::string::npos);
  EXPECT_TRUE(M->Plugins().ValidateParam(dns, "www.test expect=::1 type=AAAA", reason));
}

TEST_F(ProjectPluginsTest, NtpTimeFailsAboveTheAllowedOffset) {
  testsupport::TPythonServer server("the time server");
  ASSERT_TRUE(server.Start(Script("ntp_server.py"), {"5"})) << server.Error();
  Start();
  const TTestKind ntp = Kind("CorvaleNTP");
  ASSERT_TRUE(IsPluginKind(ntp));
  const std::string port = " port=" + std::to_string(server.Port());
  THost& strict = AddPluginHost("Strict", ntp, "1000" + port);
  ASSERT_TRUE(Run(strict));
  EXPECT_EQ(strict.Successes, 0u);
  // The server's clock is 5 s ahead: the offset is about +5000 ms.
  const auto at = strict.LastErrorText.find("Clock offset +");
  ASSERT_NE(at, std::string::npos) << strict.LastErrorText;
  const long offset = std::stol(strict.LastErrorText.substr(at + 14));
  EXPECT_GT(offset, 4900);
  EXPECT_LT(offset, 5100);
  EXPECT_NE(strict.LastErrorText.find("more than 1000 ms"), std::string::npos);
  THost& lenient = AddPluginHost("Lenient", ntp, "10000" + port);
  ASSERT_TRUE(Run(lenient));
  EXPECT_EQ(lenient.Successes, 1u);
  // A closed port answers with an error at once.
  server.Stop();
  THost& closed = AddPluginHost("Closed", ntp, "1000 timeout=500" + port);
  ASSERT_TRUE(Run(closed));
  EXPECT_EQ(closed.Successes, 0u);
  EXPECT_NE(closed.LastErrorText.find("127.0.0.1: "), std::string::npos) << closed.LastErrorText;
}
