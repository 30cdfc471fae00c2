#pragma once
// One Windows service test: the host's computer is asked whether a named service runs.
// The name lookup, the network connection with the host's credentials (when it has
// any) and the query run on the worker pool; the service slot is waited for as a queued
// request, so a test holds no thread while it waits. The query's error is read on the
// thread that made it, so concurrent tests never see each other's.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hosttests/TBackgroundTask.h"

class TTakenSlot;
class TTestContext;
class TServiceThread;

// thread, host address, resolved address, running, error code, host ID, elapsed ms,
// service name.
using TServiceDone = std::function<void(TServiceThread& thread, const std::string& hostAddress,
                                        const std::string& resolvedAddress, bool running, std::int32_t errorCode,
                                        std::int32_t hostID, std::int32_t elapsed, const std::string& serviceName)>;

class TServiceThread : public TBackgroundTask, public std::enable_shared_from_this<TServiceThread> {
public:
  // Starts at once. name is the running-test list's entry; done may be empty.
  static std::shared_ptr<TServiceThread> Create(TTestContext& context, std::string name, std::string hostAddress,
                                                std::int32_t hostID, TServiceDone done, std::string serviceName,
                                                std::string password, std::string userName);

  bool IsAlive() const override { return FAlive.load(); }

  // The error code of a finished query: 0 when running; else the manager's error, or
  // 1062 when the service is simply not running.
  static std::int32_t QueryError(bool running, int lastServiceError);

private:
  TServiceThread(TTestContext& context, std::string name);
  void OnTerminate() override;

  void Prepare();
  void SlotGranted(bool granted);
  void Query(std::shared_ptr<TTakenSlot> slot);
  void Disconnect();
  void Trace(const std::string& text) const;
  void Notify();

  TTestContext& FContext;
  std::string FHostAddress, FServiceName, FUserName, FPassword;
  std::string FResolvedAddress;
  std::string FConnection;
  std::int32_t FElapsed = 0;
  bool FRunning = false;
  std::int32_t FHostID = 0;
  std::int32_t FErrorCode = 0;
  TServiceDone FDone;

  std::atomic<bool> FAlive{true};
  std::atomic<bool> FNotified{false};
  std::mutex FLock;  // the waiting slot request against Terminate
  std::uint64_t FTicket = 0;
};
