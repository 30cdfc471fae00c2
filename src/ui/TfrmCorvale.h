#pragma once
// The main window: the monitored hosts with their tool bar, the host information pane
// and the host menu, the pages for the tools and the log, the tray icon with its menu
// and status warnings, and the narrow ("mini") mode. It shows what the monitor holds
// and calls the monitor's operations; it holds no monitoring state of its own.
//
// Closing the window hides it to the tray; it ends the program only with Shift held
// down or when another program asked.
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/TDialogAsk.h"
#include "ui/TTypedKeys.h"
#include "ui/TfrmQuickMsg.h"

class QAction;
class QHBoxLayout;
class QListWidget;
class QMenu;
class QSplitter;
class QSystemTrayIcon;
class QTabWidget;
class QToolButton;
class QTimer;
class TAlertQueue;
class THost;
class THostActionsMenu;
class THostInfoPane;
class THostItemDelegate;
class THostTableModel;
class TMonitor;
class TPingListView;
class TStatusImages;
class TfrmCorvaleConfig;
class TfrmWaitShutdown;
struct TConfigDialogContext;
class TLogView;
class TLocalToolsPage;
class TRemoteToolsPage;

class TfrmCorvale : public QMainWindow {
  Q_OBJECT
public:
  explicit TfrmCorvale(TMonitor& monitor, QWidget* parent = nullptr);
  ~TfrmCorvale() override;

  // The show request: restore, show and bring to the front.
  void ShowFromRequest();
  QSystemTrayIcon* TrayIcon() const { return FTray; }

  // After the settings file was read: geometry, full width, column widths, view style,
  // sound and information pane buttons. Before the settings are saved: the same back.
  void ApplySettings();
  void StoreSettings();

  // The default double-click command chosen in the configuration (for this run only).
  void SetDefaultDoubleClickCommand(const std::string& command) { FDefaultDoubleClick = command; }
  const std::string& DefaultDoubleClickCommand() const { return FDefaultDoubleClick; }

  // The configuration dialog on the page given (TfrmCorvaleConfig::TPage), with the
  // selected host. Testing pauses while it is open; after OK the monitor takes the
  // dialog's host list and settings, saves them and the display is rebuilt. True after
  // OK; false after Cancel or while the dialog is already open.
  bool ShowConfiguration(int page);
  bool ConfigurationOpen() const { return FConfigOpen; }
  // Start-up without a hosts file: the dialog opens once the event loop runs. True
  // when it was queued.
  bool ConfigureWhenNoHostsFile();
  // The questions and dialogs of the window (the configuration dialog runs through its
  // Run); tests answer them.
  TDialogAsk& Ask() { return FAsk; }
  // Called with the configuration dialog's context before the dialog is made (tests
  // give fake name lookups and computer listers).
  void SetConfigurationHook(std::function<void(TConfigDialogContext&)> hook) { FConfigHook = std::move(hook); }

  // The host of the selected row (nullptr for none or a group row's record), and its
  // index in the host list (-1 for none).
  THost* SelectedHost() const;
  int SelectedHostIndex() const;
  void SelectHostIndex(int index);

  // The host menu for a host listed elsewhere (the alert window), also when a filter or
  // a collapsed group keeps the host out of the list.
  void PopupHostMenu(qint32 hostID, QPoint globalPos);
  // The host menu for the selected row, prepared as it shows.
  void PreparePopup();
  // The user's actions, remote desktop, power and service control of the host menu.
  THostActionsMenu& HostActions() const { return *FHostActions; }
  // The operations behind the buttons and the host menu; modifiers are the keys held
  // when the command was given.
  void btnResetClick(Qt::KeyboardModifiers modifiers);
  void ResetHostStatusClick(Qt::KeyboardModifiers modifiers);
  void ResetDependentHostsClick(Qt::KeyboardModifiers modifiers);
  void DisableItemClick(int item);
  void SetTesting(bool on);
  void btnRefreshClick();
  void CancelPendingEmailClick();
  // Opens the quick message; the dialog is handed to prepare before it runs (tests fill
  // it in and answer it).
  void btnAlertClick();
  void SetQuickMsgHook(std::function<void(TfrmQuickMsg&)> hook) { FQuickMsgHook = std::move(hook); }

  // The status warning of this alert tick; true when a new balloon was shown.
  bool StatusWarningTick();
  // The whole text of the last warning and its question, as the balloon's click shows it.
  QString StatusWarningMessage() const;
  void PerformStatusAction();

  // The narrow mode.
  int MiniWidth() const;
  int NormalWidth() const { return FNormalWidth; }
  // The window's width around the host list.
  int ListFrame() const;
  // The mini button was clicked (shift: fit all columns).
  void qlsbMiniClick(bool shift);
  // A column resize ended; with Shift the coupled columns take the width.
  void ColumnResized(int column, int width, Qt::KeyboardModifiers modifiers);

