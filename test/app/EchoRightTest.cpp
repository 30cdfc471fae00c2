// The program started without the right to open an ICMP socket says so in its event log,
// with how to grant it, and runs all the same.
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/WindowMessages.h"
#include "support/TestSupport.h"

using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

constexpr int WaitMs = 20000;

// Whether the sysctl admits this process's group to datagram ICMP sockets, which need
// no right at all.
bool DatagramEchoAllowed() {
  std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
  long low = 1, high = 0;
  in >> low >> high;
  const long gid = static_cast<long>(::getgid());
  return in && low <= gid && gid <= high;
}

bool RawSocketOpens() {
  const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

TEST(EchoRightTest, MissingRightIsLoggedOnceWithHowToGrantIt) {
  if (DatagramEchoAllowed()) GTEST_SKIP() << "net.ipv4.ping_group_range admits this group: the right cannot be missing";
  TTempDir root;
  // A plain copy of the program: the demo gives the built one the capability as a file
  // attribute, which a child without the capability in its bounding set cannot start.
  const std::string copy = root.Path() + "/corvale";
  std::error_code error;
  ASSERT_TRUE(std::filesystem::copy_file(testsupport::BinDir() + "/corvale", copy, error)) << error.message();
  ASSERT_EQ(::chmod(copy.c_str(), 0755), 0);
  // Root drops the capability for the child; anybody else must not have it to begin with.
  QString program = QString::fromStdString(copy);
  QStringList args{"service"};
  if (::geteuid() == 0) {
    args = QStringList{"--inh-caps=-net_raw", "--bounding-set=-net_raw", "--", program, "service"};
    program = "setpriv";
  } else if (RawSocketOpens()) {
    GTEST_SKIP() << "this process holds CAP_NET_RAW and cannot give it up";
  }

  const std::string data = root.Path() + "/data", reg = root.Path() + "/reg", run = root.Path() + "/run";
  for (const std::string& d : {data, reg, run}) ::mkdir(d.c_str(), 0700);
  TScopedEnv envReg("CORVALE_REGISTRY_DIR", reg), envData("CORVALE_DATA_DIR", data), envRun("XDG_RUNTIME_DIR", run);

  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(program, args);
  ASSERT_TRUE(p.waitForStarted(5000)) << "cannot start " << program.toStdString();
  std::uintptr_t hwnd = 0;
  QElapsedTimer t;
  t.start();
  while (!hwnd && t.elapsed() < WaitMs && p.state() == QProcess::Running) {
    hwnd = FindWindow("TfrmCorvale");
    if (!hwnd) QThread::msleep(20);
  }
  ASSERT_NE(hwnd, 0u) << "the program did not start";
  SendMessage(hwnd, 3022, 0, 0);
  ASSERT_TRUE(p.waitForFinished(WaitMs));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 0);

  const std::string log = testsupport::ReadFileBytes(data + "/Quillmoor/Corvale/Corvale.log");
  const std::string start = "\t---\tNo ICMP socket could be opened";
  const std::size_t at = log.find(start);
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(log.find(start, at + 1), std::string::npos) << "reported more than once";
  const std::string line = log.substr(at, log.find("\r\n", at) - at);
  EXPECT_EQ(line.substr(line.size() - 2), "\tE");
  EXPECT_NE(line.find("setcap cap_net_raw+ep " + copy), std::string::npos) << line;
  EXPECT_NE(line.find("net.ipv4.ping_group_range"), std::string::npos) << line;
}

}  // namespace
