#include "common/QLRegistry.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ERegistryError& e) {
    return e.what();
  }
  return "<no error>";
}

}  // namespace

TEST(QLRegistry, MissingKeyReadsEmptyAndTheDefaultOnlyForAWrongType) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  EXPECT_EQ("", ReadRegText(store, HKEY_CURRENT_USER, "Software\\Nope", "X", "default"));
  EXPECT_TRUE(WriteRegText(store, HKEY_CURRENT_USER, "Software\\Q", "Text", "hello"));
  EXPECT_EQ("", ReadRegText(store, HKEY_CURRENT_USER, "Software\\Q", "Missing", "default"));
  EXPECT_EQ("hello", ReadRegText(store, HKEY_CURRENT_USER, "\\Software\\Q", "text", "default"));
  EXPECT_TRUE(WriteRegFloat(store, HKEY_CURRENT_USER, "Software\\Q", "Float", 2.5));
  EXPECT_EQ("default", ReadRegText(store, HKEY_CURRENT_USER, "Software\\Q", "Float", "default"));

  EXPECT_EQ(2.5, ReadRegFloat(store, HKEY_CURRENT_USER, "Software\\Q", "Float", -1));
  EXPECT_EQ(-1, ReadRegFloat(store, HKEY_CURRENT_USER, "Software\\Q", "Missing", -1));
  EXPECT_EQ(-1, ReadRegFloat(store, HKEY_CURRENT_USER, "Software\\Q", "Text", -1));
  EXPECT_EQ(-1, ReadRegFloat(store, HKEY_CURRENT_USER, "Software\\Nope", "Float", -1));

  EXPECT_TRUE(RegKeyExists(store, HKEY_CURRENT_USER, "Software\\Q"));
  EXPECT_FALSE(RegKeyExists(store, HKEY_LOCAL_MACHINE, "Software\\Q")) << "roots are apart";
  EXPECT_TRUE(RegValueExists(store, HKEY_CURRENT_USER, "Software\\Q", "Float"));
  EXPECT_FALSE(RegValueExists(store, HKEY_CURRENT_USER, "Software\\Q", "Missing"));
  EXPECT_TRUE(DeleteRegValue(store, HKEY_CURRENT_USER, "Software\\Q", "Float"));
  EXPECT_FALSE(RegValueExists(store, HKEY_CURRENT_USER, "Software\\Q", "Float"));
  EXPECT_TRUE(DeleteRegValue(store, HKEY_CURRENT_USER, "Software\\Q", "Float")) << "already gone";
}

TEST(QLRegistry, ReadOnlyMachineRootOpensForReadingAndRefusesWrites) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  const std::string key = "Software\\Quillmoor\\Corvale";
  ASSERT_TRUE(WriteRegText(store, HKEY_LOCAL_MACHINE, key, "EXE", "/usr/bin/corvale"));
  const std::string file = store.RootFile(HKEY_LOCAL_MACHINE);
  ASSERT_EQ(0, chmod(file.c_str(), 0444));
  const std::string before = ReadFileBytes(file);

  TQLRegistry reg(store);
  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(key, false));
  EXPECT_EQ(KEY_READ, reg.CurrentKey().Access()) << "the first rights without a write right";
  EXPECT_EQ("/usr/bin/corvale", reg.ReadString("EXE"));
  EXPECT_EQ("Failed to set data for 'X'", ErrorOf([&] { reg.WriteString("X", "y"); }));
  EXPECT_FALSE(reg.DeleteValue("EXE"));
  ASSERT_TRUE(reg.OpenKey("\\" + key, true)) << "create on an existing key only opens it";
  EXPECT_FALSE(reg.OpenKey("Sub", true));
  EXPECT_EQ(key, reg.CurrentPath()) << "a failed open keeps the current key";
  EXPECT_TRUE(reg.KeyExists("\\" + key));

  EXPECT_FALSE(WriteRegText(store, HKEY_LOCAL_MACHINE, key, "EXE", "other"));
  EXPECT_FALSE(DeleteRegValue(store, HKEY_LOCAL_MACHINE, key, "EXE"))
      << "a refused delete is not a success";
  EXPECT_TRUE(DeleteRegValue(store, HKEY_LOCAL_MACHINE, key, "NeverThere"));
  EXPECT_TRUE(DeleteRegValue(store, HKEY_LOCAL_MACHINE, "Software\\NoKey", "X"));
  EXPECT_EQ(before, ReadFileBytes(file));
}