  // The widgets, for the tests and the screenshot.
  QTabWidget* pcCorvale;
  QWidget *tsPing, *tsRemote, *tsLocal, *tsLog;
  QWidget* pnlPing;
  QToolButton *sbActive, *sbWarning, *sbError, *sbHostInfo, *qlsbSound, *sbPing, *qlsbMini, *btnConfig, *btnReset,
      *btnRefresh;
  TPingListView* lvPing;
  THostInfoPane* pcHostInfo;
  QSplitter* splPing;
  TLogView* frmLog;
  TRemoteToolsPage* pnlRemote = nullptr;
  TLocalToolsPage* pnlLocal = nullptr;
  QMenu* pmMAC = nullptr;
  QAction *mnuTraceRoute = nullptr, *mnuSendMagicWakeup = nullptr;
  std::vector<QAction*> FPluginMenuItems;  // after "Trace Route", made anew at each opening
  QMenu* pmActions;
  QMenu* pmIcon = nullptr;
  QMenu* mnuDisable;
  QMenu* mnuViewAs;
  QAction *mnuTestHost, *mnuResetHost, *mnuResetDependents, *mnuSimulate, *mnuViewInLog, *mnuSendEmail,
      *mnuCancelEmail, *mnuVOnDown, *mnuAOnDown, *mnuVOnUp, *mnuAOnUp, *mnuPopupSound, *mnuPopupSep,
      *mnuDisableHost, *mnuViewAsItem;
  QList<QAction*> mnuDisableItems;
  QList<QAction*> mnuViewStyles;
  QAction *mnuOpen = nullptr, *mnuDisableTesting = nullptr, *mnuExit = nullptr;
  THostTableModel& Model() const { return *FModel; }

signals:
  // The configuration dialog was asked for.
  void ConfigurationRequested();
  void EverythingOkToggled();

protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void CreatePages();
  // Lends the command lines of the monitor this window's way of connecting (on) or takes it back.
  void ConnectCommandCredentials(bool on);
  void CreateToolPages();
  void CreateToolBar();
  void CreateHostMenu();
  void PreparePluginItems(const THost* host);
  void CreateTrayIcon();
  void ExitClick();
  void OnCloseRequested();
  void OnShutdownStarting();
  void OnCurrentRowChanged();
  void OnDisplayUpdated();
  void OnHostsChanged(const QList<qint32>& ids);
  void OnRowDoubleClicked(int row);
  void OnPageChanged(int page);
  void UpdateInfoPane();
  void UpdateHostInfoButton();
  void UpdateTestingControls(bool on);
  void ApplyMiniLayout();
  void LayOutToolBar(bool narrow);
  void SetWindowWidth(int width);
  void ShowThreadList();
public:
  // "View In Log...": the log page with the selected host's lines.
  void ViewInLogClick();
  // The network tools: the host menu's "Trace Route" and "Send Magic Wakeup", the MAC
  // address menu pmMAC and its two items, an address link of the local tools' output.
  void TraceRouteClick();
  void SendMagicWakeupClick();
  void PopupMacMenu(const QString& mac, QPoint globalPos);
  void FindCardManufacturerClick(const QString& mac);
  void SendMagicWakeupPacketClick(const QString& mac);
  void OpenAddressLink(const QString& address, QPoint globalPos);

private:
  void ToggleHostFlag(bool THost::*flag, const char* where);
  TAlertQueue* MailQueue() const;
  bool HostHasQueuedMail(const THost& host) const;

  TMonitor& FMonitor;
  std::unique_ptr<TStatusImages> FImages;
  THostTableModel* FModel = nullptr;
  THostItemDelegate* FDelegate = nullptr;
  QSystemTrayIcon* FTray = nullptr;
  QTimer* tmrStatus = nullptr;
  QPointer<TfrmWaitShutdown> FThreadList;
  TTypedKeys FListKeys{30}, FWindowKeys{100};
  const QEvent* FLastKeyEvent = nullptr;
  QPointer<QWidget> FLastKeyTarget;
  std::string FDefaultDoubleClick;
  // The host the open host menu acts on when it was opened from elsewhere; -1: the
  // selected row's.
  qint32 FMenuHostID = -1;
  TDialogAsk FAsk;
  THostActionsMenu* FHostActions = nullptr;
  std::function<void(TConfigDialogContext&)> FConfigHook;
  bool FConfigOpen = false;
  // A network that cannot be browsed is logged at the first opening of the dialog only.
  bool FListingFailureLogged = false;
  TQuickMessage FLastQuickMsg;
  std::function<void(TfrmQuickMsg&)> FQuickMsgHook;
  QString FLastWarning;
  int FLastWarningAction = 0;
  int FLastWarningDay = -1;
  int FNormalWidth = 0;
  bool FMiniOnOtherPage = false;
  bool FInResize = false;
  QHBoxLayout *FBarTop = nullptr, *FBarBottom = nullptr;
  bool FCouplingColumns = false;
};
