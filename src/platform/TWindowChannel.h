#pragma once
// A window that other processes can find by its class and send messages to
// (WindowMessages.h). Registering opens a local socket "<class>@<handle>" in the window
// folder, served by a thread of its own so that the caption stays readable and senders
// are never refused while the owner is busy. Handlers run on the thread that registered
// the window, from its Qt event loop; the object must be registered, unregistered and
// destroyed on that thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/FaultReport.h"
#include "platform/WindowMessages.h"

class TMessageQueue;
class TWindowPump;
struct TWindowShared;
class QThread;

class TWindowChannel {
public:
  using TMessageHandler =
      std::function<std::intptr_t(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)>;
  using TCopyDataHandler =
      std::function<std::intptr_t(std::uintptr_t sender, std::uintptr_t dwData, std::string bytes)>;

  explicit TWindowChannel(TMessageHandler onMessage, TCopyDataHandler onCopyData = {});
  ~TWindowChannel();
  TWindowChannel(const TWindowChannel&) = delete;
  TWindowChannel& operator=(const TWindowChannel&) = delete;

  // Makes the window known under the class and gives it a new handle. False, with
  // ErrorText() telling why, when the window folder or the socket cannot be made.
  bool Register(const std::string& className, const std::string& caption);
  // Removes the socket; queued messages for the window are dropped and senders waiting
  // for an answer fail.
  void Unregister();

  bool IsRegistered() const { return FHandle != 0; }
  // Nonzero while registered, unique on the machine among live windows.
  std::uintptr_t Handle() const { return FHandle; }
  const std::string& ClassName() const { return FClassName; }
  std::string Caption() const;
  void SetCaption(const std::string& caption);
  const std::string& ErrorText() const { return FError; }

  // Unfinished frames of all connections together may hold at most this much; past it
  // the connection holding the most is dropped.
  static constexpr std::size_t MaxHeldBytes = 3 * (winwire::HeaderSize + winmsg::MaxCopyDataSize);
  // Receives what a handler throws ("window message handler") and why a connection was
  // dropped ("window socket"). Called on the owner thread or the socket thread.
  void SetFaultHook(TFaultHook hook);

  // Runs the handler for one message; exceptions stop here and give 0.
  std::intptr_t Deliver(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                        std::uintptr_t sender, const std::string& payload);

private:
  bool StartPump(const std::string& tempPath);
  void StopPump();

  TMessageHandler FOnMessage;
  TCopyDataHandler FOnCopyData;
  std::uintptr_t FHandle = 0;
  std::string FClassName, FPath, FError;
  std::shared_ptr<TWindowShared> FShared;
  std::shared_ptr<TMessageQueue> FQueue;
  std::unique_ptr<QThread> FThread;
  TWindowPump* FPump = nullptr;  // lives on FThread
};
