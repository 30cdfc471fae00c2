// Log entries mirrored to a syslog server (a UDP socket of the test on loopback) and
// handed to the plug-in hooks.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <stdexcept>

#include "common/ErrorText.h"
#include "common/SystemInfo.h"
#include "core/THostList.h"
#include "core/TSyslogSender.h"
#include "MonitorFixture.h"

namespace {

TEST(SyslogTest, ServerSettingGivesHostAndPort) {
  std::string host;
  std::uint16_t port = 0;
  EXPECT_TRUE(TSyslogSender::ParseServer("logs.example:1514", host, port));
  EXPECT_EQ(host, "logs.example");
  EXPECT_EQ(port, 1514);
  EXPECT_TRUE(TSyslogSender::ParseServer("logs.example", host, port));
  EXPECT_EQ(host, "logs.example");
  EXPECT_EQ(port, 514);
  for (const char* bad : {"logs:", "logs:abc", "logs:0", "logs:70000", "logs:15x"}) {
    EXPECT_TRUE(TSyslogSender::ParseServer(bad, host, port)) << bad;
    EXPECT_EQ(host, "logs") << bad;
    EXPECT_EQ(port, 514) << bad;
  }
  EXPECT_TRUE(TSyslogSender::ParseServer(" 10.1.2.3:600 ", host, port));
  EXPECT_EQ(host, "10.1.2.3");
  EXPECT_EQ(port, 600);
  EXPECT_TRUE(TSyslogSender::ParseServer("[::1]:1514", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 1514);
  EXPECT_TRUE(TSyslogSender::ParseServer("fe80::1", host, port));
  EXPECT_EQ(host, "fe80::1");
  EXPECT_EQ(port, 514);
  EXPECT_FALSE(TSyslogSender::ParseServer("", host, port));
  // Names no resolver takes are never looked up.
  const std::string label63(63, 'a'), name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
  EXPECT_TRUE(TSyslogSender::ParseServer(name253 + ":1514", host, port));
  EXPECT_EQ(host, name253);
  EXPECT_FALSE(TSyslogSender::ParseServer(name253 + "b:1514", host, port));
  EXPECT_FALSE(TSyslogSender::ParseServer(label63 + "a.example", host, port));
  EXPECT_FALSE(TSyslogSender::ParseServer(std::string(1 << 20, 'x') + ":514", host, port));
  EXPECT_EQ(host, "");
  EXPECT_FALSE(TSyslogSender::ParseServer(":514", host, port));
  EXPECT_FALSE(TSyslogSender::ParseServer("[::1", host, port));
}

TEST(SyslogTest, SeverityByCategoryAndDatagramText) {
  const std::string withHost = "CEOWZAIMPT";
  const int expected[] = {7, 1, 5, 4, 7, 6, 6, 6, 6, 6};
  for (std::size_t i = 0; i < withHost.size(); ++i)
    EXPECT_EQ(TSyslogSender::Severity(withHost[i], true), expected[i]) << withHost[i];
  // Without a host, errors, warnings and recoveries are only information.
  for (const char c : std::string("EOW")) EXPECT_EQ(TSyslogSender::Severity(c, false), 6) << c;
  EXPECT_EQ(TSyslogSender::Severity('C', false), 7);

  const TDateTime at = EncodeDateTime(2026, 3, 4, 9, 5, 7);
  EXPECT_EQ(TSyslogSender::FormatDatagram(at, "box", "Web (10.0.0.1:80)", "Error State:\xA0timed out", 1),
            "<129>Mar 04 09:05:07 box Corvale: [Web (10.0.0.1:80)] Error State: timed out");
  EXPECT_EQ(TSyslogSender::FormatDatagram(at, "box", "", "Reset All Hosts", 6),
            "<134>Mar 04 09:05:07 box Corvale: Reset All Hosts");
}

class SyslogMonitorTest : public MonitorFixture {
protected:
  SyslogMonitorTest() { EXPECT_TRUE(FServer.bind(QHostAddress::LocalHost, 0)); }

  std::string Server(const char* host = "127.0.0.1") const {
    return std::string(host) + ":" + std::to_string(FServer.localPort());
  }

  // The next datagram, empty when none comes.
  std::string Receive() {
    QElapsedTimer t;
    t.start();
    while (!FServer.hasPendingDatagrams() && t.elapsed() < 10000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!FServer.hasPendingDatagrams()) return std::string();
    QByteArray data(static_cast<qsizetype>(FServer.pendingDatagramSize()), '\0');
    FServer.readDatagram(data.data(), data.size());
    return data.toStdString();
  }

  std::string Prefix(int priority) const {
    return "<" + std::to_string(priority) + ">Dec 08 14:05:00 " + LocalComputerName() + " Corvale: ";
  }

  QUdpSocket FServer;
};

TEST_F(SyslogMonitorTest, EntriesAreSentOneDatagramEach) {
  auto monitor = NewMonitor();
  auto record = monitor->Hosts().NewRecord(FClock.Now());
  record->DisplayName = "Router";
  record->Address = "127.0.0.1";
  THost* host = monitor->Hosts().Add(std::move(record));

  // No server: nothing is sent.
  monitor->LogEvent(host, "not sent", TLogCategory::Error);
  monitor->Settings().SysLogServer = Server();
  monitor->LogEvent(host, "Error State: no reply", TLogCategory::Error);
  monitor->LogEvent(nullptr, "Exception in Timer1: boom", TLogCategory::Error);
  monitor->LogEvent(host, "Okay State;\xA0Is Responding", TLogCategory::Okay);
  monitor->LogEvent(nullptr, "Configuration file saved: hosts.cvlh", TLogCategory::Configuration);
  EXPECT_EQ(Receive(), Prefix(129) + "[Router (127.0.0.1)] Error State: no reply");
  EXPECT_EQ(Receive(), Prefix(134) + "Exception in Timer1: boom");
  EXPECT_EQ(Receive(), Prefix(133) + "[Router (127.0.0.1)] Okay State; Is Responding");
  EXPECT_EQ(Receive(), Prefix(135) + "Configuration file saved: hosts.cvlh");

  // Cleared: nothing more is sent; a server that does not listen costs only the datagram.
  monitor->Settings().SysLogServer.clear();
  monitor->LogEvent(nullptr, "quiet", TLogCategory::Information);
  QUdpSocket closed;
  ASSERT_TRUE(closed.bind(QHostAddress::LocalHost, 0));
  monitor->Settings().SysLogServer = "127.0.0.1:" + std::to_string(closed.localPort());
  closed.close();
  monitor->LogEvent(nullptr, "lost", TLogCategory::Information);
  monitor->LogEvent(nullptr, "lost again", TLogCategory::Information);
  monitor->Settings().SysLogServer = Server();
  monitor->LogEvent(nullptr, "back", TLogCategory::Information);
  EXPECT_EQ(Receive(), Prefix(134) + "back");
  EXPECT_EQ(monitor->Log().Count(), 9u);
}

TEST_F(SyslogMonitorTest, DeadServerIsReportedOnceThenOnceAMinuteWithTheCount) {
  auto monitor = NewMonitor();
  QUdpSocket closed;
  ASSERT_TRUE(closed.bind(QHostAddress::LocalHost, 0));
  monitor->Settings().SysLogServer = "127.0.0.1:" + std::to_string(closed.localPort());
  closed.close();
  auto errors = [&] {
    QCoreApplication::processEvents();
    std::vector<std::string> found;
    for (const TLogLine& l : monitor->Log().Lines())
      if (l.Text.find("UDP Error: ") != std::string::npos) found.push_back(l.Text);
    return found;
  };
  // The port's "unreachable" answer makes the next send fail; the report waits for the
  // event loop and is itself sent (and held back when it fails too).
  for (int i = 0; i < 50 && errors().empty(); ++i) monitor->LogEvent(nullptr, "entry", TLogCategory::Information);
  ASSERT_EQ(errors().size(), 1u);
  EXPECT_NE(errors()[0].find("\t---\tUDP Error: " + ErrorText(10061) + " / Connection refused\tW"), std::string::npos)
      << errors()[0];
  for (int i = 0; i < 20; ++i) monitor->LogEvent(nullptr, "entry", TLogCategory::Information);
  EXPECT_EQ(errors().size(), 1u) << "a dead server does not flood the log";

  FClock.Advance(TSyslogSender::ErrorRepeatMs + 1000);
  for (int i = 0; i < 50 && errors().size() < 2; ++i) monitor->LogEvent(nullptr, "entry", TLogCategory::Information);
  ASSERT_EQ(errors().size(), 2u);
  EXPECT_NE(errors()[1].find(" more since the last report)\tW"), std::string::npos) << errors()[1];
}

TEST_F(SyslogMonitorTest, ServerNameIsLookedUpWithoutHoldingEntriesBack) {
  auto monitor = NewMonitor();
  monitor->Settings().SysLogServer = Server("localhost");
  // Both entries are logged before the lookup can answer; both arrive, in order.
  monitor->LogEvent(nullptr, "first", TLogCategory::Information);
  monitor->LogEvent(nullptr, "second", TLogCategory::Information);
  EXPECT_EQ(monitor->Log().Count(), 2u);
  EXPECT_EQ(Receive(), Prefix(134) + "first");
  EXPECT_EQ(Receive(), Prefix(134) + "second");
  monitor->LogEvent(nullptr, "third", TLogCategory::Warning);
  EXPECT_EQ(Receive(), Prefix(134) + "third");
}

TEST_F(SyslogMonitorTest, LogHooksGetHostLevelAndSurviveFailingHooks) {
  auto monitor = NewMonitor();
  THost* host = monitor->Hosts().Add(monitor->Hosts().NewRecord(FClock.Now()));
  struct TCall {
    std::int32_t ID;
    std::string Message;
    int Level;
  };
  std::vector<TCall> calls;
  monitor->AddLogHook([](std::int32_t, const std::string&, int) { throw std::runtime_error("plug-in failed"); });
  monitor->AddLogHook([&](std::int32_t id, const std::string& message, int level) {
    calls.push_back({id, message, level});
    // A hook that logs does not hear of its own entry.
    if (message == "recurse") monitor->LogEvent(nullptr, "from the hook", TLogCategory::Information);
  });
  const std::string categories = "EIOWAC";
  const int withHost[] = {2, 10, 0, 1, 99, 99};
  for (const char c : categories) monitor->LogEvent(host, std::string(1, c), static_cast<TLogCategory>(c));
  for (const char c : categories) monitor->LogEvent(nullptr, std::string(1, c), static_cast<TLogCategory>(c));
  monitor->LogEvent(nullptr, "recurse", TLogCategory::Information);

  ASSERT_EQ(calls.size(), 13u);
  for (std::size_t i = 0; i < categories.size(); ++i) {
    EXPECT_EQ(calls[i].ID, host->ID);
    EXPECT_EQ(calls[i].Level, withHost[i]) << categories[i];
    EXPECT_EQ(calls[i + 6].ID, 0);
    EXPECT_EQ(calls[i + 6].Level, withHost[i] < 3 ? 10 : withHost[i]) << categories[i];
  }
  EXPECT_EQ(monitor->Log().Lines().back().Text, "Dec 8, 02:05p\t---\tfrom the hook\tI");
}

}  // namespace
