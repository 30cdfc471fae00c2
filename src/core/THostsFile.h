#pragma once
// The hosts file: the host list between runs, one line of comma-separated fields per
// host or group row, some hosts followed by extra lines (HTTP test request, plug-in
// parameter, notification requests). Single-byte text, CR LF line ends; reading also
// takes LF or CR alone. Numbers read with "." or "," as the decimal separator.
//
// A host line that ends early keeps the defaults of its missing fields, even as the
// last line of the file without a line end.
//
// What stops a load, and what it costs: a read error, a line that holds a NUL byte
// (binary data, or the zero-filled tail a crash leaves), a line longer than
// MaxHostsLineBytes, or a file that ends in the middle of a record (an extra line its
// host needs is missing, or cut short without a line end). Such lines are skipped with
// an event and the reading goes on, so every readable host is kept; the load then
// returns false, and before anything can be saved over the file an untouched copy of
// it is kept beside it as "<file>.unreadable-YYYYMMDD-HHNNSS".
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "core/TEventLog.h"

class THost;
class THostList;

// Lines beyond this length are not ones we wrote.
constexpr std::size_t MaxHostsLineBytes = 1024 * 1024;

// Reports an event for a host (nullptr for the file as a whole) with its category.
using THostsFileLog = std::function<void(const THost* host, const std::string& message, TLogCategory category)>;

struct THostsLoadOptions {
  // The moment of loading: every record's baseline time.
  TDateTime Now = 0;
  // The index of the loaded plug-in test with this identifier (exact comparison), -1
  // when none. None means no plug-in tests are loaded.
  std::function<int(const std::string& identifier)> PluginTestIndex;
  THostsFileLog Log;
  // Whether an address lies on a subnet of this computer; none means OnLocalSubnet
  // against the interface list read once per load. Asked once per distinct address;
  // for names (not dotted addresses) from several threads at once.
  std::function<bool(const std::string& address)> LocalSubnet;
};

struct THostsSaveOptions {
  // The identifier of the loaded plug-in test with this index, empty when none.
  std::function<std::string(int index)> PluginTestIdentifier;
  // Names the temporary files; none means a generator seeded from the system.
  std::function<std::uint32_t()> Random;
};

// Appends the records of the file to the list, then renumbers duplicate IDs, cleans
// every record's parents and recomputes its ancestors. True when the whole file was
// read; false when it could not be opened or when a line stopped the reading (see
// above; the records read stay in the list).
bool LoadHosts(const std::string& fileName, THostList& list, const THostsLoadOptions& options);

// Writes the list to a temporary file "XXXXXXXX.cvl" (mode 0600) in the file's folder,
// syncs it, keeps the previous file as fileName + ".bak" and puts the new one in its
// place; a new file is for its owner only, an existing one keeps its mode. A file
// without write rights (a mode without any write bit included) is refused and left as
// it is. True when the new file is in place. A failure before that leaves the previous
// file and its backup as they were; errorText then tells why.
bool SaveHosts(const std::string& fileName, const THostList& list, const THostsSaveOptions& options = {},
               std::string* errorText = nullptr);

// The temporary files of saves that ended before their rename (a crash, a kill) in the
// hosts file's folder: "XXXXXXXX.cvl" files that begin like a hosts file and the
// settings file's temporaries that hold settings text, empty ones included, each a
// regular file of this user. Removes them and returns their paths.
std::vector<std::string> RemoveInterruptedSaves(const std::string& hostsFileName,
                                                const std::string& settingsFileName);
