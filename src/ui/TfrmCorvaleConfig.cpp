// The configuration dialog's frame: the pages, the hint line, the computer list, the
// information page with the portable copy, and OK. The e-mail and preferences pages are
// in TfrmCorvaleConfigPages.cpp.
#include "ui/TfrmCorvaleConfig.h"

#include "ui/PluginListPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>


#include "alerts/TAlerts.h"
#include "common/Clock.h"
#include "common/FileUtils.h"
#include "core/HostAddress.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "core/TMonitor.h"
#include "platform/NameLookup.h"
#include "platform/NetResources.h"
#include "platform/TServiceControl.h"
#include "ui/MainThreadWait.h"
#include "ui/TDialogAsk.h"
#include "ui/TfrmMakeRem.h"

const char* const TfrmCorvaleConfig::DefaultOfflineSubject = "Host Down: %displayname%";
const char* const TfrmCorvaleConfig::DefaultOfflineBody =
    "Host: %host%:%data%\r\nDate: %lastfail%\r\nError: %error%\r\nUp/Down: %uptime%/%downtime%\r\n"
    "Trace To: %lasthost%\r\nFailures: %btbfailures%\r\n";
const char* const TfrmCorvaleConfig::DefaultOnlineSubject = "Host Up: %displayname%";
const char* const TfrmCorvaleConfig::DefaultOnlineBody =
    "Host: %host%:%data%\r\nDate: %lastsuccess%\r\nUp/Down: %uptime%/%downtime%\r\n";
const char* const TfrmCorvaleConfig::DefaultPageChangeSubject = "Page Change: %displayname%";
const char* const TfrmCorvaleConfig::DefaultPageChangeBody =
    "Host: %url%\r\nDate: %lastsuccess%\r\nChange: %pctchanged%\r\n";
const char* const TfrmCorvaleConfig::DefaultIPChangeSubject = "IP Change: %displayname%";
const char* const TfrmCorvaleConfig::DefaultIPChangeBody =
    "Host: %url%\r\nDate: %lastsuccess%\r\nNew IP: %ip%\r\nOld IP: %oldip%\r\n";

namespace {
// The dialogs' entries, "name|display name|state", of a computer's services.
bool ServiceChoices(TServiceControl& services, const std::string& computer, std::vector<std::string>& list,
                    int& error) {
  std::vector<TListedService> listed;
  if (!services.ListServices(computer, listed, SERVICE_WIN32, true, false, "|", 2)) {
    error = TServiceControl::LastServiceError();
    return false;
  }
  for (const TListedService& entry : listed) list.push_back(entry.Text + "|" + std::to_string(entry.State));
  return true;
}

TConfigHostsContext HostsContextFor(TConfigHostsContext context, TMonitor& monitor) {
  context.Live = &monitor.Hosts();
  if (!context.Now) context.Now = [&monitor] { return monitor.Clock().Now(); };
  if (!context.ReverseName) context.ReverseName = [](const std::string& address) { return ReverseName(address); };
  if (!context.ResolveName)
    context.ResolveName = [](const std::string& name) {
      std::string dotted;
      return Resolve(name, dotted) ? dotted : std::string();
    };
  if (!context.IsBroadcast) context.IsBroadcast = [](const std::string& address) { return IsBroadcastAddress(address); };
  if (!context.Sources.Shares)
    context.Sources.Shares = [](const std::string& computer, std::vector<std::string>& list, int& error) {
      bool listed = false;
      RunOffMainThread([&] { listed = ListServerShares(computer, list, &error); });
      return listed;
    };
  // Listing a computer's services may take a minute (net rpc); the window keeps painting.
  if (!context.Sources.Services)
    context.Sources.Services = [&monitor](const std::string& computer, std::vector<std::string>& list, int& error) {
      bool listed = false;
      RunOffMainThread([&] { listed = ServiceChoices(monitor.Services(), computer, list, error); });
      return listed;
    };
  AddPluginContext(context, monitor.Plugins(), monitor.VariableContext().PluginTests);
  return context;
}

// A sound named without a folder is looked for in the program's folder.
std::string SoundPath(const std::string& sound, const std::string& programFolder) {
  if (sound.empty() || sound.find('/') != std::string::npos) return sound;
  return IncludeTrailingPathDelimiter(programFolder) + sound;
}
}  // namespace

