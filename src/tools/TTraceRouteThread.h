#pragma once
// One trace route: an echo request of growing time-to-live for every hop (1 to 30) and
// pass, all sent at once on the shared echo engine, and a name lookup for each router
// that answered. The answers are gathered on the main thread, so the results need no
// lock; once nothing is outstanding (or after 90 s) the completion handler gets them on
// the main thread. Terminate ends the wait early with what came so far.
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hosttests/TBackgroundTask.h"

class TTestContext;
class TPingThread;
class THostNameThread;

// One hop of one pass. ReplyAddress is set only when a reply came.
struct TTraceHop {
  std::string ReplyAddress;
  std::string HostName;
  std::int32_t ResponseTime = 0;
  std::int32_t Status = 0;  // the ICMP status; 11013 when a router reported the TTL expired
  std::string ErrorText;
};

constexpr int TraceMaxHops = 30;
using TTracePass = std::array<TTraceHop, TraceMaxHops>;  // hop n at index n - 1
using TTraceResults = std::vector<TTracePass>;

class TTraceRouteThread : public TBackgroundTask, public std::enable_shared_from_this<TTraceRouteThread> {
public:
  // thread, address as given, highest pass index (passes - 1), results.
  using TDone = std::function<void(TTraceRouteThread& thread, const std::string& address, int highestPass,
                                   const TTraceResults& results)>;
  static constexpr int WaitLimitMs = 90000;

  // Starts at once; main thread. timeoutMs: each request's time-out (PingTimeout).
  static std::shared_ptr<TTraceRouteThread> Create(TTestContext& context, std::string name, std::string address,
                                                   int passes, int timeoutMs, TDone done);
  ~TTraceRouteThread() override;

  bool IsAlive() const override { return FAlive.load(); }
  const std::string& Address() const { return FAddress; }
  // The dotted address the requests went to; empty when it did not resolve.
  const std::string& ResolvedAddress() const { return FResolved; }
  const TTraceResults& Results() const { return FResults; }
  int Outstanding() const { return FOutstanding; }

private:
  TTraceRouteThread(TTestContext& context, std::string name);
  void OnTerminate() override;
  void Start();
  void EchoDone(TPingThread& ping, const std::string& responder, std::int32_t responseTime, std::int32_t tag,
                const std::string& errorText, std::int32_t status, bool success);
  void NameDone(const std::string& dotted, const std::string& reverseName);
  void Uncount();
  void Finish();

  TTestContext& FContext;
  std::string FAddress;
  std::string FResolved;
  int FTimeoutMs = 0;
  TDone FDone;
  TTraceResults FResults;
  int FOutstanding = 0;
  bool FFinished = false;
  std::atomic<bool> FAlive{true};
  std::vector<std::shared_ptr<TPingThread>> FPings;
  std::vector<std::shared_ptr<THostNameThread>> FLookups;
  std::unique_ptr<QTimer> FLimit;
};
