#pragma once
// One echo test of up to a number of echo requests: the host test of the Ping kind, a
// trace-route or path-ping step, a range-ping probe. It holds no thread while it waits:
// a dotted address is used at once (a name is looked up on the pool), the in-flight slot
// is waited for as a queued request, and each echo request is answered by the shared
// echo engine's callback. The result reaches the completion handler on the main thread.
// Terminate ends a wait for the slot at once and stops further requests. Abort does the
// same except for the wait for the slot.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hosttests/TBackgroundTask.h"

class TTestContext;
class TPingThread;
class TEchoEngine;
struct TEchoReply;

// thread, address (dotted when it resolved, else the name as given), responder,
// response time, tag, error text, status, success, resolved address.
using TPingDone = std::function<void(TPingThread& thread, const std::string& address, const std::string& responder,
                                     std::int32_t responseTime, std::int32_t tag, const std::string& errorText,
                                     std::int32_t status, bool success, const std::string& resolvedAddress)>;

class TPingThread : public TBackgroundTask, public std::enable_shared_from_this<TPingThread> {
public:
  // Creates the echo test and starts it at once. name is its entry in the running-test
  // list. A time-to-live of 0 or less means 255. done may be empty.
  static std::shared_ptr<TPingThread> Create(TTestContext& context, std::string name, std::string address,
                                             bool limitBypass, std::int32_t tag, int timeToLive, int timeoutMs,
                                             TPingDone done, int attempts);

  ~TPingThread() override;

  bool IsAlive() const override { return FAlive.load(); }
  bool IsEchoTest() const override { return true; }

  // The result, complete when the completion handler runs. Address is the dotted
  // address once it resolved, else the name as given.
  const std::string& Address() const { return FAddress; }
  bool LimitBypass() const { return FLimitBypass; }
  bool Success() const { return FSuccess; }
  std::uint32_t Target() const { return FTarget; }  // network byte order
  const std::string& ResolvedAddress() const { return FResolvedAddress; }
  int TimeOut() const { return FTimeOut; }
  std::int32_t ResponseTime() const { return FResponseTime; }
  int TimeToLive() const { return FTimeToLive; }
  std::int32_t Tag() const { return FTag; }
  const std::string& ErrorText() const { return FErrorText; }
  std::int32_t Status() const { return FStatus; }
  const std::string& Responder() const { return FResponder; }
  int Attempts() const { return FAttempts; }

private:
  TPingThread(TTestContext& context, std::string name);
  void OnTerminate() override;

  // Resolves the address, then waits for the slot or goes to the completion.
  void ResolveAndQueue();
  void SlotDecided(bool granted);
  // Sends the requests one after another; returns once one is waiting for its answer.
  void SendAttempts();
  void OnAnswer(const TEchoReply& reply);
  // Takes in one answer; true when another attempt is due.
  bool TakeAnswer(const TEchoReply& reply);
  // Gives the slot back and posts the completion step.
  void Finish();
  // On the main thread: the completion handler.
  void Complete();

  TTestContext& FContext;
  std::string FAddress;
  bool FLimitBypass = false;
  bool FSuccess = false;
  std::uint32_t FTarget = 0;
  std::string FResolvedAddress;
  int FTimeOut = 0;
  std::int32_t FResponseTime = 0;
  TPingDone FDone;
  int FTimeToLive = 255;
  std::int32_t FTag = 0;
  std::string FErrorText;
  std::int32_t FStatus = -1;
  std::string FResponder;
  int FAttempts = 0;
  std::uint32_t FAttemptStart = 0;  // tick of the current request

  // The fields above and below are written by one step at a time (the creating thread, a
  // pool thread, the thread that grants the slot, the echo engine's thread), each handing
  // over to the next through a lock, and read by the completion step. FLock guards what
  // Terminate, and an answer that overtakes its own send, may meet.
  std::mutex FLock;
  std::uint64_t FTicket = 0;  // the slot request, once made
  bool FSending = false;      // inside SendEchoAsync
  std::unique_ptr<TEchoReply> FEarlyAnswer;  // came while sending
  TEchoEngine* FEngine = nullptr;
  bool FSlotTaken = false;    // a counted slot to give back
  bool FStarted = false;      // the slot was granted: the elapsed time counts
  std::uint32_t FStartTick = 0;
  int FSent = 0;
  std::atomic<bool> FAlive{true};
};
