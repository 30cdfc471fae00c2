#pragma once
// The messages for one partner window, delivered in order by a thread of its own at the
// lowest priority, so a partner that is slow or hangs delays only itself. The thread
// reads the partner's caption once, then sends each payload by data copy, trying again
// until the send succeeds, the give-up time has passed or the sender is terminated. It
// ends when its queue is empty; Enqueue then refuses and the owner starts a new sender.
// Outcomes go to the report function on the sender's thread, which hands them on.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hosttests/TBackgroundTask.h"

class TPartnerSender : public TBackgroundTask, public std::enable_shared_from_this<TPartnerSender> {
public:
  struct TItem {
    std::uintptr_t DataKind = 0;  // 0: no data, only the log line
    std::string Bytes;
    std::string LogPrefix;  // logged with the partner's caption appended; empty for none
  };
  struct TOutcome {
    std::string Title;
    std::string LogPrefix;  // the item's, for the owner to log with the caption
    bool Attempted = false;  // a data copy was tried
    bool Sent = false;
    int Error = 0;  // of the last failed try
    bool Gone = false;  // the window no longer exists
    int Dropped = 0;  // items given up unsent because the queue was full
    bool Finished = false;  // the thread ends after this report
    std::string Exception;  // what an unexpected error said
  };
  using TReport = std::function<void(const TPartnerSender& sender, const TOutcome& outcome)>;
  struct TTimes {
    unsigned SendMs = 15000;
    unsigned GiveUpMs = 60000;
    unsigned RetryPauseMs = 250;
  };
  // Unsent items a partner may hold; beyond either bound the oldest are dropped.
  static constexpr std::size_t MaxQueuedItems = 256;
  static constexpr std::size_t MaxQueuedBytes = 32u * 1024u * 1024u;

  TPartnerSender(std::string name, std::uintptr_t window, std::uintptr_t self, std::string knownTitle,
                 TTimes times, TReport report);
  ~TPartnerSender() override;

  // False once the thread has decided to end (the owner then makes a new sender).
  bool Enqueue(TItem item);
  // Starts the thread; once.
  void Start();
  bool IsAlive() const override;

protected:
  void OnTerminate() override;

private:
  void Run();
  bool SendOne(const TItem& item, TOutcome& outcome);
  bool PauseOrStop(unsigned ms);

  const std::uintptr_t FWindow, FSelf;
  std::string FTitle;
  bool FTitleKnown;
  const TTimes FTimes;
  const TReport FReport;
  mutable std::mutex FLock;
  std::condition_variable FWake;
  std::deque<TItem> FQueue;
  std::size_t FQueuedBytes = 0;
  int FDropped = 0;
  bool FRunning = false, FEnding = false;
};
