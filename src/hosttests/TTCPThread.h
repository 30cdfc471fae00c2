#pragma once
// One TCP port test: a bare connect to the port, repeated up to a number of attempts
// until one succeeds; nothing is sent. Host tests of the TCP kind and the capability
// probes (ports 139 and 3389) use it. The slot of the TCP kind (shared with HTTP
// retrievals) is waited for as a queued request; the name lookup and the connects run
// on the worker pool, so a test holds no thread while it waits.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hosttests/TBackgroundTask.h"

class TTakenSlot;
class TTestContext;
class TTCPThread;

// thread, host address, resolved address, port, connected, result text, host
// reference, elapsed ms.
using TTCPDone = std::function<void(TTCPThread& thread, const std::string& hostAddress,
                                    const std::string& resolvedAddress, std::int32_t port, bool connected,
                                    const std::string& resultText, std::int64_t hostReference, std::int32_t elapsed)>;

class TTCPThread : public TBackgroundTask, public std::enable_shared_from_this<TTCPThread> {
public:
  // How long one connect attempt may wait for an answer (the setting TCPConnectTimeout):
  // a port that drops packets would otherwise hold each attempt for the kernel's own
  // time-out of about two minutes, and the test would be abandoned as overdue.
  static constexpr std::int32_t DefaultConnectTimeoutMs = 21000;

  // Creates the test and starts it at once. name is its entry in the running-test list;
  // hostReference is handed back unchanged (the host ID). done may be empty. An attempt
  // that has not connected after connectTimeoutMs fails with 10060 (timed out).
  static std::shared_ptr<TTCPThread> Create(TTestContext& context, std::string name, std::string hostAddress,
                                            bool limitBypass, std::int64_t hostReference, TTCPDone done,
                                            int attempts, std::int32_t port,
                                            std::int32_t connectTimeoutMs = DefaultConnectTimeoutMs);

  // True until the completion step has run (or could never run).
  bool IsAlive() const override { return FAlive.load(); }

  // The result, complete when the completion handler runs.
  const std::string& HostAddress() const { return FHostAddress; }
  bool Connected() const { return FConnected; }
  bool LimitBypass() const { return FLimitBypass; }
  const std::string& ResolvedAddress() const { return FResolvedAddress; }
  std::int32_t Port() const { return FPort; }
  const std::string& LastExceptionText() const { return FLastExceptionText; }
  std::int32_t Elapsed() const { return FElapsed; }
  std::int64_t HostReference() const { return FHostReference; }
  const std::string& ResultText() const { return FResultText; }
  int Attempts() const { return FAttempts; }
  std::int32_t ConnectTimeoutMs() const { return FConnectTimeoutMs; }

  // The attempt loop apart from the socket, so that its rules can be checked without a
  // network. attempt() makes one connection attempt; the loop ends when one connects,
  // the attempts are used up or stop() is true (looked at before every attempt, and
  // after a failed one, whose result then counts for nothing: it was cut short). An
  // error of 10035 (would block) uses no attempt, but after WouldBlockRepeats of them in
  // a row one is counted, so that a socket that keeps saying so cannot hold the test for
  // ever; they are spaced by a short pause.
  struct TAttemptResult {
    bool Connected = false;
    int Code = 0;  // the error's code; 0 when the error carries none
    std::string Message;
  };
  struct TAttemptsOutcome {
    bool Connected = false;
    std::string LastExceptionText;
    int ResultCode = 0;  // the last non-zero code; 0 when no error carried one
  };
  static constexpr int WouldBlockRepeats = 5;
  static TAttemptsOutcome RunAttempts(int attempts, const std::function<bool()>& stop,
                                      const std::function<TAttemptResult()>& attempt);

private:

  TTCPThread(TTestContext& context, std::string name);
  void OnTerminate() override;

  void ResolveAndQueue();
  void SlotGranted(bool granted);
  void ConnectAll(std::shared_ptr<TTakenSlot> slot);
  TAttemptResult ConnectOnce();
  void CloseWake();
  void Trace(const std::string& text) const;
  void AppendError(const std::string& message);
  void Notify();

  TTestContext& FContext;
  std::string FHostAddress;
  bool FConnected = false;
  bool FLimitBypass = false;
  std::string FResolvedAddress;
  std::int32_t FPort = 0;
  std::string FLastExceptionText;
  std::int32_t FElapsed = 0;
  TTCPDone FDone;
  std::int64_t FHostReference = 0;
  std::string FResultText;
  int FAttempts = 0;
  std::int32_t FConnectTimeoutMs = DefaultConnectTimeoutMs;
  std::uint32_t FStartTick = 0;

  std::uint32_t FTarget = 0;  // the resolved address, network byte order
  std::atomic<bool> FAlive{true};
  std::atomic<bool> FNotified{false};
  // Guards the waiting slot request and the wake of a connect in progress against
  // Terminate, which comes from another thread.
  std::mutex FLock;
  std::uint64_t FTicket = 0;
  int FWake = -1;  // eventfd that cuts a connect in progress short
};
