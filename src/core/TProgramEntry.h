#pragma once
// The program's entry and exit around the monitor: the own service gives way to an
// interactive copy, a second copy only shows the first, and a premature end is told.
#include <string>

class TMonitor;
class TServiceControl;

// What the entry shows while it waits, and the message after a premature end. The
// desktop program shows windows; the headless one writes to standard error.
class TEntryUi {
public:
  virtual ~TEntryUi() = default;
  virtual void ShowWait(const std::string& text) = 0;
  virtual void HideWait() = 0;
  // Lets pending events run for about ms milliseconds.
  virtual void Pause(int ms) = 0;
  virtual void ShowPrematureClose(const std::string& text) = 0;
};

class THeadlessEntryUi : public TEntryUi {
public:
  void ShowWait(const std::string& text) override;
  void HideWait() override {}
  void Pause(int ms) override;
  void ShowPrematureClose(const std::string& text) override;
};

// When the own service runs on this computer: stops it, waits for its copy of the
// program to go, and returns true (the service is to be started again at exit).
bool StopOwnService(TServiceControl& services, TEntryUi& ui);
// True when a running copy answered the show request: it has shown itself.
bool ShowRunningInstance();
// "Corvale Premature Close:\r" + last trace line + "\r" + last system error text.
std::string PrematureCloseText(TMonitor& monitor);
void RestartOwnService(TServiceControl& services, TEntryUi& ui);
