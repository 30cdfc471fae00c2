// The editor of the "Hosts" page: its controls, loading the selected hosts into them
// and committing what the user changed back into every selected host.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTime>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "core/THost.h"
#include "core/THostList.h"
#include "ui/ConfigHostsText.h"
#include "ui/TConfigHostsPage.h"
#include "ui/TDialogAsk.h"
#include "ui/TKindEditors.h"
#include "ui/TTimeInterval.h"
#include "ui/TVarsMenu.h"

namespace {

const char* const PortItems[] = {
    "21 (FTP)",      "23 (Telnet)",        "25 (SMTP)",     "80 (HTTP)",       "110 (POP3)",     "135 (RPC)",
    "139 (NetBIOS)", "443 (HTTPS)",        "22 (SSH)",      "42 (WINS)",       "53 (DNS)",       "69 (TFTP)",
    "79 (Finger)",   "88 (Kerberos)",      "107 (RTelnet)", "113 (IDENT)",     "119 (NNTP)",     "143 (IMAP)",
    "389 (LDAP)",    "445 (MS-DS)",        "513 (RLogin)",  "515 (LPR/Spooler)", "631 (IPP)",    "1002 (MS-ILS)",
    "1024 (DCOM)",   "1433 (SQL Server)",  "1521 (Oracle)", "1720 (H.323)",    "1723 (PPTP)",    "3389 (RDP)",
    "5000 (UPnP)"};

// Shorter than a second, an interval is not taken.
constexpr double OneSecond = 1.0 / 60.0;

QString Marker() { return QString::fromLatin1(MultipleValuesText); }

// What a control shows, as one text to compare before and after the user's turn.
QString ValueOf(const QWidget* widget) {
  if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
  if (auto* box = qobject_cast<const QComboBox*>(widget)) {
    if (box->currentIndex() >= 0 && box->itemData(box->currentIndex(), MarkerRole).toBool()) return Marker();
    if (box->isEditable()) return box->currentText();
    const QVariant data = box->currentData(IDRole);
    return data.isValid() ? data.toString() : box->currentText();
  }
  if (auto* check = qobject_cast<const QCheckBox*>(widget)) return QString::number(check->checkState());
  if (auto* interval = qobject_cast<const TTimeInterval*>(widget)) return interval->Text();
  if (auto* time = qobject_cast<const QTimeEdit*>(widget)) return time->time().toString("HH:mm:ss.zzz");
  return {};
}

bool ShowsMarker(const QWidget* widget) {
  if (auto* check = qobject_cast<const QCheckBox*>(widget)) return check->checkState() == Qt::PartiallyChecked;
  return ValueOf(widget) == Marker();
}

void RemoveMarkerItems(QComboBox* box) {
  for (int i = box->count() - 1; i >= 0; --i)
    if (box->itemData(i, MarkerRole).toBool()) box->removeItem(i);
}

void ShowMarkerItem(QComboBox* box) {
  box->insertItem(0, Marker());
  box->setItemData(0, true, MarkerRole);
  box->setCurrentIndex(0);
}

void SetFieldText(QWidget* widget, const QString& text, bool marker) {
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(marker ? Marker() : text);
  } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
    if (marker)
      ShowMarkerItem(box);
    else
      box->setEditText(text);
  }
}

void SetCheck(QCheckBox* box, Qt::CheckState state) {
  box->setTristate(state == Qt::PartiallyChecked);
  box->setCheckState(state);
}

long double DayFraction(const QTime& time) { return time.msecsSinceStartOfDay() / 86400000.0L; }

QTime TimeOfFraction(long double fraction) {
  long double day = fraction - std::floor(fraction);
  return QTime::fromMSecsSinceStartOfDay(static_cast<int>(std::lround(static_cast<double>(day * 86400000.0L))) %
                                         86400000);
}

QComboBox* EditableBox(QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  return box;
}

// A box with its "..." button beside it.
QWidget* WithButton(QWidget* parent, QWidget* box, QPushButton*& button) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  box->setParent(row);
  button = new QPushButton("...", row);
  button->setFixedWidth(button->fontMetrics().horizontalAdvance("....") + 12);
  layout->addWidget(box, 1);
  layout->addWidget(button);
  return row;
}

}  // namespace

