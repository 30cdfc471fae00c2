#include "core/TProgramEntry.h"

#include <QCoreApplication>
#include <QThread>
#include <syslog.h>

#include <cstdio>

#include "common/ErrorText.h"
#include "core/TMonitor.h"
#include "platform/SysErrors.h"
#include "platform/TServiceControl.h"
#include "platform/WindowMessages.h"

namespace {
constexpr int ServiceStopWaitMs = 30000;
constexpr unsigned ShowRequestWaitMs = 5000;

bool InstanceAnswers(std::uintptr_t hwnd) {
  std::intptr_t result = 0;
  return hwnd != 0 && SendMessageTimeout(hwnd, WM_CORVALE_SHOW, 0, 0, ShowRequestWaitMs, result) && result == 1;
}
}  // namespace

void THeadlessEntryUi::ShowWait(const std::string& text) { std::fprintf(stderr, "corvale: %s\n", text.c_str()); }

void THeadlessEntryUi::Pause(int ms) {
  if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
  QThread::msleep(static_cast<unsigned long>(ms));
}

void THeadlessEntryUi::ShowPrematureClose(const std::string& text) {
  std::string oneLine = text;
  for (char& c : oneLine)
    if (c == '\r') c = ' ';
  std::fprintf(stderr, "corvale: %s\n", oneLine.c_str());
  syslog(LOG_ERR, "%s", oneLine.c_str());
}

bool StopOwnService(TServiceControl& services, TEntryUi& ui) {
  if (!services.IsServiceRunning(std::string(), CorvaleServiceName)) return false;
  ui.ShowWait("Waiting for Corvale Service to Stop...");
  services.StopService(std::string(), CorvaleServiceName, ServiceStopWaitMs);
  // The service's copy of the program may still be closing.
  while (InstanceAnswers(FindWindow(CorvaleWindowClass))) ui.Pause(10);
  for (int i = 0; i < 300; ++i) ui.Pause(10);
  ui.HideWait();
  return true;
}

bool ShowRunningInstance() { return InstanceAnswers(FindWindow(CorvaleWindowClass)); }

std::string PrematureCloseText(TMonitor& monitor) {
  return "Corvale Premature Close:\r" + monitor.StatusTrace().LastLine() + "\r" + ErrorText(GetLastError());
}

void RestartOwnService(TServiceControl& services, TEntryUi& ui) {
  ui.ShowWait("Starting Corvale Service...");
  services.StartService(std::string(), CorvaleServiceName);
  ui.HideWait();
}
