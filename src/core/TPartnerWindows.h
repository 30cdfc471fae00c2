#pragma once
// Other programs on this computer that follow the hosts through window messages: they ask
// for the host list or one host, and subscribe to an update after every test result. The
// payloads are built on the main thread from the records and handed to one sender per
// partner window (TPartnerSender), which delivers them in order by data copy; a partner
// that hangs or vanishes costs the monitor nothing but its queue, which is bounded.
// Subscriptions live in memory only. Main thread only, like the records it reads.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/PartnerRecords.h"
#include "core/TPartnerSender.h"
#include "platform/FaultReport.h"

class TClock;
class THost;
class TEventLogKeeper;
class THostList;
class TRunningTests;
class TTestContext;

class TPartnerWindows {
public:
  struct TContext {
    const THostList* Hosts = nullptr;
    const TClock* Clock = nullptr;
    TEventLogKeeper* Events = nullptr;
    TRunningTests* Running = nullptr;
    TTestContext* Tests = nullptr;
    TFaultHook Faults;
    std::function<std::uintptr_t()> OwnWindow;
    std::function<bool()> DiagnosticMode;
  };

  explicit TPartnerWindows(TContext context);
  ~TPartnerWindows();
  TPartnerWindows(const TPartnerWindows&) = delete;
  TPartnerWindows& operator=(const TPartnerWindows&) = delete;

  // The window messages; each returns what the window procedure answers.
  // 3024: the host list to the window, group rows with includeGroups. 1 when sending
  // started, 0 for a window that does not exist or a list too large for one data copy.
  std::intptr_t SendHostList(std::uintptr_t window, bool includeGroups);
  // 3025: the host at that list index. 0 for an index out of range, a group row or a
  // window that does not exist.
  std::intptr_t SendHost(std::uintptr_t window, std::intptr_t index);
  // 3026 and 3027: 0 when already subscribed, or not subscribed.
  std::intptr_t Subscribe(std::uintptr_t window);
  std::intptr_t Unsubscribe(std::uintptr_t window);

  // After the configuration dialog's OK: the host list without group rows to every
  // subscriber.
  void SendHostListToSubscribers();
  // After every counted result (the host-update route): the host to every subscriber.
  void SendHostUpdate(const THost& host);

  // Shutdown: nothing more is queued; running senders end after their current try.
  void Stop();
  const std::vector<std::uintptr_t>& Subscribers() const { return FSubscribers; }
  // Senders made from now on wait these times (tests shorten them).
  void SetTimes(const TPartnerSender::TTimes& times) { FTimes = times; }

private:
  struct TPartner {
    std::string Title;
    std::shared_ptr<TPartnerSender> Sender;
  };
  struct TLink;

  bool IsSubscribed(std::uintptr_t window) const;
  void Queue(std::uintptr_t window, TPartnerSender::TItem item);
  void Outcome(std::uintptr_t window, const TPartnerSender* sender, const TPartnerSender::TOutcome& outcome);

  TContext C;
  TPartnerSender::TTimes FTimes;
  std::vector<std::uintptr_t> FSubscribers;
  std::unordered_map<std::uintptr_t, TPartner> FPartners;
  std::shared_ptr<TLink> FLink;
  bool FStopped = false;
};
