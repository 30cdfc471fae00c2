#pragma once
// One message of the alert queue: what to send, to whom, about which host, and where
// its delivery stands. The queue owns its entries.
#include <cstdint>
#include <memory>
#include <string>

#include "common/DateTime.h"

class TSmtpCli;

struct TEmailInfo {
  TEmailInfo();
  ~TEmailInfo();
  TEmailInfo(const TEmailInfo&) = delete;
  TEmailInfo& operator=(const TEmailInfo&) = delete;

  std::uint64_t Serial = 0;          // unique in its queue, never reused
  std::int32_t Attempts = 0;         // delivery attempts begun so far
  std::unique_ptr<TSmtpCli> Client;  // made on demand for an SMTP route
  std::int32_t HostID = -1;          // the host the message is about; -1 for none
  bool Sending = false;              // a delivery attempt is in progress
  std::uint32_t AttemptTick = 0;     // ms tick when the last attempt began
  TDateTime QueuedAt = 0;
  long double WindowStart = 0;       // time-of-day window; both 0: any time
  long double WindowEnd = 0;
  std::string Subject;               // variables already expanded
  std::string Body;
  std::string Recipients;            // divided by ";" or ","
  bool WaitingForTrace = false;
  std::int32_t CancelStatus = -1;    // host status at which the message is void; -1 none
  std::uint8_t Priority = 0;         // 0 none, 1 highest .. 5 lowest
};

// Replaces "%droppedat%", "%traceroute%" and "%lasthost%", in this order, in the subject
// and then in the body of a queued alert, and marks the entry as no longer waiting for
// its trace.
void FillTraceVariables(TEmailInfo& entry, const std::string& lastHost, const std::string& droppedAt,
                        const std::string& traceRoute);
