#include "common/QLRegistry.h"

#include <cstring>

namespace {

// Tried in turn until one opens the key.
constexpr REGSAM OpenRights[] = {
    KEY_ALL_ACCESS,
    KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE,
    KEY_READ | KEY_SET_VALUE,
    KEY_ENUMERATE_SUB_KEYS | KEY_SET_VALUE | KEY_QUERY_VALUE,
    KEY_READ,
    KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
    KEY_QUERY_VALUE,
};
constexpr REGSAM ExistsRights[] = {
    KEY_ALL_ACCESS,
    KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE,
    KEY_READ,
};

[[noreturn]] void Raise(const char* text, const std::string& name) {
  throw ERegistryError(std::string(text) + " '" + name + "'");
}

std::string JoinKeyPath(const std::string& parent, const std::string& child) {
  if (parent.empty()) return child;
  if (child.empty()) return parent;
  return parent + "\\" + child;
}

}  // namespace

TQLRegistry::TQLRegistry() : FOwnStore(std::make_unique<TRegistryStore>()), FStore(*FOwnStore) {}

TQLRegistry::TQLRegistry(TRegistryStore& store) : FStore(store) {}

TQLRegistry::~TQLRegistry() { CloseKey(); }

void TQLRegistry::SetRootKey(HKEY value) {
  if (value == FRootKey) return;
  FRootKey = value;
  CloseKey();
}

TRegKey TQLRegistry::BaseFor(std::string& path, bool& relative) const {
  relative = path.empty() || path[0] != '\\';
  if (!relative) path.erase(0, 1);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return relative && FCurrentKey.IsOpen() ? FCurrentKey : TRegKey(FRootKey);
}

bool TQLRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::string path = key;
  bool relative;
  TRegKey base = BaseFor(path, relative);
  TRegKey opened;
  bool ok = false;
  for (REGSAM access : OpenRights) {
    int rc = canCreate && !path.empty() ? FStore.CreateKey(base, path, access, opened)
                                        : FStore.OpenKey(base, path, access, opened);
    if (rc == 0) {
      ok = true;
      break;
    }
  }
  if (!ok) return false;
  if (relative && FCurrentKey.IsOpen()) path = JoinKeyPath(FCurrentPath, path);
  CloseKey();
  FCurrentKey = std::move(opened);
  FCurrentPath = std::move(path);
  return true;
}

void TQLRegistry::CloseKey() {
  if (!FCurrentKey.IsOpen()) return;
  if (!FLazyWrite) FStore.FlushKey(FCurrentKey);
  FStore.CloseKey(FCurrentKey);
  FCurrentPath.clear();
}

bool TQLRegistry::KeyExists(const std::string& key) {
  std::string path = key;
  bool relative;
  TRegKey base = BaseFor(path, relative);
  for (REGSAM access : ExistsRights) {
    TRegKey probe;
    if (FStore.OpenKey(base, path, access, probe) == 0) return true;
  }
  return false;
}

bool TQLRegistry::DeleteKey(const std::string& key) {
  std::string path = key;
  bool relative;
  TRegKey base = BaseFor(path, relative);
  return FStore.DeleteKey(base, path) == 0;
}

bool TQLRegistry::Query(const std::string& name, std::uint32_t& type, std::string& data) {
  return FCurrentKey.IsOpen() && FStore.QueryValue(FCurrentKey, name, type, data) == 0;
}

bool TQLRegistry::TryPut(const std::string& name, std::uint32_t type, std::string_view data) {
  return FCurrentKey.IsOpen() && FStore.SetValue(FCurrentKey, name, type, data) == 0;
}

void TQLRegistry::Put(const std::string& name, std::uint32_t type, std::string_view data) {
  if (!TryPut(name, type, data)) Raise("Failed to set data for", name);
}

bool TQLRegistry::ValueExists(const std::string& name) {
  std::uint32_t type;
  std::string data;
  return Query(name, type, data);
}

