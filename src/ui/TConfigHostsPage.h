#pragma once
// The "Hosts" page of the configuration dialog: the working host list (full copies of
// the monitor's records, handed back on OK) and the editor of the selected hosts. The
// editor works on several hosts at once; a field in which they differ shows a marker
// (or a grey check box) and stays as each host has it unless the user changes it.
// Every question and sub-dialog goes through the TDialogAsk handed in.
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "hosttests/TTestKind.h"
#include "ui/TfrmMultServices.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;
class QTimeEdit;
class QToolButton;
class THost;
class THostList;
class TDialogAsk;
class TTimeInterval;
class TVarsMenu;

// What the page needs from outside the working list. Blocking lookups run through
// these functions so that tests give fakes and the dialog's owner the real ones.
struct TConfigHostsContext {
  const THostList* Live = nullptr;  // the monitor's list: new IDs avoid its IDs
  std::function<TDateTime()> Now;
  std::vector<std::string> PluginTestNames;  // the test-kind box's plug-in items
  // A plug-in kind's parameter kind (0 to 4), its list of values, and its check of a
  // value (none when valid, else the reason).
  std::function<int(TTestKind kind)> PluginParamKind;
  std::function<std::vector<std::string>(TTestKind kind)> PluginEntries;
  std::function<std::optional<std::string>(TTestKind kind, const std::string& value)> PluginParamError;
  TMultServicesSources Sources;  // services of an address, shares
  std::function<std::string(const std::string& address)> ReverseName;  // "" when none
  std::function<std::string(const std::string& name)> ResolveName;  // first address; "" when none
  std::function<bool(const std::string& address)> IsBroadcast;
};

// The text a field shows while the selected hosts differ in it.
extern const char* const MultipleValuesText;

// A group name as the list keeps it: characters outside 32-127 and commas dropped.
std::string CleanGroupName(const std::string& name);

class TConfigHostsPage : public QWidget {
  Q_OBJECT
public:
  // Fills the list; nothing is selected (and the editor stays disabled) until
  // SelectHostIndex.
  TConfigHostsPage(THostList& working, TConfigHostsContext context, TDialogAsk& ask,
                   QWidget* parent = nullptr);
  ~TConfigHostsPage() override;

  // Selects the line of the host list index (the main window's selection), else the
  // first line, and loads it into the editor.
  void SelectHostIndex(int index);
  // Stores the editor's changed fields into the hosts it shows; false when refused
  // (a broadcast address), nothing stored then.
  bool CommitEdits();
  // Computer names found on the network, for the address box (and an open add-host
  // dialog's host box).
  void AddComputerNames(const QStringList& names);
  // Every offline and online recipient of the working list, each once.
  QStringList KnownRecipients() const;

  // The list's actions, as the menu and the buttons run them.
  void AddHost();
  void CopyHost();
  void CopyHostMultiple();
  void AddGroup();
  void AddSingleHost();
  void RemoveSelected();
  // Selects every host line (group lines stay unselected).
  void SelectAllHosts();

  // The keys held at a click (the Shift coupling of the alert boxes); tests replace it.
  std::function<Qt::KeyboardModifiers()> KeyboardModifiers;

  // The IDs of the hosts the editor shows (group rows never).
  const std::vector<int32_t>& EditedIDs() const { return FEditIDs; }

  QListWidget* lbHosts;
  QToolButton* ddAdd;
  QPushButton* btnRemove;
  QAction *actAddHost, *actCopyHost, *actCopyMultiple, *actAddGroup, *actAddSingle;

  QTabWidget* pcHost;
  QLineEdit* tbDispName;
  QComboBox* tbHostname;
  QPushButton* btnResolve;
  TTimeInterval *tiInterval, *tiError;
  QComboBox* cbService;
  QComboBox* cbPort;
  QComboBox* cbServices;
  QLineEdit* tbShare;
  QPushButton* btnSettings;
  QComboBox* cbPluginParam;