TEST(QLRegistry, OpenKeyPathsNestAndRestartFromTheRoot) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  TQLRegistry reg(store);
  EXPECT_EQ(HKEY_CURRENT_USER, reg.RootKey());
  ASSERT_TRUE(reg.OpenKey("\\Software", true));
  EXPECT_EQ("Software", reg.CurrentPath());
  ASSERT_TRUE(reg.OpenKey("Quillmoor\\Corvale\\", true));
  EXPECT_EQ("Software\\Quillmoor\\Corvale", reg.CurrentPath());
  reg.WriteString("Nested", "yes");
  EXPECT_EQ("yes", ReadRegText(store, HKEY_CURRENT_USER, "Software\\Quillmoor\\Corvale", "Nested", ""));
  ASSERT_TRUE(reg.OpenKey("", false));
  EXPECT_EQ("Software\\Quillmoor\\Corvale", reg.CurrentPath()) << "an empty path reopens the key";
  EXPECT_TRUE(reg.KeyExists("\\Software\\Quillmoor"));
  EXPECT_FALSE(reg.KeyExists("Quillmoor")) << "relative to the current key";
  EXPECT_FALSE(reg.OpenKey("Missing", false));

  ASSERT_TRUE(reg.OpenKey("\\Other", true));
  EXPECT_EQ("Other", reg.CurrentPath());
  EXPECT_FALSE(RegKeyExists(store, HKEY_CURRENT_USER, "Software\\Quillmoor\\Corvale\\Other"));
  ASSERT_TRUE(reg.OpenKey("\\", false));
  EXPECT_EQ("", reg.CurrentPath());
  std::vector<std::string> keys;
  reg.GetKeyNames(keys);
  EXPECT_EQ((std::vector<std::string>{"Other", "Software"}), keys);

  reg.SetRootKey(HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(reg.CurrentKey().IsOpen()) << "a new root closes the key";
  EXPECT_EQ("", reg.CurrentPath());
  EXPECT_FALSE(reg.ValueExists("Nested"));
  EXPECT_EQ("Failed to set data for 'Nested'", ErrorOf([&] { reg.WriteString("Nested", "x"); }));
  EXPECT_FALSE(reg.OpenKey("Software\\Quillmoor\\Corvale", false));

  reg.SetRootKey(HKEY_CURRENT_USER);
  ASSERT_TRUE(reg.OpenKey("Software", false));
  EXPECT_TRUE(reg.DeleteKey("Quillmoor"));
  EXPECT_FALSE(RegKeyExists(store, HKEY_CURRENT_USER, "Software\\Quillmoor\\Corvale"));
  reg.SetLazyWrite(false);
  reg.CloseKey();
  EXPECT_EQ("", reg.CurrentPath());
}

TEST(QLRegistry, TypedReadsCheckTypeAndSize) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  TQLRegistry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Types", true));

  std::string text;
  for (int c = 1; c <= 255; ++c) text += static_cast<char>(c);
  reg.WriteString("Text", text);
  EXPECT_EQ(text, reg.ReadString("Text"));
  EXPECT_EQ(TRegDataType::rdString, reg.GetDataType("Text"));
  reg.WriteExpandString("Expand", "%HOME%/x");
  EXPECT_EQ("%HOME%/x", reg.ReadString("Expand"));
  EXPECT_EQ(TRegDataType::rdExpandString, reg.GetDataType("Expand"));
  reg.WriteString("Cut", std::string("ab\0cd", 5));
  EXPECT_EQ("ab", reg.ReadString("Cut"));

  reg.WriteInteger("Int", -7);
  EXPECT_EQ(-7, reg.ReadInteger("Int"));
  EXPECT_EQ(TRegDataType::rdInteger, reg.GetDataType("Int"));
  EXPECT_EQ("Invalid data type for 'Int'", ErrorOf([&] { reg.ReadString("Int"); }));
  EXPECT_EQ("Failed to get data for 'None'", ErrorOf([&] { reg.ReadInteger("None"); }));
  EXPECT_EQ("Invalid data type for 'Text'", ErrorOf([&] { reg.ReadInteger("Text"); }));

  reg.WriteFloat("Float", 1.0 / 3);
  EXPECT_EQ(1.0 / 3, reg.ReadFloat("Float"));
  EXPECT_EQ(TRegDataType::rdBinary, reg.GetDataType("Float"));
  EXPECT_EQ("Failed to get data for 'None'", ErrorOf([&] { reg.ReadFloat("None"); }));
  EXPECT_EQ("Invalid data type for 'Text'", ErrorOf([&] { reg.ReadFloat("Text"); }));

  unsigned char bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(i);
  reg.WriteBinaryData("Bin", bytes, 256);
  unsigned char back[256] = {};
  EXPECT_EQ(256, reg.ReadBinaryData("Bin", back, 256));
  EXPECT_EQ(0, memcmp(bytes, back, 256));
  EXPECT_EQ("Invalid data type for 'Bin'", ErrorOf([&] { reg.ReadBinaryData("Bin", back, 255); }));
  EXPECT_EQ("Invalid data type for 'Bin'", ErrorOf([&] { reg.ReadFloat("Bin"); }));
  EXPECT_EQ("Invalid data type for 'Text'", ErrorOf([&] { reg.ReadBinaryData("Text", back, 256); }));
  EXPECT_EQ(0, reg.ReadBinaryData("None", back, 256));
  EXPECT_EQ("Invalid data type for 'Bin'", ErrorOf([&] { reg.ReadString("Bin"); }));
  reg.WriteBinaryData("EmptyBin", nullptr, 0);
  EXPECT_EQ("", reg.ReadString("EmptyBin")) << "an empty value of any type reads as empty text";
  EXPECT_EQ(TRegDataType::rdUnknown, reg.GetDataType("None"));

  std::vector<std::string> names;
  reg.GetValueNames(names);
  EXPECT_EQ((std::vector<std::string>{"Text", "Expand", "Cut", "Int", "Float", "Bin", "EmptyBin"}), names);
  TRegKeyInfo info;
  ASSERT_TRUE(reg.GetKeyInfo(info));
  EXPECT_EQ(7u, info.NumValues);
  EXPECT_EQ(256u, info.MaxDataLen);
  EXPECT_TRUE(reg.DeleteValue("Cut"));
  EXPECT_FALSE(reg.DeleteValue("Cut"));
  reg.CloseKey();
  EXPECT_FALSE(reg.GetKeyInfo(info));
  reg.GetValueNames(names);
  EXPECT_TRUE(names.empty());
}

