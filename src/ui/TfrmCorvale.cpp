#include "ui/TfrmCorvale.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QSessionManager>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "common/Clock.h"
#include "core/THostList.h"
#include "alerts/TAlerts.h"
#include "core/TMonitor.h"
#include "ui/HostMenuRules.h"
#include "ui/THostInfoPane.h"
#include "ui/THostItemDelegate.h"
#include "ui/THostTableModel.h"
#include "ui/TPingListView.h"
#include "ui/TStatusImages.h"
#include "ui/TLocalAlerts.h"
#include "ui/TLogView.h"
#include "platform/NetResources.h"
#include "ui/TRemoteToolsPage.h"
#include "ui/TfrmCVAlerts.h"
#include "ui/TfrmNetAuth.h"
#include "ui/TfrmWaitShutdown.h"

namespace {
const QColor WindowColour(207, 207, 255);
const QColor ButtonColour(239, 239, 255);
constexpr int MinimumListHeight = 100;

QToolButton* NewButton(QWidget* parent, const char* name, const QString& caption, const QString& hint,
                       bool checkable) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(caption);
  button->setToolTip(hint);
  button->setCheckable(checkable);
  button->setAutoRaise(false);
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  return button;
}

// The settings' view style numbers (0 icons, 1 small icons, 2 list, 3 report) and the
// model's.
THostTableModel::TViewStyle StyleOfSetting(int value) {
  switch (value) {
    case 0: return THostTableModel::vsIcon;
    case 1: return THostTableModel::vsSmallIcon;
    case 2: return THostTableModel::vsList;
    default: return THostTableModel::vsReport;
  }
}
int SettingOfStyle(THostTableModel::TViewStyle style) {
  switch (style) {
    case THostTableModel::vsIcon: return 0;
    case THostTableModel::vsSmallIcon: return 1;
    case THostTableModel::vsList: return 2;
    case THostTableModel::vsReport: break;
  }
  return 3;
}
}  // namespace

TfrmCorvale::TfrmCorvale(TMonitor& monitor, QWidget* parent)
    : QMainWindow(parent), FMonitor(monitor), FImages(std::make_unique<TStatusImages>()) {
  setObjectName("frmCorvale");
  setWindowTitle(QString::fromLatin1(FMonitor.Caption().c_str()));
  QPalette pal = palette();
  pal.setColor(QPalette::Window, WindowColour);
  pal.setColor(QPalette::Button, ButtonColour);
  setPalette(pal);

  FModel = new THostTableModel(FMonitor, this);
  FModel->SetImages(FImages.get());
  FDelegate = new THostItemDelegate(*FImages, this);
  FDelegate->SetAlertQueued([this](const THost& host) { return HostHasQueuedMail(host); });
  FDelegate->SetInAlertWindow([this](const THost& host) {
    auto* local = dynamic_cast<TLocalAlerts*>(&FMonitor.Alerts());
    return local && local->AlertWindow().HostIDs().contains(host.ID);
  });
  CreatePages();
  CreateHostMenu();
  ConnectCommandCredentials(true);
  // A menu item runs after the menu has hidden: the host it was opened for is let go
  // once the item is done.
  connect(pmActions, &QMenu::aboutToHide, this, [this] {
    QTimer::singleShot(0, this, [this] {
      if (!pmActions->isVisible()) FMenuHostID = -1;
    });
  });
  resize(800, 500);
  FNormalWidth = width();

  connect(&FMonitor, &TMonitor::ShowRequested, this, &TfrmCorvale::ShowFromRequest);
  connect(&FMonitor, &TMonitor::CloseRequested, this, &TfrmCorvale::OnCloseRequested);
  connect(&FMonitor, &TMonitor::ShutdownStarting, this, &TfrmCorvale::OnShutdownStarting);
  connect(&FMonitor, &TMonitor::TestingChanged, this, &TfrmCorvale::UpdateTestingControls);
  connect(&FMonitor.Changes(), &THostChanges::HostsChanged, this, &TfrmCorvale::OnHostsChanged);
  connect(FModel, &THostTableModel::DisplayUpdated, this, &TfrmCorvale::OnDisplayUpdated);
  connect(this, &TfrmCorvale::EverythingOkToggled, &FMonitor, &TMonitor::ToggleEverythingOK);
  // Queued: the dialog runs its own loop, which should not run inside the click.
  connect(this, &TfrmCorvale::ConfigurationRequested, this, [this] { ShowConfiguration(0); }, Qt::QueuedConnection);
  // The session manager's quit is the end of the session.
  if (qApp)
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { FMonitor.EndSession(); });
  // "ThreadList" may be typed anywhere in the window, whichever control has the focus.
  qApp->installEventFilter(this);

  auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(f5, &QShortcut::activated, this, &TfrmCorvale::btnRefreshClick);
  auto* f6 = new QShortcut(QKeySequence(Qt::Key_F6), this);
  connect(f6, &QShortcut::activated, this, [this] {
    if (pcCorvale->currentWidget() == tsPing) btnResetClick(QGuiApplication::queryKeyboardModifiers());
    else if (pcCorvale->currentWidget() == tsRemote) pnlRemote->ClearNetBIOS();
  });

  tmrStatus = new QTimer(this);
  tmrStatus->setInterval(5000);
  connect(tmrStatus, &QTimer::timeout, this, &TfrmCorvale::StatusWarningTick);
  tmrStatus->start();

  if (!FMonitor.ServiceMode()) CreateTrayIcon();
  UpdateTestingControls(FMonitor.TestingOn());
  FModel->UpdateDisplay();
}

