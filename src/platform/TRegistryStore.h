#pragma once
// The registry stand-in: a file-backed key store, one file per root (see RegistryFile.h
// for the format and README.md for where the files live).
//
// Every change locks the root's file (flock on "<file>.lock"), re-reads it when another
// process changed it, writes a temporary file in the same folder, syncs it and renames
// it over the old one, so readers always see a whole file. Reads re-read the file
// whenever its identity (inode, size, times) changed, so the service and the program see
// each other's writes. A root is read-only when its file has no write bit at all (even
// for root) or cannot be written; requesting write rights on it gives
// ERROR_ACCESS_DENIED. One store may be used from several threads.
//
// Functions return 0 (ERROR_SUCCESS) or a Windows error code: ERROR_FILE_NOT_FOUND for a
// missing key or value (also for a handle whose key was deleted meanwhile),
// ERROR_ACCESS_DENIED for rights the handle or the root does not give,
// ERROR_INVALID_HANDLE for a closed handle or an unknown root.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

enum class HKEY : std::uint32_t {};
constexpr HKEY HKEY_CURRENT_USER{0x80000001u};
constexpr HKEY HKEY_LOCAL_MACHINE{0x80000002u};
constexpr HKEY HKEY_CURRENT_CONFIG{0x80000005u};

using REGSAM = std::uint32_t;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
// The rights that change a root: set value, create subkey or link, delete, and the
// security-descriptor rights.
constexpr REGSAM KEY_MODIFY_RIGHTS = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | 0xD0000;

constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;

// The shell-folders key whose value "Common AppData" the store answers itself.
constexpr const char* ShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* CommonAppDataValue = "Common AppData";

// An open key: which root, the path below it, and the rights it was opened with. A root
// converts to an open handle of itself with all rights, as the predefined keys do.
class TRegKey {
public:
  TRegKey() = default;
  TRegKey(HKEY root) : FRoot(root), FAccess(KEY_ALL_ACCESS), FOpen(true) {}
  bool IsOpen() const { return FOpen; }
  HKEY Root() const { return FRoot; }
  // The parts of the key's path below the root, spelled as given when it was opened.
  const std::vector<std::string>& Path() const { return FPath; }
  REGSAM Access() const { return FAccess; }
private:
  friend class TRegistryStore;
  HKEY FRoot{};
  std::vector<std::string> FPath;
  REGSAM FAccess = 0;
  bool FOpen = false;
};

struct TRegKeyInfo {
  std::uint32_t NumSubKeys = 0;
  std::uint32_t MaxSubKeyLen = 0;  // longest subkey name, characters
  std::uint32_t NumValues = 0;
  std::uint32_t MaxValueLen = 0;   // longest value name, characters
  std::uint32_t MaxDataLen = 0;    // largest value data, bytes
};

struct TRegNode;
struct stat;

class TRegistryStore {
public:
  // The roots in their usual places: CORVALE_REGISTRY_DIR when set, else the system
  // and user folders (read at construction).
  TRegistryStore();
  // All roots in the one folder.
  explicit TRegistryStore(const std::string& folder);
  ~TRegistryStore();
  TRegistryStore(const TRegistryStore&) = delete;
  TRegistryStore& operator=(const TRegistryStore&) = delete;

  // The file of a root in its usual place; empty for an unknown root.
  static std::string DefaultRootFile(HKEY root);
  // What the store answers for "Common AppData": CORVALE_DATA_DIR when set, else
  // /var/lib for root and the XDG data home for others; no trailing "/".
  static std::string CommonAppDataFolder();

  std::string RootFile(HKEY root) const;
  // False when the root's file (or, before it exists, its folder) cannot be written.
  bool RootWritable(HKEY root) const;

  // Opens an existing key below base ("" opens base itself). Fails with
  // ERROR_ACCESS_DENIED when access asks for modify rights on a read-only root.
  int OpenKey(const TRegKey& base, std::string_view subKey, REGSAM access, TRegKey& key);
  // Opens the key, creating it and any missing parents; created tells which happened.
  int CreateKey(const TRegKey& base, std::string_view subKey, REGSAM access, TRegKey& key,
                bool* created = nullptr);
  void CloseKey(TRegKey& key);
  // Removes the key below base with all its subkeys and values.
  int DeleteKey(const TRegKey& base, std::string_view subKey);

  int QueryValue(const TRegKey& key, std::string_view name, std::uint32_t& type,
                 std::string& data);
  int SetValue(const TRegKey& key, std::string_view name, std::uint32_t type,
               std::string_view data);
  int DeleteValue(const TRegKey& key, std::string_view name);
  int EnumValueNames(const TRegKey& key, std::vector<std::string>& names);
  int EnumKeyNames(const TRegKey& key, std::vector<std::string>& names);
  int QueryInfoKey(const TRegKey& key, TRegKeyInfo& info);
  // Changes are on disk when each call returns; this only checks the handle.
  int FlushKey(const TRegKey& key);

private:
  struct TFileStamp {
    std::uint64_t Dev = 0, Ino = 0, Size = 0;
    std::int64_t MTimeNs = 0, CTimeNs = 0;
    bool Exists = false;
    bool operator==(const TFileStamp&) const = default;
  };
  struct TRoot {
    std::string File;
    std::unique_ptr<TRegNode> Tree;
    TFileStamp Stamp;
    bool Loaded = false;
    std::vector<std::string> LastWarnings;  // reported once, not on every re-read
  };
  // Edits the tree of a locked, freshly read root; returns an error code and sets
  // changed when the file must be written.
  using TEdit = std::function<int(TRegNode& tree, bool& changed)>;

  static TFileStamp StampOf(const struct stat& st);
  TRoot* RootOf(HKEY root);
  const TRoot* RootOf(HKEY root) const;
  // The handle is open on a known root and holds the rights in need.
  int CheckHandle(const TRegKey& key, REGSAM need) const;
  int Refresh(TRoot& root);
  // With FLock held, for the remaining calls.
  int Modify(HKEY root, const TEdit& edit);
  int WriteRootFile(TRoot& root);
  // Finds the key of a path after a refresh: node is nullptr for a key that only the
  // store's own answers ("Common AppData") make exist.
  int Lookup(HKEY root, const std::vector<std::string>& path, TRegNode*& node);
  // CheckHandle, then Lookup of the handle's key.
  int LookupKey(const TRegKey& key, REGSAM need, TRegNode*& node);

  std::array<TRoot, 3> FRoots;
  std::mutex FLock;
};