TfrmCorvaleConfig::TfrmCorvaleConfig(TConfigDialogContext context, int hostIndex, int page, QWidget* parent)
    : QDialog(parent),
      FContext(std::move(context)),
      FMonitor(*FContext.Monitor),
      FOwnAsk(FContext.Ask ? nullptr : std::make_unique<TDialogAsk>()),
      FAsk(FContext.Ask ? *FContext.Ask : *FOwnAsk),
      FWorking(std::make_unique<THostList>()) {
  setObjectName("frmCorvaleConfig");
  setWindowTitle(QStringLiteral("Corvale Configuration"));
  setModal(true);

  // Full copies keep IDs, statistics and status, so OK puts back the very hosts the
  // user saw; the ancestors are computed once every parent is in the list.
  const TDateTime now = FMonitor.Clock().Now();
  for (const auto& record : FMonitor.Hosts().Records()) {
    auto copy = FWorking->NewRecord(now);
    FWorking->CopyRecord(*record, *copy, true, now);
    FWorking->Add(std::move(copy));
  }
  FWorking->RecomputeAllAncestors();

  pcConfig = new QTabWidget(this);
  pcConfig->setObjectName("pcConfig");
  Hosts = new TConfigHostsPage(*FWorking, HostsContextFor(FContext.Hosts, FMonitor), FAsk, pcConfig);
  Hosts->setObjectName("Hosts");
  tsHosts = Hosts;
  pcConfig->addTab(tsHosts, QStringLiteral("Hosts"));
  CreateEmailPage();
  CreatePreferencesPage();
  CreateInfoPage();

  lbHint = new QLabel(this);
  lbHint->setObjectName("lbHint");
  lbHint->setMinimumHeight(lbHint->fontMetrics().height() + 4);
  btnOk = new QPushButton(QStringLiteral("OK"), this);
  btnOk->setObjectName("btnOk");
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName("btnCancel");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(lbHint, 1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pcConfig, 1);
  layout->addLayout(buttons);
  connect(btnOk, &QPushButton::clicked, this, [this] { StoreAndClose(); });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  ShowGlobals();
  UpdateEnabling();
  WatchHints(this);
  pcConfig->setCurrentIndex(page >= pgHosts && page <= pgInfo ? page : pgHosts);
  Hosts->SelectHostIndex(hostIndex);
  resize(760, 600);
  StartComputerList();
}

TfrmCorvaleConfig::~TfrmCorvaleConfig() {
  // The thread hands names to this dialog; it must be gone before the dialog is.
  if (FComputerList) {
    FComputerList->disconnect(this);
    FComputerList->Stop();
  }
}

void TfrmCorvaleConfig::StartComputerList() {
  FComputerList = new TComputerListThread(
      FContext.Lister ? FContext.Lister : TComputerListThread::ListNetworkComputersLister(), this);
  connect(FComputerList, &TComputerListThread::NamesFound, this,
          [this](const QStringList& names) { Hosts->AddComputerNames(names); });
  // Browsing fails on networks without the service; that is worth one line in the log,
  // not a message box.
  connect(FComputerList, &TComputerListThread::ListingFailed, this, [this](const QString& error) {
    if (FContext.ListingFailureLogged) {
      if (*FContext.ListingFailureLogged) return;
      *FContext.ListingFailureLogged = true;
    }
    FMonitor.ReportFault("ListNetworkComputers", error.toLatin1().toStdString());
  });
  FComputerList->start();
}

std::string TfrmCorvaleConfig::DefaultDoubleClick() const { return cbDblClick->currentText().trimmed().toLatin1().toStdString(); }

bool TfrmCorvaleConfig::StoreAndClose() {
  if (!Hosts->CommitEdits()) return false;
  if (!CheckGlobals()) return false;
  StoreGlobals();
  StoreLoginStartup();
  StoreServiceInstallation();
  accept();
  return true;
}

void TfrmCorvaleConfig::StoreGlobals() {
  // Other threads (the web server, the workers' parameters) read the settings under
  // the lock held shared.
  FMonitor.UpdateSettings([this](TSettings& settings) { StoreSettings(settings); });
  if (FContext.Alerts) StoreEmail(FContext.Alerts->EmailConfig());
}

void TfrmCorvaleConfig::StoreLoginStartup() {
  if (!ckbLoadStartup->isEnabled()) return;
  const int state = ckbLoadStartup->checkState() == Qt::Unchecked ? 0 : ckbLoadStartup->checkState() == Qt::Checked ? 1 : 2;
  FMonitor.SetLoginStartup(state, ckbStartupMinimize->isChecked());
}

// ---- the information page

