#include "ui/THostActionsMenu.h"

#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QMetaObject>
#include <QWidget>

#include <chrono>
#include <sys/stat.h>
#include <thread>

#include "common/ErrorText.h"
#include "common/FileUtils.h"
#include "common/SystemInfo.h"
#include "common/TextUtils.h"
#include "core/TAlertChannels.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "platform/NetResources.h"
#include "platform/Processes.h"
#include "platform/SysErrors.h"
#include "platform/ShellOpen.h"
#include "platform/TServiceControl.h"
#include "alerts/TCommandRunner.h"
#include "common/ProcessLaunch.h"
#include "tools/RemoteControl.h"
#include "tools/TActionsFile.h"
#include "ui/Latin1Text.h"
#include "ui/TDialogAsk.h"
#include "ui/TfrmRemoteShutdown.h"
#include "web/WebCommands.h"

namespace {

constexpr int ServiceWaitMs = 20000;

bool AddressResolves(const THost& host) {
  return !host.CurrentIP.empty() && host.CurrentIP != "-" && host.CurrentIP != "0.0.0.0";
}

struct TRdpClient {
  const char* Program;
  const char* Package;
};
// xfreerdp reads the file itself; remmina opens it with its RDP plug-in.
constexpr TRdpClient RdpClients[] = {{"xfreerdp", "freerdp2-x11"}, {"remmina", "remmina"}};

}  // namespace

THostActionsMenu::THostActionsMenu(TMonitor& monitor, TDialogAsk& ask, QWidget* window)
    : QObject(window), FMonitor(monitor), FAsk(ask), FWindow(window) {}

void THostActionsMenu::Create(QMenu* menu, QAction* before) {
  FMenu = menu;
  // User actions go between this separator and the remote desktop's submenu.
  menu->insertSeparator(before);
  mnuRDP = new QMenu(QStringLiteral("Windows Remote Desktop"), menu);
  mnuRDP->setObjectName("mnuRDP");
  OpenRDP1 = mnuRDP->addAction(QStringLiteral("Open Remote Desktop"), this, [this] { OpenRDP1Click(false); });
  OpenRDP2 = mnuRDP->addAction(QStringLiteral("Open Remote Console"), this, [this] { OpenRDP1Click(true); });
  mnuRDPItem = menu->insertMenu(before, mnuRDP);
  FUserActionsEnd = mnuRDPItem;

  mnuPower = new QMenu(QStringLiteral("Power Control"), menu);
  mnuPower->setObjectName("mnuPower");
  RestartComputer1 = mnuPower->addAction(QStringLiteral("Restart Computer"), this, [this] { ShutdownRestart(true); });
  ShutdownComputer1 =
      mnuPower->addAction(QStringLiteral("Shutdown Computer"), this, [this] { ShutdownRestart(false); });
  mnuPowerItem = menu->insertMenu(before, mnuPower);

  mnuService = new QMenu(QStringLiteral("Service Control"), menu);
  mnuService->setObjectName("mnuService");
  StartService1 = mnuService->addAction(QStringLiteral("Start/Resume Service"), this, [this] { ServiceControl(soStart); });
  PauseService1 = mnuService->addAction(QStringLiteral("Pause Service"), this, [this] { ServiceControl(soPause); });
  StopService1 = mnuService->addAction(QStringLiteral("Stop Service"), this, [this] { ServiceControl(soStop); });
  RestartService1 =
      mnuService->addAction(QStringLiteral("Restart Service"), this, [this] { ServiceControl(soRestart); });
  // The service library cannot pause a service yet.
  mnuServiceItem = menu->insertMenu(before, mnuService);
}

QMenu* THostActionsMenu::BuiltInSubmenu(const QString& caption) {
  for (QAction* action : FMenu->actions()) {
    if (action->isSeparator() || action->text().compare(caption, Qt::CaseInsensitive) != 0) continue;
    if (!action->menu()) {
      // A plain item named as a heading in the file: its own command moves into the submenu.
      auto* submenu = new QMenu(action->text(), FMenu);
      QAction* own = submenu->addAction(action->text());
      connect(own, &QAction::triggered, action, &QAction::trigger);
      action->setMenu(submenu);
    }
    return action->menu();
  }
  return nullptr;
}