TfrmCorvale::~TfrmCorvale() {
  ConnectCommandCredentials(false);
  if (qApp) qApp->removeEventFilter(this);
  // The pictures go before the child widgets that draw with them.
  FModel->SetImages(nullptr);
}

void TfrmCorvale::ConnectCommandCredentials(bool on) {
  auto* alerts = dynamic_cast<TAlerts*>(&FMonitor.Alerts());
  if (!alerts) return;
  if (!on) {
    alerts->Commands().SetNetworkConnector({});
    return;
  }
  // Commands marked "*" connect as the user would, asked for what the host lacks.
  alerts->Commands().SetNetworkConnector(
      {[this](const std::string& remoteName, const std::string& user, const std::string& password) {
         std::string connection;
         return TfrmNetAuth::ConnectInteractive(this, FAsk, remoteName, user, password, connection);
       },
       [](const std::string& remoteName) { DisconnectResource(remoteName); }});
}

void TfrmCorvale::CreatePages() {
  pcCorvale = new QTabWidget(this);
  pcCorvale->setObjectName("pcCorvale");
  pcCorvale->setTabPosition(QTabWidget::South);
  pcCorvale->setDocumentMode(true);
  setCentralWidget(pcCorvale);

  tsPing = new QWidget;
  tsPing->setObjectName("tsPing");
  tsPing->setAutoFillBackground(true);
  CreateToolBar();
  lvPing = new TPingListView(*FModel, *FDelegate, tsPing);
  lvPing->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
  QPalette listPal = lvPing->palette();
  listPal.setColor(QPalette::Base, THostItemDelegate::ListColour());
  lvPing->Report()->setPalette(listPal);
  lvPing->Icons()->setPalette(listPal);
  pcHostInfo = new THostInfoPane(FMonitor, *FImages, tsPing);
  pcHostInfo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  splPing = new QSplitter(Qt::Vertical, tsPing);
  splPing->setObjectName("splPing");
  splPing->setChildrenCollapsible(false);
  splPing->addWidget(lvPing);
  splPing->addWidget(pcHostInfo);
  splPing->setStretchFactor(0, 1);
  splPing->setSizes({320, 130});
  auto* pingLayout = new QVBoxLayout(tsPing);
  pingLayout->setContentsMargins(2, 2, 2, 2);
  pingLayout->setSpacing(2);
  pingLayout->addWidget(pnlPing);
  pingLayout->addWidget(splPing, 1);
  pcCorvale->addTab(tsPing, QStringLiteral("Monitored Hosts"));

  tsRemote = new QWidget;
  tsRemote->setObjectName("tsRemote");
  pcCorvale->addTab(tsRemote, QStringLiteral("Remote Tools"));
  tsLocal = new QWidget;
  tsLocal->setObjectName("tsLocal");
  pcCorvale->addTab(tsLocal, QStringLiteral("Local Tools"));
  CreateToolPages();
  tsLog = new QWidget;
  tsLog->setObjectName("tsLog");
  frmLog = new TLogView(FMonitor, tsLog);
  auto* logLayout = new QVBoxLayout(tsLog);
  logLayout->setContentsMargins(2, 2, 2, 2);
  logLayout->addWidget(frmLog);
  pcCorvale->addTab(tsLog, QStringLiteral("Log"));

  connect(pcCorvale, &QTabWidget::currentChanged, this, &TfrmCorvale::OnPageChanged);
  connect(lvPing, &TPingListView::CurrentRowChanged, this, &TfrmCorvale::OnCurrentRowChanged);
  connect(lvPing, &TPingListView::RowDoubleClicked, this, &TfrmCorvale::OnRowDoubleClicked);
  connect(lvPing, &TPingListView::GroupIconClicked, this, [this](int row) { FModel->ToggleGroup(row); });
  connect(lvPing, &TPingListView::ContextMenuAt, this, [this](int, QPoint at) {
    FMenuHostID = -1;
    PreparePopup();
    pmActions->popup(at);
  });
  connect(lvPing->Report()->header(), &QHeaderView::sectionResized, this,
          [this](int column, int, int width) { ColumnResized(column, width, QGuiApplication::queryKeyboardModifiers()); });
  connect(splPing, &QSplitter::splitterMoved, this, &TfrmCorvale::UpdateHostInfoButton);
  // The pane shows the selected host, so its address opens that host's menu.
  connect(pcHostInfo, &THostInfoPane::AddressClicked, this, [this](const QString&, QPoint at) {
    FMenuHostID = -1;
    PreparePopup();
    pmActions->popup(at);
  });
  connect(pcHostInfo, &THostInfoPane::MACClicked, this, &TfrmCorvale::PopupMacMenu);
}

