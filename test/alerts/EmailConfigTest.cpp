// The e-mail configuration file: what is written byte for byte, what older and damaged
// files load as, and that a failed save says why.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "alerts/TEmailConfig.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

namespace {

TEmailConfig FullConfig() {
  TEmailConfig c;
  c.PrimaryServer = "mail.example.net:2525";
  c.PrimarySender = "Monitor <monitor@example.net>";
  c.PrimaryUser = "mon";
  c.PrimaryPassword = "p\xe4ss word";
  c.SecondaryServer = "backup.example.net";
  c.SecondarySender = "backup@example.net";
  c.OfflineSubject = "%name% is down";
  c.OfflineBody = "Host %name%\r\n\r\nsince %time%\r\n";
  c.OnlineSubject = "%name% is up";
  c.RelayEnabled = true;
  c.RelaySender = "relay@example.net";
  c.PageChangeSubject = "page changed";
  c.PageChangeBody = "caf\xe9\r\n";
  c.IPChangeSubject = "new address";
  c.IPChangeBody = "one\r\ntwo\r\n";
  return c;
}

std::string Load(TEmailConfig& c, const std::string& file, TEmailConfig::TLoadResult expected) {
  std::string error;
  EXPECT_EQ(c.LoadFromFile(file, error), expected) << error;
  return error;
}

}  // namespace

