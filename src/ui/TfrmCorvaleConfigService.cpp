// The configuration dialog's service boxes: installing and removing the service runs
// the service program, as an administrator would from a shell, and "Start service when
// Corvale is closed" is kept with the settings.
#include <QCheckBox>
#include <QCoreApplication>

#include <unistd.h>

#include <mutex>
#include <shared_mutex>

#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/ProcessLaunch.h"
#include "common/QLRegistry.h"
#include "core/TMonitor.h"
#include "ui/TDialogAsk.h"
#include "ui/TfrmCorvaleConfig.h"
#include "ui/TfrmNetAuth.h"

namespace {
const char* const ServiceKey = "System\\CurrentControlSet\\Services\\Corvale";
const char* const StartServiceSetting = "StartServiceAtClose";
// The installer says little; more than this is not worth a message box.
constexpr std::size_t MaxInstallerOutput = 16 * 1024;

// Where the program needs the administrator's rights and polkit can ask for them.
std::string Elevated(const std::string& commandLine) {
  if (::geteuid() == 0) return commandLine;
  for (const char* folder : {"/usr/bin/", "/bin/"})
    if (FileExists(std::string(folder) + "pkexec")) return std::string(folder) + "pkexec " + commandLine;
  return commandLine;
}
}  // namespace

std::string TfrmCorvaleConfig::ServiceProgramPath() const {
  if (!FContext.ServiceProgram.empty()) return FContext.ServiceProgram;
  return IncludeTrailingPathDelimiter(FMonitor.ProgramFolder()) + "corvale-service";
}

void TfrmCorvaleConfig::ShowServiceBoxes() {
  TRegistryStore& store = FMonitor.Registry();
  const bool marked = RegValueExists(store, HKEY_LOCAL_MACHINE, ServiceKey, "DeleteFlag");
  const bool installed = RegKeyExists(store, HKEY_LOCAL_MACHINE, ServiceKey) && !marked;
  ckbInstService->setEnabled(FileExists(ServiceProgramPath()) && !marked);
  ckbInstService->setChecked(installed);
  ckbStartServ->setChecked(FMonitor.Settings().Value(StartServiceSetting) == "1");
  if (!ckbInstService->isEnabled()) {
    const QString why = marked ? QStringLiteral("The service is being removed; close Corvale and try again.")
                               : QStringLiteral("The service program is not installed.");
    ckbInstService->setToolTip(why);
    ckbStartServ->setToolTip(why);
  }
}

void TfrmCorvaleConfig::StoreServiceInstallation() {
  if (!ckbInstService->isEnabled()) return;
  TRegistryStore& store = FMonitor.Registry();
  const bool keyExists = RegKeyExists(store, HKEY_LOCAL_MACHINE, ServiceKey);
  // Read before the dialog disables itself, which disables every box in it.
  const bool startAtClose = ckbStartServ->isEnabled() && ckbStartServ->isChecked();
  setEnabled(false);
  if (ckbInstService->isChecked() && !keyExists) {
    FAsk.Message(this, TDialogAsk::TKind::Information, windowTitle(),
                 QStringLiteral("In order for Corvale to run as a service you will need to specify a Windows logon "
                                "account and password.  Once you click OK another window will ask for this "
                                "information.\r\r"
                                "Please keep in mind that running Corvale as a service will prevent audio and visual "
                                "alerts, and that external applications run after a host goes offline/online will "
                                "not be visible."));
    // Elevated, the service program could not show its account window here, so the
    // account is asked first and handed over as switches.
    TfrmNetAuth account(this);
    if (FAsk.Run(account) == QDialog::Accepted) RunServiceProgram("/INSTALL " + account.InstallSwitches());
  } else if (!ckbInstService->isChecked() && keyExists) {
    RunServiceProgram("/UNINSTALL");
  }
  {
    std::unique_lock lock(FMonitor.StateLock());
    FMonitor.Settings().SetValue(StartServiceSetting, startAtClose ? "1" : "");
  }
  if (startAtClose && RegKeyExists(store, HKEY_LOCAL_MACHINE, ServiceKey)) FMonitor.SetRestartServiceAtExit(true);
  setEnabled(true);
}

bool TfrmCorvaleConfig::RunServiceProgram(const std::string& switchText) {
  const std::string folder = FMonitor.ProgramFolder();
  const TCommandLine command = SplitCommandLine(Elevated("\"" + ServiceProgramPath() + "\" " + switchText));
  TSpawnOptions options;
  options.Program = command.Program;
  options.Arguments = ParseArguments(command.Arguments);
  options.WorkDir = folder;
  options.CaptureOutput = true;
  TProcessHandle process = SpawnProcess(options);
  if (process.Value <= 0) {
    FAsk.Message(this, TDialogAsk::TKind::Error, windowTitle(),
                 QStringLiteral("Error loading service installer: ") +
                     QString::fromLatin1(ErrorText(static_cast<int>(-process.Value)).c_str()));
    return false;
  }
  // The dialog stays painted while the installer asks systemd; what it says is kept
  // for the case it fails.
  std::string output;
  char buffer[1024];
  for (;;) {
    const int n = ReadProcessOutput(process, buffer, sizeof buffer, 10);
    if (n < 0) break;
    if (n > 0 && output.size() < MaxInstallerOutput) output.append(buffer, static_cast<std::size_t>(n));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  WaitForProcess(process, INFINITE_WAIT);
  int exitCode = 0;
  GetProcessExitCode(process, exitCode);
  CloseProcessHandle(process);
  if (exitCode == 0) return true;
  FAsk.Message(this, TDialogAsk::TKind::Warning, windowTitle(),
               QStringLiteral("The service program ended with exit code %1:\r\r").arg(exitCode) +
                   QString::fromLatin1(output.c_str()).trimmed());
  return false;
}
