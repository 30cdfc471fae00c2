#include "common/FileUtils.h"

#include "platform/SysErrors.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using testsupport::ReadFileBytes;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(FileUtils, PathTextHelpers) {
  EXPECT_EQ(NativePath("Quillmoor\\Corvale\\"), "Quillmoor/Corvale/");
  EXPECT_EQ(NativePath("/var/lib/x"), "/var/lib/x");

  EXPECT_EQ(IncludeTrailingPathDelimiter("/var/lib"), "/var/lib/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/var/lib/"), "/var/lib/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\data\\"), "C:\\data\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");

  EXPECT_EQ(ExtractFilePath("/srv/corvale/hosts.cvlh"), "/srv/corvale/");
  EXPECT_EQ(ExtractFilePath("Quillmoor\\Corvale\\Corvale.log"), "Quillmoor\\Corvale\\");
  EXPECT_EQ(ExtractFilePath("hosts.cvlh"), "");
  EXPECT_EQ(ExtractFileName("/srv/corvale/hosts.cvlh"), "hosts.cvlh");
  EXPECT_EQ(ExtractFileName("Plugins\\sample.so"), "sample.so");
  EXPECT_EQ(ExtractFileName("/srv/corvale/"), "");

  EXPECT_EQ(ChangeFileExt("/srv/hosts.cvlh", ".cvlp"), "/srv/hosts.cvlp");
  EXPECT_EQ(ChangeFileExt("/srv/a.b/hosts", ".bak"), "/srv/a.b/hosts.bak");
  EXPECT_EQ(ChangeFileExt("c:\\x.y\\hosts", ".bak"), "c:\\x.y\\hosts.bak");
  EXPECT_EQ(ChangeFileExt("archive.tar.gz", ""), "archive.tar");

  EXPECT_EQ(ShortPathName("/srv/my folder/run me"), "/srv/my folder/run me");
}

TEST(FileUtils, WholeFilesKeepEveryByte) {
  TTempDir tmp;
  const std::string bytes = std::string("line 1\r\nNUL\0byte \xFF\xE9\r\n", 21);
  const std::string name = tmp.File("data.bin");
  ASSERT_TRUE(WriteWholeFile(name, bytes));
  EXPECT_EQ(ReadFileBytes(name), bytes);
  std::string text = "old";
  ASSERT_TRUE(ReadWholeFile(name, text));
  EXPECT_EQ(text, bytes);

  // Truncates a longer file; a buffer writes as many bytes as it is told.
  ASSERT_TRUE(WriteBufferToFile(name, "abcdef", 3));
  EXPECT_EQ(ReadFileBytes(name), "abc");
  ASSERT_TRUE(WriteWholeFile(name, ""));
  ASSERT_TRUE(ReadWholeFile(name, text));
  EXPECT_EQ(text, "");

  // A Windows-style name reaches the same file.
  std::filesystem::create_directory(tmp.File("sub"));
  ASSERT_TRUE(WriteWholeFile(tmp.Path() + "\\sub\\x.txt", "via backslashes"));
  EXPECT_EQ(ReadFileBytes(tmp.File("sub/x.txt")), "via backslashes");

  // Failures leave the text alone.
  text = "kept";
  EXPECT_FALSE(ReadWholeFile(tmp.File("missing"), text));
  EXPECT_FALSE(ReadWholeFile(tmp.Path(), text));
  EXPECT_EQ(text, "kept");
  EXPECT_FALSE(WriteWholeFile(tmp.File("no/such/folder.txt"), "x"));
  EXPECT_FALSE(WriteWholeFile(tmp.Path(), "x"));

  EXPECT_TRUE(FileExists(name));
  EXPECT_FALSE(FileExists(tmp.Path()));
  EXPECT_FALSE(FileExists(tmp.File("missing")));
  EXPECT_TRUE(DirectoryExists(tmp.Path() + "\\sub\\"));
  EXPECT_FALSE(DirectoryExists(name));
}

TEST(FileUtils, ForceDirectoriesCreatesMissingLevels) {
  TTempDir tmp;
  std::filesystem::create_directory(tmp.File("existing"));
  auto before = Entries(tmp.Path());
  EXPECT_TRUE(ForceDirectories(tmp.Path() + "\\existing\\"));
  EXPECT_TRUE(ForceDirectories(tmp.File("existing/")));
  EXPECT_EQ(Entries(tmp.Path()), before);

  EXPECT_TRUE(ForceDirectories(tmp.Path() + "\\Quillmoor\\Corvale\\"));
  EXPECT_TRUE(DirectoryExists(tmp.File("Quillmoor/Corvale")));
  EXPECT_TRUE(ForceDirectories(tmp.File("a//b/c")));
  EXPECT_TRUE(DirectoryExists(tmp.File("a/b/c")));

  // A file in the way: false, with the reason kept, and nothing made beneath it.
  WriteFileBytes(tmp.File("file"), "x");
  SetLastError(0);
  EXPECT_FALSE(ForceDirectories(tmp.File("file/sub/deeper")));
  EXPECT_NE(GetLastError(), 0);
  EXPECT_TRUE(FileExists(tmp.File("file")));

  SetLastError(0);
  EXPECT_FALSE(ForceDirectories(""));
  EXPECT_EQ(GetLastError(), syserr::ERROR_INVALID_PARAMETER);
}

TEST(FileUtils, DriveTypeOfFollowsTheWindowsConventions) {
  EXPECT_EQ(DriveTypeOf("\\\\server\\share"), 4);
  EXPECT_EQ(DriveTypeOf("\\\\no-such-server-anywhere"), 4);
  EXPECT_EQ(DriveTypeOf(""), -1);
  EXPECT_EQ(DriveTypeOf("-"), -1);
  EXPECT_EQ(DriveTypeOf("-anything"), -1);
  EXPECT_EQ(DriveTypeOf("D:\\Corvale\\"), 1);
  EXPECT_EQ(DriveTypeOf("/dev/shm"), 6);
  EXPECT_EQ(DriveTypeOf("\\dev\\shm\\not\\made\\yet"), 6);
  EXPECT_EQ(DriveTypeOf("/proc"), 0);
}
