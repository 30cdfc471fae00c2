#include "platform/TRegistryStore.h"

#include "platform/RegistryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ErrSuccess = 0;
constexpr int ErrFileNotFound = 2;
constexpr int ErrPathNotFound = 3;
constexpr int ErrAccessDenied = 5;
constexpr int ErrInvalidHandle = 6;
constexpr int ErrGenFailure = 31;
constexpr int ErrDiskFull = 112;

const char* RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return nullptr;
}

int RootIndex(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return 0;
  if (root == HKEY_CURRENT_USER) return 1;
  if (root == HKEY_CURRENT_CONFIG) return 2;
  return -1;
}

constexpr HKEY AllRoots[3] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CURRENT_CONFIG};

int CodeFromErrno(int e) {
  switch (e) {
    case EACCES: case EPERM: case EROFS: return ErrAccessDenied;
    case ENOSPC: case EDQUOT: return ErrDiskFull;
    case ENOENT: case ENOTDIR: return ErrPathNotFound;
    default: return ErrGenFailure;
  }
}

std::string EnvText(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string HomeFolder() {
  std::string home = EnvText("HOME");
  if (!home.empty()) return home;
  struct passwd pw, *found = nullptr;
  char buf[4096];
  if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "/";
}

// An XDG base folder: the variable when it holds an absolute path, else HOME + fallback.
std::string XdgFolder(const char* variable, const char* fallback) {
  std::string v = EnvText(variable);
  if (!v.empty() && v[0] == '/') return v;
  return HomeFolder() + fallback;
}

std::string FolderOf(const std::string& file) {
  size_t slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

int MakeFolders(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? ErrSuccess : ErrPathNotFound;
  if (folder != "/" && folder != ".") {
    int rc = MakeFolders(FolderOf(folder));
    if (rc != ErrSuccess) return rc;
  }
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return CodeFromErrno(errno);
  return ErrSuccess;
}

bool FolderWritable(std::string folder) {
  for (;;) {
    if (access(folder.c_str(), F_OK) == 0) return access(folder.c_str(), W_OK) == 0;
    if (folder == "/" || folder == ".") return false;
    folder = FolderOf(folder);
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

int ReadAll(int fd, std::string& text) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return ErrSuccess;
    if (n < 0) {
      if (errno == EINTR) continue;
      return CodeFromErrno(errno);
    }
    text.append(buf, static_cast<size_t>(n));
  }
}

// The keys that exist without being stored: the path to the shell-folders key.
const std::vector<std::string>& ShellFolderParts() {
  static const std::vector<std::string> parts = SplitRegPath(ShellFoldersKey);
  return parts;
}

bool IsVirtualPath(HKEY root, const std::vector<std::string>& path) {
  const auto& parts = ShellFolderParts();
  if (root != HKEY_LOCAL_MACHINE || path.size() > parts.size()) return false;
  for (size_t i = 0; i < path.size(); ++i)
    if (!RegSameName(path[i], parts[i])) return false;
  return true;
}

bool IsCommonAppData(HKEY root, const std::vector<std::string>& path, std::string_view name) {
  return path.size() == ShellFolderParts().size() && IsVirtualPath(root, path) &&
         RegSameName(name, CommonAppDataValue);
}

TRegValue CommonAppDataRecord() {
  return {CommonAppDataValue, REG_SZ, TRegistryStore::CommonAppDataFolder() + '\0'};
}

// The values a key shows: the stored ones and the store's own answers.
std::vector<TRegValue> ValuesOf(HKEY root, const std::vector<std::string>& path,
                                const TRegNode* node) {
  std::vector<TRegValue> values;
  if (node) values = node->Values;
  if (IsCommonAppData(root, path, CommonAppDataValue)) {
    bool replaced = false;
    for (TRegValue& v : values) {
      if (RegSameName(v.Name, CommonAppDataValue)) {
        v = CommonAppDataRecord();
        replaced = true;
      }
    }
    if (!replaced) values.push_back(CommonAppDataRecord());
  }
  return values;
}

std::vector<std::string> SubKeysOf(HKEY root, const std::vector<std::string>& path,
                                   const TRegNode* node) {
  std::vector<std::string> names;
  if (node)
    for (const auto& [folded, child] : node->Children) names.push_back(child->Name);
  const auto& parts = ShellFolderParts();
  if (IsVirtualPath(root, path) && path.size() < parts.size() &&
      !(node && node->FindChild(parts[path.size()])))
    names.push_back(parts[path.size()]);
  return names;
}

std::vector<std::string> JoinPath(const TRegKey& base, std::string_view subKey) {
  std::vector<std::string> path = base.Path();
  for (std::string& part : SplitRegPath(subKey)) path.push_back(std::move(part));
  return path;
}

}  // namespace

TRegistryStore::TRegistryStore() {
  for (HKEY root : AllRoots) FRoots[RootIndex(root)].File = DefaultRootFile(root);
}

TRegistryStore::TRegistryStore(const std::string& folder) {
  for (HKEY root : AllRoots)
    FRoots[RootIndex(root)].File = folder + "/" + RootName(root) + ".reg";
}

TRegistryStore::~TRegistryStore() = default;

std::string TRegistryStore::DefaultRootFile(HKEY root) {
  const char* name = RootName(root);
  if (!name) return "";
  std::string folder = EnvText("CORVALE_REGISTRY_DIR");
  if (folder.empty() && root == HKEY_CURRENT_USER)
    folder = XdgFolder("XDG_CONFIG_HOME", "/.config") + "/corvale/registry";
  else if (folder.empty())
    folder = "/var/lib/corvale/registry";
  return folder + "/" + name + ".reg";
}

std::string TRegistryStore::CommonAppDataFolder() {
  std::string folder = EnvText("CORVALE_DATA_DIR");
  if (folder.empty())
    folder = geteuid() == 0 ? "/var/lib" : XdgFolder("XDG_DATA_HOME", "/.local/share");
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

TRegistryStore::TRoot* TRegistryStore::RootOf(HKEY root) {
  int i = RootIndex(root);
  return i < 0 ? nullptr : &FRoots[i];
}

const TRegistryStore::TRoot* TRegistryStore::RootOf(HKEY root) const {
  int i = RootIndex(root);
  return i < 0 ? nullptr : &FRoots[i];
}

std::string TRegistryStore::RootFile(HKEY root) const {
  const TRoot* r = RootOf(root);
  return r ? r->File : "";
}

bool TRegistryStore::RootWritable(HKEY root) const {
  const TRoot* r = RootOf(root);
  if (!r) return false;
  std::string folder = FolderOf(r->File);
  struct stat st;
  if (stat(r->File.c_str(), &st) != 0) return errno == ENOENT && FolderWritable(folder);
  // access() always answers yes to root, so a file without any write bit is taken as
  // the administrator's way of making a root read-only.
  return (st.st_mode & 0222) != 0 && access(r->File.c_str(), W_OK) == 0 &&
         access(folder.c_str(), W_OK) == 0;
}

int TRegistryStore::CheckHandle(const TRegKey& key, REGSAM need) const {
  if (!key.IsOpen() || !RootOf(key.Root())) return ErrInvalidHandle;
  return (key.Access() & need) == need ? ErrSuccess : ErrAccessDenied;
}

TRegistryStore::TFileStamp TRegistryStore::StampOf(const struct stat& st) {
  TFileStamp t;
  t.Dev = st.st_dev;
  t.Ino = st.st_ino;
  t.Size = static_cast<std::uint64_t>(st.st_size);
  t.MTimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  t.CTimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  t.Exists = true;
  return t;
}

int TRegistryStore::Refresh(TRoot& r) {
  struct stat st;
  if (stat(r.File.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return CodeFromErrno(errno);
    if (!r.Loaded || r.Stamp.Exists) {
      r.Tree = std::make_unique<TRegNode>();
      r.Stamp = TFileStamp{};
      r.Loaded = true;
    }
    return ErrSuccess;
  }
  if (r.Loaded && StampOf(st) == r.Stamp) return ErrSuccess;

  int fd = open(r.File.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CodeFromErrno(errno);
  std::string text;
  int rc = fstat(fd, &st) == 0 ? ReadAll(fd, text) : CodeFromErrno(errno);
  close(fd);
  // Half a file must never be taken for the whole: a later write would drop the rest.
  if (rc != ErrSuccess) return rc;

  std::vector<std::string> warnings;
  r.Tree = ParseRegistryText(text, warnings);
  r.Stamp = StampOf(st);
  r.Loaded = true;
  if (warnings != r.LastWarnings) {
    for (const std::string& w : warnings)
      std::fprintf(stderr, "corvale: registry file %s, %s\n", r.File.c_str(), w.c_str());
    r.LastWarnings = std::move(warnings);
  }
  return ErrSuccess;
}

int TRegistryStore::WriteRootFile(TRoot& r) {
  std::string folder = FolderOf(r.File);
  std::string base = r.File.substr(r.File.rfind('/') + 1);
  std::string title = base + ": registry of Corvale; comments are not kept";
  std::string text = FormatRegistryText(*r.Tree, title);

  std::string temp = folder + "/." + base + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return CodeFromErrno(errno);
  struct stat old;
  if (stat(r.File.c_str(), &old) == 0) {
    fchmod(fd, old.st_mode & 07777);
    // A root-run tool must not take the user's own file away from them.
    int kept = geteuid() == 0 ? fchown(fd, old.st_uid, old.st_gid) : 0;
    (void)kept;
  } else {
    // Values may hold scrambled passwords: a new file is for its owner only.
    fchmod(fd, 0600);
  }
  // Like the system registry, writes are lazy: the rename keeps the file whole if the
  // program dies, and FlushKey makes it durable against a crash of the machine. Syncing
  // every write would cost a disk flush for each status trace.
  bool ok = WriteAll(fd, text);
  int err = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && rename(temp.c_str(), r.File.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    return CodeFromErrno(err);
  }
  // Still under the lock: the file is the tree just written, so only its stamp is new.
  struct stat st;
  if (stat(r.File.c_str(), &st) != 0) return CodeFromErrno(errno);
  r.Stamp = StampOf(st);
  return ErrSuccess;
}

int TRegistryStore::Modify(HKEY root, const TEdit& edit) {
  if (!RootWritable(root)) return ErrAccessDenied;
  TRoot& r = *RootOf(root);
  int rc = MakeFolders(FolderOf(r.File));
  if (rc != ErrSuccess) return rc;
  std::string lockFile = r.File + ".lock";
  int fd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EACCES) fd = open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CodeFromErrno(errno);
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      rc = CodeFromErrno(errno);
      close(fd);
      return rc;
    }
  }
  rc = Refresh(r);
  if (rc == ErrSuccess) {
    bool changed = false;
    rc = edit(*r.Tree, changed);
    if (rc == ErrSuccess && changed) rc = WriteRootFile(r);
    if (rc != ErrSuccess) r.Loaded = false;  // the tree may hold an edit the file lacks
  }
  close(fd);  // releases the lock
  return rc;
}

int TRegistryStore::Lookup(HKEY root, const std::vector<std::string>& path, TRegNode*& node) {
  TRoot& r = *RootOf(root);
  int rc = Refresh(r);
  if (rc != ErrSuccess) return rc;
  node = r.Tree->Find(path);
  return node || IsVirtualPath(root, path) ? ErrSuccess : ErrFileNotFound;
}

int TRegistryStore::LookupKey(const TRegKey& key, REGSAM need, TRegNode*& node) {
  int rc = CheckHandle(key, need);
  return rc == ErrSuccess ? Lookup(key.Root(), key.Path(), node) : rc;
}

int TRegistryStore::OpenKey(const TRegKey& base, std::string_view subKey, REGSAM access,
                            TRegKey& key) {
  std::lock_guard<std::mutex> guard(FLock);
  int rc = CheckHandle(base, 0);
  if (rc != ErrSuccess) return rc;
  std::vector<std::string> path = JoinPath(base, subKey);
  TRegNode* node = nullptr;
  rc = Lookup(base.Root(), path, node);
  if (rc != ErrSuccess) return rc;
  if ((access & KEY_MODIFY_RIGHTS) && !RootWritable(base.Root())) return ErrAccessDenied;
  key.FRoot = base.Root();
  key.FPath = std::move(path);
  key.FAccess = access;
  key.FOpen = true;
  return ErrSuccess;
}

int TRegistryStore::CreateKey(const TRegKey& base, std::string_view subKey, REGSAM access,
                              TRegKey& key, bool* created) {
  if (created) *created = false;
  int rc = OpenKey(base, subKey, access, key);
  if (rc != ErrFileNotFound) return rc;
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<std::string> path = JoinPath(base, subKey);
  bool made = false;
  rc = Modify(base.Root(), [&](TRegNode& tree, bool& changed) {
    TRegNode* node = &tree;
    for (const std::string& part : path) {
      TRegNode* child = node->FindChild(part);
      if (!child) {
        child = &node->EnsureChild(part);
        made = true;
      }
      node = child;
    }
    changed = made;
    return ErrSuccess;
  });
  if (rc != ErrSuccess) return rc;
  if (created) *created = made;
  key.FRoot = base.Root();
  key.FPath = std::move(path);
  key.FAccess = access;
  key.FOpen = true;
  return ErrSuccess;
}

void TRegistryStore::CloseKey(TRegKey& key) { key = TRegKey(); }

int TRegistryStore::DeleteKey(const TRegKey& base, std::string_view subKey) {
  std::lock_guard<std::mutex> guard(FLock);
  int rc = CheckHandle(base, 0);
  if (rc != ErrSuccess) return rc;
  std::vector<std::string> path = JoinPath(base, subKey);
  if (path.empty() || IsVirtualPath(base.Root(), path)) return ErrAccessDenied;
  std::string last = path.back();
  path.pop_back();
  return Modify(base.Root(), [&](TRegNode& tree, bool& changed) {
    TRegNode* parent = tree.Find(path);
    changed = parent && parent->RemoveChild(last);
    return changed ? ErrSuccess : ErrFileNotFound;
  });
}

int TRegistryStore::QueryValue(const TRegKey& key, std::string_view name, std::uint32_t& type,
                               std::string& data) {
  std::lock_guard<std::mutex> guard(FLock);
  TRegNode* node = nullptr;
  int rc = LookupKey(key, KEY_QUERY_VALUE, node);
  if (rc != ErrSuccess) return rc;
  if (IsCommonAppData(key.Root(), key.Path(), name)) {
    TRegValue v = CommonAppDataRecord();
    type = v.Type;
    data = std::move(v.Data);
    return ErrSuccess;
  }
  const TRegValue* v = node ? node->FindValue(name) : nullptr;
  if (!v) return ErrFileNotFound;
  type = v->Type;
  data = v->Data;
  return ErrSuccess;
}

int TRegistryStore::SetValue(const TRegKey& key, std::string_view name, std::uint32_t type,
                             std::string_view data) {
  std::lock_guard<std::mutex> guard(FLock);
  int rc = CheckHandle(key, KEY_SET_VALUE);
  if (rc != ErrSuccess) return rc;
  if (IsCommonAppData(key.Root(), key.Path(), name)) return ErrAccessDenied;
  return Modify(key.Root(), [&](TRegNode& tree, bool& changed) {
    TRegNode* node = tree.Find(key.Path());
    if (!node) {
      if (!IsVirtualPath(key.Root(), key.Path())) return ErrFileNotFound;
      node = &tree;
      for (const std::string& part : key.Path()) node = &node->EnsureChild(part);
    }
    node->SetValue(name, type, data);
    changed = true;
    return ErrSuccess;
  });
}

int TRegistryStore::DeleteValue(const TRegKey& key, std::string_view name) {
  std::lock_guard<std::mutex> guard(FLock);
  int rc = CheckHandle(key, KEY_SET_VALUE);
  if (rc != ErrSuccess) return rc;
  if (IsCommonAppData(key.Root(), key.Path(), name)) return ErrAccessDenied;
  return Modify(key.Root(), [&](TRegNode& tree, bool& changed) {
    TRegNode* node = tree.Find(key.Path());
    changed = node && node->RemoveValue(name);
    return changed ? ErrSuccess : ErrFileNotFound;
  });
}

int TRegistryStore::EnumValueNames(const TRegKey& key, std::vector<std::string>& names) {
  std::lock_guard<std::mutex> guard(FLock);
  names.clear();
  TRegNode* node = nullptr;
  int rc = LookupKey(key, KEY_QUERY_VALUE, node);
  if (rc != ErrSuccess) return rc;
  for (TRegValue& v : ValuesOf(key.Root(), key.Path(), node)) names.push_back(std::move(v.Name));
  return ErrSuccess;
}

int TRegistryStore::EnumKeyNames(const TRegKey& key, std::vector<std::string>& names) {
  std::lock_guard<std::mutex> guard(FLock);
  names.clear();
  TRegNode* node = nullptr;
  int rc = LookupKey(key, KEY_ENUMERATE_SUB_KEYS, node);
  if (rc != ErrSuccess) return rc;
  names = SubKeysOf(key.Root(), key.Path(), node);
  return ErrSuccess;
}

int TRegistryStore::QueryInfoKey(const TRegKey& key, TRegKeyInfo& info) {
  std::lock_guard<std::mutex> guard(FLock);
  info = TRegKeyInfo{};
  TRegNode* node = nullptr;
  int rc = LookupKey(key, KEY_QUERY_VALUE, node);
  if (rc != ErrSuccess) return rc;
  auto len = [](size_t n) { return static_cast<std::uint32_t>(n); };
  for (const std::string& name : SubKeysOf(key.Root(), key.Path(), node)) {
    ++info.NumSubKeys;
    info.MaxSubKeyLen = std::max(info.MaxSubKeyLen, len(name.size()));
  }
  for (const TRegValue& v : ValuesOf(key.Root(), key.Path(), node)) {
    ++info.NumValues;
    info.MaxValueLen = std::max(info.MaxValueLen, len(v.Name.size()));
    info.MaxDataLen = std::max(info.MaxDataLen, len(v.Data.size()));
  }
  return ErrSuccess;
}

int TRegistryStore::FlushKey(const TRegKey& key) {
  std::lock_guard<std::mutex> guard(FLock);
  TRegNode* node = nullptr;
  const int rc = LookupKey(key, 0, node);
  if (rc != ErrSuccess) return rc;
  const TRoot* r = RootOf(key.Root());
  if (!r) return rc;
  for (const std::string& path : {r->File, FolderOf(r->File)}) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    fsync(fd);
    close(fd);
  }
  return ErrSuccess;
}