// The forms for callers that only want a fallback answer where the others raise.
TEST(QLRegistry, TryFormsAnswerWhereTheTypedCallsRaise) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  TQLRegistry reg(store);
  EXPECT_FALSE(reg.TryWriteString("NoKey", "x")) << "no key is open";
  EXPECT_FALSE(reg.TryWriteFloat("NoKey", 1));
  ASSERT_TRUE(reg.OpenKey("Software\\Try", true));
  ASSERT_TRUE(reg.TryWriteString("Text", std::string("ab\0cd", 5)));
  ASSERT_TRUE(reg.TryWriteFloat("Float", 0.25));
  reg.WriteInteger("Int", 3);
  EXPECT_EQ(reg.TryReadString("Text"), std::optional<std::string>("ab"));
  EXPECT_EQ(reg.TryReadString("None"), std::optional<std::string>(""));
  EXPECT_EQ(reg.TryReadString("Int"), std::nullopt);
  EXPECT_EQ(reg.TryReadFloat("Float"), std::optional<double>(0.25));
  EXPECT_EQ(reg.TryReadFloat("None"), std::nullopt);
  EXPECT_EQ(reg.TryReadFloat("Text"), std::nullopt);
}

TEST(QLRegistry, HelpersUseTheEnvironmentAndAnswerCommonAppData) {
  TTempDir dir, data;
  TScopedEnv reg("CORVALE_REGISTRY_DIR", dir.Path());
  TScopedEnv dataDir("CORVALE_DATA_DIR", data.Path());
  EXPECT_TRUE(WriteRegText(HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE", "/bin/x"));
  EXPECT_TRUE(ReadFileBytes(dir.File("HKEY_LOCAL_MACHINE.reg")).find("/bin/x") != std::string::npos);
  EXPECT_EQ("/bin/x", ReadRegText(HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE", ""));
  EXPECT_TRUE(WriteRegFloat(HKEY_CURRENT_USER, "K", "F", 4.0));
  EXPECT_EQ(4.0, ReadRegFloat(HKEY_CURRENT_USER, "K", "F", 0));
  EXPECT_TRUE(RegValueExists(HKEY_CURRENT_USER, "K", "F"));
  EXPECT_TRUE(DeleteRegValue(HKEY_CURRENT_USER, "K", "F"));
  EXPECT_FALSE(RegValueExists(HKEY_CURRENT_USER, "K", "F"));
  EXPECT_TRUE(RegKeyExists(HKEY_CURRENT_USER, "K"));

  EXPECT_EQ(data.Path(), ReadRegText(HKEY_LOCAL_MACHINE, ShellFoldersKey, CommonAppDataValue, ""));
  EXPECT_TRUE(RegValueExists(HKEY_LOCAL_MACHINE, ShellFoldersKey, CommonAppDataValue));
  EXPECT_FALSE(WriteRegText(HKEY_LOCAL_MACHINE, ShellFoldersKey, CommonAppDataValue, "/x"));
  TScopedEnv noData("CORVALE_DATA_DIR", "");
  if (geteuid() == 0)
    EXPECT_EQ("/var/lib", ReadRegText(HKEY_LOCAL_MACHINE, ShellFoldersKey, CommonAppDataValue, ""));
  else
    EXPECT_EQ(TRegistryStore::CommonAppDataFolder(),
              ReadRegText(HKEY_LOCAL_MACHINE, ShellFoldersKey, CommonAppDataValue, ""));
}
