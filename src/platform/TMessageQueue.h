#pragma once
// The message queue of a thread that owns windows, as the system keeps one per thread:
// the windows' socket threads put incoming messages here, and the owning thread handles
// them from its event loop, or, for sent messages only, while it waits in a send of its
// own. The queue exists while the thread owns at least one window.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class QSocketNotifier;
class TWindowChannel;

struct TQueuedMessage {
  std::uintptr_t Target = 0;
  bool Sent = false;  // false: posted
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::uintptr_t Sender = 0;
  std::string Payload;
  // Sent messages: called on the owning thread with whether the window handled it and
  // the result (not handled: the window was gone).
  std::function<void(bool handled, std::intptr_t result)> Reply;
};

class TMessageQueue : public std::enable_shared_from_this<TMessageQueue> {
public:
  // Posted messages beyond this many are dropped, as the system's queue limit does.
  static constexpr std::size_t MaxPosted = 10000;

  // The calling thread's queue, created when it has none.
  static std::shared_ptr<TMessageQueue> ForCurrentThread();
  // The calling thread's queue, or null when the thread owns no window.
  static std::shared_ptr<TMessageQueue> Current();

  ~TMessageQueue();
  TMessageQueue(const TMessageQueue&) = delete;
  TMessageQueue& operator=(const TMessageQueue&) = delete;

  // Owning thread only.
  void AddWindow(TWindowChannel* window);
  void RemoveWindow(TWindowChannel* window);
  TWindowChannel* OwnWindow(std::uintptr_t hwnd) const;
  // Handles every queued message in order (the event loop does this by itself).
  void DispatchAll();
  // Handles the queued sent messages only; posted ones wait for the event loop.
  void DispatchSent();
  // While held (holds nest), the event loop leaves the queue alone: a wait on the owning
  // thread that must not re-enter the program holds it. Queued and arriving messages are
  // handled once the last hold ends. Owning thread only.
  void Hold();
  void Release();
  // Readable while sent messages may be waiting.
  int SentWakeFd() const { return FSentFd; }

  // Any thread. False (and the message dropped) when the posted limit is reached.
  bool Enqueue(TQueuedMessage message);

private:
  TMessageQueue();
  bool PopNext(bool sentOnly, TQueuedMessage& message);
  void Deliver(TQueuedMessage& message);
  int FAnyFd = -1;   // wakes the event loop
  int FSentFd = -1;  // wakes a thread waiting in a send of its own
  std::unique_ptr<QSocketNotifier> FNotifier;
  std::map<std::uintptr_t, TWindowChannel*> FWindows;
  mutable std::mutex FLock;
  std::deque<TQueuedMessage> FMessages;
  std::size_t FPosted = 0;
  int FHolds = 0;
};