void TConfigHostsPage::BuildEditor(QWidget* panel) {
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new QFormLayout;
  FForm = form;
  tbDispName = new QLineEdit(panel);
  form->addRow(tr("Display Name"), tbDispName);
  tbHostname = EditableBox(panel);
  // Room for an address or the marker beside a short button that its hint explains.
  tbHostname->setMinimumContentsLength(Marker().size());
  tbHostname->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  btnResolve = new QPushButton(tr("Resolve"), panel);
  btnResolve->setToolTip(tr("Resolve display name to IP"));
  auto* addressRow = new QHBoxLayout;
  addressRow->addWidget(tbHostname, 1);
  addressRow->addWidget(btnResolve);
  form->addRow(tr("Host Name or IP Addr"), addressRow);
  tiInterval = new TTimeInterval(panel);
  tiInterval->SetUnitRange(TIntervalUnit::Second, TIntervalUnit::Hour);
  form->addRow(tr("Time Between Attempts:"), tiInterval);
  tiError = new TTimeInterval(panel);
  tiError->SetUnitRange(TIntervalUnit::Second, TIntervalUnit::Hour);
  form->addRow(tr("Error State After:"), tiError);
  cbService = new QComboBox(panel);
  for (const TKindEditor& kind : KindEditors()) cbService->addItem(tr(kind.Caption), KindNumber(kind.Kind));
  for (size_t i = 0; i < FContext.PluginTestNames.size(); ++i)
    cbService->addItem(Latin1(FContext.PluginTestNames[i]), KindNumber(PluginKind(static_cast<int>(i))));
  form->addRow(tr("Test:"), cbService);
  cbPort = EditableBox(panel);
  for (const char* item : PortItems) cbPort->addItem(QString::fromLatin1(item));
  form->addRow(tr("Port:"), cbPort);
  cbServices = new QComboBox(panel);
  form->addRow(tr("Service:"), cbServices);
  tbShare = new QLineEdit(panel);
  form->addRow(tr("Share"), tbShare);
  btnSettings = new QPushButton(tr("Settings..."), panel);
  form->addRow(QString(), btnSettings);
  cbPluginParam = EditableBox(panel);
  form->addRow(tr("Parameter:"), cbPluginParam);
  layout->addLayout(form);

  pcHost = new QTabWidget(panel);
  layout->addWidget(pcHost, 1);

  auto* offline = new QWidget(pcHost);
  auto* offlineForm = new QFormLayout(offline);
  tbEmail = new QLineEdit;
  offlineForm->addRow(tr("Email To:"), WithButton(offline, tbEmail, btnEmail));
  ckbAlert = new QCheckBox(tr("Include Host in Popup Alert Window"), offline);
  offlineForm->addRow(ckbAlert);
  cbHostDownCmd = EditableBox(nullptr);
  offlineForm->addRow(tr("Run Command:"), WithButton(offline, cbHostDownCmd, btnHostDownCmd));
  cbSoundDown = EditableBox(nullptr);
  offlineForm->addRow(tr("Play Sound:"), WithButton(offline, cbSoundDown, btnSoundDown));
  ckbHTTPDown = new QCheckBox(tr("Send a request via HTTP"), offline);
  btnHTTPDown = new QPushButton(tr("Settings..."), offline);
  auto* httpDown = new QHBoxLayout;
  httpDown->addWidget(ckbHTTPDown, 1);
  httpDown->addWidget(btnHTTPDown);
  offlineForm->addRow(httpDown);
  ckbGlobalDownSnd = new QCheckBox(tr("Play Global 'Host Offline' Sound"), offline);
  offlineForm->addRow(ckbGlobalDownSnd);
  pcHost->addTab(offline, tr("Host Offline"));

  auto* online = new QWidget(pcHost);
  auto* onlineForm = new QFormLayout(online);
  tbEmailUp = new QLineEdit;
  onlineForm->addRow(tr("Email To:"), WithButton(online, tbEmailUp, btnEmailUp));
  ckbPopupHostUp = new QCheckBox(tr("Show Popup 'Host Online' Alert"), online);
  onlineForm->addRow(ckbPopupHostUp);
  cbHostUpCmd = EditableBox(nullptr);
  onlineForm->addRow(tr("Run Command:"), WithButton(online, cbHostUpCmd, btnHostUpCmd));
  cbSoundUp = EditableBox(nullptr);
  onlineForm->addRow(tr("Play Sound:"), WithButton(online, cbSoundUp, btnSoundUp));
  ckbHTTPUp = new QCheckBox(tr("Send a request via HTTP"), online);
  btnHTTPUp = new QPushButton(tr("Settings..."), online);
  auto* httpUp = new QHBoxLayout;
  httpUp->addWidget(ckbHTTPUp, 1);
  httpUp->addWidget(btnHTTPUp);
  onlineForm->addRow(httpUp);
  ckbGlobalUpSnd = new QCheckBox(tr("Play Global 'Host Online' Sound"), online);
  onlineForm->addRow(ckbGlobalUpSnd);
  pcHost->addTab(online, tr("Host Online"));

  auto* dependencies = new QWidget(pcHost);
  auto* dependencyLayout = new QVBoxLayout(dependencies);
  ckbDependable = new QCheckBox(tr("Selected host(s) may be used in dependency rules"), dependencies);
  dependencyLayout->addWidget(ckbDependable);
  dependencyLayout->addWidget(new QLabel(tr("Don't monitor if all of these hosts are offline:"), dependencies));
  ckbOfflineHosts = new QListWidget(dependencies);
  dependencyLayout->addWidget(ckbOfflineHosts, 1);
  dependencyLayout->addWidget(new QLabel(tr("Hosts currently dependent on the selected host(s):"), dependencies));
  ckbDependentHosts = new QListWidget(dependencies);
  dependencyLayout->addWidget(ckbDependentHosts, 1);
  pcHost->addTab(dependencies, tr("Dependencies"));

  auto* advanced = new QWidget(pcHost);
  auto* advancedForm = new QFormLayout(advanced);
  tbRDPUsername = new QLineEdit(advanced);
  advancedForm->addRow(tr("Windows {Domain\\}Username:"), tbRDPUsername);
  tbPassword = new QLineEdit(advanced);
  tbPassword->setEchoMode(QLineEdit::Password);
  advancedForm->addRow(tr("Password:"), tbPassword);
  tbCmdLine = new QLineEdit;
  advancedForm->addRow(tr("Double-Click Command Line:"), WithButton(advanced, tbCmdLine, btnCmdLine));
  ckbLimitHours = new QCheckBox(tr("Only Test Between:"), advanced);
  ckbEmailDelay = new QCheckBox(tr("Only Send Email Between:"), advanced);
  dtpAfter = new QTimeEdit(advanced);
  dtpBefore = new QTimeEdit(advanced);
  dtpAfter->setDisplayFormat("HH:mm");
  dtpBefore->setDisplayFormat("HH:mm");
  auto* window = new QGridLayout;
  window->addWidget(ckbLimitHours, 0, 0);
  window->addWidget(ckbEmailDelay, 1, 0);
  window->addWidget(dtpAfter, 0, 1);
  window->addWidget(new QLabel(tr("and"), advanced), 0, 2);
  window->addWidget(dtpBefore, 0, 3);
  advancedForm->addRow(window);
  cbIPChange = EditableBox(nullptr);
  advancedForm->addRow(tr("Email on IP Change:"), WithButton(advanced, cbIPChange, btnIPChange));
  pcHost->addTab(advanced, tr("Advanced"));

  FVarsMenu = new TVarsMenu(TVarsMenu::TKind::Vars, this);
  FVarsMenu->Attach(cbHostDownCmd);
  FVarsMenu->Attach(cbHostUpCmd);

  FTextFields = {{tbHostname, &THost::Address},
                 {tbShare, &THost::SharePath},
                 {cbPluginParam, &THost::PluginParam},
                 {tbEmail, &THost::OfflineRecipients},
                 {cbHostDownCmd, &THost::OfflineCommand},
                 {cbSoundDown, &THost::OfflineSound},
                 {tbEmailUp, &THost::OnlineRecipients},
                 {cbHostUpCmd, &THost::OnlineCommand},
                 {cbSoundUp, &THost::OnlineSound},
                 {tbRDPUsername, &THost::WinUserName},
                 {tbPassword, &THost::WinPassword},
                 {tbCmdLine, &THost::DoubleClickCommand},
                 {cbIPChange, &THost::IPChangeRecipients}};
  FBoolFields = {{ckbAlert, &THost::AlertWindow},          {ckbHTTPDown, &THost::OfflineNotify},
                 {ckbGlobalDownSnd, &THost::GlobalOfflineSound}, {ckbPopupHostUp, &THost::OnlinePopup},
                 {ckbHTTPUp, &THost::OnlineNotify},        {ckbGlobalUpSnd, &THost::GlobalOnlineSound},
                 {ckbDependable, &THost::Dependable}};
}

