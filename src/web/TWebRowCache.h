#pragma once
// The host rows the web pages made, kept per row plan and host so that a page of many
// hosts makes again only the rows of hosts that changed. The monitor's change batches
// name the hosts (Changed, on the main thread); the server's thread takes the rows
// (Slot, Find, Store). A row is also made again once it is older than its plan allows
// (texts such as "Disabled until" or durations move with the clock) or, for a plan with
// a log section, when the event log has a new line.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class TWebRowCache {
public:
  using TClock = std::chrono::steady_clock;

  struct TRow {
    std::string Text;
    bool Sound = false;
    std::int64_t LogID = 0;
    TClock::time_point Made;
  };
  struct TSlot {
    std::string Key;
    std::unordered_map<std::int32_t, TRow> Rows;
    TClock::time_point Used;
    std::size_t Size = 0;  // of all rows the last time, to reserve as much
  };

  // Any thread: the rows of these hosts, or of all hosts, must be made again.
  void Changed(const std::vector<std::int32_t>& ids);
  void ChangedAll();

  // Server thread: the rows kept for a plan's key (a new empty slot when there are none;
  // the least used of MaxSlots goes). Applies the changes told since the last call.
  TSlot& Slot(const std::string& key, TClock::time_point now);
  // The row of the host when it is still good for a plan whose rows live maxAge and
  // (logID not 0) were made at that log line.
  static const TRow* Find(const TSlot& slot, std::int32_t hostID, TClock::time_point now, TClock::duration maxAge,
                          std::int64_t logID);

  static constexpr std::size_t MaxSlots = 8;

private:
  std::mutex FMutex;
  std::vector<std::int32_t> FPending;
  bool FAll = false;
  std::vector<std::unique_ptr<TSlot>> FSlots;
};
