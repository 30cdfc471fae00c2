// The event log file: loaded at start-up, written whole at start-up, shutdown, on the
// auto-save timer and after a quiet time.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/TextFiles.h"
#include "MonitorFixture.h"

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

class EventLogFileTest : public MonitorFixture {
protected:
  std::string LogFile() const { return DataFolder() + "Corvale.log"; }
  std::vector<std::string> FileLines() const { return SplitTextLines(ReadFileBytes(LogFile())); }
  bool Written() const { return std::filesystem::exists(LogFile()); }
  std::string HostsFile() const { return DataFolder() + "hosts.cvlh"; }
};

TEST_F(EventLogFileTest, LogIsLoadedAtStartUpAndSavedAtShutdownWhateverItHolds) {
  const std::string longLine(1024 * 1024, 'L');
  const std::string binary("\x00\x01\xFF\x7F garbage", 12);
  WriteFileBytes(LogFile(), "Dec 7, 09:00a\t---\tEarlier run\tA\r\n" + binary + "\r\n" + longLine +
                                "\nDec 7, 09:01a\t---\tLF only\tI\n\r\nno end");
  auto monitor = NewMonitor();
  monitor->Startup();
  const auto& lines = monitor->Log().Lines();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0].Text, "Dec 7, 09:00a\t---\tEarlier run\tA");
  EXPECT_EQ(lines[1].Text, binary);
  EXPECT_EQ(lines[2].Text, longLine);
  EXPECT_EQ(lines[3].Text, "Dec 7, 09:01a\t---\tLF only\tI");
  EXPECT_EQ(lines[4].Text, "no end");
  EXPECT_NE(lines[5].Text.find("\tCorvale Loaded (Service) by "), std::string::npos);

  // Start-up ends with a save: the old lines, then this run's, each ending in CR LF.
  std::string text = ReadFileBytes(LogFile());
  EXPECT_EQ(text.rfind("Dec 7, 09:00a\t---\tEarlier run\tA\r\n" + binary + "\r\n" + longLine + "\r\n", 0), 0u);
  EXPECT_NE(text.find("Corvale Loaded"), std::string::npos);

  monitor->Shutdown();
  const auto saved = FileLines();
  EXPECT_EQ(saved.size(), monitor->Log().Count());
  EXPECT_EQ(saved.back(), "Dec 8, 02:05p\t---\tCorvale Shut Down\tA");
}

TEST_F(EventLogFileTest, FileHoldsTheLatest5000Entries) {
  std::string full;
  for (int i = 1; i <= 5000; ++i) full += "Dec 7, 09:00a\t---\tevent " + std::to_string(i) + "\tI\r\n";
  WriteFileBytes(LogFile(), full);
  auto monitor = NewMonitor();
  // "Corvale Loaded" and the service notice are the 5001st and 5002nd entries.
  monitor->Startup();
  EXPECT_EQ(monitor->Log().Count(), 5000u);
  auto lines = FileLines();
  ASSERT_EQ(lines.size(), 5000u);
  EXPECT_EQ(lines.front(), "Dec 7, 09:00a\t---\tevent 3\tI");
  EXPECT_EQ(lines[4997], "Dec 7, 09:00a\t---\tevent 5000\tI");
  EXPECT_NE(lines[4998].find("\tCorvale Loaded (Service) by "), std::string::npos);

  // A line break inside a message would become a bogus entry when read back.
  monitor->LogEvent(nullptr, "first\r\nsecond", TLogCategory::Error);
  monitor->SaveEventLog();
  lines = FileLines();
  ASSERT_EQ(lines.size(), 5000u);
  EXPECT_EQ(lines.front(), "Dec 7, 09:00a\t---\tevent 4\tI");
  EXPECT_EQ(lines.back(), "Dec 8, 02:05p\t---\tfirst  second\tE");
  monitor->Shutdown();
}

