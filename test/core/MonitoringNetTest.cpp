// The monitor against real hosts: namespaced targets that answer, stop answering and
// come back, a router that reports them unreachable, TCP ports that listen or refuse,
// parents that go down, and names from a hosts file of the test's own. The monitor's
// clock is moved by the test, so intervals and error-after times pass at once; only the
// echo and connect time-outs are real (and short).
#include <QCoreApplication>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "core/MonitorFixture.h"
#include "core/THostList.h"
#include "support/TRoutedNet.h"
#include "support/TScopedHostsFile.h"
#include "support/TestNetns.h"

using testsupport::TRoutedNet;

namespace {

constexpr double MinuteMs = 60000;

// A TCP listener inside a namespace: the socket keeps the namespace it was made in.
int ListenIn(const std::string& netns, const char* address, int port) {
  testsupport::TInNetns inside(netns);
  if (!inside.Entered()) return -1;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = inet_addr(address);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

class MonitoringNet : public MonitorFixture {
protected:
  static void SetUpTestSuite() {
    FNet = std::make_unique<TRoutedNet>("cvmn-");
    // Names come from our own file; anything else would be asked of a name server the
    // namespaces cannot reach. Once for the suite: a thread that left such a mount
    // namespace cannot always bind in a new one.
    FHostsFile = std::make_unique<testsupport::TScopedHostsFile>("127.0.0.1 localhost\n198.51.100.2 cvtarget\n");
  }
  static void TearDownTestSuite() {
    FHostsFile.reset();
    FNet.reset();
  }

  void SetUp() override {
    if (!FNet->Ready()) GTEST_SKIP() << "no namespaces: " << FNet->Error();
    ASSERT_TRUE(FHostsFile->Active()) << FHostsFile->Error();
    // The monitor's echo socket and worker threads are made inside the host namespace.
    FInside = std::make_unique<testsupport::TInNetns>(FNet->Host());
    ASSERT_TRUE(FInside->Entered());
    M = NewMonitor();
    TSettings& s = M->Settings();
    s.PingTimeout = 300;
    s.NumPings = 1;
    s.FailFreqAdj = false;
    s.TestHostServices = false;
  }

  void TearDown() override {
    if (FNet->Ready()) {
      // Whatever a test broke is mended for the next one.
      FNet->Run({"ip -n " + FNet->TargetNetns() + " route flush type blackhole"});
    }
    M.reset();
    FInside.reset();
  }

  THost* AddHost(const std::string& name, const std::string& address, TTestKind kind = TestPing, int port = 0) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = address;
    record->TestKind = kind;
    record->Port = port;
    record->TestInterval = 1;
    record->ErrorAfter = 3;
    return M->Hosts().Add(std::move(record));
  }

  // The target stops answering (its replies are dropped) or answers again.
  void TargetAnswers(bool answers) {
    ASSERT_TRUE(FNet->Run({"ip -n " + FNet->TargetNetns() + " route " + (answers ? "del" : "add") +
                           " blackhole 192.0.2.0/24"}))
        << FNet->Error();
  }

  // Moves the clock, runs one scheduler pass and waits for its tests.
  void PassAfter(double minutes) {
    FClock.Advance(minutes * MinuteMs);
    M->Timer1Timer();
    ASSERT_TRUE(WaitIdle(*M)) << "tests did not finish";
  }

  int CountLines(const std::string& text) {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines()) n += l.Text.find(text) != std::string::npos;
    return n;
  }

  static inline std::unique_ptr<TRoutedNet> FNet;
  static inline std::unique_ptr<testsupport::TScopedHostsFile> FHostsFile;
  std::unique_ptr<testsupport::TInNetns> FInside;
  std::unique_ptr<TMonitor> M;
};

TEST_F(MonitoringNet, HostThatStopsAnsweringGoesWarningThenOfflineOnceAndComesBack) {
  THost* host = AddHost("Target", TRoutedNet::Target);
  PassAfter(0.5);
  ASSERT_EQ(host->Status, StatusOnline) << host->LastErrorText;
  EXPECT_EQ(host->CurrentIP, TRoutedNet::Target);

  TargetAnswers(false);
  PassAfter(1);
  EXPECT_EQ(host->Status, StatusWarning);
  EXPECT_TRUE(HasLine(*M, "Warning State; Error: Request Timed Out (ICMP2B02)", 'W'));
  PassAfter(1);
  EXPECT_EQ(host->Status, StatusWarning);
  // Four minutes since the last success are more than the error-after time of three.
  PassAfter(2);
  EXPECT_EQ(host->Status, StatusOffline);
  EXPECT_TRUE(HasLine(*M, "Error State: 3 successive failures over 00:00:04:00, Error: Request Timed Out (ICMP2B02)", 'E'));
  PassAfter(1);
  EXPECT_EQ(host->Status, StatusOffline);
  EXPECT_EQ(CountLines("\tError State: "), 1);
  EXPECT_EQ(host->BackToBackFailures, 4u);

  TargetAnswers(true);
  PassAfter(1);
  EXPECT_EQ(host->Status, StatusOnline);
  EXPECT_TRUE(HasLine(*M, "Okay State; Is Responding After 00:00:06:00 (4 Failures)", 'O'));
  EXPECT_EQ(host->BackToBackFailures, 0u);
  EXPECT_EQ(host->Successes, 2u);

  // The next failure run tells how long the host was up since the last one.
  TargetAnswers(false);
  PassAfter(1);
  EXPECT_TRUE(HasLine(*M, "Warning State; Up for: 00:00:02:00, Error: Request Timed Out (ICMP2B02)", 'W'));
}

