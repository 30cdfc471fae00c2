#include "hosttests/TTCPThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "common/ErrorText.h"
#include "platform/NameLookup.h"
#include "hosttests/TTakenSlot.h"
#include "hosttests/TTestContext.h"
#include "platform/SysErrors.h"

namespace {

constexpr int WouldBlockCode = 10035;
constexpr int AddressNotValidCode = 10049;
constexpr std::chrono::milliseconds WouldBlockPause(10);

std::uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TTCPThread::TAttemptResult Failure(int code) {
  TTCPThread::TAttemptResult r;
  r.Code = code;
  r.Message = SysErrorMessage(code);
  while (!r.Message.empty() && (r.Message.back() == '\n' || r.Message.back() == '\r')) r.Message.pop_back();
  if (r.Message.empty()) r.Message = ErrorName(code);
  return r;
}

// Waits at most timeoutMs for a non-blocking connect to end. 0 when connected, else the
// errno of the failure (ETIMEDOUT when the time ran out); -1 when the wake fired first.
int AwaitConnect(int fd, int wake, std::int32_t timeoutMs) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(std::max(timeoutMs, 1));
  pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};  // poll skips a negative wake
  for (;;) {
    const auto left = ceil<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) return ETIMEDOUT;
    const int ready = poll(fds, 2, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (ready == 0) continue;
    if (fds[0].revents != 0) break;
    if (fds[1].revents != 0) return -1;
  }
  int err = 0;
  socklen_t length = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0) return errno;
  return err;
}

}  // namespace

TTCPThread::TTCPThread(TTestContext& context, std::string name) : TBackgroundTask(std::move(name)), FContext(context) {}

std::shared_ptr<TTCPThread> TTCPThread::Create(TTestContext& context, std::string name, std::string hostAddress,
                                               bool limitBypass, std::int64_t hostReference, TTCPDone done,
                                               int attempts, std::int32_t port, std::int32_t connectTimeoutMs) {
  std::shared_ptr<TTCPThread> t(new TTCPThread(context, std::move(name)));
  t->FHostAddress = std::move(hostAddress);
  t->FLimitBypass = limitBypass;
  t->FHostReference = hostReference;
  t->FDone = std::move(done);
  t->FAttempts = attempts;
  t->FPort = port;
  t->FConnectTimeoutMs = connectTimeoutMs > 0 ? connectTimeoutMs : DefaultConnectTimeoutMs;
  context.RunInPool([t] { t->ResolveAndQueue(); });
  return t;
}

TTCPThread::TAttemptsOutcome TTCPThread::RunAttempts(int attempts, const std::function<bool()>& stop,
                                                     const std::function<TAttemptResult()>& attempt) {
  TAttemptsOutcome outcome;
  int used = 0, wouldBlock = 0;
  while (used < attempts && !stop()) {
    const TAttemptResult r = attempt();
    if (r.Connected) {
      outcome.Connected = true;
      break;
    }
    if (stop()) break;
    outcome.LastExceptionText = r.Message;
    if (r.Code != 0) outcome.ResultCode = r.Code;
    if (r.Code == WouldBlockCode) {
      std::this_thread::sleep_for(WouldBlockPause);
      if (++wouldBlock < WouldBlockRepeats) continue;
    }
    wouldBlock = 0;
    ++used;
  }
  return outcome;
}

void TTCPThread::ResolveAndQueue() {
  try {
    FResultText.clear();
    FConnected = false;
    Trace("Start TCPThread " + FHostAddress);
    std::string dotted;
    if (Resolve(FHostAddress, FTarget, dotted)) {
      FResolvedAddress = dotted;
    } else {
      const int code = GetLastError();
      FResolvedAddress.clear();
      FResultText = ErrorText(code != 0 ? code : syserr::WSAHOST_NOT_FOUND);
    }
    Trace("TCPThread Wait " + FHostAddress);
    // Nothing to connect to: no reason to wait for a slot.
    if (FResolvedAddress.empty() || Terminated()) {
      Notify();
      return;
    }
    // The start may run before Request returns, on this thread or on the one that
    // frees a slot. A changed limit applies to a request that already waits.
    const std::uint64_t ticket =
        FContext.TCPSlots.Request(FContext.MaxTCPThreads, FLimitBypass,
                                  [self = shared_from_this()](bool granted) { self->SlotGranted(granted); });
    bool cancel = false;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FTicket = ticket;
      cancel = Terminated();  // Terminate came before the ticket was known
    }
    if (cancel) FContext.TCPSlots.Cancel(ticket);
  } catch (const std::exception& e) {
    AppendError(e.what());
    Notify();
  }
}