void TConfigHostsPage::ConnectEditor() {
  auto commit = [this] { CommitOnChange(); };
  connect(tbDispName, &QLineEdit::editingFinished, this, commit);
  connect(tbDispName, &QLineEdit::textChanged, this, &TConfigHostsPage::UpdateHints);
  for (const TTextField& field : FTextFields) {
    if (auto* edit = qobject_cast<QLineEdit*>(field.Widget)) {
      connect(edit, &QLineEdit::editingFinished, this, commit);
      connect(edit, &QLineEdit::textChanged, this, &TConfigHostsPage::UpdateHints);
    } else if (auto* box = qobject_cast<QComboBox*>(field.Widget)) {
      // The plug-in's check decides whether its parameter is taken.
      if (box != cbPluginParam) connect(box->lineEdit(), &QLineEdit::editingFinished, this, commit);
      connect(box, &QComboBox::activated, this, commit);
      connect(box, &QComboBox::editTextChanged, this, &TConfigHostsPage::UpdateHints);
    }
  }
  connect(cbPort->lineEdit(), &QLineEdit::editingFinished, this, commit);
  connect(cbPort, &QComboBox::activated, this, commit);
  connect(cbServices, &QComboBox::activated, this, commit);
  connect(cbPluginParam->lineEdit(), &QLineEdit::editingFinished, this, &TConfigHostsPage::CheckPluginParam);
  connect(tiInterval, &TTimeInterval::Changed, this, commit);
  connect(tiError, &TTimeInterval::Changed, this, commit);
  connect(cbService, &QComboBox::activated, this, [this] {
    if (FLoading) return;
    if (KindOfBox() == TestService) ServiceKindChosen();
    ShowKindControls();
    CommitOnChange();
  });
  for (const TBoolField& field : FBoolFields) {
    connect(field.Box, &QCheckBox::stateChanged, this, [box = field.Box](int state) {
      // Once clicked, a grey box has a value like any other.
      if (state != Qt::PartiallyChecked) box->setTristate(false);
    });
  }
  connect(ckbAlert, &QCheckBox::clicked, this, [this] { CoupleOnShift(ckbAlert, ckbPopupHostUp); });
  connect(ckbPopupHostUp, &QCheckBox::clicked, this, [this] { CoupleOnShift(ckbPopupHostUp, ckbAlert); });
  connect(ckbGlobalDownSnd, &QCheckBox::clicked, this, [this] { CoupleOnShift(ckbGlobalDownSnd, ckbGlobalUpSnd); });
  connect(ckbGlobalUpSnd, &QCheckBox::clicked, this, [this] { CoupleOnShift(ckbGlobalUpSnd, ckbGlobalDownSnd); });
  for (QCheckBox* box : {ckbHTTPDown, ckbHTTPUp, ckbDependable}) connect(box, &QCheckBox::clicked, this, commit);
  for (QCheckBox* box : {ckbLimitHours, ckbEmailDelay}) {
    connect(box, &QCheckBox::stateChanged, this, [box](int state) {
      if (state != Qt::PartiallyChecked) box->setTristate(false);
    });
    connect(box, &QCheckBox::clicked, this, [this] {
      LimitBoxesChanged();
      CommitOnChange();
    });
  }
  connect(ckbHTTPDown, &QCheckBox::stateChanged, this, [this] { btnHTTPDown->setEnabled(ckbHTTPDown->isChecked()); });
  connect(ckbHTTPUp, &QCheckBox::stateChanged, this, [this] { btnHTTPUp->setEnabled(ckbHTTPUp->isChecked()); });
  connect(dtpAfter, &QTimeEdit::editingFinished, this, commit);
  connect(dtpBefore, &QTimeEdit::editingFinished, this, commit);
  connect(btnResolve, &QPushButton::clicked, this, &TConfigHostsPage::ResolveDisplayName);
  connect(btnSettings, &QPushButton::clicked, this, [this] { EditRequest(0); });
  connect(btnHTTPDown, &QPushButton::clicked, this, [this] { EditRequest(1); });
  connect(btnHTTPUp, &QPushButton::clicked, this, [this] { EditRequest(2); });
  connect(btnEmail, &QPushButton::clicked, this, [this] { EditRecipients(tbEmail); });
  connect(btnEmailUp, &QPushButton::clicked, this, [this] { EditRecipients(tbEmailUp); });
  connect(btnIPChange, &QPushButton::clicked, this, [this] { EditRecipients(cbIPChange); });
  connect(btnHostDownCmd, &QPushButton::clicked, this, [this] { ChooseProgram(cbHostDownCmd); });
  connect(btnHostUpCmd, &QPushButton::clicked, this, [this] { ChooseProgram(cbHostUpCmd); });
  connect(btnCmdLine, &QPushButton::clicked, this, [this] { ChooseProgram(tbCmdLine); });
  connect(btnSoundDown, &QPushButton::clicked, this, [this] { ChooseSound(cbSoundDown); });
  connect(btnSoundUp, &QPushButton::clicked, this, [this] { ChooseSound(cbSoundUp); });
  connect(ckbOfflineHosts, &QListWidget::itemChanged, this, &TConfigHostsPage::OfflineHostChanged);
  connect(ckbDependentHosts, &QListWidget::itemChanged, this, &TConfigHostsPage::DependentHostChanged);
}

