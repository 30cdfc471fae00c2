#pragma once
// One TCP port test: a bare connect to the port, repeated up to a number of attempts
// until one succeeds; nothing is sent. Host tests of the TCP kind and the capability
// probes (ports 139 and 3389) use it. The slot of the TCP kind (shared with HTTP
// retrievals) is waited for as a queued request; the connects run on the worker pool.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "hosttests/TBackgroundTask.h"

class TTestContext;
class TTCPThread;

// thread, host address, resolved address, port, connected, result text, host
// reference, elapsed ms.
using TTCPDone = std::function<void(TTCPThread& thread, const std::string& hostAddress,
                                    const std::string& resolvedAddress, std::int32_t port, bool connected,
                                    const std::string& resultText, std::int64_t hostReference, std::int32_t elapsed)>;

class TTCPThread : public TBackgroundTask, public std::enable_shared_from_this<TTCPThread> {
public:
  // Creates the test and starts it at once. name is its entry in the running-test list;
  // hostReference is handed back unchanged (the host ID). done may be empty.
  static std::shared_ptr<TTCPThread> Create(TTestContext& context, std::string name, std::string hostAddress,
                                            bool limitBypass, std::int64_t hostReference, TTCPDone done,
                                            int attempts, std::int32_t port);

  bool IsAlive() const override { return FAlive.load(); }

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

private:
  TTCPThread(TTestContext& context, std::string name);
  void OnTerminate() override;

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
  std::uint32_t FStartTick = 0;
  std::atomic<bool> FAlive{true};
};