void TQLRegistry::GetValueNames(std::vector<std::string>& list) {
  list.clear();
  if (FCurrentKey.IsOpen()) FStore.EnumValueNames(FCurrentKey, list);
}

void TQLRegistry::GetKeyNames(std::vector<std::string>& list) {
  list.clear();
  if (FCurrentKey.IsOpen()) FStore.EnumKeyNames(FCurrentKey, list);
}

bool TQLRegistry::GetKeyInfo(TRegKeyInfo& info) {
  info = TRegKeyInfo{};
  return FCurrentKey.IsOpen() && FStore.QueryInfoKey(FCurrentKey, info) == 0;
}

TRegDataType TQLRegistry::GetDataType(const std::string& name) {
  std::uint32_t type;
  std::string data;
  if (!Query(name, type, data)) return TRegDataType::rdUnknown;
  switch (type) {
    case REG_SZ: return TRegDataType::rdString;
    case REG_EXPAND_SZ: return TRegDataType::rdExpandString;
    case REG_DWORD: return TRegDataType::rdInteger;
    case REG_BINARY: return TRegDataType::rdBinary;
    default: return TRegDataType::rdUnknown;
  }
}

std::optional<std::string> TQLRegistry::TryReadString(const std::string& name) {
  std::uint32_t type;
  std::string data;
  if (!Query(name, type, data) || data.empty()) return std::string();
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  size_t zero = data.find('\0');
  if (zero != std::string::npos) data.resize(zero);
  return data;
}

std::string TQLRegistry::ReadString(const std::string& name) {
  std::optional<std::string> text = TryReadString(name);
  if (!text) Raise("Invalid data type for", name);
  return std::move(*text);
}

bool TQLRegistry::TryWriteString(const std::string& name, const std::string& value) {
  return TryPut(name, REG_SZ, value + '\0');
}

void TQLRegistry::WriteString(const std::string& name, const std::string& value) {
  Put(name, REG_SZ, value + '\0');
}

void TQLRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  Put(name, REG_EXPAND_SZ, value + '\0');
}

double TQLRegistry::ReadFloat(const std::string& name) {
  std::uint32_t type;
  std::string data;
  if (!Query(name, type, data)) Raise("Failed to get data for", name);
  double value;
  if (type != REG_BINARY || data.size() != sizeof value) Raise("Invalid data type for", name);
  std::memcpy(&value, data.data(), sizeof value);
  return value;
}

std::optional<double> TQLRegistry::TryReadFloat(const std::string& name) {
  std::uint32_t type;
  std::string data;
  double value;
  if (!Query(name, type, data) || type != REG_BINARY || data.size() != sizeof value) return std::nullopt;
  std::memcpy(&value, data.data(), sizeof value);
  return value;
}

void TQLRegistry::WriteFloat(const std::string& name, double value) {
  if (!TryWriteFloat(name, value)) Raise("Failed to set data for", name);
}

