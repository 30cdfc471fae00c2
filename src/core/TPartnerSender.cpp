#include "core/TPartnerSender.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

#include "platform/FaultReport.h"
#include "platform/SysErrors.h"
#include "platform/WindowMessages.h"

TPartnerSender::TPartnerSender(std::string name, std::uintptr_t window, std::uintptr_t self,
                               std::string knownTitle, TTimes times, TReport report)
    : TBackgroundTask(std::move(name)), FWindow(window), FSelf(self), FTitle(std::move(knownTitle)),
      FTitleKnown(!FTitle.empty()), FTimes(times), FReport(std::move(report)) {}

TPartnerSender::~TPartnerSender() = default;

bool TPartnerSender::Enqueue(TItem item) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FEnding) return false;
  FQueuedBytes += item.Bytes.size();
  FQueue.push_back(std::move(item));
  while (FQueue.size() > 1 && (FQueue.size() > MaxQueuedItems || FQueuedBytes > MaxQueuedBytes)) {
    FQueuedBytes -= FQueue.front().Bytes.size();
    FQueue.pop_front();
    ++FDropped;
  }
  FWake.notify_all();
  return true;
}

void TPartnerSender::Start() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FRunning || FEnding) return;
    FRunning = true;
  }
  // The thread keeps the sender alive; the owner may forget it at any time.
  auto self = shared_from_this();
  std::thread([self] { self->Run(); }).detach();
}

bool TPartnerSender::IsAlive() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FRunning;
}

void TPartnerSender::OnTerminate() {
  std::lock_guard<std::mutex> guard(FLock);
  FWake.notify_all();
}

bool TPartnerSender::PauseOrStop(unsigned ms) {
  std::unique_lock<std::mutex> guard(FLock);
  FWake.wait_for(guard, std::chrono::milliseconds(ms), [this] { return Terminated(); });
  return !Terminated();
}

bool TPartnerSender::SendOne(const TItem& item, TOutcome& outcome) {
  using TSteady = std::chrono::steady_clock;
  const auto giveUp = TSteady::now() + std::chrono::milliseconds(FTimes.GiveUpMs);
  outcome.Attempted = true;
  for (;;) {
    // A window that went away gets nothing, and trying again would not bring it back.
    if (!IsWindow(FWindow)) {
      outcome.Gone = true;
      outcome.Error = winmsg::ERROR_INVALID_WINDOW_HANDLE;
      return false;
    }
    std::intptr_t result = 0;
    if (SendCopyData(FWindow, FSelf, item.DataKind, item.Bytes, FTimes.SendMs, result)) return true;
    outcome.Error = GetLastError();
    if (outcome.Error == winmsg::ERROR_INVALID_WINDOW_HANDLE && !IsWindow(FWindow)) {
      outcome.Gone = true;
      return false;
    }
    if (Terminated() || TSteady::now() >= giveUp) return false;
    if (!PauseOrStop(FTimes.RetryPauseMs)) return false;
  }
}

void TPartnerSender::Run() {
  // The lowest priority for this thread alone: a partner never slows the tests.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
  for (;;) {
    TItem item;
    TOutcome outcome;
    {
      std::lock_guard<std::mutex> guard(FLock);
      outcome.Dropped = std::exchange(FDropped, 0);
      if (FQueue.empty() || Terminated()) {
        FQueue.clear();
        FQueuedBytes = 0;
        FEnding = true;
        FRunning = false;
        outcome.Finished = true;
      } else {
        item = std::move(FQueue.front());
        FQueue.pop_front();
        FQueuedBytes -= item.Bytes.size();
      }
    }
    if (!outcome.Finished) {
      try {
        if (!FTitleKnown) {
          FTitle = GetWindowText(FWindow);
          FTitleKnown = true;
        }
        outcome.LogPrefix = std::move(item.LogPrefix);
        if (item.DataKind != 0) outcome.Sent = SendOne(item, outcome);
      } catch (...) {
        outcome.Exception = CurrentExceptionText();
      }
    }
    outcome.Title = FTitle;
    FReport(*this, outcome);
    if (outcome.Finished) return;
  }
}