void TfrmCorvale::CreateToolBar() {
  pnlPing = new QWidget(tsPing);
  pnlPing->setObjectName("pnlPing");
  // The bar must not hold the window wider than the narrow mode wants it.
  pnlPing->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  sbActive = NewButton(pnlPing, "sbActive", QStringLiteral("Okay"), QStringLiteral("Okay Status"), true);
  sbActive->setIcon(FImages->Small(2));
  sbWarning = NewButton(pnlPing, "sbWarning", QStringLiteral("Warning"), QStringLiteral("Warning Status"), true);
  sbWarning->setIcon(FImages->Small(4));
  sbError = NewButton(pnlPing, "sbError", QStringLiteral("Error"), QStringLiteral("Error Status"), true);
  sbError->setIcon(FImages->Small(0));
  sbHostInfo = NewButton(pnlPing, "sbHostInfo", QStringLiteral("Info"), QStringLiteral("Show/Hide Host Info Pane"), true);
  sbHostInfo->setChecked(true);
  qlsbSound = NewButton(pnlPing, "qlsbSound", QStringLiteral("Audio"), QStringLiteral("Turn Audio Alerts On/Off"), true);
  qlsbSound->setChecked(FMonitor.Settings().PlaySounds);
  qlsbSound->setIcon(style()->standardIcon(QStyle::SP_MediaVolume));
  sbPing = NewButton(pnlPing, "sbPing", QStringLiteral("Testing"), QStringLiteral("Click to turn host testing on/off"),
                     true);
  sbPing->setIcon(FImages->Small(10));
  qlsbMini = NewButton(pnlPing, "qlsbMini", QStringLiteral("<<"), QStringLiteral("Turn Mini Mode On/Off"), true);
  btnConfig = NewButton(pnlPing, "btnConfig", QStringLiteral("Configuration"), QStringLiteral("Configuration"), false);
  btnReset = NewButton(pnlPing, "btnReset", QStringLiteral("Reset"),
                       QStringLiteral("Reset All Hosts, Hold Shift to Reset Notes, Control to Reset Stats"), false);
  btnRefresh = NewButton(pnlPing, "btnRefresh", QStringLiteral("Refresh"), QStringLiteral("Refresh All Hosts"), false);
  // A second row takes the last buttons when the narrow window is too slim for one.
  auto* rows = new QVBoxLayout(pnlPing);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(2);
  FBarTop = new QHBoxLayout;
  FBarBottom = new QHBoxLayout;
  for (QHBoxLayout* bar : {FBarTop, FBarBottom}) {
    bar->setSpacing(2);
    rows->addLayout(bar);
  }
  for (QToolButton* b : {sbActive, sbWarning, sbError, sbHostInfo, qlsbSound, sbPing, qlsbMini}) FBarTop->addWidget(b);
  FBarTop->addStretch(1);
  for (QToolButton* b : {btnConfig, btnReset, btnRefresh}) FBarTop->addWidget(b);
  FBarBottom->addStretch(1);

  auto filters = [this] {
    FModel->SetFilters({sbActive->isChecked(), sbWarning->isChecked(), sbError->isChecked()});
  };
  for (QToolButton* b : {sbActive, sbWarning, sbError}) connect(b, &QToolButton::toggled, this, filters);
  connect(sbHostInfo, &QToolButton::toggled, this, &TfrmCorvale::UpdateInfoPane);
  connect(qlsbSound, &QToolButton::toggled, this,
          [this](bool on) { FMonitor.UpdateSettings([on](TSettings& s) { s.PlaySounds = on; }); });
  connect(sbPing, &QToolButton::clicked, this, [this](bool on) { SetTesting(on); });
  connect(qlsbMini, &QToolButton::clicked, this, [this] {
    qlsbMiniClick(QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier));
  });
  connect(btnConfig, &QToolButton::clicked, this, &TfrmCorvale::ConfigurationRequested);
  connect(btnReset, &QToolButton::clicked, this,
          [this] { btnResetClick(QGuiApplication::queryKeyboardModifiers()); });
  connect(btnRefresh, &QToolButton::clicked, this, &TfrmCorvale::btnRefreshClick);
}

