#pragma once
// The one source of time of the monitor. It is handed to whatever needs the time, so
// that tests move a manual clock instead of sleeping.
#include <mutex>

#include "common/DateTime.h"

class TClock {
public:
  virtual ~TClock() = default;
  // The wall clock in local time; may jump when the system time is set.
  virtual TDateTime Now() const;
  // Monotonic milliseconds from an arbitrary start, for measuring spans.
  virtual double Milliseconds() const;
};

// A clock that moves only when told to. Safe to read from other threads while a test
// moves it.
class TManualClock : public TClock {
public:
  explicit TManualClock(TDateTime now = 0, double milliseconds = 0);
  TDateTime Now() const override;
  double Milliseconds() const override;
  // Sets the wall clock; the monotonic count stays where it is.
  void SetNow(TDateTime value);
  // Moves both the wall clock and the monotonic count forward; a negative or
  // non-finite step is ignored, as a monotonic count never goes back.
  void Advance(double ms);
private:
  mutable std::mutex FLock;
  TDateTime FBase;      // wall clock at the last SetNow
  double FAdvancedMs;   // milliseconds advanced since then
  double FMilliseconds;
};
