#pragma once
// The monitor's end of the fault hooks: an error that was swallowed becomes one "E"
// event "Exception in " + place + ": " + the error's text. The first of each place is
// logged at once; after that a place logs at most once a minute, and what it held back
// meanwhile is counted in its next line, so a fault in a loop cannot flood the log.
// Reports may come from any thread; the event is always logged on the main thread.
#include <QPointer>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/FaultReport.h"

class QObject;
class TClock;

class TFaultLog {
public:
  // Logs one "E" event without a host; runs on the main thread.
  using TSink = std::function<void(const std::string& message)>;

  static constexpr double RepeatAfterMs = 60000;
  // Bounds what one report can cost, whatever the error's text holds.
  static constexpr std::size_t MaxTextBytes = 500;
  static constexpr std::size_t MaxPlaces = 200;

  // mainThread: the object on whose thread the sink runs; reports made after it is gone
  // are dropped.
  TFaultLog(QObject* mainThread, const TClock& clock, TSink sink);
  TFaultLog(const TFaultLog&) = delete;
  TFaultLog& operator=(const TFaultLog&) = delete;

  void Report(const std::string& where, const std::string& what);
  // Logs the reports held back by places whose minute has passed (the alert timer calls
  // it, so a burst that stops is still counted).
  void LogHeldBack();
  // A hook that reports here; valid while this object lives.
  TFaultHook Hook();
  // Drops every report from now on (the owner is going).
  void Silence();

private:
  struct TPlace {
    double LastLoggedMs = 0;
    std::uint64_t HeldBack = 0;
    std::string LastWhat;
  };
  static std::string Text(const std::string& where, const std::string& what, std::uint64_t heldBack);
  void Emit(std::string message);

  QPointer<QObject> FMainThread;
  const TClock& FClock;
  TSink FSink;
  std::mutex FLock;
  std::map<std::string, TPlace> FPlaces;
  bool FSilent = false;
};
