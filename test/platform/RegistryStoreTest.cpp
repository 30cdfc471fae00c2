#include "platform/TRegistryStore.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

namespace {

std::string Sz(const std::string& text) { return text + '\0'; }

std::string AllBytesFrom(int first) {
  std::string s;
  for (int c = first; c <= 255; ++c) s += static_cast<char>(c);
  return s;
}

std::string Query(TRegistryStore& store, HKEY root, const std::string& path,
                  const std::string& name, std::uint32_t* typeOut = nullptr) {
  TRegKey key;
  if (store.OpenKey(root, path, KEY_READ, key) != 0) return "<no key>";
  std::uint32_t type = 0;
  std::string data;
  if (store.QueryValue(key, name, type, data) != 0) return "<no value>";
  if (typeOut) *typeOut = type;
  return data;
}

int Set(TRegistryStore& store, HKEY root, const std::string& path, const std::string& name,
        std::uint32_t type, const std::string& data) {
  TRegKey key;
  int rc = store.CreateKey(root, path, KEY_ALL_ACCESS, key);
  return rc ? rc : store.SetValue(key, name, type, data);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(RegistryStore, TypedValuesAndOddNamesSurviveTheFile) {
  TTempDir dir;
  const std::string oddKey = "K" + AllBytesFrom(1).substr(0, 0x5B) + AllBytesFrom(0x5D);  // all but "\"
  const std::string oddName = AllBytesFrom(1);
  {
    TRegistryStore writer(dir.Path());
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE", REG_SZ,
                     Sz("/usr/bin/corvale")));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Text", REG_SZ,
                     Sz(AllBytesFrom(1))));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Path",
                     REG_EXPAND_SZ, Sz("%SystemRoot%\\x")));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Num", REG_DWORD,
                     std::string("\x2a\x00\x00\x80", 4)));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Bin", REG_BINARY,
                     AllBytesFrom(0)));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Empty",
                     REG_BINARY, ""));
    // Shapes with no short form: a text without its zero, a short dword, a foreign type.
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Odd", "NoZero", REG_SZ, "abc"));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Odd", "Short", REG_DWORD, "\x01"));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Odd", "Multi", 7, Sz("a") + Sz("b")));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\" + oddKey, oddName, REG_SZ, Sz("x")));
    ASSERT_EQ(0, Set(writer, HKEY_LOCAL_MACHINE, "Software\\Odd", "", REG_SZ, Sz("default")));
    ASSERT_EQ(0, Set(writer, HKEY_CURRENT_USER, "Software", "Who", REG_SZ, Sz("user")));
  }

  std::string text = ReadFileBytes(dir.File("HKEY_LOCAL_MACHINE.reg"));
  EXPECT_NE(text.find("[Software\\Quillmoor\\Corvale]\n\"EXE\"=sz:\"/usr/bin/corvale\"\n"),
            std::string::npos) << text;
  EXPECT_NE(text.find("\"Num\"=dword:8000002a\n"), std::string::npos);
  EXPECT_NE(text.find("\"Empty\"=hex:\n"), std::string::npos);
  EXPECT_EQ(text.find("Who"), std::string::npos) << "each root has its own file";

  TRegistryStore reader(dir.Path());
  const std::string corvale = "software\\QUILLMOOR\\corvale";  // keys ignore case
  std::uint32_t type = 0;
  EXPECT_EQ(Sz(AllBytesFrom(1)), Query(reader, HKEY_LOCAL_MACHINE, corvale, "TEXT", &type));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(Sz("%SystemRoot%\\x"), Query(reader, HKEY_LOCAL_MACHINE, corvale, "Path", &type));
  EXPECT_EQ(REG_EXPAND_SZ, type);
  EXPECT_EQ(std::string("\x2a\x00\x00\x80", 4), Query(reader, HKEY_LOCAL_MACHINE, corvale, "Num", &type));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(AllBytesFrom(0), Query(reader, HKEY_LOCAL_MACHINE, corvale, "Bin", &type));
  EXPECT_EQ(REG_BINARY, type);
  EXPECT_EQ("", Query(reader, HKEY_LOCAL_MACHINE, corvale, "Empty"));
  EXPECT_EQ("abc", Query(reader, HKEY_LOCAL_MACHINE, "Software\\Odd", "NoZero", &type));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ("\x01", Query(reader, HKEY_LOCAL_MACHINE, "Software\\Odd", "Short", &type));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(Sz("a") + Sz("b"), Query(reader, HKEY_LOCAL_MACHINE, "Software\\Odd", "Multi", &type));
  EXPECT_EQ(7u, type);
  EXPECT_EQ(Sz("default"), Query(reader, HKEY_LOCAL_MACHINE, "Software\\Odd", ""));
  EXPECT_EQ(Sz("x"), Query(reader, HKEY_LOCAL_MACHINE, "Software\\" + oddKey, oddName));
  EXPECT_EQ(Sz("user"), Query(reader, HKEY_CURRENT_USER, "Software", "Who"));

  TRegKey software;
  ASSERT_EQ(0, reader.OpenKey(HKEY_LOCAL_MACHINE, "Software", KEY_READ, software));
  std::vector<std::string> names;
  EXPECT_EQ(0, reader.EnumKeyNames(software, names));
  EXPECT_NE(std::find(names.begin(), names.end(), oddKey), names.end());
  TRegKey corvaleKey;
  ASSERT_EQ(0, reader.OpenKey(software, "Quillmoor\\Corvale", KEY_READ, corvaleKey));
  EXPECT_EQ(0, reader.EnumValueNames(corvaleKey, names));
  EXPECT_EQ((std::vector<std::string>{"EXE", "Text", "Path", "Num", "Bin", "Empty"}), names)
      << "values keep their creation order";
  TRegKeyInfo info;
  EXPECT_EQ(0, reader.QueryInfoKey(corvaleKey, info));
  EXPECT_EQ(0u, info.NumSubKeys);
  EXPECT_EQ(6u, info.NumValues);
  EXPECT_EQ(5u, info.MaxValueLen);
  EXPECT_EQ(256u, info.MaxDataLen);
}