// ---- settings

void TfrmCorvale::ApplySettings() {
  const TSettings& s = FMonitor.Settings();
  QTreeView* report = lvPing->Report();
  for (int c = 0; c < THostTableModel::ColumnCount; ++c) {
    const std::string caption = THostTableModel::ColumnCaption(c).toLatin1().toStdString();
    const int width = s.ColumnWidth(caption, report->columnWidth(c));
    if (width > 0) report->setColumnWidth(c, width);
  }
  if (s.ViewStyle) FModel->SetViewStyle(StyleOfSetting(*s.ViewStyle));
  lvPing->ApplyViewStyle();
  const QSize size(s.Width.value_or(width()), s.Height.value_or(height()));
  resize(size);
  if (s.Left || s.Top) move(s.Left.value_or(x()), s.Top.value_or(y()));
  FNormalWidth = s.FullWidth.value_or(width());
  sbHostInfo->setChecked(s.HostInfoPane);
  qlsbSound->setChecked(s.PlaySounds);
  ApplyMiniLayout();
}

void TfrmCorvale::StoreSettings() {
  const QRect g = isMaximized() || isMinimized() ? normalGeometry() : geometry();
  FMonitor.UpdateSettings([&](TSettings& s) {
    QTreeView* report = lvPing->Report();
    for (int c = 0; c < THostTableModel::ColumnCount; ++c)
      s.SetColumnWidth(THostTableModel::ColumnCaption(c).toLatin1().toStdString(), report->columnWidth(c));
    s.ViewStyle = SettingOfStyle(FModel->ViewStyle());
    s.Width = g.width();
    s.Height = g.height();
    s.Left = x();
    s.Top = y();
    s.FullWidth = FNormalWidth;
    s.HostInfoPane = sbHostInfo->isChecked();
    s.PlaySounds = qlsbSound->isChecked();
  });
}