void THostActionsMenu::AddUserActions(const TActionsFile& file) {
  FFile = &file;
  // Builds an item's children into a menu, before `before` (null: at the end).
  std::function<void(QMenu*, const TActionItem&, QAction*)> fill = [&](QMenu* into, const TActionItem& item,
                                                                       QAction* before) {
    if (item.Separator) {
      into->insertSeparator(before);
      return;
    }
    if (item.Command >= 0) {
      auto* action = new QAction(Latin1(item.Caption), into);
      const int command = item.Command;
      connect(action, &QAction::triggered, this, [this, command] { GenericAction1Click(command); });
      action->setData(command);
      into->insertAction(before, action);
      return;
    }
    auto* submenu = new QMenu(Latin1(item.Caption), into);
    for (const auto& child : item.Items) fill(submenu, *child, nullptr);
    into->insertMenu(before, submenu);
  };
  QAction* position = FUserActionsEnd;
  const auto& items = file.Items();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const TActionItem& item = *items[i];
    if (!item.BuiltIn) {
      fill(FMenu, item, position);
      continue;
    }
    // Later user items go right after this built-in item: before the next one shown.
    if (QMenu* builtIn = item.Items.empty() ? nullptr : BuiltInSubmenu(Latin1(item.Caption)))
      for (const auto& child : item.Items) fill(builtIn, *child, nullptr);
    QAction* next = nullptr;
    for (std::size_t j = i + 1; j < items.size() && !next; ++j) {
      if (!items[j]->BuiltIn) continue;
      for (QAction* action : FMenu->actions())
        if (!action->isSeparator() && action->text() == Latin1(items[j]->Caption)) next = action;
    }
    if (next) position = next;
  }
}

THost* THostActionsMenu::ActionHost() const {
  if (FActionHostID <= 0) return nullptr;
  return FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(FActionHostID));
}

void THostActionsMenu::Prepare(const THost* host, TOrigin origin) {
  if (origin != TOrigin::AddressLink) FActionAddress.clear();
  FActionHostID = 0;
  mnuServiceItem->setVisible(false);
  const bool withHost = host && !host->IsGroup();
  // A bare address has no account to restart a computer or control a service with.
  mnuPowerItem->setVisible(withHost);
  mnuRDPItem->setVisible(withHost || !FActionAddress.empty());
  if (!withHost) return;
  FActionHostID = host->ID;
  FActionAddress = host->Address;
  const bool power = AddressResolves(*host) && host->LocalSubnet;
  RestartComputer1->setEnabled(power);
  ShutdownComputer1->setEnabled(power);
  bool anyPower = false;
  for (QAction* action : mnuPower->actions()) anyPower = anyPower || (!action->isSeparator() && action->isEnabled());
  mnuPowerItem->setVisible(anyPower);
  if (host->TestKind == TestService) {
    mnuServiceItem->setVisible(true);
    StartService1->setEnabled(host->Status == StatusWarning || host->Status == StatusOffline);
    for (QAction* action : {PauseService1, StopService1, RestartService1}) action->setEnabled(host->Status == StatusOnline);
  }
  if (FMonitor.Settings().TestHostServices) {
    if (host->ShareCapability == 2) mnuServiceItem->setVisible(false);
    if (host->RDPCapability == 2) mnuRDPItem->setVisible(false);
  }
}

void THostActionsMenu::Inform(bool error, const QString& text) {
  FAsk.Message(FWindow, error ? TDialogAsk::TKind::Error : TDialogAsk::TKind::Information,
               QStringLiteral("Corvale"), text);
}