TEST(RegistryStore, HandlesRightsAndMissingKeys) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  TRegKey key;
  EXPECT_EQ(2, store.OpenKey(HKEY_CURRENT_USER, "Software\\Nope", KEY_READ, key));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(6, store.OpenKey(HKEY{0x80000000u}, "", KEY_READ, key)) << "unknown root";
  TRegKeyInfo info;
  EXPECT_EQ(6, store.QueryInfoKey(TRegKey(), info)) << "closed handle";

  bool created = false;
  ASSERT_EQ(0, store.CreateKey(HKEY_CURRENT_USER, "A\\\\B\\", KEY_ALL_ACCESS, key, &created));
  EXPECT_TRUE(created);
  EXPECT_EQ((std::vector<std::string>{"A", "B"}), key.Path()) << "empty parts are skipped";
  ASSERT_EQ(0, store.CreateKey(HKEY_CURRENT_USER, "a\\b", KEY_ALL_ACCESS, key, &created));
  EXPECT_FALSE(created);

  TRegKey queryOnly;
  ASSERT_EQ(0, store.OpenKey(HKEY_CURRENT_USER, "A\\B", KEY_QUERY_VALUE, queryOnly));
  std::vector<std::string> names;
  EXPECT_EQ(5, store.SetValue(queryOnly, "v", REG_SZ, Sz("x")));
  EXPECT_EQ(5, store.EnumKeyNames(queryOnly, names));
  EXPECT_EQ(0, store.EnumValueNames(queryOnly, names));
  EXPECT_EQ(0, store.SetValue(key, "v", REG_SZ, Sz("x")));
  EXPECT_EQ(2, store.DeleteValue(key, "other"));

  // A handle whose key was deleted never brings it back.
  TRegKey a;
  ASSERT_EQ(0, store.OpenKey(HKEY_CURRENT_USER, "A", KEY_ALL_ACCESS, a));
  EXPECT_EQ(0, store.DeleteKey(HKEY_CURRENT_USER, "a"));
  EXPECT_EQ(2, store.DeleteKey(HKEY_CURRENT_USER, "a"));
  std::uint32_t type;
  std::string data;
  EXPECT_EQ(2, store.QueryValue(key, "v", type, data));
  EXPECT_EQ(2, store.SetValue(key, "v", REG_SZ, Sz("y")));
  EXPECT_EQ(2, store.OpenKey(a, "B", KEY_READ, key));
  EXPECT_EQ(2, store.FlushKey(a));
  EXPECT_EQ(5, store.DeleteKey(HKEY_CURRENT_USER, "")) << "a root cannot be deleted";
}

