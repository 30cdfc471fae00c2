#include "tools/TTraceRouteThread.h"

#include <utility>

#include "hosttests/THostNameThread.h"
#include "hosttests/TPingThread.h"
#include "hosttests/TTestContext.h"

TTraceRouteThread::TTraceRouteThread(TTestContext& context, std::string name)
    : TBackgroundTask(std::move(name)), FContext(context) {}

TTraceRouteThread::~TTraceRouteThread() = default;

std::shared_ptr<TTraceRouteThread> TTraceRouteThread::Create(TTestContext& context, std::string name,
                                                             std::string address, int passes, int timeoutMs,
                                                             TDone done) {
  std::shared_ptr<TTraceRouteThread> t(new TTraceRouteThread(context, std::move(name)));
  t->FAddress = std::move(address);
  t->FTimeoutMs = timeoutMs;
  t->FDone = std::move(done);
  t->FResults.resize(static_cast<std::size_t>(passes < 1 ? 1 : passes));
  t->Start();
  return t;
}

void TTraceRouteThread::Start() {
  std::weak_ptr<TTraceRouteThread> weak = weak_from_this();
  FLimit = std::make_unique<QTimer>();
  FLimit->setSingleShot(true);
  QObject::connect(FLimit.get(), &QTimer::timeout, [weak] {
    if (auto self = weak.lock()) self->Finish();
  });
  FLimit->start(WaitLimitMs);
  const int passes = static_cast<int>(FResults.size());
  // Counted before any request starts: one that fails at once must not end the trace.
  FOutstanding = TraceMaxHops * passes + 1;
  for (int hop = 1; hop <= TraceMaxHops; ++hop) {
    for (int pass = 0; pass < passes; ++pass) {
      FPings.push_back(TPingThread::Create(
          FContext, Name() + " Hop " + std::to_string(hop), FAddress, false, hop + 100 * pass, hop, FTimeoutMs,
          [weak](TPingThread& ping, const std::string&, const std::string& responder, std::int32_t responseTime,
                 std::int32_t tag, const std::string& errorText, std::int32_t status, bool success,
                 const std::string&) {
            if (auto self = weak.lock()) self->EchoDone(ping, responder, responseTime, tag, errorText, status, success);
          },
          1));
    }
  }
  Uncount();
}

void TTraceRouteThread::EchoDone(TPingThread& ping, const std::string& responder, std::int32_t responseTime,
                                 std::int32_t tag, const std::string& errorText, std::int32_t status, bool success) {
  if (FFinished) return;
  if (FResolved.empty()) FResolved = ping.ResolvedAddress();
  const int hop = tag % 100, pass = tag / 100;
  if (hop < 1 || hop > TraceMaxHops || pass < 0 || pass >= static_cast<int>(FResults.size())) return;
  TTraceHop& entry = FResults[static_cast<std::size_t>(pass)][static_cast<std::size_t>(hop - 1)];
  if (success && !responder.empty()) {
    entry.ReplyAddress = responder;
    // A router met in another hop or pass is looked up once.
    bool named = false, asked = false;
    for (const TTracePass& p : FResults)
      for (const TTraceHop& h : p)
        if (&h != &entry && h.ReplyAddress == responder) {
          if (!h.HostName.empty() && !named) {
            entry.HostName = h.HostName;
            named = true;
          }
          asked = true;
        }
    if (!named && !asked) {
      ++FOutstanding;
      std::weak_ptr<TTraceRouteThread> weak = weak_from_this();
      FLookups.push_back(THostNameThread::Create(
          FContext, responder,
          [weak](THostNameThread&, const std::string& name, const std::string& reverse, const std::string&) {
            if (auto self = weak.lock()) self->NameDone(name, reverse);
          }));
    }
  } else {
    entry.ReplyAddress.clear();
  }
  entry.ResponseTime = responseTime;
  entry.Status = status;
  entry.ErrorText = errorText;
  Uncount();
}

void TTraceRouteThread::NameDone(const std::string& dotted, const std::string& reverseName) {
  if (FFinished) return;
  for (TTracePass& p : FResults)
    for (TTraceHop& h : p)
      if (h.ReplyAddress == dotted) h.HostName = reverseName;
  Uncount();
}

void TTraceRouteThread::Uncount() {
  if (--FOutstanding <= 0) Finish();
}

void TTraceRouteThread::OnTerminate() {
  for (const auto& ping : FPings) ping->Terminate();
  std::weak_ptr<TTraceRouteThread> weak = weak_from_this();
  // Any thread may ask; the results belong to the main thread.
  FContext.PostCompletion(FContext.Completions.Echo, [weak] {
    if (auto self = weak.lock()) self->Finish();
  });
}

void TTraceRouteThread::Finish() {
  if (FFinished) return;
  FFinished = true;
  if (FLimit) FLimit->stop();
  // Requests still waiting are reported as not answered; the completion runs from the
  // event loop, not inside the handler of the last answer.
  for (const auto& ping : FPings) ping->Terminate();
  auto self = shared_from_this();
  FContext.PostCompletion(
      FContext.Completions.Echo,
      [self] {
        try {
          if (self->FDone)
            self->FDone(*self, self->FAddress, static_cast<int>(self->FResults.size()) - 1, self->FResults);
        } catch (...) {
          self->FContext.ReportException("TraceRoute callback");
        }
        self->FPings.clear();
        self->FLookups.clear();
        self->FAlive.store(false);
      },
      [self] { self->FAlive.store(false); });
}