// ---- the host list and the information pane

THost* TfrmCorvale::SelectedHost() const {
  THost* host = FMenuHostID >= 0 ? FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(FMenuHostID))
                                 : FModel->HostAt(lvPing->CurrentRow());
  return host && !host->IsGroup() ? host : nullptr;
}

int TfrmCorvale::SelectedHostIndex() const {
  const THost* host = SelectedHost();
  return host ? FMonitor.Hosts().IndexOf(host) : -1;
}

void TfrmCorvale::PopupHostMenu(qint32 hostID, QPoint globalPos) {
  if (FMonitor.Hosts().FindByID(hostID) < 0) return;
  // The host becomes the selected row when the list shows it; a filter or a collapsed
  // group may hide it, and the menu acts on it all the same.
  const int row = FModel->RowOfHost(hostID);
  if (row >= 0) lvPing->SetCurrentRow(row);
  FMenuHostID = hostID;
  PreparePopup();
  pmActions->popup(globalPos);
}

void TfrmCorvale::SelectHostIndex(int index) {
  const THost* host = FMonitor.Hosts().Items(index);
  lvPing->SetCurrentRow(host ? FModel->RowOfHost(host->ID) : -1);
}

void TfrmCorvale::OnCurrentRowChanged() {
  UpdateInfoPane();
  if (const THost* host = FModel->HostAt(lvPing->CurrentRow()); host && !host->IsGroup()) pnlRemote->SetHost(host->Address);
}

void TfrmCorvale::UpdateInfoPane() {
  UpdateHostInfoButton();
  const int row = lvPing->CurrentRow();
  const bool show = sbHostInfo->isChecked() && sbHostInfo->isEnabled() && row >= 0;
  pcHostInfo->setVisible(show);
  if (show) pcHostInfo->ShowHost(FModel->HostAt(row));
}

void TfrmCorvale::UpdateHostInfoButton() {
  const int room = MinimumListHeight + pcHostInfo->minimumHeight() + splPing->handleWidth();
  sbHostInfo->setEnabled(!qlsbMini->isChecked() && splPing->height() >= room);
}

void TfrmCorvale::OnHostsChanged(const QList<qint32>& ids) {
  const THost* host = FModel->HostAt(lvPing->CurrentRow());
  if (host && pcHostInfo->isVisible() && ids.contains(host->ID)) pcHostInfo->ShowHost(host);
}

void TfrmCorvale::OnDisplayUpdated() {
  const bool normalState = !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized));
  qlsbMini->setEnabled(FModel->ViewStyle() == THostTableModel::vsReport && normalState);
  // A narrow window follows the "Host" column's width.
  if (qlsbMini->isChecked() && pcCorvale->currentWidget() == tsPing && width() != MiniWidth()) SetWindowWidth(MiniWidth());
  UpdateInfoPane();
}

void TfrmCorvale::OnRowDoubleClicked(int row) {
  THost* host = FModel->HostAt(row);
  if (!host) return;
  if (host->IsGroup()) {
    FModel->ToggleGroup(row);
    return;
  }
  const std::string& command = host->DoubleClickCommand.empty() ? FDefaultDoubleClick : host->DoubleClickCommand;
  if (!command.empty()) {
    FMonitor.Alerts().RunCommandLine(command, *host);
    return;
  }
  // The button may be down already with the pane hidden; the pane shows this host.
  sbHostInfo->setChecked(true);
  UpdateInfoPane();
}