int THostActionsMenu::WaitFor(const std::function<int()>& work) {
  FBusy = true;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  int result = 1;
  QEventLoop loop;
  std::thread worker([&] {
    try {
      result = work();
    } catch (const std::exception& e) {
      result = 1;
      FMonitor.ReportFault("THostActionsMenu", e.what());
    }
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  QApplication::restoreOverrideCursor();
  FBusy = false;
  return result;
}

void THostActionsMenu::GenericAction1Click(int command) {
  if (!FFile) return;
  std::string text = FFile->Command(command);
  if (text.empty()) return;
  if (THost* host = ActionHost()) {
    FMonitor.Alerts().RunCommandLine(text, *host);
    return;
  }
  if (FActionAddress.empty()) return;
  text = ReplaceAll("%1", FActionAddress, text, true);
  text = ReplaceAll("%2", LocalComputerName(), text, true);
  if (!text.empty() && text.front() == '*') text.erase(0, 1);
  TProcessHandle process = TCommandRunner::IsWebAddress(text) ? ShellOpen(text, std::string())
                                                             : LaunchProcess(text, std::string(), 5);
  if (process.Value < 0) {
    // The user sees nothing here; the log keeps why nothing started.
    FMonitor.LogEvent(nullptr, "Error Loading Command Line: " + ErrorText(static_cast<int>(-process.Value)) +
                                   ", Cmd: " + text,
                      TLogCategory::Warning);
    return;
  }
  CloseProcessHandle(process);
}

void THostActionsMenu::ShutdownRestart(bool restart) {
  const THost* host = ActionHost();
  if (!host || FBusy) return;
  TRemoteShutdownRequest request;
  request.Address = host->Address;
  request.User = host->WinUserName;
  request.Password = host->WinPassword;
  request.Restart = restart;
  const bool thisComputer = IsThisComputer(request.Address);
  const QString address = Latin1(request.Address);
  if (!RemoteShutdownAvailable(request.Address, FTools)) {
    Inform(true, QStringLiteral("Remote computer ") + address + QStringLiteral(" cannot be ") +
                     (restart ? QStringLiteral("restarted.") : QStringLiteral("shutdown.")) +
                     QStringLiteral(":\r\nSamba's \"net\" tool is not installed: install the package samba-common-bin."));
    return;
  }
  const std::string message = std::string(restart ? "Restart" : "Shutdown") + " by Corvale user " + LocalUserName() +
                              " on " + LocalComputerName();
  TfrmRemoteShutdown dialog(restart, address, thisComputer, Latin1(message), FWindow);
  const int answer = FAsk.Run(dialog);
  if (answer != QDialog::Accepted && answer != TfrmRemoteShutdown::AbortResult) return;
  request.Message = dialog.Message().toLatin1().toStdString();
  request.TimeoutSeconds = dialog.TimeoutSeconds();
  request.Force = dialog.Force();
  const qint32 id = host->ID;
  FTools.SmbPort = FMonitor.Settings().SMBPort;
  const TShutdownTools tools = FTools;
  std::string output;
  const bool abort = answer == TfrmRemoteShutdown::AbortResult;
  const int code = WaitFor([&] {
    return abort ? RemoteAbortShutdown(request, tools, &output) : RemoteShutdown(request, tools, &output);
  });
  const THost* still = FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(id));
  if (abort) {
    if (code == 0)
      Inform(false, QStringLiteral("The shutdown of remote computer ") + address + QStringLiteral(" was aborted."));
    else
      Inform(true, QStringLiteral("The shutdown of remote computer ") + address +
                       QStringLiteral(" could not be aborted:\r\nError: ") + Latin1(ErrorText(code)));
    return;
  }
  const std::string text = ShutdownResultText(request.Address, restart, code);
  FMonitor.LogEvent(still, text + (code != 0 && code != 997 && !output.empty() ? " (" + TrimTrailingSpaces(output) + ")" : ""),
                    code != 0 && code != 997 ? TLogCategory::Warning : TLogCategory::Test);
  Inform(code != 0 && code != 997, Latin1(text));
}

void THostActionsMenu::ServiceControl(TServiceOperation operation) {
  const THost* host = ActionHost();
  if (!host || FBusy) return;
  const std::string address = host->Address;
  const std::string service = host->ServiceName();
  const QString display = Latin1(host->ServiceDisplayName());
  const qint32 id = host->ID;
  const std::string user = host->WinUserName, password = host->WinPassword;
  std::string connection;
  const int port = FMonitor.Settings().SMBPort;
  // Without an account there is nothing to connect with: the library asks as it can.
  const int connected = user.empty() && password.empty()
                            ? 0
                            : WaitFor([&] {
                                return ConnectResource("\\\\" + address + "\\IPC$", user, password, connection, port);
                              });
  if (connected != 0) {
    Inform(true, QStringLiteral("A connection to ") + Latin1(address) + QStringLiteral(" could not be established: ") +
                     Latin1(ErrorText(connected)));
    return;
  }
  TServiceControl& services = FMonitor.Services();
  const char* verb = "started";
  int lastError = 0;
  const bool ok = WaitFor([&] {
                    bool done = false;
                    switch (operation) {
                      case soStart:
                        done = services.StartService(address, service);
                        // A paused service is "already running": resume it instead.
                        if (!done && services.LastServiceError() == 1056) done = services.ContinueService(address, service);
                        break;
                      case soPause:
                        verb = "paused";
                        done = services.PauseService(address, service, ServiceWaitMs, nullptr, true);
                        break;
                      case soStop:
                        verb = "stopped";
                        done = services.StopService(address, service, ServiceWaitMs, nullptr, true);
                        break;
                      case soRestart:
                        verb = "stopped";
                        done = services.StopService(address, service, ServiceWaitMs, nullptr, true);
                        if (done) {
                          verb = "restarted";
                          std::this_thread::sleep_for(std::chrono::milliseconds(300));
                          done = services.StartService(address, service);
                        }
                        break;
                    }
                    lastError = services.LastServiceError();
                    return done ? 1 : 0;
                  }) == 1;
  if (const int index = FMonitor.Hosts().FindByID(id); index >= 0) FMonitor.TestHostNow(index);
  const QString on = QStringLiteral("Service ") + display + QStringLiteral(" on ") + Latin1(address);
  if (ok)
    Inform(false, on + QStringLiteral(" was successfully ") + QLatin1String(verb) + QStringLiteral("."));
  else if (lastError != 0)
    Inform(true, on + QStringLiteral(" could not be ") + QLatin1String(verb) + QStringLiteral(": ") +
                     Latin1(ErrorText(lastError)));
  DisconnectResource(connection);
}

QString THostActionsMenu::RdpClientHint() {
  return QStringLiteral("No remote-desktop client is installed: install the package freerdp2-x11 (xfreerdp) or "
                        "remmina.");
}

std::string THostActionsMenu::RdpFileFor(const THost* host, std::string& error) {
  const std::string own = FMonitor.DataFolder() + FActionAddress + ".rdp";
  struct stat info {};
  if (FActionAddress.find('/') == std::string::npos && ::stat(NativePath(own).c_str(), &info) == 0) return own;
  std::string templateText;
  const std::string fallback = FMonitor.ProgramFolder() + "default.rdp";
  if (::stat(NativePath(fallback).c_str(), &info) == 0 && info.st_size < 256 * 1024) ReadWholeFile(fallback, templateText);
  // The program's folder is rarely writable once installed: the file goes to the data folder.
  const std::string temp = FMonitor.DataFolder() + "temp.rdp";
  if (!WriteWholeFile(temp, WriteRdpFile(host, FActionAddress, templateText))) {
    error = "Error: " + ErrorText(WinErrorFromErrno(errno)) + "\r\nLoading: " + temp;
    return std::string();
  }
  return temp;
}

void THostActionsMenu::OpenRDP1Click(bool console) {
  if (FActionAddress.empty()) return;
  std::string error;
  const std::string file = RdpFileFor(ActionHost(), error);
  if (file.empty()) {
    Inform(true, Latin1(error));
    return;
  }
  TSpawnOptions options;
  for (const TRdpClient& client : RdpClients)
    if (ProgramAvailable(client.Program)) {
      options.Program = client.Program;
      break;
    }
  if (options.Program.empty()) {
    Inform(true, RdpClientHint() + QStringLiteral("\r\nLoading: ") + Latin1(file));
    return;
  }
  if (options.Program == "xfreerdp") {
    options.Arguments = {file};
    if (console) options.Arguments.push_back("/admin");
  } else {
    options.Arguments = {"-c", file};
  }
  options.WorkDir = ExtractFilePath(file);
  TProcessHandle process = SpawnProcess(options);
  if (process.Value < 0) {
    Inform(true, QStringLiteral("Error: ") + Latin1(ErrorText(static_cast<int>(-process.Value))) +
                     QStringLiteral("\r\nLoading: ") + Latin1(file));
    return;
  }
  CloseProcessHandle(process);
}
