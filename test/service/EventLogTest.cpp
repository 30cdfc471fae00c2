#include "service/TNTEventLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
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
