#include "core/TFaultLog.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>
#include <vector>

#include "common/Clock.h"

TFaultLog::TFaultLog(QObject* mainThread, const TClock& clock, TSink sink)
    : FMainThread(mainThread), FClock(clock), FSink(std::move(sink)) {}

std::string TFaultLog::Text(const std::string& where, const std::string& what, std::uint64_t heldBack) {
  std::string text = "Exception in " + where + ": " + what.substr(0, MaxTextBytes);
  if (heldBack > 0) text += " (" + std::to_string(heldBack) + " more since the last report)";
  return text;
}

void TFaultLog::Report(const std::string& where, const std::string& what) {
  std::string message;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FSilent) return;
    const double now = FClock.Milliseconds();
    // Places are names in the code; a bound keeps a fault in naming them harmless too.
    const std::string place = FPlaces.size() < MaxPlaces || FPlaces.count(where) ? where : std::string("(other)");
    const auto [it, first] = FPlaces.try_emplace(place);
    TPlace& p = it->second;
    if (!first && now - p.LastLoggedMs < RepeatAfterMs) {
      ++p.HeldBack;
      p.LastWhat = what.substr(0, MaxTextBytes);
      return;
    }
    message = Text(place, what, p.HeldBack);
    p.LastLoggedMs = now;
    p.HeldBack = 0;
    p.LastWhat.clear();
  }
  Emit(std::move(message));
}

void TFaultLog::LogHeldBack() {
  std::vector<std::string> messages;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FSilent) return;
    const double now = FClock.Milliseconds();
    for (auto& [place, p] : FPlaces) {
      if (p.HeldBack == 0 || now - p.LastLoggedMs < RepeatAfterMs) continue;
      // The last one held back is the line; the others are its count.
      messages.push_back(Text(place, p.LastWhat, p.HeldBack - 1));
      p.LastLoggedMs = now;
      p.HeldBack = 0;
      p.LastWhat.clear();
    }
  }
  for (std::string& m : messages) Emit(std::move(m));
}

void TFaultLog::Silence() {
  std::lock_guard<std::mutex> guard(FLock);
  FSilent = true;
}

TFaultHook TFaultLog::Hook() {
  return [this](const std::string& where, const std::string& what) { Report(where, what); };
}

void TFaultLog::Emit(std::string message) {
  QObject* target = FMainThread.data();
  if (!target || !FSink) return;
  if (QThread::currentThread() == target->thread()) {
    FSink(message);
    return;
  }
  // The sink belongs to the main thread's object, which drops the call if it goes first.
  QMetaObject::invokeMethod(target, [sink = FSink, message = std::move(message)] { sink(message); },
                            Qt::QueuedConnection);
}