void TfrmCorvale::ColumnResized(int column, int width, Qt::KeyboardModifiers modifiers) {
  if (FCouplingColumns || !modifiers.testFlag(Qt::ShiftModifier)) return;
  using M = THostTableModel;
  static const std::vector<std::vector<int>> coupled{
      {M::colLastCheck, M::colLastSuccess, M::colLastFailure}, {M::colSuccesses, M::colFailures},
      {M::colUpTime, M::colDownTime}};
  FCouplingColumns = true;
  for (const auto& set : coupled)
    if (std::find(set.begin(), set.end(), column) != set.end())
      for (int other : set)
        if (other != column) lvPing->Report()->setColumnWidth(other, width);
  FCouplingColumns = false;
}

// ---- the log page

void TfrmCorvale::ViewInLogClick() {
  const THost* host = SelectedHost();
  if (host && frmLog->ViewInLog(LogLabel(*host))) pcCorvale->setCurrentWidget(tsLog);
}

// ---- pages, keys, the narrow mode

void TfrmCorvale::OnPageChanged(int) {
  if (pcCorvale->currentWidget() == tsLog) frmLog->Refresh();
  if (pcCorvale->currentWidget() != tsPing) {
    if (qlsbMini->isChecked()) {
      FMiniOnOtherPage = true;
      SetWindowWidth(FNormalWidth);
    }
  } else if (FMiniOnOtherPage) {
    FMiniOnOtherPage = false;
    SetWindowWidth(MiniWidth());
  }
}

int TfrmCorvale::MiniWidth() const {
  return ::MiniWidth(lvPing->Report()->columnWidth(THostTableModel::colHost), ListFrame());
}

int TfrmCorvale::ListFrame() const {
  // From the margins and metrics rather than the widgets' current sizes, which are not
  // laid out yet while the window is hidden or being resized.
  const QMargins margins = tsPing->layout()->contentsMargins();
  QTreeView* report = lvPing->Report();
  return margins.left() + margins.right() + 2 * report->frameWidth() +
         report->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, report);
}

void TfrmCorvale::SetWindowWidth(int newWidth) {
  if (newWidth <= 0) return;
  resize(newWidth, height());
}

void TfrmCorvale::qlsbMiniClick(bool shift) {
  if (shift) {
    QTreeView* report = lvPing->Report();
    int columns = 0;
    for (int c = 0; c < THostTableModel::ColumnCount; ++c) columns += report->columnWidth(c);
    qlsbMini->setChecked(false);
    FNormalWidth = columns + ListFrame();
  }
  const bool mini = qlsbMini->isChecked();
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowMaximizeButtonHint, !mini);
  if (visible) show();
  if (mini) {
    SetWindowWidth(MiniWidth());
  } else {
    SetWindowWidth(FNormalWidth);
    if (const QScreen* screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      const QRect frame = frameGeometry();
      const int left = LeftForWidth(frame.left(), frame.width(), area.left(), area.right() + 1);
      if (left != frame.left()) move(left, y());
    }
  }
  ApplyMiniLayout();
}

void TfrmCorvale::ApplyMiniLayout() {
  if (pcCorvale->currentWidget() != tsPing || FInResize) return;
  FInResize = true;
  const TMiniLayout layout = MiniLayoutFor(width(), MiniWidth());
  for (int page = 1; page < pcCorvale->count(); ++page) pcCorvale->setTabVisible(page, !layout.Narrow);
  for (QToolButton* b : {btnRefresh, btnReset, sbHostInfo}) b->setVisible(!layout.Narrow);
  btnConfig->setVisible(!layout.HideConfig);
  LayOutToolBar(layout.Narrow);
  qlsbMini->setChecked(layout.Narrow);
  qlsbMini->setText(layout.Narrow ? QStringLiteral(">>") : QStringLiteral("<<"));
  if (layout.RememberNormal) FNormalWidth = width();
  FInResize = false;
  UpdateInfoPane();
}

