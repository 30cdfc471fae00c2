#pragma once
// What every request handler of the web interface shares: the monitor whose state it
// shows (read under the monitor's state lock held shared, see src/core/README.md), the
// folder of the page templates and files, and the hand-over of host actions to the main
// thread. One object per web server; used on the server's thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/DateTime.h"
#include "platform/WakeOnLan.h"

class TMonitor;
class TWebRowCache;

struct TWebSite {
  TMonitor* Monitor = nullptr;
  // The folder "webserver" below the program's folder, with a trailing "/".
  std::string Folder;
  // When the program started: the Last-Modified time of the generated icons.
  TDateTime ProgramStart = 0;
  // Runs work on the main thread and returns when it has run (or could not run: false).
  // The web server wires it; tests may run the work directly.
  std::function<bool(std::function<void()> work)> RunOnMainThread;

  // The web commands "Restart" (restart true) and "Shutdown": connect to the computer at
  // address with the host's Windows account, then shut it down (forced, 30 seconds) with
  // the message. Returns 0 or 997 when it goes ahead, otherwise the Windows error code.
  // Runs on the server's thread. Empty until remote control is built in: the commands
  // then answer that they cannot be performed.
  std::function<int(const std::string& address, const std::string& user, const std::string& password,
                    const std::string& message, bool restart)>
      RemoteShutdown;
  // Where "Wakeup" sends its magic packet (tests point it at loopback).
  std::string WakeOnLanAddress = ::WakeOnLanAddress;
  std::uint16_t WakeOnLanPort = ::WakeOnLanPort;
  // The host rows the pages made, to make again only those of changed hosts; none: every
  // page makes all its rows. The web server sets it up and feeds it the change batches.
  std::shared_ptr<TWebRowCache> RowCache;
};