TEST_F(MonitoringNet, RouterReportingTheTargetUnreachableNamesItselfInTheEvent) {
  THost* host = AddHost("Behind router", TRoutedNet::Unreachable);
  PassAfter(0);
  // The echo status text carries no eight-digit code, so this is a Warning, not Offline.
  EXPECT_EQ(host->Status, StatusWarning);
  EXPECT_TRUE(HasLine(*M, "Warning State; Error: [192.0.2.1] Destination Host Unreachable (ICMP2AFB)", 'W'));
  EXPECT_NE(host->LastErrorText.find("Destination Host Unreachable (ICMP2AFB)"), std::string::npos);
  EXPECT_TRUE(host->CurrentIP.empty());
}

TEST_F(MonitoringNet, TcpPortsThatListenRefuseOrCannotBeResolved) {
  const int listener = ListenIn(FNet->TargetNetns(), TRoutedNet::Target, 8081);
  ASSERT_GE(listener, 0);
  THost* open = AddHost("Open port", TRoutedNet::Target, TestTCP, 8081);
  THost* closed = AddHost("Closed port", TRoutedNet::Target, TestTCP, 8082);
  THost* unnamed = AddHost("No such name", "cvnowhere.invalid", TestTCP, 80);
  PassAfter(0);
  close(listener);

  EXPECT_EQ(open->Status, StatusOnline) << open->LastErrorText;
  EXPECT_EQ(open->CurrentIP, TRoutedNet::Target);
  // Refused is an ordinary failure.
  EXPECT_EQ(closed->Status, StatusWarning);
  EXPECT_NE(closed->LastErrorText.find("0000274D"), std::string::npos) << closed->LastErrorText;
  // A name that does not resolve carries 11001, which makes the host Offline at once.
  EXPECT_EQ(unnamed->Status, StatusOffline);
  EXPECT_NE(unnamed->LastErrorText.find("00002AF9"), std::string::npos) << unnamed->LastErrorText;
  EXPECT_EQ(CountLines("\tError State: 1 successive failure over"), 1);
}

TEST_F(MonitoringNet, ChildOfAnOfflineParentIsNotTested) {
  THost* parent = AddHost("Parent", TRoutedNet::Target);
  parent->ErrorAfter = 0;
  THost* child = AddHost("Child", TRoutedNet::Router);
  child->Parents = parent->IDText();
  M->Hosts().RecomputeAllAncestors();
  PassAfter(0);
  ASSERT_EQ(parent->Status, StatusOnline);
  ASSERT_EQ(child->Status, StatusOnline);
  ASSERT_TRUE(child->ParentsUp);

  TargetAnswers(false);
  PassAfter(1);
  EXPECT_EQ(parent->Status, StatusOffline);
  EXPECT_FALSE(child->ParentsUp);
  const TDateTime childChecked = child->LastCheck;
  PassAfter(1);
  PassAfter(1);
  EXPECT_EQ(child->LastCheck, childChecked);
  EXPECT_EQ(child->Status, StatusOnline);

  // The parent's recovery lets the child be tested again.
  TargetAnswers(true);
  PassAfter(1);
  EXPECT_EQ(parent->Status, StatusOnline);
  EXPECT_TRUE(child->ParentsUp);
  PassAfter(1);
  EXPECT_GT(child->LastCheck, childChecked);
}

TEST_F(MonitoringNet, NamesResolveThroughTheHostsFile) {
  THost* ping = AddHost("By name", "cvtarget");
  THost* tcpName = AddHost("TCP by name", "cvtarget", TestTCP, 8083);
  const int listener = ListenIn(FNet->TargetNetns(), TRoutedNet::Target, 8083);
  ASSERT_GE(listener, 0);
  PassAfter(0);
  close(listener);
  EXPECT_EQ(ping->Status, StatusOnline) << ping->LastErrorText;
  EXPECT_EQ(ping->CurrentIP, TRoutedNet::Target);
  EXPECT_EQ(tcpName->Status, StatusOnline) << tcpName->LastErrorText;
  EXPECT_EQ(tcpName->CurrentIP, TRoutedNet::Target);
}