TEST_F(EventLogFileTest, BurstThenAMinuteOfQuietWritesTheLogAndHostsOnce) {
  auto monitor = NewMonitor();
  monitor->Startup();
  std::filesystem::remove(LogFile());
  for (int i = 0; i < 20; ++i) {
    monitor->LogEvent(nullptr, "burst " + std::to_string(i), TLogCategory::Warning);
    FClock.Advance(500);
    monitor->tmrAlertTimer();
  }
  EXPECT_FALSE(Written());
  FClock.Advance(59500);
  monitor->tmrAlertTimer();
  EXPECT_FALSE(Written()) << "60 s after the last entry is not yet more than 60 s";
  FClock.Advance(1);
  monitor->tmrAlertTimer();
  ASSERT_TRUE(Written());
  EXPECT_EQ(FileLines().back(), "Dec 8, 02:05p\t---\tburst 19\tW");
  // The hosts file goes with it, without an entry of its own.
  EXPECT_TRUE(std::filesystem::exists(HostsFile()));
  EXPECT_EQ(monitor->Log().Lines().back().Text, "Dec 8, 02:05p\t---\tburst 19\tW");

  // Nothing new: no further writes however long it stays quiet.
  std::filesystem::remove(LogFile());
  std::filesystem::remove(HostsFile());
  for (int i = 0; i < 30; ++i) {
    FClock.Advance(60000);
    monitor->tmrAlertTimer();
  }
  EXPECT_FALSE(Written());
  EXPECT_FALSE(std::filesystem::exists(HostsFile()));
  monitor->Shutdown();
}

TEST_F(EventLogFileTest, SteadyEventsAreWrittenAfterTenMinutes) {
  auto monitor = NewMonitor();
  monitor->Startup();
  std::filesystem::remove(LogFile());
  // An entry every 30 s never leaves a minute of quiet.
  double elapsed = 0;
  while (!Written() && elapsed < 700000) {
    monitor->LogEvent(nullptr, "steady", TLogCategory::Test);
    FClock.Advance(30000);
    elapsed += 30000;
    monitor->tmrAlertTimer();
  }
  EXPECT_TRUE(Written());
  EXPECT_GT(elapsed, 600000);
  EXPECT_LE(elapsed, 630000);
  monitor->Shutdown();
}

TEST_F(EventLogFileTest, EntriesStayUnsavedUntilTheFileCanBeWritten) {
  auto monitor = NewMonitor();
  monitor->Startup();
  // A folder in the file's place: every write fails.
  std::filesystem::remove(LogFile());
  std::filesystem::create_directory(LogFile());
  monitor->LogEvent(nullptr, "kept in memory", TLogCategory::Error);
  FClock.Advance(61000);
  monitor->tmrAlertTimer();
  monitor->tmrAutoSaveTimer();
  EXPECT_TRUE(std::filesystem::is_directory(LogFile()));
  EXPECT_EQ(monitor->StatusTrace().LastMessage().rfind("Log file not saved: ", 0), 0u);

  std::filesystem::remove(LogFile());
  FClock.Advance(5000);
  monitor->tmrAlertTimer();
  ASSERT_TRUE(Written());
  EXPECT_EQ(FileLines().back(), "Dec 8, 02:05p\t---\tkept in memory\tE");
  monitor->Shutdown();
}

TEST_F(EventLogFileTest, EntryDateFollowsTheUse24HourDateSetting) {
  auto monitor = NewMonitor();
  monitor->Settings().Use24HourDate = 1;
  monitor->LogEvent(nullptr, "at two", TLogCategory::Information);
  monitor->Settings().Use24HourDate = 0;
  monitor->LogEvent(nullptr, "at two", TLogCategory::Information);
  monitor->Settings().Use24HourDate = 2;  // only 1 selects the 24-hour form
  monitor->LogEvent(nullptr, "at two", TLogCategory::Information);
  const auto& lines = monitor->Log().Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Text, "Dec 8, 14:05\t---\tat two\tI");
  EXPECT_EQ(lines[1].Text, "Dec 8, 02:05p\t---\tat two\tI");
  EXPECT_EQ(lines[2].Text, "Dec 8, 02:05p\t---\tat two\tI");
}

}  // namespace