TEST(EmailConfig, WritesNineteenItemsAndReadsThemBackByteForByte) {
  testsupport::TTempDir dir;
  const std::string file = dir.File(EmailConfigFileName);
  TEmailConfig c = FullConfig();
  std::string error;
  ASSERT_TRUE(c.SaveToFile(file, error)) << error;
  EXPECT_EQ(ReadFileBytes(file),
            "Corvale1.01\r\nmail.example.net:2525\r\nMonitor <monitor@example.net>\r\nmon\r\np\xe4ss word\r\n"
            "backup.example.net\r\nbackup@example.net\r\n\r\n\r\n%name% is down\r\n3\r\nHost %name%\r\n\r\n"
            "since %time%\r\n%name% is up\r\n0\r\n1\r\nrelay@example.net\r\npage changed\r\n1\r\ncaf\xe9\r\n"
            "new address\r\n2\r\none\r\ntwo\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "passwords are in the file";

  TEmailConfig back;
  Load(back, file, TEmailConfig::TLoadResult::Loaded);
  EXPECT_EQ(back.FileText(), c.FileText());
  EXPECT_EQ(back.PrimaryPassword, "p\xe4ss word");
  EXPECT_EQ(back.OfflineBody, c.OfflineBody);
  EXPECT_TRUE(back.OnlineBody.empty());
  EXPECT_TRUE(back.RelayEnabled);
}

TEST(EmailConfig, BodyWithoutFinalLineBreakIsCountedAndGetsOne) {
  testsupport::TTempDir dir;
  const std::string file = dir.File(EmailConfigFileName);
  TEmailConfig c;
  c.OfflineBody = "a\r\nb\r\nc";
  // Line ends of another system would otherwise make the count and the lines disagree.
  c.OnlineBody = "x\ny";
  c.OnlineSubject = "two\r\nlines";
  std::string error;
  ASSERT_TRUE(c.SaveToFile(file, error)) << error;
  EXPECT_EQ(c.OfflineBody, "a\r\nb\r\nc\r\n") << "the stored setting keeps the appended line break";
  EXPECT_NE(ReadFileBytes(file).find("\r\n3\r\na\r\nb\r\nc\r\ntwo  lines\r\n2\r\nx\r\ny\r\n0\r\n"), std::string::npos);

  TEmailConfig back;
  Load(back, file, TEmailConfig::TLoadResult::Loaded);
  EXPECT_EQ(back.OfflineBody, "a\r\nb\r\nc\r\n");
  EXPECT_EQ(back.OnlineSubject, "two  lines");
  EXPECT_EQ(back.OnlineBody, "x\r\ny\r\n");
  EXPECT_FALSE(back.RelayEnabled);
}

TEST(EmailConfig, SignatureIsAPrefixWithLetterCase) {
  testsupport::TTempDir dir;
  const std::string file = dir.File(EmailConfigFileName);
  for (const char* first : {"Corvale1.0", "Corvale1.01", "Corvale1.0 later"}) {
    WriteFileBytes(file, std::string(first) + "\r\nsmtp.example.net\r\n");
    TEmailConfig c;
    Load(c, file, TEmailConfig::TLoadResult::Loaded);
    EXPECT_EQ(c.PrimaryServer, "smtp.example.net") << first;
  }
  for (const char* first : {"corvale1.01", "Corvale1.", "Corvale2.0", "", "\xef\xbb\xbf" "Corvale1.01"}) {
    WriteFileBytes(file, std::string(first) + "\r\nsmtp.example.net\r\n");
    TEmailConfig c;
    c.PrimaryServer = "left over";
    Load(c, file, TEmailConfig::TLoadResult::BadSignature);
    EXPECT_EQ(c.PrimaryServer, "") << first;
    EXPECT_EQ(ReadFileBytes(file), std::string(first) + "\r\nsmtp.example.net\r\n") << "not overwritten";
  }
}

TEST(EmailConfig, OlderShortFilesAndDamagedCountsLoadWhatTheyHold) {
  testsupport::TTempDir dir;
  const std::string file = dir.File(EmailConfigFileName);
  // Ends after line 11: the servers and the offline template, nothing else.
  WriteFileBytes(file, "Corvale1.0\r\nprimary\r\nps\r\npu\r\npp\r\nsecondary\r\nss\r\nsu\r\nsp\r\ndown\r\n2\r\nl1\r\nl2\r\n");
  TEmailConfig c;
  Load(c, file, TEmailConfig::TLoadResult::Loaded);
  EXPECT_EQ(c.PrimaryServer, "primary");
  EXPECT_EQ(c.SecondaryPassword, "sp");
  EXPECT_EQ(c.OfflineSubject, "down");
  EXPECT_EQ(c.OfflineBody, "l1\r\nl2\r\n");
  EXPECT_EQ(c.OnlineSubject + c.OnlineBody + c.RelaySender + c.PageChangeSubject + c.IPChangeBody, "");
  EXPECT_FALSE(c.RelayEnabled);

  // A count that is not a number reads as 0: its lines are taken as the next items.
  WriteFileBytes(file, "Corvale1.01\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\ndown\r\nthree\r\nup\r\n-4\r\nyes\r\nrelay@x\r\n");
  Load(c, file, TEmailConfig::TLoadResult::Loaded);
  EXPECT_EQ(c.OfflineBody, "");
  EXPECT_EQ(c.OnlineSubject, "up");
  EXPECT_EQ(c.OnlineBody, "");
  EXPECT_FALSE(c.RelayEnabled) << "only \"1\" switches the relay on";
  EXPECT_EQ(c.RelaySender, "relay@x");

  // A count beyond the end of the file takes what there is.
  WriteFileBytes(file, "Corvale1.01\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\ndown\r\n999999999999\r\nonly");
  Load(c, file, TEmailConfig::TLoadResult::Loaded);
  EXPECT_EQ(c.OfflineBody, "only\r\n");

  WriteFileBytes(file, "Corvale1.01\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\ndown\r\n2147483647\r\nonly");
  Load(c, file, TEmailConfig::TLoadResult::Loaded);
  EXPECT_EQ(c.OfflineBody, "only\r\n");
}

TEST(EmailConfig, MissingUnreadableAndUnwritableFilesAreReported) {
  testsupport::TTempDir dir;
  TEmailConfig c;
  Load(c, dir.File("none.cvl"), TEmailConfig::TLoadResult::Missing);

  // A folder in the file's place cannot be read, nor replaced.
  const std::string folder = dir.File(EmailConfigFileName);
  ::mkdir(folder.c_str(), 0700);
  EXPECT_NE(Load(c, folder, TEmailConfig::TLoadResult::ReadError), "");
  c = FullConfig();
  std::string error;
  EXPECT_FALSE(c.SaveToFile(folder, error));
  EXPECT_NE(error, "");
  EXPECT_FALSE(c.SaveToFile(dir.File("no/such/folder/EmailConfig.cvl"), error));
  EXPECT_NE(error, "");
}
