#include "hosttests/TPingThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "platform/NameLookup.h"
#include "hosttests/TTestContext.h"
#include "platform/IcmpStatus.h"
#include "platform/SysErrors.h"
#include "platform/TEchoEngine.h"

namespace {

// The milliseconds tick the elapsed times are measured in.
std::uint32_t Ticks() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool IsDotted(const std::string& text) {
  in_addr parsed{};
  return inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

std::string DottedText(std::uint32_t address) {
  in_addr a{address};
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &a, text, sizeof text) ? text : "";
}

}  // namespace

TPingThread::TPingThread(TTestContext& context, std::string name) : TBackgroundTask(std::move(name)), FContext(context) {}

TPingThread::~TPingThread() = default;

std::shared_ptr<TPingThread> TPingThread::Create(TTestContext& context, std::string name, std::string address,
                                                 bool limitBypass, std::int32_t tag, int timeToLive, int timeoutMs,
                                                 TPingDone done, int attempts) {
  std::shared_ptr<TPingThread> t(new TPingThread(context, std::move(name)));
  t->FAddress = std::move(address);
  t->FLimitBypass = limitBypass;
  t->FTag = tag;
  t->FTimeToLive = timeToLive <= 0 ? 255 : timeToLive;
  t->FTimeOut = std::max(timeoutMs, 0);
  t->FDone = std::move(done);
  t->FAttempts = std::max(attempts, 0);
  // Only a name needs the pool; the lookup of a dotted address never leaves the process.
  if (IsDotted(t->FAddress))
    t->ResolveAndQueue();
  else
    context.RunInPool([t] { t->ResolveAndQueue(); });
  return t;
}

void TPingThread::ResolveAndQueue() {
  if (!Resolve(FAddress, FTarget, FResolvedAddress)) {
    FResolvedAddress.clear();
    FErrorText = "Address lookup failed";
    Finish();
    return;
  }
  FAddress = FResolvedAddress;
  if (Terminated()) {
    Finish();
    return;
  }
  // From here on another thread may run the test: touch nothing but FTicket.
  const std::uint64_t ticket = FContext.PingSlots.Request(
      FContext.MaxPingThreads, FLimitBypass, [self = shared_from_this()](bool granted) { self->SlotDecided(granted); });
  {
    std::lock_guard<std::mutex> lock(FLock);
    FTicket = ticket;
  }
  // A Terminate that came before the ticket was known could not cancel it.
  if (Terminated()) FContext.PingSlots.Cancel(ticket);
}

void TPingThread::OnTerminate() {
  std::uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(FLock);
    ticket = FTicket;
  }
  if (ticket) FContext.PingSlots.Cancel(ticket);
}

void TPingThread::SlotDecided(bool granted) {
  FSlotTaken = granted && !FLimitBypass;
  if (!granted || Terminated()) {
    Finish();
    return;
  }
  FStarted = true;
  FResponder.clear();
  FStartTick = Ticks();
  FEngine = FContext.Echo();
  if (!FEngine || !FEngine->Valid()) {
    FStatus = -3;
    FErrorText = IcmpHandleInvalidText;
    Finish();
    return;
  }
  SendAttempts();
}

void TPingThread::SendAttempts() {
  for (;;) {
    if (FSent >= FAttempts || Terminated() || Aborted()) {
      Finish();
      return;
    }
    ++FSent;
    FAttemptStart = Ticks();
    {
      std::lock_guard<std::mutex> lock(FLock);
      FSending = true;
    }
    FEngine->SendEchoAsync(FTarget, FTimeToLive, static_cast<std::uint32_t>(FTimeOut), TEchoEngine::DefaultPayload,
                           [self = shared_from_this()](const TEchoReply& reply) { self->OnAnswer(reply); });
    std::unique_ptr<TEchoReply> early;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FSending = false;
      early = std::move(FEarlyAnswer);
    }
    // The answer comes later, on the engine's thread.
    if (!early) return;
    // It came before the send returned (a request that could not be sent, or a very quick
    // reply): taken here, so that failing attempts loop instead of recursing.
    if (!TakeAnswer(*early)) {
      Finish();
      return;
    }
  }
}

void TPingThread::OnAnswer(const TEchoReply& reply) {
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FSending) {
      FEarlyAnswer = std::make_unique<TEchoReply>(reply);
      return;
    }
  }
  if (TakeAnswer(reply))
    SendAttempts();
  else
    Finish();
}

bool TPingThread::TakeAnswer(const TEchoReply& reply) {
  if (!reply.Replied) {
    FErrorText = IcmpStatusText(reply.Status);
    FStatus = -3;
    FResponder.clear();
    // The engine is closing: further requests would only fail the same way.
    return reply.Status != syserr::ERROR_OPERATION_ABORTED;
  }
  FResponder = DottedText(reply.Address);
  FResponseTime = static_cast<std::int32_t>(reply.RoundTripTime);
  FStatus = reply.Status;
  // Below 255 the test is a trace step, which any answer ends well.
  FSuccess = FTimeToLive != 255 || FResponder == FResolvedAddress;
  // A time-out of an earlier attempt is no error of a test that got its answer.
  FErrorText = FSuccess ? std::string() : IcmpStatusText(FStatus);
  return false;
}

void TPingThread::Finish() {
  // A failed test reports how long it waited in all; an answer below a millisecond the
  // time of its own attempt, not the time-outs of the attempts before it.
  if (FStarted && FResponseTime == 0)
    FResponseTime = static_cast<std::int32_t>(Ticks() - (FStatus >= 0 ? FAttemptStart : FStartTick));
  if (FSlotTaken) {
    FSlotTaken = false;
    FContext.PingSlots.Release();
  }
  auto self = shared_from_this();
  FContext.PostCompletion(
      FContext.Completions.Echo, [self] { self->Complete(); }, [self] { self->FAlive.store(false); });
}

void TPingThread::Complete() {
  try {
    if (FDone)
      FDone(*this, FAddress, FResponder, FResponseTime, FTag, FErrorText, FStatus, FSuccess, FResolvedAddress);
  } catch (...) {
    FContext.ReportException("PingThread callback");
  }
  FAlive.store(false);
}
