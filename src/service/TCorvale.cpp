#include "service/TCorvale.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "platform/SysErrors.h"
#include "platform/WindowMessages.h"
#include "service/ServiceRegistry.h"

namespace {
constexpr int PollMs = 10;
// Looking for the window connects to the monitor's window socket, so once it has been
// seen it is looked for at this pace while the monitor's process runs; until then, and
// once the process has ended, on every pass.
constexpr int WindowProbeMs = 250;
constexpr int SW_HIDE = 0;

using TSteady = std::chrono::steady_clock;

int ElapsedMs(TSteady::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(TSteady::now() - since).count());
}

std::string CurrentFolder() {
  char buf[4096];
  return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }
}  // namespace

TStopWaits TStopWaits::FromEnvironment() {
  TStopWaits waits;
  const char* text = std::getenv("CORVALE_SERVICE_WAIT_DIVISOR");
  const long divisor = text ? std::strtol(text, nullptr, 10) : 1;
  if (divisor > 1 && divisor <= 1000) {
    waits.CloseRequestMs = static_cast<int>(waits.CloseRequestMs / divisor);
    waits.StopTotalMs = static_cast<int>(waits.StopTotalMs / divisor);
    waits.FinalPauseMs = static_cast<int>(waits.FinalPauseMs / divisor);
    waits.PreviousEndMs = static_cast<int>(waits.PreviousEndMs / divisor);
  }
  return waits;
}

TCorvale::TCorvale(TRegistryStore* store)
    : FStore(store), FEventLog(store), FMonitorProgram(ExtractFilePath(OwnProgramPath()) + "corvale"), FWorkDir(CurrentFolder()) {
  FEventLog.SetAppName("Corvale Service");
}

TCorvale::~TCorvale() { CloseProcessHandle(FProcess); }

void TCorvale::SleepMs(int ms) const { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool TCorvale::Launch() {
  CloseProcessHandle(FProcess);
  FProcess = LaunchProcess(Quoted(FMonitorProgram) + " service", FWorkDir, SW_HIDE);
  return FProcess.Value > 0;
}

bool TCorvale::WindowExists() const { return FindWindow(WindowClass) != 0; }

bool TCorvale::ProcessEnded() const {
  int code = STILL_ACTIVE;
  return FProcess.Value > 0 && GetProcessExitCode(FProcess, code) && code != STILL_ACTIVE;
}

int TCorvale::ProcessExitCode() const {
  int code = STILL_ACTIVE;
  GetProcessExitCode(FProcess, code);
  return code;
}

bool TCorvale::ServiceExecute(const TFramework& framework) {
  FStopping = false;
  FEventLog.Open();
  if (!FEventLog.Enabled() && framework.LogWarning)
    framework.LogWarning("Event logging failed: " + ErrorText(GetLastError()));

  if (!Launch()) {
    FEventLog.LogError("Error launching Corvale.exe: " + ErrorText(static_cast<int>(-FProcess.Value)));
    return false;
  }
  FEventLog.LogInformation("Corvale service started; Process handle: " + std::to_string(FProcess.Value));

  bool seen = false;
  auto lastProbe = TSteady::now() - std::chrono::milliseconds(WindowProbeMs);
  while (!(framework.Terminated && framework.Terminated()) && !FStopping) {
    if (framework.ProcessRequests) framework.ProcessRequests();
    if (FStopping) break;
    const bool ended = ProcessEnded();
    if (ended || !seen || ElapsedMs(lastProbe) >= WindowProbeMs) {
      lastProbe = TSteady::now();
      if (WindowExists()) {
        seen = true;
      } else if (seen) {
        FEventLog.LogWarning("Premature closing of Corvale.exe; Exit code: " + std::to_string(ProcessExitCode()) +
                             ".  Restarting Corvale");
        AwaitPreviousEnd(framework);
        if (FStopping) break;
        seen = false;
        if (!Launch()) {
          // Waiting on for a window that cannot come would leave the service running
          // with no monitor behind it.
          FEventLog.LogError("Error launching Corvale.exe: " + ErrorText(static_cast<int>(-FProcess.Value)));
          return false;
        }
      } else if (ended) {
        // A monitor that ends before it was ever ready (another copy holds the data
        // folder, an unusable setting) would end the same way again; the service stops
        // and says why instead of looking as if it ran.
        FEventLog.LogError("Corvale.exe ended before its window appeared; Exit code: " +
                           std::to_string(ProcessExitCode()));
        return false;
      }
    }
    SleepMs(PollMs);
  }
  return true;
}

void TCorvale::AwaitPreviousEnd(const TFramework& framework) {
  const auto start = TSteady::now();
  while (!ProcessEnded() && ElapsedMs(start) < FWaits.PreviousEndMs) {
    if (framework.ProcessRequests) framework.ProcessRequests();
    if (FStopping) return;
    WaitForProcess(FProcess, PollMs);
  }
  if (!ProcessEnded()) TerminateProcessGroup(FProcess, 1);
}

void TCorvale::ServiceStop() {
  FStopping = true;
  FEventLog.LogInformation("Stop received; Corvale being shut down");
  const auto start = TSteady::now();
  if (std::uintptr_t hwnd = FindWindow(WindowClass)) {
    std::intptr_t result = 0;
    if (!SendMessageTimeout(hwnd, CloseRequestMessage, 0, 0, static_cast<unsigned>(FWaits.CloseRequestMs), result))
      FEventLog.LogWarning("Corvale not responding to shutdown request...attempting another method");
    if ((hwnd = FindWindow(WindowClass)) != 0)
      SendMessageTimeout(hwnd, winmsg::WM_ENDSESSION, 0, 0, static_cast<unsigned>(FWaits.CloseRequestMs), result);
    while (WindowExists() && ElapsedMs(start) < FWaits.StopTotalMs) SleepMs(100);
  }
  FEventLog.Close();
  SleepMs(FWaits.FinalPauseMs);
  if (WindowExists()) TerminateProcessGroup(FProcess, 1);
  // The monitor saves its files after its window has gone; the supervisor stays until
  // it is done, as the service manager ends whatever is left when the supervisor ends.
  const int left = FWaits.StopTotalMs - ElapsedMs(start);
  if (!WaitForProcess(FProcess, left > 0 ? left : 0)) TerminateProcessGroup(FProcess, 1);
  WaitForProcess(FProcess, 1000);
}
