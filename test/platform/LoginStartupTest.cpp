// The login start-up entry: the Run key's command line in and out of a desktop entry,
// quoted as that format wants, and the entries that count as none.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/LoginStartup.h"
#include "support/TestSupport.h"

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

class LoginStartupTest : public ::testing::Test {
protected:
  LoginStartupTest() : FEnv("XDG_CONFIG_HOME", FConfig.Path()) {}
  std::string Entry() const { return FConfig.Path() + "/autostart/corvale.desktop"; }
  void WriteEntry(const std::string& text) {
    std::string error;
    ASSERT_TRUE(WriteLoginStartup("\"/bin/true\"", error)) << error;  // makes the folder
    WriteFileBytes(Entry(), text);
  }
  TTempDir FConfig;
  TScopedEnv FEnv;
};

TEST_F(LoginStartupTest, CommandLinesRoundTripThroughTheEntry) {
  EXPECT_EQ(LoginStartupFileName(), Entry());
  std::string error;
  EXPECT_EQ(ReadLoginStartup(&error), "");
  EXPECT_EQ(error, "") << "no entry is no error";

  struct TCase {
    std::string CommandLine, ExecLine;
  };
  const TCase cases[] = {
      {"\"/opt/corvale/corvale\"", "\"/opt/corvale/corvale\""},
      {"\"/opt/corvale/corvale\" /minimize", "\"/opt/corvale/corvale\" /minimize"},
      // A blank stays inside the quotes; "$", "`" and the backslash are escaped inside
      // them, the backslash once more as every string value's escape; "%" is doubled.
      {"\"/home/a b/Corvale 2/corvale\" /minimize", "\"/home/a b/Corvale 2/corvale\" /minimize"},
      {"\"/x/$HOME`id`\\y%u\"", "\"/x/\\\\$HOME\\\\`id\\\\`\\\\\\\\y%%u\""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.CommandLine);
    ASSERT_TRUE(WriteLoginStartup(c.CommandLine, error)) << error;
    EXPECT_EQ(ReadFileBytes(Entry()),
              "[Desktop Entry]\nType=Application\nName=Corvale\nExec=" + c.ExecLine + "\n");
    EXPECT_EQ(ReadLoginStartup(&error), c.CommandLine);
    EXPECT_EQ(error, "");
  }

  ASSERT_TRUE(DeleteLoginStartup(error)) << error;
  EXPECT_EQ(::access(Entry().c_str(), F_OK), -1);
  EXPECT_TRUE(DeleteLoginStartup(error)) << "an entry that is not there is no error";
  EXPECT_EQ(ReadLoginStartup(), "");
}

// Entries written by others: the keys of the main group only, blanks around "=", field
// codes and switched-off entries.
TEST_F(LoginStartupTest, EntriesOfOthersAndSwitchedOffEntries) {
  struct TCase {
    const char* Text;
    std::string Read;
    bool Error;
  };
  const TCase cases[] = {
      {"[Desktop Entry]\r\nName=Other\r\nExec = /usr/bin/other --tray %U\r\n", "\"/usr/bin/other\" --tray", false},
      {"# a comment\n[Desktop Entry]\nExec=\"/usr/bin/my other\" 100%% \"two words\"\n",
       "\"/usr/bin/my other\" 100% \"two words\"", false},
      {"[Desktop Entry]\nExec=/usr/bin/other\nHidden=true\n", "", false},
      {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\nExec=/usr/bin/other\n", "", false},
      // Another group's keys say nothing about the entry.
      {"[Desktop Entry]\nExec=/usr/bin/other\n[Desktop Action x]\nHidden=true\nExec=/bin/no\n", "\"/usr/bin/other\"", false},
      {"[Desktop Entry]\nName=No command\n", "", true},
      {"[Desktop Entry]\nExec=\"/usr/bin/unclosed\n", "", true},
      {"", "", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    WriteEntry(c.Text);
    std::string error;
    EXPECT_EQ(ReadLoginStartup(&error), c.Read);
    EXPECT_EQ(!error.empty(), c.Error) << error;
  }
}

TEST_F(LoginStartupTest, WhereTheEntryGoesAndWhenItCannotBeWritten) {
  {
    // A relative folder in the variable is ignored: the home folder's ".config".
    TScopedEnv relative("XDG_CONFIG_HOME", "relative");
    TScopedEnv home("HOME", "/home/someone");
    EXPECT_EQ(LoginStartupFileName(), "/home/someone/.config/autostart/corvale.desktop");
  }
  std::string error;
  EXPECT_FALSE(WriteLoginStartup("", error));
  EXPECT_FALSE(error.empty());

  WriteFileBytes(FConfig.File("plain"), "x");
  TScopedEnv blocked("XDG_CONFIG_HOME", FConfig.File("plain"));
  error.clear();
  EXPECT_FALSE(WriteLoginStartup("\"/bin/true\"", error));
  EXPECT_NE(error.find(FConfig.File("plain")), std::string::npos) << error;
}

TEST(DesktopExecLineTest, QuotingBothWays) {
  EXPECT_EQ(DesktopExecLine({"/bin/a", "plain", "two words", ""}), "\"/bin/a\" plain \"two words\" \"\"");
  std::vector<std::string> arguments;
  ASSERT_TRUE(ParseDesktopExecLine("\"/bin/a\" plain \"two words\" \"\" %f", arguments));
  EXPECT_EQ(arguments, (std::vector<std::string>{"/bin/a", "plain", "two words", ""}));
  // A program name quoted in part; the string escapes of a tab and a blank are undone
  // before the arguments are split, so both separate.
  ASSERT_TRUE(ParseDesktopExecLine("/opt/\"my app\"/run\\tx a\\sb", arguments));
  EXPECT_EQ(arguments, (std::vector<std::string>{"/opt/my app/run", "x", "a", "b"}));
  EXPECT_FALSE(ParseDesktopExecLine("\"open", arguments));
  EXPECT_TRUE(arguments.empty());
}

}  // namespace