std::vector<THost*> TConfigHostsPage::EditedHosts() const {
  std::vector<THost*> hosts;
  for (int32_t id : FEditIDs)
    if (THost* host = FWorking.Items(FWorking.FindByID(id)); host && !host->IsGroup()) hosts.push_back(host);
  return hosts;
}

std::optional<TTestKind> TConfigHostsPage::KindOfBox() const {
  if (ShowsMarker(cbService)) return std::nullopt;
  return static_cast<TTestKind>(cbService->currentData(IDRole).toInt());
}

void TConfigHostsPage::LoadEditor() {
  FLoading = true;
  for (QComboBox* box : {tbHostname, cbService, cbPort, cbServices, cbPluginParam, cbHostDownCmd, cbSoundDown,
                         cbHostUpCmd, cbSoundUp, cbIPChange})
    RemoveMarkerItems(box);
  FEditIDs.clear();
  for (int line : SelectedLines())
    if (const THost* host = RecordOfLine(line); host && !host->IsGroup()) FEditIDs.push_back(host->ID);
  UpdateAddActions();
  const std::vector<THost*> hosts = EditedHosts();
  FEditor->setEnabled(!hosts.empty());
  bool warnServices = false;
  if (!hosts.empty()) {
    const THost& first = *hosts.front();
    auto differs = [&](auto value) {
      for (const THost* host : hosts)
        if (!(value(*host) == value(first))) return true;
      return false;
    };
    SetFieldText(tbDispName, Latin1(first.DisplayName), differs([](const THost& h) { return h.DisplayName; }));
    for (const TTextField& field : FTextFields) {
      const auto member = field.Member;
      SetFieldText(field.Widget, Latin1(first.*member), differs([member](const THost& h) { return h.*member; }));
    }
    for (auto [interval, member] : {std::pair{tiInterval, &THost::TestInterval}, std::pair{tiError, &THost::ErrorAfter}}) {
      if (differs([member](const THost& h) { return h.*member; }))
        interval->SetText(Marker());
      else
        interval->SetMinutes(first.*member);
    }
    if (differs([](const THost& h) { return h.TestKind; })) {
      ShowMarkerItem(cbService);
    } else {
      int index = cbService->findData(KindNumber(first.TestKind), IDRole);
      if (index < 0) {
        // A plug-in test that is not loaded keeps its number.
        cbService->addItem(tr("Plug-in test %1").arg(first.TestKind - TestPlugin + 1), KindNumber(first.TestKind));
        index = cbService->count() - 1;
      }
      cbService->setCurrentIndex(index);
    }
    if (differs([](const THost& h) { return h.Port; })) {
      ShowMarkerItem(cbPort);
    } else {
      const QString number = first.Port > 0 ? QString::number(first.Port) : QString();
      int index = -1;
      for (int i = 0; i < cbPort->count() && !number.isEmpty(); ++i)
        if (cbPort->itemText(i).section(' ', 0, 0) == number) index = i;
      if (index >= 0)
        cbPort->setCurrentIndex(index);
      else
        cbPort->setEditText(number);
    }
    cbServices->clear();
    if (differs([](const THost& h) { return h.Service; })) {
      ShowMarkerItem(cbServices);
    } else {
      if (first.TestKind == TestService && KindOfBox() == TestService)
        warnServices = !FetchServices(ShowsMarker(tbHostname) ? Latin1(first.Address) : tbHostname->currentText());
      if (!first.Service.empty()) {
        int index = cbServices->findData(Latin1(first.Service), IDRole);
        if (index < 0) {
          cbServices->addItem(Latin1(first.ServiceDisplayName() + " (" + first.ServiceName() + ")"),
                              Latin1(first.Service));
          index = cbServices->count() - 1;
        }
        cbServices->setCurrentIndex(index);
      }
    }
    for (const TBoolField& field : FBoolFields) {
      const auto member = field.Member;
      SetCheck(field.Box, differs([member](const THost& h) { return h.*member; })
                              ? Qt::PartiallyChecked
                              : (first.*member ? Qt::Checked : Qt::Unchecked));
    }
    auto hasWindow = [](const THost& h) { return h.WindowStart != 0 || h.WindowEnd != 0; };
    auto limit = [&](const THost& h) { return hasWindow(h) && !h.EmailWindow; };
    auto email = [](const THost& h) { return h.EmailWindow; };
    SetCheck(ckbLimitHours, differs(limit) ? Qt::PartiallyChecked : (limit(first) ? Qt::Checked : Qt::Unchecked));
    SetCheck(ckbEmailDelay, differs(email) ? Qt::PartiallyChecked : (email(first) ? Qt::Checked : Qt::Unchecked));
    dtpAfter->setTime(TimeOfFraction(first.WindowStart));
    dtpBefore->setTime(TimeOfFraction(first.WindowEnd));
  }
  ShowKindControls();
  LimitBoxesChanged();
  btnHTTPDown->setEnabled(ckbHTTPDown->checkState() == Qt::Checked);
  btnHTTPUp->setEnabled(ckbHTTPUp->checkState() == Qt::Checked);
  FillDependencies();
  UpdateHints();
  FLoading = false;
  TakeSnapshot();
  if (warnServices) {
    // Ping replaces a service test whose list cannot be had; it counts as the user's
    // change and is stored at once.
    cbService->setCurrentIndex(cbService->findData(KindNumber(TestPing), IDRole));
    ShowKindControls();
    CommitEdits();
  }
}

