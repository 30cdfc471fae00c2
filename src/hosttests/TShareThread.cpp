#include "hosttests/TShareThread.h"

#include <exception>
#include <utility>

#include "common/ErrorText.h"
#include "common/SystemInfo.h"
#include "hosttests/TTakenSlot.h"
#include "hosttests/TTestContext.h"
#include "platform/NameLookup.h"
#include "platform/NetResources.h"
#include "platform/SysErrors.h"
#include "platform/TSmbClient.h"

namespace {

constexpr int NoMoreFiles = 18;

}  // namespace

TShareThread::TShareThread(TTestContext& context, std::string name)
    : TBackgroundTask(std::move(name)), FContext(context) {}

std::shared_ptr<TShareThread> TShareThread::Create(TTestContext& context, std::string name, std::string hostAddress,
                                                   TShareDone done, std::int32_t hostID, std::string password,
                                                   std::string userName, std::string sharePath, int port,
                                                   int timeoutMs) {
  std::shared_ptr<TShareThread> t(new TShareThread(context, std::move(name)));
  t->FHostAddress = std::move(hostAddress);
  t->FDone = std::move(done);
  t->FHostID = hostID;
  t->FPassword = std::move(password);
  t->FUserName = std::move(userName);
  t->FSharePath = std::move(sharePath);
  t->FPort = port;
  t->FTimeoutMs = timeoutMs;
  t->Queue();
  return t;
}

bool TShareThread::AcceptedCode(int code) {
  return code == syserr::ERROR_SUCCESS || code == syserr::ERROR_FILE_NOT_FOUND ||
         code == syserr::ERROR_PATH_NOT_FOUND || code == syserr::ERROR_ACCESS_DENIED || code == NoMoreFiles;
}

std::pair<std::string, std::string> TShareThread::SplitSharePath(const std::string& sharePath) {
  const std::size_t start = sharePath.find_first_not_of("\\/");
  if (start == std::string::npos) return {};
  const std::size_t end = sharePath.find_first_of("\\/", start);
  if (end == std::string::npos) return {sharePath.substr(start), {}};
  return {sharePath.substr(start, end - start), sharePath.substr(end + 1)};
}

void TShareThread::Queue() {
  try {
    // The start may run before Request returns, on this thread or on the one that
    // frees a slot. A changed limit applies to a request that already waits.
    const std::uint64_t ticket = FContext.ShareSlots.Request(
        FContext.MaxShareThreads, false, [self = shared_from_this()](bool granted) { self->SlotGranted(granted); });
    bool cancel = false;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FTicket = ticket;
      cancel = Terminated();  // Terminate came before the ticket was known
    }
    if (cancel) FContext.ShareSlots.Cancel(ticket);
  } catch (const std::exception& e) {
    FResultText = e.what();
    Notify();
  }
}

void TShareThread::SlotGranted(bool granted) {
  if (!granted) {
    FElapsed = 0;
    FResultText = TerminatedText;
    Notify();
    return;
  }
  auto slot = std::make_shared<TTakenSlot>(&FContext.ShareSlots);
  FContext.RunInPool([self = shared_from_this(), slot] { self->Test(slot); });
}

void TShareThread::Test(const std::shared_ptr<TTakenSlot>& slot) {
  if (Terminated()) {
    FElapsed = 0;
    FResultText = TerminatedText;
  } else {
    FStage = 10;
    try {
      Steps();
    } catch (const std::exception& e) {
      FElapsed = 0;
      FResultText += std::string(e.what()) + " (Test Thread/" + std::to_string(FStage) + ")";
    } catch (...) {
      FElapsed = 0;
      FResultText += "Unknown error (Test Thread/" + std::to_string(FStage) + ")";
    }
  }
  slot->Release();
  Notify();
}

void TShareThread::Steps() {
  std::string dotted;
  if (Resolve(FHostAddress, dotted)) {
    FResolvedAddress = dotted;
  } else {
    const int code = GetLastError();
    FResolvedAddress.clear();
    FResultText = ErrorText(code != 0 ? code : syserr::WSAHOST_NOT_FOUND);
  }
  FStage = 20;
  const double start = MillisecondClock();
  FStage = 21;
  std::string connection;
  if (!FUserName.empty() || !FPassword.empty()) {
    FStage = 22;
    Trace("ServiceThread Authentication " + FHostAddress);
    FStage = 23;
    const int code = ConnectResource("\\\\" + FHostAddress, FUserName, FPassword, connection, FPort);
    FStage = 14;
    if (code != 0) FResultText = ErrorText(code);
  }
  // The connection goes whatever the listing does.
  struct TDisconnect {
    std::string& Name;
    ~TDisconnect() { DisconnectResource(Name); }
  } disconnect{connection};

  FStage = 30;
  int code = 0;
  try {
    // Without a connection the listing goes with the current credentials, as the
    // connection's own failure does not decide the test.
    TSmbClient client(std::nullopt, FPort, FTimeoutMs);
    const auto [share, path] = SplitSharePath(FSharePath);
    code = share.empty() ? 67 : client.FirstEntry(FHostAddress, share, path);
  } catch (const std::exception& e) {
    FResultText += std::string(e.what()) + " (Read Directory)";
    code = -1;
  }
  if (AcceptedCode(code)) {
    FSuccess = true;
  } else if (code > 0) {
    FResultText = ErrorText(code);
  }
  FStage = 40;
  DisconnectResource(connection);
  connection.clear();
  FElapsed = static_cast<std::int32_t>(MillisecondClock() - start);
}

void TShareThread::OnTerminate() {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    ticket = FTicket;
  }
  if (ticket != 0) FContext.ShareSlots.Cancel(ticket);
}

void TShareThread::Trace(const std::string& text) const {
  // A failing trace must not cost the result.
  try {
    FContext.Trace(text);
  } catch (...) {
    FContext.ReportException("ShareThread trace");
  }
}

void TShareThread::Notify() {
  if (FNotified.exchange(true)) return;
  try {
    std::shared_ptr<TShareThread> self = shared_from_this();
    FContext.PostCompletion(
        FContext.Completions.Share,
        [self] {
          try {
            if (self->FDone)
              self->FDone(*self, self->FHostAddress, self->FElapsed, self->FResultText, self->FSuccess,
                          self->FHostID, self->FSharePath, self->FResolvedAddress);
          } catch (...) {
            self->FContext.ReportException("ShareThread callback");
          }
          self->FAlive = false;
        },
        [self] { self->FAlive = false; });
  } catch (...) {
    FContext.ReportException("ShareThread notify");
    FAlive = false;
  }
}
