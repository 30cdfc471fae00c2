#pragma once
// The status evaluation: what one test result does to its host (status, statistics,
// address, error text, the failure and recovery events) and to the hosts that depend on
// it, and the transitions it hands to its subscribers (the alert channels). The record
// takes the whole result in one exclusive section of the state lock, so a reader on
// another thread sees the host before or after the result, never in between; events are
// logged and transitions delivered after that section. Main thread only.
#include <atomic>
#include <cstdint>
#include <functional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/MessageVariables.h"
#include "core/TEventLog.h"
#include "core/THostTransition.h"
#include "core/TMonitorParts.h"
#include "hosttests/TTestResult.h"
#include "platform/FaultReport.h"

class THost;

class TStatusEvaluation {
public:
  // variables: the message variables' view of the monitor at this moment.
  TStatusEvaluation(TMonitorParts parts, std::function<TVariableContext()> variables);

  // Results are ignored while testing is off (the main window's testing button).
  void SetTestingOn(bool on) { FTestingOn = on; }
  void AddSubscriber(TTransitionSubscriber* subscriber);
  void RemoveSubscriber(TTransitionSubscriber* subscriber);

  // Updates the host of the result; nothing for a host that is no longer listed.
  void UpdateHostStatus(const TTestResult& result);
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
  std::function<TVariableContext()> FVariables;
  bool FTestingOn = true;
  std::vector<TTransitionSubscriber*> FSubscribers;
  // Errors met while the state lock is held are reported once it is released: a report
  // logs, and logging takes the lock.
  std::vector<std::pair<std::string, std::string>> FHeldFaults;
  std::atomic<std::uint64_t> FResults{0};
};