void TConfigHostsPage::TakeSnapshot() {
  FLoaded.clear();
  for (QWidget* widget : std::initializer_list<QWidget*>{tbDispName, tiInterval, tiError, cbService, cbPort, cbServices,
                                                        ckbLimitHours, ckbEmailDelay, dtpAfter, dtpBefore})
    FLoaded[widget] = ValueOf(widget);
  for (const TTextField& field : FTextFields) FLoaded[field.Widget] = ValueOf(field.Widget);
  for (const TBoolField& field : FBoolFields) FLoaded[field.Box] = ValueOf(field.Box);
}

void TConfigHostsPage::ShowKindControls() {
  const std::optional<TTestKind> kind = KindOfBox();
  auto show = [this](QWidget* widget, bool visible) {
    widget->setVisible(visible);
    if (QWidget* label = FForm->labelForField(widget)) label->setVisible(visible);
  };
  for (const TKindEditor& editor : KindEditors())
    if (editor.Control) show(editor.Control(*this), kind == editor.Kind);
  show(PluginKindControl(*this), kind && IsPluginKind(*kind));
  if (kind && IsPluginKind(*kind)) FillPluginParams(*kind);
}

bool TConfigHostsPage::FetchServices(const QString& address) {
  std::vector<std::string> entries;
  if (!FServiceLists.count(address) || FServiceLists[address].empty()) {
    int error = 0;
    if (!FContext.Sources.Services || !FContext.Sources.Services(Latin1(address), entries, error)) entries.clear();
    FServiceLists[address] = entries;
  }
  entries = FServiceLists[address];
  const QSignalBlocker block(cbServices);
  cbServices->clear();
  for (const std::string& entry : entries) {
    const QStringList parts = Latin1(entry).split('|');
    const QString name = parts.value(0);
    const QString display = parts.value(1, name);
    cbServices->addItem(display + " (" + name + ")", name + "|" + display);
  }
  if (entries.empty()) {
    FAsk.Message(this, TDialogAsk::TKind::Warning, tr("Corvale"),
                 tr("The service list could not be retrieved from ") + address +
                     tr(".  Ping will be selected as the service test type."));
    return false;
  }
  return true;
}

