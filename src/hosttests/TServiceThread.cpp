#include "hosttests/TServiceThread.h"

#include <chrono>
#include <exception>
#include <utility>

#include "hosttests/TTakenSlot.h"
#include "hosttests/TTestContext.h"
#include "platform/NameLookup.h"
#include "platform/NetResources.h"
#include "platform/SysErrors.h"
#include "platform/TServiceControl.h"

namespace {

std::uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

TServiceThread::TServiceThread(TTestContext& context, std::string name)
    : TBackgroundTask(std::move(name)), FContext(context) {}

std::shared_ptr<TServiceThread> TServiceThread::Create(TTestContext& context, std::string name,
                                                       std::string hostAddress, std::int32_t hostID, TServiceDone done,
                                                       std::string serviceName, std::string password,
                                                       std::string userName) {
  std::shared_ptr<TServiceThread> t(new TServiceThread(context, std::move(name)));
  t->FHostAddress = std::move(hostAddress);
  t->FHostID = hostID;
  t->FDone = std::move(done);
  t->FServiceName = std::move(serviceName);
  t->FPassword = std::move(password);
  t->FUserName = std::move(userName);
  context.RunInPool([t] { t->Prepare(); });
  return t;
}

std::int32_t TServiceThread::QueryError(bool running, int lastServiceError) {
  if (running) return 0;
  return lastServiceError != 0 ? lastServiceError : svcerr::ERROR_SERVICE_NOT_ACTIVE;
}

void TServiceThread::Prepare() {
  try {
    Trace("ServiceThread Execute");
    std::string dotted;
    if (Resolve(FHostAddress, dotted)) {
      FResolvedAddress = dotted;
    } else {
      // The query still goes to the configured address; its result replaces this code.
      const int code = GetLastError();
      FResolvedAddress.clear();
      FErrorCode = code != 0 ? code : syserr::WSAHOST_NOT_FOUND;
    }
    if (!FUserName.empty() || !FPassword.empty()) {
      Trace("ServiceThread Authentication " + FHostAddress);
      // A refused connection is recorded; the query still runs with what rights it has.
      // The connection goes where the manager's requests go.
      const TServiceControl* services = FContext.Services.load();
      const int port = services ? services->SMBPort() : 0;
      if (const int code = ConnectResource("\\\\" + FHostAddress, FUserName, FPassword, FConnection, port))
        FErrorCode = code;
    }
    Trace("ServiceThread Wait " + FHostAddress);
    if (Terminated()) {
      Disconnect();
      Notify();
      return;
    }
    const std::uint64_t ticket =
        FContext.ServiceSlots.Request(FContext.MaxServiceThreads, false,
                                      [self = shared_from_this()](bool granted) { self->SlotGranted(granted); });
    bool cancel = false;
    {
      std::lock_guard<std::mutex> lock(FLock);
      FTicket = ticket;
      cancel = Terminated();
    }
    if (cancel) FContext.ServiceSlots.Cancel(ticket);
  } catch (...) {
    FContext.ReportException("ServiceThread");
    Disconnect();
    Notify();
  }
}

void TServiceThread::SlotGranted(bool granted) {
  if (!granted) {
    Disconnect();
    Notify();
    return;
  }
  auto slot = std::make_shared<TTakenSlot>(&FContext.ServiceSlots);
  FContext.RunInPool([self = shared_from_this(), slot] { self->Query(slot); });
}

void TServiceThread::Query(std::shared_ptr<TTakenSlot> slot) {
  try {
    Trace("ServiceThread Test " + FHostAddress);
    const std::uint32_t start = TickCount();
    if (!Terminated()) {
      TServiceControl* services = FContext.Services.load();
      int lastError = svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
      if (services) {
        FRunning = services->IsServiceRunning(FHostAddress, FServiceName);
        lastError = TServiceControl::LastServiceError();
      }
      slot->Release();
      Trace("ServiceThread Result " + FHostAddress);
      FErrorCode = QueryError(FRunning, lastError);
    }
    Disconnect();
    FElapsed = static_cast<std::int32_t>(TickCount() - start);
  } catch (...) {
    FContext.ReportException("ServiceThread");
    Disconnect();
  }
  slot->Release();
  Notify();
}

void TServiceThread::Disconnect() {
  DisconnectResource(FConnection);
  FConnection.clear();
}

void TServiceThread::OnTerminate() {
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(FLock);
    ticket = FTicket;
  }
  if (ticket != 0) FContext.ServiceSlots.Cancel(ticket);
}

void TServiceThread::Trace(const std::string& text) const {
  try {
    FContext.Trace(text);
  } catch (...) {
    FContext.ReportException("ServiceThread trace");
  }
}

void TServiceThread::Notify() {
  if (FNotified.exchange(true)) return;
  try {
    std::shared_ptr<TServiceThread> self = shared_from_this();
    FContext.PostCompletion(
        FContext.Completions.Service,
        [self] {
          // This runs on the main thread, where the host list changes: nothing to wait for.
          self->Trace("ServiceThread Callback Wait");
          self->Trace("ServiceThread Callback Alert");
          try {
            if (self->FDone)
              self->FDone(*self, self->FHostAddress, self->FResolvedAddress, self->FRunning, self->FErrorCode,
                          self->FHostID, self->FElapsed, self->FServiceName);
          } catch (...) {
            self->FContext.ReportException("ServiceThread callback");
          }
          self->Trace("ServiceThread Done");
          self->FAlive = false;
        },
        [self] { self->FAlive = false; });
  } catch (...) {
    FContext.ReportException("ServiceThread notify");
    FAlive = false;
  }
}
