#include "service/TNTEventLog.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "common/QLRegistry.h"
#include "support/TestSupport.h"

using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {
struct TEntry {
  TNTEventLog::TKind Kind;
  std::uint32_t Id;
  std::string Text;
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EEventLogError& e) {
    return e.what();
  }
  return "<no error>";
}

std::string ReadAll(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}
}  // namespace

TEST(NTEventLog, RegistersTheSourceOnceWritesOnlyWhileOpenAndUnregisters) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  TNTEventLog log(&store);
  log.SetAppName("Corvale Service");
  log.SetMessageFile("/opt/corvale/corvale-service");
  std::vector<TEntry> entries;
  log.SetSink([&entries](TNTEventLog::TKind kind, std::uint32_t id, const std::string& text) {
    entries.push_back({kind, id, text});
  });
  const std::string key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvale Service";

  log.LogInformation("before open");
  EXPECT_FALSE(log.Enabled());
  log.Open();
  EXPECT_TRUE(log.Enabled());
  EXPECT_EQ(ReadRegText(store, HKEY_LOCAL_MACHINE, key, "EventMessageFile", ""), "/opt/corvale/corvale-service");
  {
    TQLRegistry reg(store);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(key, false));
    EXPECT_EQ(reg.ReadInteger("TypesSupported"), 7);
  }

  // A second registration finds the key and writes nothing.
  ASSERT_TRUE(WriteRegText(store, HKEY_LOCAL_MACHINE, key, "EventMessageFile", "/elsewhere"));
  log.SetMessageFile("/again");
  EXPECT_TRUE(log.RegisterApplication());
  EXPECT_EQ(ReadRegText(store, HKEY_LOCAL_MACHINE, key, "EventMessageFile", ""), "/elsewhere");

  log.LogInformation("info");
  log.LogWarning("warn");
  log.LogError("err", 0, TNTEventLog::ErrorId, nullptr, 0);
  log.Close();
  EXPECT_TRUE(log.Enabled()) << "closing leaves the flag, only the handle goes";
  log.LogWarning("after close");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Kind, TNTEventLog::TKind::Information);
  EXPECT_EQ(entries[0].Id, 0x40020001u);
  EXPECT_EQ(entries[0].Text, "info");
  EXPECT_EQ(entries[1].Kind, TNTEventLog::TKind::Warning);
  EXPECT_EQ(entries[1].Id, 0x80020003u);
  EXPECT_EQ(entries[2].Kind, TNTEventLog::TKind::Error);
  EXPECT_EQ(entries[2].Id, 0xC0020002u);

  log.UnregisterApplication();
  EXPECT_FALSE(RegKeyExists(store, HKEY_LOCAL_MACHINE, key));
  EXPECT_FALSE(RegKeyExists(store, HKEY_LOCAL_MACHINE, key.substr(0, key.rfind('\\')) + "\\Other"));
  EXPECT_EQ(ErrorOf([&] { log.UnregisterApplication(); }), "Unable to remove registry entries.");
}

TEST(NTEventLog, EmptyNameReadsAsPlaceholderAndUnwritableRegistryRefusesToOpen) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  TNTEventLog log(&store);
  log.SetAppName("");
  EXPECT_EQ(log.AppName(), TNTEventLog::PlaceholderName);
  EXPECT_FALSE(log.AppName().empty());

  ASSERT_TRUE(WriteRegText(store, HKEY_LOCAL_MACHINE, "Software", "x", "y"));
  ASSERT_EQ(::chmod(store.RootFile(HKEY_LOCAL_MACHINE).c_str(), 0444), 0);
  EXPECT_EQ(ErrorOf([&] { log.Open(); }), "Unable to register application.");
  EXPECT_FALSE(log.Enabled());
}

TEST(NTEventLog, EchoesEntriesUnlessTheStreamIsTheJournal) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  TNTEventLog log(&store);
  log.SetAppName("Corvale Service");
  log.SetSink([](TNTEventLog::TKind, std::uint32_t, const std::string&) {});
  std::FILE* echo = std::tmpfile();
  ASSERT_NE(echo, nullptr);
  log.SetEcho(echo);
  log.Open();
  log.LogWarning("Premature closing");
  EXPECT_EQ(ReadAll(echo), "Corvale Service: Warning: Premature closing\n");

  struct stat st {};
  ASSERT_EQ(::fstat(::fileno(echo), &st), 0);
  const TScopedEnv journal("JOURNAL_STREAM", std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino));
  EXPECT_TRUE(TNTEventLog::IsJournalStream(echo));
  log.LogInformation("only once in the journal");
  EXPECT_EQ(ReadAll(echo), "Corvale Service: Warning: Premature closing\n");
  std::fclose(echo);
}

// The system logger for the test below: in a mount namespace of its own (the machine's
// /dev stays as it is), a datagram socket at /dev/log receives what syslog(3) sends.
TEST(NTEventLogChild, DISABLED_WritesToTheSystemLogger) {
  if (!std::getenv("CORVALE_TEST_SYSLOG_CHILD")) GTEST_SKIP() << "runs only as the child of another test";
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) {
    std::printf("NO NAMESPACE\n");
    return;
  }
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, "/dev/log");
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  timeval wait{0, 500000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

  TTempDir dir;
  TRegistryStore store(dir.Path());
  TNTEventLog log(&store);
  log.SetAppName("Corvale Service");
  log.Open();
  log.LogWarning("probe warning");
  log.LogInformation("probe information");
  log.LogError("probe error");
  log.Close();
  log.LogWarning("after close");
  char buf[1024];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf - 1, 0)) > 0) std::printf("GOT %.*s\n", static_cast<int>(n), buf);
  ::close(fd);
}

TEST(NTEventLog, EntriesReachTheSystemLoggerWithTheirPriorities) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace with a /dev/log of its own";
  const TScopedEnv child("CORVALE_TEST_SYSLOG_CHILD", "1");
  QProcess p;
  p.start(QCoreApplication::applicationFilePath(),
          {"--gtest_filter=NTEventLogChild.DISABLED_WritesToTheSystemLogger", "--gtest_also_run_disabled_tests"});
  ASSERT_TRUE(p.waitForFinished(30000));
  const std::string out = p.readAllStandardOutput().toStdString();
  if (out.find("NO NAMESPACE") != std::string::npos) GTEST_SKIP() << "no mount namespace to be had here";
  EXPECT_EQ(p.exitCode(), 0) << out;
  // Facility daemon (3): warning 3*8+4, information 3*8+6, error 3*8+3.
  for (const char* line : {"GOT <28>", "GOT <30>", "GOT <27>"}) EXPECT_NE(out.find(line), std::string::npos) << line << out;
  EXPECT_NE(out.find(" Corvale Service["), std::string::npos) << out;
  EXPECT_NE(out.find("]: probe warning"), std::string::npos) << out;
  EXPECT_NE(out.find("]: probe information"), std::string::npos) << out;
  EXPECT_EQ(out.find("after close"), std::string::npos) << out;
}