void TConfigHostsPage::ServiceKindChosen() {
  const QString address = ShowsMarker(tbHostname) && !EditedHosts().empty()
                              ? Latin1(EditedHosts().front()->Address)
                              : tbHostname->currentText();
  if (!FetchServices(address)) {
    const QSignalBlocker block(cbService);
    cbService->setCurrentIndex(cbService->findData(KindNumber(TestPing), IDRole));
  }
}

void TConfigHostsPage::CommitOnChange() {
  if (FLoading || FBusy) return;
  CommitEdits();
}

bool TConfigHostsPage::CommitEdits() {
  if (FLoading) return true;
  if (FCommitting) return false;
  const std::vector<THost*> hosts = EditedHosts();
  if (hosts.empty()) return true;
  FCommitting = true;
  auto changed = [this](QWidget* widget) { return !ShowsMarker(widget) && FLoaded[widget] != ValueOf(widget); };

  const QString address = tbHostname->currentText().trimmed();
  const bool addressMarker = ShowsMarker(tbHostname);
  // Only an address the user typed or chose is checked: the check may have to look the
  // name up, and every click in the editor commits.
  if (!addressMarker && !address.isEmpty() && changed(tbHostname) && FContext.IsBroadcast &&
      FContext.IsBroadcast(Latin1(address))) {
    if (FRefusedAddress != address) {
      FAsk.Message(this, TDialogAsk::TKind::Error, tr("Corvale"),
                   tr("You may not select a broadcast address for a host."), QMessageBox::Cancel);
      FRefusedAddress = address;
      QTimer::singleShot(0, this, [this] { FRefusedAddress.clear(); });
    }
    tbHostname->setFocus();
    FCommitting = false;
    return false;
  }

  const std::optional<TTestKind> kind = KindOfBox();
  for (THost* host : hosts) {
    for (const TTextField& field : FTextFields) {
      if (!changed(field.Widget)) continue;
      const std::string value = Latin1(ValueOf(field.Widget).trimmed());
      if (field.Member == &THost::Address) {
        if (value != host->Address) host->CurrentIP.clear();
        host->Address = value;
      } else {
        host->*field.Member = Latin1(ValueOf(field.Widget));
      }
    }
    if (tbDispName->text().trimmed().isEmpty()) {
      const std::string target = addressMarker ? host->Address : Latin1(address);
      const std::string reverse = target.empty() || !FContext.ReverseName ? std::string() : FContext.ReverseName(target);
      host->DisplayName = reverse.empty() ? target : reverse;
    } else if (changed(tbDispName)) {
      host->DisplayName = Latin1(tbDispName->text());
    }
    for (auto [interval, member] : {std::pair{tiInterval, &THost::TestInterval}, std::pair{tiError, &THost::ErrorAfter}}) {
      if (!changed(interval)) continue;
      const std::optional<double> minutes = interval->Minutes();
      if (minutes && *minutes >= OneSecond - 1e-9) host->*member = *minutes;
    }
    if (changed(cbService) && kind && KindNumber(*kind) >= 0) host->TestKind = *kind;
    if (changed(cbPort)) {
      const int port = cbPort->currentText().trimmed().section(' ', 0, 0).toInt();
      if (port >= 1) host->Port = port;
    }
    if (changed(cbServices) && cbServices->currentIndex() >= 0) host->Service = Latin1(ValueOf(cbServices));
    for (const TBoolField& field : FBoolFields)
      if (changed(field.Box)) host->*field.Member = field.Box->checkState() == Qt::Checked;
    const bool windowChanged = changed(ckbLimitHours) || changed(ckbEmailDelay) || changed(dtpAfter) ||
                               changed(dtpBefore);
    if (windowChanged && !ShowsMarker(ckbLimitHours) && !ShowsMarker(ckbEmailDelay)) {
      if (ckbLimitHours->isChecked() || ckbEmailDelay->isChecked()) {
        host->WindowStart = DayFraction(dtpAfter->time());
        host->WindowEnd = DayFraction(dtpBefore->time());
      } else {
        host->WindowStart = 0;
        host->WindowEnd = 0;
      }
      host->EmailWindow = ckbEmailDelay->isChecked();
    }
    if (int line = LineOfID(host->ID); line >= 0) lbHosts->item(line)->setText(LineText(*host));
  }
  FWorking.RecomputeAllAncestors();
  FCommitting = false;
  // The editor shows the records as they are now (a filled-in name, a field that no
  // longer differs), and that is what the next commit compares with.
  if (!FBusy) {
    FBusy = true;
    LoadEditor();
    FBusy = false;
  } else {
    TakeSnapshot();
  }
  return true;
}