void TfrmCorvale::LayOutToolBar(bool narrow) {
  // The narrow window has room for the buttons' pictures only (their hints name them),
  // and on two rows when one does not hold them.
  const Qt::ToolButtonStyle look = narrow ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon;
  for (QToolButton* b : {sbActive, sbWarning, sbError, qlsbSound, sbPing}) b->setToolButtonStyle(look);
  const int spacing = narrow ? 0 : 2;
  FBarTop->setSpacing(spacing);
  FBarBottom->setSpacing(spacing);
  const QMargins margins = tsPing->layout()->contentsMargins();
  const int room = width() - margins.left() - margins.right();
  int needed = -spacing;
  for (QToolButton* b : {sbActive, sbWarning, sbError, sbHostInfo, qlsbSound, sbPing, qlsbMini})
    if (!b->isHidden()) needed += b->sizeHint().width() + spacing;
  const bool twoRows = narrow && needed > room;
  const QList<QToolButton*> wrapped{qlsbSound, sbPing, qlsbMini};
  if (twoRows == (FBarBottom->indexOf(qlsbMini) >= 0)) return;
  for (int i = 0; i < wrapped.size(); ++i) {
    (twoRows ? FBarTop : FBarBottom)->removeWidget(wrapped[i]);
    if (twoRows) FBarBottom->insertWidget(i, wrapped[i]);
    else FBarTop->insertWidget(FBarTop->indexOf(sbHostInfo) + 1 + i, wrapped[i]);
  }
}

void TfrmCorvale::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ApplyMiniLayout();
}

void TfrmCorvale::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) OnDisplayUpdated();
}

bool TfrmCorvale::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    // A key nobody takes travels up to the parents as the same event: it counts once,
    // at the first widget it reached.
    const bool again = event == FLastKeyEvent && FLastKeyTarget && widget && widget != FLastKeyTarget &&
                       widget->isAncestorOf(FLastKeyTarget);
    if (widget && widget->window() == this && !again) {
      FLastKeyEvent = event;
      FLastKeyTarget = widget;
      const QString text = static_cast<QKeyEvent*>(event)->text();
      if (FWindowKeys.Add(text, QStringLiteral("ThreadList"))) ShowThreadList();
      const bool inList = widget == lvPing->Report() || widget == lvPing->Icons();
      if (inList && FListKeys.Add(text, QStringLiteral("everythingok"))) emit EverythingOkToggled();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmCorvale::ShowThreadList() {
  if (FThreadList && FThreadList->isVisible()) {
    FThreadList->close();
    return;
  }
  if (!FThreadList) {
    FThreadList = new TfrmWaitShutdown(
        [this] {
          std::vector<std::string> names;
          for (const TRunningTask& task : FMonitor.RunningTests()) names.push_back(task.Name);
          return names;
        },
        this);
    FThreadList->setAttribute(Qt::WA_DeleteOnClose);
  }
  FThreadList->show();
  FThreadList->raise();
}

// ---- showing and closing

void TfrmCorvale::ShowFromRequest() {
  if (isMinimized()) showNormal();
  else show();
  raise();
  activateWindow();
}

void TfrmCorvale::ExitClick() { FMonitor.RequestClose(); }

void TfrmCorvale::OnCloseRequested() { close(); }

void TfrmCorvale::OnShutdownStarting() {
  tmrStatus->stop();
  if (FTray) FTray->hide();
}

void TfrmCorvale::closeEvent(QCloseEvent* event) {
  const bool shift = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
  if (!shift && FMonitor.RunState() != rsCloseRequested) {
    event->ignore();
    // Without a tray icon a hidden window could only come back through a second copy.
    if (FTray && FTray->isVisible()) hide();
    else showMinimized();
    return;
  }
  event->accept();
  StoreSettings();
  FMonitor.SetRunState(rsClosed);
  FMonitor.Shutdown();
}
