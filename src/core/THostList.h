#pragma once
// The host list (the user's ordered records, group rows included) and the retired
// hosts: records taken out of the list while a test, a trace or a queued alert still
// refers to them. The list owns its records; a record keeps its address for as long
// as it lives, whatever is inserted or removed around it.
#include "common/DateTime.h"
#include "core/THost.h"
#include "platform/FaultReport.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Longest wait for a record's threads when it is freed.
constexpr int HostListWaitMs = 15000;

class THostList {
public:
  using TRandomSource = std::function<uint32_t()>;
  using TBusyCheck = std::function<bool(int32_t hostID)>;
  using TTick = std::chrono::steady_clock::time_point;
  using TRecords = std::vector<std::unique_ptr<THost>>;

  // IDs are drawn from random; without one, from an engine of our own seeded by the
  // system's random device.
  explicit THostList(TRandomSource random = {});
  THostList(const THostList&) = delete;
  THostList& operator=(const THostList&) = delete;
  // Frees what is left without waiting; shut down with FreeAll to wait for threads.
  ~THostList();

  // The host list, in the user's order. Items returns nullptr outside the list.
  int Count() const { return static_cast<int>(FHosts.size()); }
  THost* Items(int index) const;
  const TRecords& Records() const { return FHosts; }
  THost* Add(std::unique_ptr<THost> record);
  // An index outside the list appends.
  THost* Insert(int index, std::unique_ptr<THost> record);
  // Takes a record out of the list and hands it over; nullptr outside the list.
  std::unique_ptr<THost> Extract(int index);
  TRecords ExtractAll();
  int IndexOf(const THost* record) const;

  // Index in the host list, -1 when none.
  int FindByID(int32_t id) const;
  // Exact match of the eight upper-case hex digits; -1 when none.
  int FindByIDText(const std::string& idText) const;

  // A random ID of 0 to 8388607 that no record of the host list or the retired hosts
  // has, nor one of other's host list when given.
  int32_t NewID(const THostList* other = nullptr);
  // A record with the defaults, a fresh ID and the baseline time now; not yet listed.
  std::unique_ptr<THost> NewRecord(TDateTime now);
  // Copies the configuration of source into target; with full also the ID, the
  // statistics, the status and the history, otherwise target gets a fresh ID and an
  // unknown status. Ancestors are computed against this list.
  void CopyRecord(const THost& source, THost& target, bool full, TDateTime now);

  // Whether some chain of parents of the record is up (a Warning parent counts as down);
  // true when testing is disabled or no listed parent exists.
  bool ParentsUp(const THost& record, TDateTime now) const;
  // Whether every chain of parents of the record is down (a Warning parent counts as
  // up); false when testing is disabled or no listed parent exists.
  bool ParentsDown(const THost& record, TDateTime now) const;
  // The ID texts of the record's parents, their parents and so on, into Ancestors.
  void RecomputeAncestors(THost& record) const;
  void RecomputeAllAncestors();
  // The IDs of the listed records whose ancestors include the ID (its dependants at any
  // depth), in list order. Kept from the ancestors until the list or an ancestors field
  // computed by it changes. Main thread only.
  const std::vector<int32_t>& Dependants(int32_t id) const;
  // The IDs of the listed records whose address is this one, letter case ignored. Kept
  // until the list changes or CopyRecord gives a record another address. Main thread only.
  std::vector<int32_t> WithAddress(const std::string& address) const;

  // The retired hosts.
  int RetiredCount() const { return static_cast<int>(FRetired.size()); }
  THost* RetiredItems(int index) const;
  void Retire(std::unique_ptr<THost> record);
  // Index in the retired hosts, -1 when none.
  int FindRetired(int32_t id) const;
  // After a test completion for the ID: clears the running test of the retired record
  // with that ID and frees it unless something else still refers to it. False when no
  // retired record has the ID.
  bool ReleaseRetired(int32_t id);
  // Frees every retired record that nothing refers to any more (its last queued alert
  // has left, its test and trace have ended).
  void ReleaseIdleRetired();

  // Tells whether a queued e-mail alert refers to a host; none means never.
  void SetBusyCheck(TBusyCheck busy) { FBusyCheck = std::move(busy); }
  // Where the errors this list swallows are reported.
  void SetFaultHook(TFaultHook faults) { FFaults = std::move(faults); }
  // A running test or running trace, or a queued e-mail alert refers to the record.
  bool Busy(const THost& record) const;
  // A record leaving the host list: retired while busy, freed otherwise.
  void RetireOrFree(std::unique_ptr<THost> record);
  // Frees every host and retired host, all waiting together at most waitMs from start.
  void FreeAll(std::optional<TTick> start = {}, bool keepMessagesFlowing = false,
               int waitMs = HostListWaitMs);

  // Aborts an echo test, waits while the running test or trace is alive until waitMs have
  // passed since start (now when none), letting their completion steps in (QuietWait)
  // when asked; then frees the record whatever its threads do.
  static void FreeRecord(std::unique_ptr<THost> record, std::optional<TTick> start = {},
                         bool keepMessagesFlowing = false, int waitMs = HostListWaitMs,
                         const TFaultHook& faults = {});

private:
  enum class TVisit { InProgress, Up, Down };
  using TVisits = std::unordered_map<const THost*, TVisit>;

  bool HasID(int32_t id) const;
  std::optional<bool> AnyParentChainUp(const THost& record, bool warningIsDown, TVisits& visits) const;
  bool ParentChainUp(const THost& parent, bool warningIsDown, TVisits& visits) const;

  TRandomSource FRandom;
  TBusyCheck FBusyCheck;
  TFaultHook FFaults;
  TRecords FHosts;
  TRecords FRetired;
  mutable bool FDependantsStale = true;
  mutable bool FAddressesStale = true;
  mutable std::unordered_map<std::string, std::vector<int32_t>> FByAddress;
  mutable std::unordered_map<int32_t, std::vector<int32_t>> FDependants;
  mutable std::mutex FIndexLock;
  mutable std::unordered_map<int32_t, size_t> FIndexByID;  // a cache; see FindByID
};