void TConfigHostsPage::CoupleOnShift(QCheckBox* source, QCheckBox* partner) {
  if (FLoading) return;
  if (KeyboardModifiers && (KeyboardModifiers() & Qt::ShiftModifier)) {
    partner->setTristate(false);
    partner->setCheckState(source->checkState());
  }
  CommitOnChange();
}

void TConfigHostsPage::LimitBoxesChanged() {
  ckbEmailDelay->setEnabled(ckbLimitHours->checkState() != Qt::Checked);
  ckbLimitHours->setEnabled(ckbEmailDelay->checkState() != Qt::Checked);
  const bool window = ckbLimitHours->checkState() != Qt::Unchecked || ckbEmailDelay->checkState() != Qt::Unchecked;
  dtpAfter->setEnabled(window);
  dtpBefore->setEnabled(window);
}

void TConfigHostsPage::ResolveDisplayName() {
  if (!CommitEdits()) return;
  const std::string name = Latin1(tbDispName->text().trimmed());
  const std::string address = FContext.ResolveName ? FContext.ResolveName(name) : std::string();
  if (address.empty()) {
    FAsk.Message(this, TDialogAsk::TKind::Warning, tr("Corvale"),
                 tr("The name ") + Latin1(name) + tr(" could not be resolved to an address."));
    return;
  }
  RemoveMarkerItems(tbHostname);
  tbHostname->setEditText(Latin1(address));
  CommitEdits();
}

void TConfigHostsPage::UpdateHints() {
  static const QRegularExpression hostNameCharacters("^[-.0-9A-Za-z]+$");
  btnResolve->setEnabled(hostNameCharacters.match(tbDispName->text()).hasMatch());
  for (QWidget* box : std::initializer_list<QWidget*>{tbEmail, tbEmailUp, cbIPChange, cbHostDownCmd, cbHostUpCmd,
                                                      tbCmdLine, cbSoundDown, cbSoundUp})
    box->setToolTip(ValueOf(box));
}
