// The start-up steps of the monitor, in their order.
#include <QCoreApplication>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "common/Clock.h"
#include "common/Fields.h"
#include "common/FileUtils.h"
#include "common/QLRegistry.h"
#include "common/SystemInfo.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "core/TMonitor.h"
#include "platform/DriveTypes.h"
#include "platform/LoginStartup.h"
#include "platform/MemoryPolicy.h"
#include "platform/TEchoEngine.h"
#include "platform/TWindowChannel.h"

namespace {
const char* const LastStatusKey = "Software\\Quillmoor\\Corvale\\LastStatus";
const char* const NotifyAppsKey = "Software\\Quillmoor\\Corvale\\NotifyApps";
const char* const DataSubFolder = "Quillmoor\\Corvale\\";

std::string OwnExecutable() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationFilePath().toStdString();
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

bool TMonitor::Startup() {
  if (FStarted) return !FStartRefused;
  FStarted = true;
  FStartTime = FClock.Now();

  // From here until the orderly shutdown has finished, an end is premature.
  FExitCode.store(1);
  FProgramPath = OwnExecutable();
  FProgramFolder = ExtractFilePath(FProgramPath);
  if (!FProgramFolder.empty() && ::chdir(FProgramFolder.c_str()) != 0) {
    // Stay where we are; the data folder does not depend on it.
  }

  // Service, removable and diagnostic modes: the status trace and the data folder depend on them.
  FindModes();
  // The data folder, held by this copy alone, and the window partners and later copies find.
  FindDataFolder();
  FScheduler->SetDataFolder(FDataFolder);
  // One copy per data folder: the window alone cannot tell, as a copy may have none.
  if (!LockDataFolder()) return false;
  // Only a copy that runs: a refused one must leave no trace.
  if (!LimitAllocatorRetention()) ReportFault("allocator", "The memory allocator refused its limits");
  RegisterWindow();
  AttachTraceRing();

  // The event log first, so that everything after it is logged after the old lines.
  MoveOlderFile("Corvale.log");
  LoadEventLog();

  // Who started the program and in which mode.
  LogEvent(nullptr, std::string("Corvale Loaded ") + (ServiceMode() ? "(Service) " : "") + "by " + LocalUserName(), TLogCategory::Program);
  if (ServiceMode()) LogEvent(nullptr, "Corvale running as a Service; Audio and Popup alerts are disabled.", TLogCategory::Information);
  // Without an ICMP socket every echo test fails; the reason says how to grant the right.
  if (!EchoEngine().Valid()) LogEvent(nullptr, EchoEngine().Description(), TLogCategory::Error);

  // The desktop window sets its pages and minimized start itself; the caption is shared.
  if (FWindow) FWindow->SetCaption(Caption());

  // The hosts file's name, and the settings file beside it before the hosts are read.
  FindHostsFileName();
  FSettingsFileName = ChangeFileExt(FHostsFileName, ".cvlp");
  MoveOlderFile(ExtractFileName(FSettingsFileName));
  for (const std::string& leftover : RemoveInterruptedSaves(FHostsFileName, FSettingsFileName))
    LogEvent(nullptr, "Removed " + leftover + ", left behind by a save that did not finish", TLogCategory::Information);
  if (FileExists(FSettingsFileName)) LoadSettings();

  // Plug-ins before the hosts file, whose plug-in hosts name their tests.
  LoadPlugins();
  if (FileExists(FHostsFileName)) LoadConfiguration();

  // What the alerts and the host menu need, then the log as loaded so far.
  MoveOlderFile("EmailConfig.cvl");
  LoadEmailConfig();
  LoadActions();
  SaveEventLog();

  // Whether the program starts at login (the configuration dialog shows it).
  if (!FRemovableMode) ReadLoginStartup();

  // Other programs learn that we run; removable media leave the registry alone. (The window
  // opens the configuration dialog itself when there is no hosts file.)
  if (FRemovableMode) {
    LogEvent(nullptr, "Running on Removable Media; registry changes will not be allowed.", TLogCategory::Information);
  } else {
    AnnounceToPartners();
    WriteProgramPath();
  }

  // Browsers may ask only once the hosts are loaded.
  StartWebServer();

  // Testing starts last, when everything a result reaches exists.
  tmrFreeMemTimer();
  StartTimers();
  return true;
}

void TMonitor::AttachTraceRing() {
  // Nothing of the trace is kept in removable mode.
  if (FRemovableMode) return;
  std::string error;
  if (!FTrace->AttachRing(FDataFolder + TraceRingFileName, error))
    LogEvent(nullptr, "Unable to open " + FDataFolder + TraceRingFileName + ": " + error +
                          "; the last steps before a crash may be lost", TLogCategory::Warning);
}

bool TMonitor::LockDataFolder() {
  const std::string lockFile = FDataFolder + InstanceLockFileName;
  switch (FInstanceLock.Acquire(lockFile)) {
    case TInstanceLock::TResult::Acquired:
      return true;
    case TInstanceLock::TResult::Held:
      FStartRefused = true;
      FStartRefusal = "Corvale is already running on the data folder " + FDataFolder +
                      " (it holds " + lockFile + ") and its window does not answer";
      return false;
    case TInstanceLock::TResult::Unavailable:
      break;
  }
  // A folder where not even the lock file can be made is one no copy can write to.
  LogEvent(nullptr, "Unable to lock " + lockFile + ": " + FInstanceLock.ErrorText() +
                        "; a second copy on this data folder would not be refused", TLogCategory::Warning);
  return true;
}

void TMonitor::RegisterWindow() {
  FWindow = std::make_unique<TWindowChannel>(
      [this](std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) { return WndProc(msg, wParam, lParam); });
  FWindow->SetFaultHook(FaultHook());
  if (!FWindow->Register(CorvaleWindowClass, Caption())) {
    std::fprintf(stderr, "corvale: cannot open the window of class %s: %s\n", CorvaleWindowClass,
                 FWindow->ErrorText().c_str());
  }
}

void TMonitor::FindModes() {
  const int driveType = DriveTypeOf(FProgramPath);
  FRemovableMode = driveType == DRIVE_REMOVABLE || driveType == DRIVE_CDROM;
  FDiagnosticMode = FileExists(FProgramFolder + "Corvale.dpr");
  TStatusTrace::TWriter writer;
  if (!FRemovableMode) {
    writer = [this](const std::string& name, const std::string& text) {
      WriteRegText(FRegistry, HKEY_CURRENT_USER, LastStatusKey, name, text);
    };
  }
  FTrace = std::make_unique<TStatusTrace>(FClock, FDiagnosticMode ? 100 : 10, std::move(writer),
                                          TStatusTrace::DefaultFlushMs, FaultHook());
}

void TMonitor::FindDataFolder() {
  std::string folder;
  if (FRemovableMode) {
    folder = FProgramFolder;
  } else {
    const std::string common = ReadRegText(FRegistry, HKEY_LOCAL_MACHINE, ShellFoldersKey, CommonAppDataValue, "");
    if (!common.empty()) folder = IncludeTrailingPathDelimiter(common) + NativePath(DataSubFolder);
  }
  if (folder.empty()) {
    char cwd[4096];
    folder = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
  }
  FDataFolder = IncludeTrailingPathDelimiter(NativePath(folder));
  if (!ForceDirectories(FDataFolder)) {
    LogEvent(nullptr, "Unable to create the data folder " + FDataFolder, TLogCategory::Error);
  }
}

void TMonitor::MoveOlderFile(const std::string& name) {
  // Files of older versions lay in the program's folder; they move to the data folder
  // the first time they are needed.
  if (name.empty() || name.find_first_of("\\/") != std::string::npos) return;
  const std::string target = FDataFolder + name;
  if (FileExists(target) || !FileExists(name)) return;
  if (std::rename(name.c_str(), target.c_str()) != 0) {
    LogEvent(nullptr, "Unable to move " + name + " to " + FDataFolder, TLogCategory::Warning);
  }
}

void TMonitor::FindHostsFileName() {
  const std::string computerFile = LocalComputerName() + ".cvlh";
  MoveOlderFile(computerFile);
  MoveOlderFile("hosts.cvlh");
  FHostsFileName = FileExists(FDataFolder + computerFile) ? FDataFolder + computerFile : FDataFolder + "hosts.cvlh";
  const std::string argument = FOptions.HostsFilePath();
  if (!argument.empty() && FileExists(argument)) FHostsFileName = argument;
}

void TMonitor::ReadLoginStartup() {
  std::string error;
  const std::string entry = ::ReadLoginStartup(&error);
  if (!error.empty())
    LogEvent(nullptr, "Unable to read the login start-up entry " + LoginStartupFileName() + ": " + error,
             TLogCategory::Error);
  const std::string program = GetField(entry, ' ', 1, '"');
  FLoadAtLogin = !program.empty() && Lower(program) == Lower(FProgramPath);
  FOtherProgramAtLogin = !program.empty() && !FLoadAtLogin;
  FLoadMinimized = Lower(GetField(entry, ' ', 2, '"')) == "/minimize";
}

std::vector<std::string> TMonitor::PartnerClasses() const {
  std::vector<std::string> names;
  TQLRegistry reg(const_cast<TRegistryStore&>(FRegistry));
  try {
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (reg.OpenKey(std::string("\\") + NotifyAppsKey, false)) reg.GetValueNames(names);
  } catch (const ERegistryError&) {
    names.clear();
  }
  return names;
}

void TMonitor::AnnounceToPartners() {
  FPartnerClasses = PartnerClasses();
  for (const std::string& cls : FPartnerClasses) {
    if (cls.empty()) continue;
    if (const std::uintptr_t hwnd = FindWindow(cls))
      PostMessage(hwnd, WM_CORVALE_STARTED, WindowHandle(), CorvaleStartedParam);
  }
}

void TMonitor::WriteProgramPath() {
  // The supervisor starts the program from this value.
  WriteRegText(FRegistry, HKEY_LOCAL_MACHINE, CorvaleRegKey, "EXE", FProgramPath);
}

void TMonitor::StartTimers() {
  // With testing off, the testing button starts the scheduler when it is turned on.
  FScheduler->AllowTimer(true);
  tmrAlert.start();
  tmrAutoSave.start();
  if (!FOptions.NoMemCleanup) tmrFreeMem.start();
}

// Steps whose files and subsystems are not part of the program yet: each keeps its
// place in the order so that adding it changes nothing around it.
void TMonitor::LoadEmailConfig() { FAlerts->LoadConfiguration(FDataFolder); }
void TMonitor::LoadActions() {}
void TMonitor::StartWebServer() {
  const int port = FSettings.WebServerPort;
  if (FRemovableMode || port <= 0) return;
  if (FWebServer->Start(port)) FWebServerPort = port;
}

void TMonitor::StopWebServer() {
  FWebServer->Stop();
  FWebServerPort = 0;
}

void TMonitor::ApplyWebServerPort() {
  const int wanted = FRemovableMode ? 0 : FSettings.WebServerPort;
  if (wanted == FWebServerPort && (wanted == 0 || FWebServer->Running())) return;
  if (FWebServer->Running()) {
    StopWebServer();
    // The old socket's port is given a moment before the new server binds.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  StartWebServer();
}
void TMonitor::FreePendingAlerts() { FAlerts->FreePendingAlerts(); }

void TMonitor::SetLoginStartup(int state, bool minimized) {
  // Removable media run on someone else's computer, whose login they must not change.
  if (FRemovableMode || (state != 0 && state != 1)) return;
  std::string error;
  if (state == 0) {
    if (!DeleteLoginStartup(error)) {
      LogEvent(nullptr, "Unable to remove the login start-up entry: " + error, TLogCategory::Error);
      return;
    }
    FLoadAtLogin = FLoadMinimized = FOtherProgramAtLogin = false;
    return;
  }
  if (!WriteLoginStartup("\"" + FProgramPath + "\"" + (minimized ? " /minimize" : ""), error)) {
    LogEvent(nullptr, "Unable to write the login start-up entry: " + error, TLogCategory::Error);
    return;
  }
  FLoadAtLogin = true;
  FLoadMinimized = minimized;
  FOtherProgramAtLogin = false;
}