void TfrmCorvaleConfig::CreateInfoPage() {
  tsInfo = new QWidget(pcConfig);
  tsInfo->setObjectName("tsInfo");
  lvPlugins = new QTreeWidget(tsInfo);
  lvPlugins->setObjectName("lvPlugins");
  lvPlugins->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Vendor"), QStringLiteral("Tests")});
  lvPlugins->setRootIsDecorated(false);
  lvPlugins->setToolTip(QStringLiteral("The plug-in tests loaded"));
  btnPluginSettings = new QPushButton(QStringLiteral("Settings"), tsInfo);
  btnPluginSettings->setObjectName("btnPluginSettings");
  btnPluginSettings->setEnabled(false);
  btnPluginSettings->setToolTip(QStringLiteral("Settings of the selected plug-in"));
  btnMakeRem = new QPushButton(QStringLiteral("Install Corvale on a USB Flash Drive"), tsInfo);
  btnMakeRem->setObjectName("btnMakeRem");
  btnMakeRem->setToolTip(
      QStringLiteral("Copy Corvale with the settings shown here to a removable or optical drive"));
  auto* about = new QLabel(QStringLiteral("Corvale %1").arg(QStringLiteral(CORVALE_VERSION_TEXT)), tsInfo);
  about->setObjectName("lblVersion");
  auto* row = new QHBoxLayout;
  row->addWidget(btnPluginSettings);
  row->addStretch(1);
  row->addWidget(btnMakeRem);
  auto* layout = new QVBoxLayout(tsInfo);
  layout->addWidget(about);
  layout->addWidget(new QLabel(QStringLiteral("Plug-ins:"), tsInfo));
  layout->addWidget(lvPlugins, 1);
  layout->addLayout(row);
  pcConfig->addTab(tsInfo, QStringLiteral("Information"));
  connect(btnMakeRem, &QPushButton::clicked, this, &TfrmCorvaleConfig::MakeRemClick);
  ShowPluginList(*lvPlugins, *btnPluginSettings, FMonitor.Plugins(), *this);
}

TPortableCopySource TfrmCorvaleConfig::PortableCopySource() {
  TPortableCopySource source;
  source.ProgramPath = FMonitor.ProgramPath();
  source.CurrentFolder = QDir::currentPath().toLocal8Bit().toStdString();
  // The copy carries what the dialog shows, not what was stored before it opened; the
  // monitor's own settings stay as they are until OK.
  auto settings = std::make_shared<TSettings>(FMonitor.Settings());
  StoreSettings(*settings);
  auto email = std::make_shared<TEmailConfig>();
  if (FContext.Alerts) *email = FContext.Alerts->EmailConfig();
  StoreEmail(*email);
  source.OfflineSoundPath = SoundPath(settings->HostDownSound, FMonitor.ProgramFolder());
  source.OnlineSoundPath = SoundPath(settings->HostUpSound, FMonitor.ProgramFolder());
  const std::string current = IncludeTrailingPathDelimiter(source.CurrentFolder);
  if (FileExists(current + "Actions.cvl")) source.ActionsFile = current + "Actions.cvl";
  if (FileExists(current + "default.rdp")) source.RdpFile = current + "default.rdp";
  source.WriteEmailConfig = [email](const std::string& file, std::string& error) {
    return email->SaveToFile(file, error);
  };
  THostList* working = FWorking.get();
  source.WriteHosts = [working](const std::string& file, std::string& error) {
    return SaveHosts(file, *working, {}, &error);
  };
  source.WritePreferences = [settings](const std::string& file, std::string& error) {
    if (WriteWholeFile(file, settings->SaveToText())) return true;
    error = "Unable to write " + file;
    return false;
  };
  if (FContext.DriveType) source.DriveType = FContext.DriveType;
  if (FContext.OpenFolder) source.OpenFolder = FContext.OpenFolder;
  return source;
}

void TfrmCorvaleConfig::MakeRemClick() {
  if (!Hosts->CommitEdits()) return;
  TfrmMakeRem dialog(PortableCopySource(), FAsk, this);
  FAsk.Run(dialog);
}

// ---- the hint line

void TfrmCorvaleConfig::WatchHints(QWidget* root) {
  for (QWidget* w : root->findChildren<QWidget*>()) w->installEventFilter(this);
}

QString TfrmCorvaleConfig::HintOf(QWidget* widget) {
  for (QWidget* w = widget; w; w = w->parentWidget()) {
    if (!w->toolTip().isEmpty()) return w->toolTip();
    if (w->isWindow()) break;
  }
  return {};
}

bool TfrmCorvaleConfig::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Enter) {
    if (auto* w = qobject_cast<QWidget*>(watched)) lbHint->setText(HintOf(w));
  } else if (event->type() == QEvent::ChildAdded) {
    // Controls the hosts page makes later (a drop-down's list) get a hint too.
    auto* child = static_cast<QChildEvent*>(event)->child();
    if (child->isWidgetType()) child->installEventFilter(this);
  }
  return QDialog::eventFilter(watched, event);
}