  // "Host Offline"
  QLineEdit* tbEmail;
  QPushButton* btnEmail;
  QCheckBox* ckbAlert;
  QComboBox* cbHostDownCmd;
  QPushButton* btnHostDownCmd;
  QComboBox* cbSoundDown;
  QPushButton* btnSoundDown;
  QCheckBox* ckbHTTPDown;
  QPushButton* btnHTTPDown;
  QCheckBox* ckbGlobalDownSnd;
  // "Host Online"
  QLineEdit* tbEmailUp;
  QPushButton* btnEmailUp;
  QComboBox* cbHostUpCmd;
  QPushButton* btnHostUpCmd;
  QComboBox* cbSoundUp;
  QPushButton* btnSoundUp;
  QCheckBox* ckbHTTPUp;
  QPushButton* btnHTTPUp;
  QCheckBox* ckbPopupHostUp;
  QCheckBox* ckbGlobalUpSnd;
  // "Dependencies"
  QCheckBox* ckbDependable;
  QListWidget* ckbOfflineHosts;
  QListWidget* ckbDependentHosts;
  // "Advanced"
  QLineEdit* tbRDPUsername;
  QLineEdit* tbPassword;
  QLineEdit* tbCmdLine;
  QPushButton* btnCmdLine;
  QCheckBox* ckbLimitHours;
  QCheckBox* ckbEmailDelay;
  QTimeEdit* dtpAfter;
  QTimeEdit* dtpBefore;
  QComboBox* cbIPChange;
  QPushButton* btnIPChange;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  // A text field of the record shown in a line edit or a combo box.
  struct TTextField {
    QWidget* Widget;
    std::string THost::*Member;
  };
  struct TBoolField {
    QCheckBox* Box;
    bool THost::*Member;
  };

  void BuildList(QWidget* panel);
  void BuildEditor(QWidget* panel);
  void ConnectEditor();

  // The list.
  void FillList();
  QString LineText(const THost& host) const;
  int CurrentLine() const;
  THost* RecordOfLine(int line) const;
  int LineOfID(int32_t id) const;
  std::vector<int> SelectedLines() const;
  void SelectLines(const std::vector<int>& lines, int current);
  // Inserts at position (-1: after the current line, at the end when there is none)
  // and selects the new lines.
  void InsertRecords(std::vector<std::unique_ptr<THost>> records, int position = -1);
  void ListSelectionChanged();
  void ListDoubleClicked(QListWidgetItem* item);
  void ListRowsMoved();
  void FillListKeepingSelection();
  void UpdateAddActions();
  std::unique_ptr<THost> NewHost(const std::string& name, const std::string& address);
  int32_t FreshID();
  TDateTime NowTime() const;

  // The editor.
  std::vector<THost*> EditedHosts() const;
  void LoadEditor();
  void TakeSnapshot();
  void ShowKindControls();
  // The plug-in parameter box (TConfigHostsPagePlugins.cpp): its list for the kind, and
  // the plug-in's check when it is left.
  void FillPluginParams(TTestKind kind);
  void CheckPluginParam();
  QString FLastValidParam;
  bool FetchServices(const QString& address);
  void ServiceKindChosen();
  void AfterCommitReload();
  void CommitOnChange();
  void CoupleOnShift(QCheckBox* source, QCheckBox* partner);
  void LimitBoxesChanged();
  void EditRecipients(QWidget* box);
  void ChooseProgram(QWidget* box);
  void ChooseSound(QWidget* box);
  void EditRequest(int which);
  void ResolveDisplayName();
  void UpdateHints();
  // The kind chosen in the Test box; none while it shows that the hosts differ.
  std::optional<TTestKind> KindOfBox() const;

  // Dependencies.
  void FillDependencies();
  void UpdateDependencyStates();
  void OfflineHostChanged(QListWidgetItem* item);
  void DependentHostChanged(QListWidgetItem* item);

  THostList& FWorking;
  TConfigHostsContext FContext;
  TDialogAsk& FAsk;
  TVarsMenu* FVarsMenu = nullptr;
  TfrmMultServices* FOpenMultServices = nullptr;
  std::vector<TTextField> FTextFields;
  std::vector<TBoolField> FBoolFields;
  std::vector<int32_t> FEditIDs;
  std::vector<int32_t> FPendingIDs;  // IDs given to records not yet listed
  // What each control showed after loading: a field whose text is still this one was
  // not changed by the user.
  std::map<QWidget*, QString> FLoaded;
  std::map<QString, std::vector<std::string>> FServiceLists;  // by address
  QWidget* FEditor = nullptr;
  QFormLayout* FForm = nullptr;
  bool FLoading = false;
  bool FCommitting = false;
  // The address refused last, while the event that led to it is still being handled:
  // leaving the box and clicking another line refuse it once, not twice.
  QString FRefusedAddress;
  bool FBusy = false;  // inside a list change of our own
};