TEST(RegistryStore, ReadOnlyRootFileOpensForReadingOnly) {
  TTempDir dir;
  TRegistryStore store(dir.Path());
  ASSERT_EQ(0, Set(store, HKEY_LOCAL_MACHINE, "Software\\Q", "X", REG_SZ, Sz("old")));
  const std::string file = store.RootFile(HKEY_LOCAL_MACHINE);
  ASSERT_EQ(0, chmod(file.c_str(), 0444));
  const std::string before = ReadFileBytes(file);

  EXPECT_FALSE(store.RootWritable(HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(store.RootWritable(HKEY_CURRENT_USER)) << "only that root is read-only";
  TRegKey key;
  EXPECT_EQ(5, store.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Q", KEY_ALL_ACCESS, key));
  EXPECT_EQ(5, store.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Q", KEY_SET_VALUE | KEY_QUERY_VALUE, key));
  EXPECT_EQ(5, store.CreateKey(HKEY_LOCAL_MACHINE, "Software\\New", KEY_READ, key));
  ASSERT_EQ(0, store.CreateKey(HKEY_LOCAL_MACHINE, "Software\\Q", KEY_READ, key))
      << "creating an existing key only opens it";
  EXPECT_EQ(Sz("old"), Query(store, HKEY_LOCAL_MACHINE, "Software\\Q", "X"));
  // The root handle carries all rights; the file still refuses.
  EXPECT_EQ(5, store.SetValue(HKEY_LOCAL_MACHINE, "X", REG_SZ, Sz("new")));
  EXPECT_EQ(5, store.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Q"));
  EXPECT_EQ(before, ReadFileBytes(file));

  // Writes keep the file's own mode.
  ASSERT_EQ(0, chmod(file.c_str(), 0640));
  EXPECT_EQ(0, Set(store, HKEY_LOCAL_MACHINE, "Software\\Q", "X", REG_SZ, Sz("new")));
  struct stat st;
  ASSERT_EQ(0, stat(file.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
}

TEST(RegistryStore, TwoStoresSeeEachOthersWritesAndLeaveNoTempFiles) {
  TTempDir dir;
  TRegistryStore service(dir.Path()), program(dir.Path());
  EXPECT_EQ("<no key>", Query(program, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE"));
  ASSERT_EQ(0, Set(service, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE", REG_SZ, Sz("a")));
  EXPECT_EQ(Sz("a"), Query(program, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE"));
  // Each store re-reads before it writes, so neither undoes the other's change.
  ASSERT_EQ(0, Set(program, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Other", REG_SZ, Sz("b")));
  ASSERT_EQ(0, Set(service, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE", REG_SZ, Sz("c")));
  EXPECT_EQ(Sz("c"), Query(program, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE"));
  EXPECT_EQ(Sz("b"), Query(service, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Other"));
  TRegKey key;
  ASSERT_EQ(0, program.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", KEY_ALL_ACCESS, key));
  ASSERT_EQ(0, program.DeleteValue(key, "exe"));
  EXPECT_EQ("<no value>", Query(service, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "EXE"));
  // A file removed from outside reads as empty again.
  std::filesystem::remove(dir.File("HKEY_LOCAL_MACHINE.reg"));
  EXPECT_EQ("<no key>", Query(service, HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\Corvale", "Other"));

  ASSERT_EQ(0, Set(service, HKEY_CURRENT_CONFIG, "S", "V", REG_SZ, Sz("1")));
  EXPECT_EQ((std::vector<std::string>{"HKEY_CURRENT_CONFIG.reg", "HKEY_CURRENT_CONFIG.reg.lock",
                                      "HKEY_LOCAL_MACHINE.reg.lock"}),
            FolderEntries(dir.Path()));
}

TEST(RegistryStore, DamagedFileKeepsEveryLineAndTheGoodKeys) {
  TTempDir dir;
  const std::string file = dir.File("HKEY_CURRENT_USER.reg");
  const std::string damaged =
      "garbage before any key\n"
      "[Good\\One]\r\n"
      "\"A\"=sz:\"alpha\"\r\n"
      "\"B\"=dword:xyz\n"
      "\"C\"=hex:0g\n"
      "\"D\"=sz:\"bad %zz escape\"\n"
      "[Broken\\Key\n"
      "\"InBroken\"=sz:\"kept\"\n"
      "[Good\\Two]\n"
      "\"Z\"=hex:01,02\n"
      "\"N\"=sz:\"nul" + std::string(1, '\0') + "inside\"\n"
      "\"z\"=hex:03\n";
  WriteFileBytes(file, damaged);

  TRegistryStore store(dir.Path());
  testing::internal::CaptureStderr();
  EXPECT_EQ(Sz("alpha"), Query(store, HKEY_CURRENT_USER, "Good\\One", "A"));
  std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find("line 4: bad dword"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("line 7: unreadable key line"), std::string::npos) << warnings;
  EXPECT_EQ("<no value>", Query(store, HKEY_CURRENT_USER, "Good\\One", "InBroken"))
      << "a value under a broken key line must not move to the key before it";
  EXPECT_EQ("\x01\x02", Query(store, HKEY_CURRENT_USER, "Good\\Two", "Z"))
      << "the first of two counts";

  ASSERT_EQ(0, Set(store, HKEY_CURRENT_USER, "Good\\Two", "New", REG_SZ, Sz("n")));
  std::string rewritten = ReadFileBytes(file);
  for (const char* kept : {"garbage before any key", "\"B\"=dword:xyz", "\"C\"=hex:0g",
                           "[Broken\\Key", "\"InBroken\"=sz:\"kept\"", "\"z\"=hex:03", "\"D\"=sz:\"bad %zz escape\""})
    EXPECT_NE(rewritten.find(kept), std::string::npos) << kept << " lost from\n" << rewritten;
  EXPECT_EQ(Sz(std::string("nul\0inside", 10)), Query(store, HKEY_CURRENT_USER, "Good\\Two", "N"));

  // Writing again must not duplicate or reshuffle what was kept.
  TRegistryStore other(dir.Path());
  testing::internal::CaptureStderr();
  ASSERT_EQ(0, Set(other, HKEY_CURRENT_USER, "Good\\Two", "New", REG_SZ, Sz("n")));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(rewritten, ReadFileBytes(file));
  EXPECT_EQ(Sz("alpha"), Query(other, HKEY_CURRENT_USER, "Good\\One", "A"));
  EXPECT_EQ(Sz("n"), Query(other, HKEY_CURRENT_USER, "Good\\Two", "New"));
}

TEST(RegistryStore, AnswersCommonAppDataWithoutStoringIt) {
  TTempDir dir;
  const std::string shellFolders = ShellFoldersKey;
  {
    TScopedEnv data("CORVALE_DATA_DIR", "/srv/corvale-data//");
    TRegistryStore store(dir.Path());
    std::uint32_t type = 0;
    EXPECT_EQ(Sz("/srv/corvale-data"), Query(store, HKEY_LOCAL_MACHINE, shellFolders, "common appdata", &type));
    EXPECT_EQ(REG_SZ, type);
    EXPECT_EQ("<no key>", Query(store, HKEY_CURRENT_USER, shellFolders, CommonAppDataValue));

    TRegKey software, shell;
    ASSERT_EQ(0, store.OpenKey(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ, software));
    std::vector<std::string> names;
    EXPECT_EQ(0, store.EnumKeyNames(software, names));
    EXPECT_EQ(std::vector<std::string>{"Microsoft"}, names);
    ASSERT_EQ(0, store.OpenKey(HKEY_LOCAL_MACHINE, shellFolders, KEY_ALL_ACCESS, shell));
    EXPECT_EQ(5, store.SetValue(shell, CommonAppDataValue, REG_SZ, Sz("/elsewhere")));
    EXPECT_EQ(5, store.DeleteValue(shell, CommonAppDataValue));
    EXPECT_EQ(5, store.DeleteKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("HKEY_LOCAL_MACHINE.reg")));
    // Other values of that key are stored as usual.
    ASSERT_EQ(0, store.SetValue(shell, "Personal", REG_SZ, Sz("/home/x")));
    EXPECT_EQ(0, store.EnumValueNames(shell, names));
    EXPECT_EQ((std::vector<std::string>{"Personal", "Common AppData"}), names);
    EXPECT_EQ(std::string::npos, ReadFileBytes(dir.File("HKEY_LOCAL_MACHINE.reg")).find("Common"));
  }
  TScopedEnv noData("CORVALE_DATA_DIR", "");
  TScopedEnv xdg("XDG_DATA_HOME", "/xdg/data");
  EXPECT_EQ(geteuid() == 0 ? "/var/lib" : "/xdg/data", TRegistryStore::CommonAppDataFolder());
}

TEST(RegistryStore, DefaultFilePlaces) {
  {
    TScopedEnv reg("CORVALE_REGISTRY_DIR", "/r");
    EXPECT_EQ("/r/HKEY_CURRENT_USER.reg", TRegistryStore::DefaultRootFile(HKEY_CURRENT_USER));
    EXPECT_EQ("/r/HKEY_CURRENT_CONFIG.reg", TRegistryStore::DefaultRootFile(HKEY_CURRENT_CONFIG));
  }
  TScopedEnv noReg("CORVALE_REGISTRY_DIR", "");
  TScopedEnv config("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ("/var/lib/corvale/registry/HKEY_LOCAL_MACHINE.reg",
            TRegistryStore::DefaultRootFile(HKEY_LOCAL_MACHINE));
  EXPECT_EQ("/cfg/corvale/registry/HKEY_CURRENT_USER.reg",
            TRegistryStore::DefaultRootFile(HKEY_CURRENT_USER));
  TScopedEnv relative("XDG_CONFIG_HOME", "relative");
  TScopedEnv home("HOME", "/home/u");
  EXPECT_EQ("/home/u/.config/corvale/registry/HKEY_CURRENT_USER.reg",
            TRegistryStore::DefaultRootFile(HKEY_CURRENT_USER));
  EXPECT_EQ("", TRegistryStore::DefaultRootFile(HKEY{0x80000003u}));
}

TEST(RegistryStore, ConcurrentWritersInTwoProcessesLoseNothing) {
  TTempDir dir;
  constexpr int Count = 60;
  int go[2];
  ASSERT_EQ(0, pipe(go));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c;
    close(go[1]);
    if (read(go[0], &c, 1) != 1) _exit(3);
    TRegistryStore store(dir.Path());
    for (int i = 0; i < Count; ++i)
      if (Set(store, HKEY_LOCAL_MACHINE, "Software\\Race", "child" + std::to_string(i), REG_SZ, Sz("c")) != 0)
        _exit(1);
    _exit(0);
  }
  close(go[0]);
  TRegistryStore store(dir.Path());
  ASSERT_EQ(1, write(go[1], "x", 1));
  close(go[1]);
  for (int i = 0; i < Count; ++i)
    EXPECT_EQ(0, Set(store, HKEY_LOCAL_MACHINE, "Software\\Race", "parent" + std::to_string(i), REG_SZ, Sz("p")));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));

  TRegistryStore reader(dir.Path());
  TRegKey key;
  ASSERT_EQ(0, reader.OpenKey(HKEY_LOCAL_MACHINE, "Software\\Race", KEY_READ, key));
  TRegKeyInfo info;
  ASSERT_EQ(0, reader.QueryInfoKey(key, info));
  EXPECT_EQ(2u * Count, info.NumValues);
  EXPECT_EQ(Sz("c"), Query(reader, HKEY_LOCAL_MACHINE, "Software\\Race", "child" + std::to_string(Count - 1)));
}

TEST(RegistryStore, KeyNameWithBackslashSurvivesRewritesAndNewFilesArePrivate) {
  TTempDir dir;
  const std::string file = dir.File("HKEY_CURRENT_USER.reg");
  WriteFileBytes(file, "[Software\\Odd%5cName]\n\"V\"=sz:\"1\"\n");
  ::chmod(file.c_str(), 0644);
  TRegistryStore store(dir.Path());
  TRegKey software;
  ASSERT_EQ(0, store.OpenKey(HKEY_CURRENT_USER, "Software", KEY_READ, software));
  std::vector<std::string> names;
  ASSERT_EQ(0, store.EnumKeyNames(software, names));
  EXPECT_EQ(names, std::vector<std::string>{"Odd\\Name"});
  // A rewrite keeps the one key with its "\", and the existing file keeps its mode.
  ASSERT_EQ(0, Set(store, HKEY_CURRENT_USER, "Software\\Other", "W", REG_SZ, Sz("2")));
  EXPECT_NE(ReadFileBytes(file).find("[Software\\Odd%5cName]\n\"V\"=sz:\"1\"\n"), std::string::npos)
      << ReadFileBytes(file);
  TRegistryStore reader(dir.Path());
  ASSERT_EQ(0, reader.OpenKey(HKEY_CURRENT_USER, "Software", KEY_READ, software));
  ASSERT_EQ(0, reader.EnumKeyNames(software, names));
  EXPECT_EQ(names, (std::vector<std::string>{"Odd\\Name", "Other"}));
  struct stat st {};
  ASSERT_EQ(0, ::stat(file.c_str(), &st));
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  // A new file may come to hold scrambled passwords: its owner's only.
  ASSERT_EQ(0, Set(store, HKEY_LOCAL_MACHINE, "Software", "X", REG_SZ, Sz("3")));
  ASSERT_EQ(0, ::stat(dir.File("HKEY_LOCAL_MACHINE.reg").c_str(), &st));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}
