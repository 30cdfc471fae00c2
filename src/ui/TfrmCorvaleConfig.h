#pragma once
// "Corvale Configuration": the one modal dialog in which the user edits the host list
// and the global settings. The hosts are edited on full copies in a list the dialog
// owns; the e-mail page, the preferences and the login start are shown from the
// monitor and stored back only by OK. What the monitor then does with the working list
// (apply, save, rebuild the display) is the main window's side: see
// TfrmCorvale::ShowConfiguration.
#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

#include "ui/TComputerListThread.h"
#include "ui/TConfigHostsPage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class TAlerts;
class TDialogAsk;
class TEmailConfig;
class TSettings;
class THostList;
class TMonitor;
class TVarsMenu;
struct TPortableCopySource;

struct TConfigDialogContext {
  TMonitor* Monitor = nullptr;
  // Where the e-mail page is shown from and stored into; nullptr: the page starts empty
  // and OK stores it nowhere.
  TAlerts* Alerts = nullptr;
  TDialogAsk* Ask = nullptr;
  // The computer names of the network for the address box; unset: the network's own.
  // Tests give a lister of their own (or one that finds nothing).
  TComputerListThread::TLister Lister;
  // Whether a failed listing was logged already: most networks cannot be browsed, which
  // is worth one line per run (the window keeps the flag); nullptr: each failure is
  // reported.
  bool* ListingFailureLogged = nullptr;
  // The host editor's name lookups and plug-in tests; unset functions get the
  // platform's (NameLookup.h, HostAddress.h).
  TConfigHostsContext Hosts;
  // The default double-click command shown in cbDblClick.
  std::string DefaultDoubleClick;
  // The portable copy's file explorer and drive check (tests replace them); unset: the
  // platform's.
  std::function<int(const std::string& path)> DriveType;
  std::function<void(const std::string& folder)> OpenFolder;
  // The service program the service boxes run; empty: "corvale-service" beside the
  // program.
  std::string ServiceProgram;
};

class TfrmCorvaleConfig : public QDialog {
  Q_OBJECT
public:
  enum TPage { pgHosts = 0, pgEmail = 1, pgPreferences = 2, pgInfo = 3 };

  // The working list is made here from the monitor's records; hostIndex is the main
  // window's selected host (-1: none), page the page to start on.
  TfrmCorvaleConfig(TConfigDialogContext context, int hostIndex, int page = pgHosts, QWidget* parent = nullptr);
  ~TfrmCorvaleConfig() override;

  // The dialog's working copies, which OK hands to the monitor.
  THostList& Working() { return *FWorking; }
  // OK's part in the dialog: the hosts page's edits (refused: false, the dialog stays),
  // the global controls into the settings and the e-mail configuration, the login start.
  bool StoreAndClose();
  // The global controls into the settings and the e-mail configuration (also before a
  // portable copy, so that it carries what the dialog shows).
  void StoreGlobals();
  std::string DefaultDoubleClick() const;
  // The computer-list thread while it runs (nullptr after it ended).
  TComputerListThread* ComputerList() const { return FComputerList; }
  // The hint line's text for a widget: its tool tip, else its parent's.
  static QString HintOf(QWidget* widget);

  QTabWidget* pcConfig;
  QWidget *tsHosts, *tsEmail, *tsPreferences, *tsInfo;
  TConfigHostsPage* Hosts;
  QPushButton *btnOk, *btnCancel;
  QLabel* lbHint;

  // "Email Configuration"
  QLineEdit *tbSMTP1, *tbUser1, *tbPass1, *tbFrom1;
  QLineEdit *tbSMTP2, *tbUser2, *tbPass2, *tbFrom2;
  QLabel *lblSMTP2, *lblUser2, *lblPass2, *lblFrom2;
  QCheckBox* ckbEmailQLM;
  QLineEdit* tbQLMFrom;
  QLineEdit* tbRelayServer;
  QComboBox* cbSmtpTls;  // "Auto", "Required", "Off"
  QLineEdit *tbSubject, *tbSubject2, *tbHTTPChangeSubj, *tbIPChangeSubj;
  QPlainTextEdit *mmoMessage, *mmoMessage2, *mmoHTTPChangeBody, *mmoIPChangeBody;
  TVarsMenu* pmVars;

  // "Preferences"
  QCheckBox *ckbLoadStartup, *ckbStartupMinimize, *ckbInstService, *ckbStartServ;
  QCheckBox *ckb24Hour, *ckbFreqFailAdj, *ckbAlertDownAtStartup, *ckbTestSvc;
  QComboBox* cbDblClick;
  QSpinBox *seMaxPing, *sePingTimeout, *sePingsPerTest, *seMaxTCP, *seMaxService, *seMaxShare;
  QSpinBox *seTCPConnectTimeout, *seHTTPTimeout, *seCertExpiryDays;
  QComboBox *cbOfflineSound, *cbOnlineSound;
  QLineEdit* tbSYSLOG;
  QCheckBox* ckbWebServer;
  QComboBox* cbWebPort;
  QLineEdit *tbWebPW, *tbWebManagePW;
  QCheckBox* ckbWebRestarts;

  // The information page
  QTreeWidget* lvPlugins;
  QPushButton *btnPluginSettings, *btnMakeRem;

  // The texts the alert boxes show while the stored subject and body are both empty.
  static const char* const DefaultOfflineSubject;
  static const char* const DefaultOfflineBody;
  static const char* const DefaultOnlineSubject;
  static const char* const DefaultOnlineBody;
  static const char* const DefaultPageChangeSubject;
  static const char* const DefaultPageChangeBody;
  static const char* const DefaultIPChangeSubject;
  static const char* const DefaultIPChangeBody;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void CreateEmailPage();
  void CreatePreferencesPage();
  void CreateInfoPage();
  void ShowGlobals();
  // A web port that is not a port number refuses OK with a warning.
  bool CheckGlobals();
  void StoreSettings(TSettings& settings) const;
  void StoreEmail(TEmailConfig& config) const;
  TPortableCopySource PortableCopySource();
  void StoreLoginStartup();
  // The service boxes (TfrmCorvaleConfigService.cpp).
  void ShowServiceBoxes();
  void StoreServiceInstallation();
  // Runs the service program with the switch, keeping the dialog responsive; false
  // after an error was shown.
  bool RunServiceProgram(const std::string& switchText);
  std::string ServiceProgramPath() const;
  void UpdateEnabling();
  void MakeRemClick();
  void StartComputerList();
  void ChooseSound(QComboBox* box);
  void WatchHints(QWidget* root);

  TConfigDialogContext FContext;
  TMonitor& FMonitor;
  std::unique_ptr<TDialogAsk> FOwnAsk;
  TDialogAsk& FAsk;
  std::unique_ptr<THostList> FWorking;
  QPointer<TComputerListThread> FComputerList;
};