bool TQLRegistry::TryWriteFloat(const std::string& name, double value) {
  return TryPut(name, REG_BINARY, std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
}

std::int32_t TQLRegistry::ReadInteger(const std::string& name) {
  std::uint32_t type;
  std::string data;
  if (!Query(name, type, data)) Raise("Failed to get data for", name);
  if (type != REG_DWORD || data.size() != 4) Raise("Invalid data type for", name);
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(data[i]);
  return static_cast<std::int32_t>(value);
}

void TQLRegistry::WriteInteger(const std::string& name, std::int32_t value) {
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  std::string data;
  for (int i = 0; i < 4; ++i) data += static_cast<char>(bits >> (8 * i) & 0xFF);
  Put(name, REG_DWORD, data);
}

int TQLRegistry::ReadBinaryData(const std::string& name, void* buffer, int bufSize) {
  std::uint32_t type;
  std::string data;
  if (!Query(name, type, data)) return 0;
  if (type != REG_BINARY || bufSize < 0 || data.size() > static_cast<size_t>(bufSize))
    Raise("Invalid data type for", name);
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return static_cast<int>(data.size());
}

void TQLRegistry::WriteBinaryData(const std::string& name, const void* buffer, int size) {
  if (size < 0 || (size > 0 && !buffer)) Raise("Failed to set data for", name);
  Put(name, REG_BINARY, std::string_view(static_cast<const char*>(buffer), static_cast<size_t>(size)));
}

bool TQLRegistry::DeleteValue(const std::string& name) {
  return FCurrentKey.IsOpen() && FStore.DeleteValue(FCurrentKey, name) == 0;
}

namespace {

// The shell of every one-shot helper: a fresh object on the root. The actions use only
// the calls that report failure by their result, so nothing is left to catch.
template <typename TAction>
auto OneShot(TRegistryStore& store, HKEY root, TAction action) {
  TQLRegistry reg(store);
  reg.SetRootKey(root);
  return action(reg);
}

}  // namespace

std::string ReadRegText(TRegistryStore& store, HKEY root, const std::string& key,
                        const std::string& name, const std::string& def) {
  return OneShot(store, root, [&](TQLRegistry& reg) {
    return reg.OpenKey(key, false) ? reg.TryReadString(name).value_or(def) : std::string();
  });
}

double ReadRegFloat(TRegistryStore& store, HKEY root, const std::string& key,
                    const std::string& name, double def) {
  return OneShot(store, root, [&](TQLRegistry& reg) {
    return reg.OpenKey(key, false) ? reg.TryReadFloat(name).value_or(def) : def;
  });
}

bool WriteRegText(TRegistryStore& store, HKEY root, const std::string& key,
                  const std::string& name, const std::string& text) {
  return OneShot(store, root, [&](TQLRegistry& reg) {
    return reg.OpenKey(key, true) && reg.TryWriteString(name, text);
  });
}

bool WriteRegFloat(TRegistryStore& store, HKEY root, const std::string& key,
                   const std::string& name, double value) {
  return OneShot(store, root, [&](TQLRegistry& reg) {
    return reg.OpenKey(key, true) && reg.TryWriteFloat(name, value);
  });
}

bool DeleteRegValue(TRegistryStore& store, HKEY root, const std::string& key,
                    const std::string& name) {
  return OneShot(store, root, [&](TQLRegistry& reg) {
    reg.OpenKey(key, true);
    // A refused delete must not pass for a done one: the answer is whether it is gone.
    return reg.DeleteValue(name) || !reg.ValueExists(name);
  });
}

bool RegKeyExists(TRegistryStore& store, HKEY root, const std::string& key) {
  return OneShot(store, root, [&](TQLRegistry& reg) { return reg.KeyExists(key); });
}

bool RegValueExists(TRegistryStore& store, HKEY root, const std::string& key,
                    const std::string& name) {
  return OneShot(store, root, [&](TQLRegistry& reg) {
    return reg.OpenKey(key, false) && reg.ValueExists(name);
  });
}

std::string ReadRegText(HKEY root, const std::string& key, const std::string& name,
                        const std::string& def) {
  TRegistryStore store;
  return ReadRegText(store, root, key, name, def);
}

double ReadRegFloat(HKEY root, const std::string& key, const std::string& name, double def) {
  TRegistryStore store;
  return ReadRegFloat(store, root, key, name, def);
}

bool WriteRegText(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text) {
  TRegistryStore store;
  return WriteRegText(store, root, key, name, text);
}

bool WriteRegFloat(HKEY root, const std::string& key, const std::string& name, double value) {
  TRegistryStore store;
  return WriteRegFloat(store, root, key, name, value);
}

bool DeleteRegValue(HKEY root, const std::string& key, const std::string& name) {
  TRegistryStore store;
  return DeleteRegValue(store, root, key, name);
}

bool RegKeyExists(HKEY root, const std::string& key) {
  TRegistryStore store;
  return RegKeyExists(store, root, key);
}

bool RegValueExists(HKEY root, const std::string& key, const std::string& name) {
  TRegistryStore store;
  return RegValueExists(store, root, key, name);
}
