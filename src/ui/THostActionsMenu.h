#pragma once
// The parts of the host menu that act on the computer behind a host: the user's own
// actions from "Actions.cvl", "Windows Remote Desktop", "Power Control" and "Service
// Control". The window owns the menu and the other items; it calls Create once, the
// actions' reading once at start, and Prepare before every opening.
//
// Restart, shutdown and service control wait for the other computer on a worker thread
// while the window keeps painting (user input waits with them); the results come in
// message boxes through the window's TDialogAsk.
#include <QObject>
#include <QString>

#include <functional>
#include <string>

#include "platform/ComputerShutdown.h"

class QAction;
class QMenu;
class QWidget;
class TActionsFile;
class TDialogAsk;
class THost;
class TMonitor;

class THostActionsMenu : public QObject {
  Q_OBJECT
public:
  enum class TOrigin { HostList, AlertWindow, AddressLink };

  THostActionsMenu(TMonitor& monitor, TDialogAsk& ask, QWidget* window);

  // Adds the three submenus to the menu just before `before` (the separator that comes
  // before the alert switches).
  void Create(QMenu* menu, QAction* before);
  // Inserts the file's user actions at their places (built-in submenus named in the
  // file take theirs). The file must outlive this object.
  void AddUserActions(const TActionsFile& file);

  // Before the menu shows: the action host (null: none) and what it offers. For an
  // address link there is no host: set the address first.
  void Prepare(const THost* host, TOrigin origin);
  void SetActionAddress(const std::string& address) { FActionAddress = address; }
  const std::string& ActionAddress() const { return FActionAddress; }
  qint32 ActionHostID() const { return FActionHostID; }

  // The items' handlers.
  void GenericAction1Click(int command);
  void ShutdownRestart(bool restart);
  enum TServiceOperation { soStart, soPause, soStop, soRestart };
  void ServiceControl(TServiceOperation operation);
  void OpenRDP1Click(bool console);

  // The tools the restart and shutdown requests use (tests point net at their server's
  // configuration); the SMB port comes from the settings at each request.
  TShutdownTools& ShutdownTools() { return FTools; }
  // The remote-desktop clients looked for, in order (tests put stand-ins in PATH).
  static QString RdpClientHint();

  QMenu *mnuRDP = nullptr, *mnuPower = nullptr, *mnuService = nullptr;
  QAction *mnuRDPItem = nullptr, *mnuPowerItem = nullptr, *mnuServiceItem = nullptr;
  QAction *OpenRDP1 = nullptr, *OpenRDP2 = nullptr, *RestartComputer1 = nullptr, *ShutdownComputer1 = nullptr;
  QAction *StartService1 = nullptr, *PauseService1 = nullptr, *StopService1 = nullptr, *RestartService1 = nullptr;

private:
  QMenu* BuiltInSubmenu(const QString& caption);
  THost* ActionHost() const;
  // Runs the work on a worker thread with the busy cursor while the event loop runs.
  int WaitFor(const std::function<int()>& work);
  void Inform(bool error, const QString& text);
  std::string RdpFileFor(const THost* host, std::string& error);

  TMonitor& FMonitor;
  TDialogAsk& FAsk;
  QWidget* FWindow;
  QMenu* FMenu = nullptr;
  QAction* FUserActionsEnd = nullptr;
  const TActionsFile* FFile = nullptr;
  qint32 FActionHostID = 0;
  std::string FActionAddress;
  TShutdownTools FTools;
  bool FBusy = false;
};
