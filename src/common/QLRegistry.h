#pragma once
// Registry access for both programs: TQLRegistry and the one-shot helpers.
//
// Keys open with the most rights the caller holds: a limited user still reads, and
// where allowed writes, keys of a root they cannot fully change.
#include "platform/TRegistryStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Every error of TQLRegistry; the message names the value ("Invalid data type for 'X'").
class ERegistryError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TQLRegistry {
public:
  // On a store of its own in the usual places.
  TQLRegistry();
  // On a store the caller keeps alive for the object's lifetime.
  explicit TQLRegistry(TRegistryStore& store);
  ~TQLRegistry();
  TQLRegistry(const TQLRegistry&) = delete;
  TQLRegistry& operator=(const TQLRegistry&) = delete;

  HKEY RootKey() const { return FRootKey; }
  // A different root closes the current key.
  void SetRootKey(HKEY value);
  const TRegKey& CurrentKey() const { return FCurrentKey; }
  const std::string& CurrentPath() const { return FCurrentPath; }
  bool LazyWrite() const { return FLazyWrite; }
  void SetLazyWrite(bool value) { FLazyWrite = value; }

  // A key beginning with "\" is taken from the root, any other relative to the current
  // key. Returns whether a key was opened; the previous key stays current otherwise.
  bool OpenKey(const std::string& key, bool canCreate);
  void CloseKey();
  bool KeyExists(const std::string& key);
  // Removes the key (relative as in OpenKey) with its subkeys; whether it was removed.
  bool DeleteKey(const std::string& key);

  bool ValueExists(const std::string& name);
  void GetValueNames(std::vector<std::string>& list);
  void GetKeyNames(std::vector<std::string>& list);
  bool GetKeyInfo(TRegKeyInfo& info);
  // rdUnknown also for a missing value.
  TRegDataType GetDataType(const std::string& name);

  std::string ReadString(const std::string& name);
  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  double ReadFloat(const std::string& name);
  void WriteFloat(const std::string& name, double value);
  std::int32_t ReadInteger(const std::string& name);
  void WriteInteger(const std::string& name, std::int32_t value);
  // Copies a binary value that fits into buffer and returns its size; 0 when missing.
  int ReadBinaryData(const std::string& name, void* buffer, int bufSize);
  void WriteBinaryData(const std::string& name, const void* buffer, int size);
  bool DeleteValue(const std::string& name);

  // The same without an exception, for callers that only want a fallback: no value
  // when ReadString would raise (an empty text for a missing value, as there), when
  // ReadFloat would raise; false when the write would.
  std::optional<std::string> TryReadString(const std::string& name);
  std::optional<double> TryReadFloat(const std::string& name);
  bool TryWriteString(const std::string& name, const std::string& value);
  bool TryWriteFloat(const std::string& name, double value);

private:
  // The key to open a path from, and the path with a leading "\" removed.
  TRegKey BaseFor(std::string& path, bool& relative) const;
  // The value's type and data; false when it cannot be read.
  bool Query(const std::string& name, std::uint32_t& type, std::string& data);
  void Put(const std::string& name, std::uint32_t type, std::string_view data);
  bool TryPut(const std::string& name, std::uint32_t type, std::string_view data);

  std::unique_ptr<TRegistryStore> FOwnStore;
  TRegistryStore& FStore;
  HKEY FRootKey = HKEY_CURRENT_USER;
  TRegKey FCurrentKey;
  std::string FCurrentPath;
  bool FLazyWrite = true;
};

// One-shot helpers: each opens the key, does one thing and closes it again; none throws.
// The forms without a store use one in the usual places.

// Empty for a missing key or value; def only when the value is not a text.
std::string ReadRegText(HKEY root, const std::string& key, const std::string& name,
                        const std::string& def);
std::string ReadRegText(TRegistryStore& store, HKEY root, const std::string& key,
                        const std::string& name, const std::string& def);
// def when anything fails, a missing value included.
double ReadRegFloat(HKEY root, const std::string& key, const std::string& name, double def);
double ReadRegFloat(TRegistryStore& store, HKEY root, const std::string& key,
                    const std::string& name, double def);
// Creates the key when missing.
bool WriteRegText(HKEY root, const std::string& key, const std::string& name,
                  const std::string& text);
bool WriteRegText(TRegistryStore& store, HKEY root, const std::string& key,
                  const std::string& name, const std::string& text);
bool WriteRegFloat(HKEY root, const std::string& key, const std::string& name, double value);
bool WriteRegFloat(TRegistryStore& store, HKEY root, const std::string& key,
                   const std::string& name, double value);
// True when the value is gone afterwards (a missing value included); false when it is
// still there, e.g. because the key is read-only.
bool DeleteRegValue(HKEY root, const std::string& key, const std::string& name);
bool DeleteRegValue(TRegistryStore& store, HKEY root, const std::string& key,
                    const std::string& name);
bool RegKeyExists(HKEY root, const std::string& key);
bool RegKeyExists(TRegistryStore& store, HKEY root, const std::string& key);
bool RegValueExists(HKEY root, const std::string& key, const std::string& name);
bool RegValueExists(TRegistryStore& store, HKEY root, const std::string& key,
                    const std::string& name);
