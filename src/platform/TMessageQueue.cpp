#include "platform/TMessageQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>

#include "platform/TWindowChannel.h"

namespace {
// Per-thread like the system's own message queues; the windows hold the queue alive.
thread_local std::weak_ptr<TMessageQueue> ThreadQueue;
}  // namespace

std::shared_ptr<TMessageQueue> TMessageQueue::ForCurrentThread() {
  auto queue = ThreadQueue.lock();
  if (!queue) {
    queue.reset(new TMessageQueue());
    ThreadQueue = queue;
  }
  return queue;
}

std::shared_ptr<TMessageQueue> TMessageQueue::Current() { return ThreadQueue.lock(); }

namespace {
void Signal(int fd) {
  const std::uint64_t one = 1;
  if (fd >= 0 && ::write(fd, &one, sizeof one) < 0) {
    // Only an overflow of the counter fails, and then it is readable anyway.
  }
}
void Drain(int fd) {
  std::uint64_t count = 0;
  if (fd >= 0 && ::read(fd, &count, sizeof count) < 0) {
    // EAGAIN: nothing was pending.
  }
}
}  // namespace

TMessageQueue::TMessageQueue() {
  FAnyFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  FSentFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FAnyFd >= 0) {
    FNotifier = std::make_unique<QSocketNotifier>(FAnyFd, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { DispatchAll(); });
  }
}

TMessageQueue::~TMessageQueue() {
  FNotifier.reset();
  if (FAnyFd >= 0) ::close(FAnyFd);
  if (FSentFd >= 0) ::close(FSentFd);
  // Whoever still waits for an answer learns that the window is gone.
  for (TQueuedMessage& message : FMessages)
    if (message.Reply) message.Reply(false, 0);
}

void TMessageQueue::AddWindow(TWindowChannel* window) { FWindows[window->Handle()] = window; }

void TMessageQueue::RemoveWindow(TWindowChannel* window) {
  for (auto it = FWindows.begin(); it != FWindows.end(); ++it) {
    if (it->second == window) {
      FWindows.erase(it);
      return;
    }
  }
}

TWindowChannel* TMessageQueue::OwnWindow(std::uintptr_t hwnd) const {
  const auto it = FWindows.find(hwnd);
  return it == FWindows.end() ? nullptr : it->second;
}

bool TMessageQueue::Enqueue(TQueuedMessage message) {
  const bool sent = message.Sent;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (!sent) {
      if (FPosted >= MaxPosted) return false;
      ++FPosted;
    }
    FMessages.push_back(std::move(message));
  }
  if (sent) Signal(FSentFd);
  Signal(FAnyFd);
  return true;
}

bool TMessageQueue::PopNext(bool sentOnly, TQueuedMessage& message) {
  std::lock_guard<std::mutex> lock(FLock);
  for (auto it = FMessages.begin(); it != FMessages.end(); ++it) {
    if (sentOnly && !it->Sent) continue;
    message = std::move(*it);
    FMessages.erase(it);
    if (!message.Sent) --FPosted;
    return true;
  }
  return false;
}

void TMessageQueue::Deliver(TQueuedMessage& message) {
  // Looked up at delivery: a window destroyed meanwhile no longer gets its messages.
  TWindowChannel* window = OwnWindow(message.Target);
  std::intptr_t result = 0;
  if (window)
    result = window->Deliver(message.Msg, message.WParam, message.LParam, message.Sender, message.Payload);
  if (message.Reply) message.Reply(window != nullptr, result);
}

// A handler may unregister the thread's last window; the queue lives until dispatching ends.
void TMessageQueue::DispatchAll() {
  const auto self = shared_from_this();
  Drain(FAnyFd);
  Drain(FSentFd);
  TQueuedMessage message;
  while (PopNext(false, message)) Deliver(message);
}

void TMessageQueue::Hold() {
  if (++FHolds == 1 && FNotifier) FNotifier->setEnabled(false);
}

void TMessageQueue::Release() {
  // The wake-up descriptor stays readable while messages wait, so they come at once.
  if (FHolds > 0 && --FHolds == 0 && FNotifier) FNotifier->setEnabled(true);
}

void TMessageQueue::DispatchSent() {
  const auto self = shared_from_this();
  Drain(FSentFd);
  TQueuedMessage message;
  while (PopNext(true, message)) Deliver(message);
}