void TTCPThread::SlotGranted(bool granted) {
  if (!granted) {
    Notify();
    return;
  }
  auto slot = std::make_shared<TTakenSlot>(FLimitBypass ? nullptr : &FContext.TCPSlots);
  FContext.RunInPool([self = shared_from_this(), slot] { self->ConnectAll(slot); });
}

void TTCPThread::ConnectAll(std::shared_ptr<TTakenSlot> slot) {
  try {
    bool go = false;
    {
      std::lock_guard<std::mutex> lock(FLock);
      go = !Terminated();
      if (go) FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    if (go) {
      Trace("TCPThread Client Create " + FHostAddress);
      FStartTick = TickCount();
      const TAttemptsOutcome outcome =
          RunAttempts(FAttempts, [this] { return Terminated(); }, [this] { return ConnectOnce(); });
      FConnected = outcome.Connected;
      FLastExceptionText = outcome.LastExceptionText;
      if (outcome.ResultCode != 0) FResultText = ErrorText(outcome.ResultCode);
      Trace("TCPThread Client Free " + FHostAddress);
      FElapsed = static_cast<std::int32_t>(TickCount() - FStartTick);
    }
  } catch (const std::exception& e) {
    AppendError(e.what());
  }
  CloseWake();
  slot->Release();
  Notify();
}

TTCPThread::TAttemptResult TTCPThread::ConnectOnce() {
  Trace("TCPThread Client Open " + FHostAddress);
  // A port that does not fit would otherwise be cut to 16 bits and reach another one.
  if (FPort < 1 || FPort > 65535) return Failure(AddressNotValidCode);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Failure(WinErrorFromErrno(errno));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(FPort));
  to.sin_addr.s_addr = FTarget;
  int err = 0;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    err = errno;
    if (err == EINPROGRESS) err = AwaitConnect(fd, FWake, FConnectTimeoutMs);
  }
  close(fd);
  TAttemptResult r;
  if (err == 0) {
    r.Connected = true;
  } else if (err > 0) {
    r = Failure(WinErrorFromErrno(err));
  }  // else cut short by Terminate: the loop stops and ignores it
  return r;
}

void TTCPThread::CloseWake() {
  std::lock_guard<std::mutex> lock(FLock);
  if (FWake >= 0) close(FWake);
  FWake = -1;
}

void TTCPThread::OnTerminate() {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    ticket = FTicket;
    // A connect to a silent peer would otherwise hold the slot, and whoever waits for
    // the pool, for the platform's whole connect time-out.
    if (FWake >= 0) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = write(FWake, &one, sizeof one);
    }
  }
  if (ticket != 0) FContext.TCPSlots.Cancel(ticket);
}

void TTCPThread::Trace(const std::string& text) const {
  // A failing trace must not cost the result.
  try {
    FContext.Trace(text);
  } catch (...) {
    FContext.ReportException("TCPThread trace");
  }
}

void TTCPThread::AppendError(const std::string& message) {
  if (!FResultText.empty()) FResultText += "; ";
  FResultText += message;
}

void TTCPThread::Notify() {
  if (FNotified.exchange(true)) return;
  try {
    Trace("TCPThread Notify " + FHostAddress);
    std::shared_ptr<TTCPThread> self = shared_from_this();
    FContext.PostCompletion(
        FContext.Completions.TCP,
        [self] {
          self->Trace("TCPThread Callback");
          try {
            if (self->FDone)
              self->FDone(*self, self->FHostAddress, self->FResolvedAddress, self->FPort, self->FConnected,
                          self->FResultText, self->FHostReference, self->FElapsed);
          } catch (...) {
            self->FContext.ReportException("TCPThread callback");
          }
          self->FAlive = false;
        },
        [self] { self->FAlive = false; });
  } catch (...) {
    FContext.ReportException("TCPThread notify");
    FAlive = false;
  }
}
