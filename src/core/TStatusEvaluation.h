#pragma once
// The status evaluation: what one test result does to its host (status, statistics,
// address, error text, the failure and recovery events) and to the hosts that depend on
// it, and the transitions it hands to its subscribers (the alert routes). The record
// takes the whole result in one exclusive section of the state lock, so a reader on
// another thread sees the host before or after the result, never in between; events are
// logged and transitions delivered after that section. What only the network or the
// system can tell (the address of a name, the MAC address of a neighbour) is asked on
// the pool before the result is taken; the host's later results wait behind it, so
// they are still taken in order. Main thread only.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/MessageVariables.h"
#include "core/TAddressLookup.h"
#include "core/TEventLog.h"
#include "core/THostTransition.h"
#include "core/TMonitorParts.h"
#include "hosttests/TTestResult.h"
#include "platform/FaultReport.h"

class THost;
class TTestContext;

class TStatusEvaluation {
public:
  // variables: the message variables' view of the monitor at this moment; tests: the
  // pool the address lookups run on.
  TStatusEvaluation(TMonitorParts parts, TTestContext& tests, std::function<TVariableContext()> variables);
  ~TStatusEvaluation();

  // Results are ignored while testing is off (the main window's testing button).
  void SetTestingOn(bool on) { FTestingOn = on; }
  void AddSubscriber(TTransitionSubscriber* subscriber);
  void RemoveSubscriber(TTransitionSubscriber* subscriber);

  // Updates the host of the result; nothing for a host that is no longer listed. A
  // result that needs an address lookup is taken when the answer is back.
  void UpdateHostStatus(const TTestResult& result);
  // An address learned outside a test (reason: what learned it, "Host name lookup"): a
  // new one is an IP change, logged and handed to the subscribers as one; mac becomes
  // the host's MAC address. The first address after loading is no change.
  void AddressLearned(THost& host, const std::string& newIP, const std::string& mac, const std::string& reason);
  // Hosts whose results wait for an address lookup.
  int LookupsWaiting() const { return static_cast<int>(FWaiting.size()); }
  // How many results the evaluation has taken; any thread.
  std::uint64_t ResultCount() const { return FResults.load(std::memory_order_relaxed); }

  // The parents-up flags: of the dependants of a host whose status or testing changed
  // (and of the host itself), and of every record (a new or rebuilt list). Both give
  // the flags a walk of every record gives.
  void CheckDependants(const THost& host);
  void CheckAllParents();

private:
  // What the evaluation tells after the record has taken the result, in order.
  struct TStep {
    bool IsTransition = false;
    TLogCategory Category = TLogCategory::Information;
    std::string Message;
    THostTransition Transition;
  };
  using TSteps = std::vector<TStep>;

  // The lookup the result needs before the record can take it (nothing asked when none).
  TAddressLookup LookupFor(const TTestResult& result, const THost& host) const;
  // answer: the lookup asked for this result, answered; null when none was asked.
  void TakeResult(const TTestResult& result, const TAddressLookup* answer);
  void StartLookup(const TTestResult& result, TAddressLookup question);
  void LookupAnswered(std::int32_t hostID, const TAddressLookup& answer);
  void HostFailed(THost& host, bool forced, bool simulated, std::int32_t responseTime, const std::string& errorText,
                  const std::string& echoDetail, const std::string& resolvedIP, TSteps& steps);
  void HostSucceeded(THost& host, std::int32_t responseTime, const std::string& remark, TSteps& steps);
  // An HTTP test's page change: the request's last change, the note on the host, and the
  // page-change transition when the change is above the threshold.
  void PageMeasured(THost& host, bool success, float change, TSteps& steps);
  bool FailureIsFinal(const THost& host, bool forced, bool simulated, const std::string& errorText) const;
  std::string Expand(const std::string& text, const THost& host);
  void Deliver(const THostTransition& transition, THost& host);
  bool CheckParentsOf(THost& record);

  TMonitorParts F;
  TTestContext& FTests;
  std::function<TVariableContext()> FVariables;
  bool FTestingOn = true;
  std::vector<TTransitionSubscriber*> FSubscribers;
  // Errors met while the state lock is held are reported once it is released: a report
  // logs, and logging takes the lock.
  std::vector<std::pair<std::string, std::string>> FHeldFaults;
  std::atomic<std::uint64_t> FResults{0};
  // By host: the result whose lookup runs, then the results that came after it.
  std::unordered_map<std::int32_t, std::deque<TTestResult>> FWaiting;
  // Answers that come back after the evaluation has gone find it expired.
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};
