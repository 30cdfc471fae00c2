#include "ui/TfrmCVAlerts.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "ui/AlertWindowLook.h"

namespace {
constexpr int HostIDRole = Qt::UserRole;
// After a host is listed the sound repeats for this many minutes; later it rests one
// minute in every RestEvery + 1.
constexpr int FirstRepeats = 30;
constexpr int RestEvery = 10;

QToolButton* NewButton(QWidget* parent, QStyle::StandardPixmap icon, const char* hint, bool checkable) {
  auto* button = new QToolButton(parent);
  button->setIcon(parent->style()->standardIcon(icon));
  button->setToolTip(QString::fromLatin1(hint));
  button->setCheckable(checkable);
  button->setAutoRaise(true);
  return button;
}
}  // namespace

TfrmCVAlerts::TfrmCVAlerts(TMonitor& monitor, TPlay play, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), FMonitor(monitor), FPlay(std::move(play)) {
  setObjectName("frmCVAlerts");
  setWindowTitle(QStringLiteral("Corvale Alerts"));
  setAttribute(Qt::WA_ShowWithoutActivating);

  auto* title = new QLabel(QStringLiteral("Hosts Offline:"), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);

  lbHosts = new QListWidget(this);
  lbHosts->setObjectName("lbHosts");
  lbHosts->setFont(bold);
  QPalette red = lbHosts->palette();
  red.setColor(QPalette::Text, Qt::red);
  lbHosts->setPalette(red);
  lbHosts->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lbHosts, &QListWidget::itemDoubleClicked, this, [this] { lbHostsDblClick(); });
  connect(lbHosts, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    const QListWidgetItem* item = lbHosts->itemAt(pos);
    if (item) emit HostMenuRequested(item->data(HostIDRole).toInt(), lbHosts->viewport()->mapToGlobal(pos));
  });

  auto* hint = new QLabel(QStringLiteral("Double-click to remove a host."), this);
  sbSound = NewButton(this, QStyle::SP_MediaVolume, "Play Repetitive Alert Sound", true);
  sbSound->setObjectName("sbSound");
  sbOnTop = NewButton(this, QStyle::SP_TitleBarShadeButton, "Keep Alerts window on top of other windows", true);
  sbOnTop->setObjectName("sbOnTop");
  btnRestore = NewButton(this, QStyle::SP_TitleBarNormalButton, "Show Corvale", false);
  btnRestore->setObjectName("btnRestore");
  connect(sbSound, &QToolButton::clicked, this, [this] { sbSoundClick(); });
  connect(sbOnTop, &QToolButton::clicked, this, [this] { sbOnTopClick(); });
  connect(btnRestore, &QToolButton::clicked, this, [this] { btnRestoreClick(); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(hint, 1);
  buttons->addWidget(sbSound);
  buttons->addWidget(sbOnTop);
  buttons->addWidget(btnRestore);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addWidget(title);
  layout->addWidget(lbHosts, 1);
  layout->addLayout(buttons);
  resize(300, 180);

  tmrAlert.setInterval(60000);
  connect(&tmrAlert, &QTimer::timeout, this, [this] {
    try {
      tmrAlertTimer();
    } catch (...) {
      FMonitor.ReportCurrentException("frmCVAlerts.tmrAlert");
    }
  });
}

TfrmCVAlerts::~TfrmCVAlerts() = default;

bool TfrmCVAlerts::AddHost(const THost& host) {
  const QString name = QString::fromLatin1(host.DisplayName.c_str());
  for (int i = 0; i < lbHosts->count(); ++i)
    if (lbHosts->item(i)->text() == name) return false;
  auto* item = new QListWidgetItem(name);
  item->setData(HostIDRole, host.ID);
  lbHosts->insertItem(0, item);
  tmrAlert.stop();
  if (isVisible()) tmrAlert.start();
  FAlertCount = FirstRepeats;
  return true;
}

void TfrmCVAlerts::RemoveHost(const THost& host) {
  for (int i = 0; i < lbHosts->count(); ++i) {
    QListWidgetItem* item = lbHosts->item(i);
    if (item->data(HostIDRole).toInt() == host.ID) {
      RemoveItem(item);
      return;
    }
  }
}

void TfrmCVAlerts::RemoveItem(QListWidgetItem* item) {
  delete lbHosts->takeItem(lbHosts->row(item));
  if (lbHosts->count() == 0) close();
}

QList<qint32> TfrmCVAlerts::HostIDs() const {
  QList<qint32> ids;
  for (int i = 0; i < lbHosts->count(); ++i) ids.push_back(lbHosts->item(i)->data(HostIDRole).toInt());
  return ids;
}

void TfrmCVAlerts::tmrAlertTimer() {
  // A listed host may have left the host list since; it asks for nothing then.
  bool wantsSound = false;
  const THostList& hosts = FMonitor.Hosts();
  for (qint32 id : HostIDs()) {
    const THost* host = hosts.Items(hosts.FindByID(id));
    if (host && host->GlobalOfflineSound) wantsSound = true;
  }
  if (FAlertCount <= 0) {
    FAlertCount = RestEvery;
    return;
  }
  --FAlertCount;
  if (wantsSound && FMonitor.Settings().PlayRepetitiveSounds) FPlay(FMonitor.Settings().HostDownSound, true);
}

void TfrmCVAlerts::lbHostsDblClick() {
  if (QListWidgetItem* item = lbHosts->currentItem()) RemoveItem(item);
}

void TfrmCVAlerts::sbSoundClick() {
  const bool on = sbSound->isChecked();
  FMonitor.UpdateSettings([on](TSettings& s) { s.PlayRepetitiveSounds = on; });
}

void TfrmCVAlerts::sbOnTopClick() {
  // Recorded only: the window stays on top either way.
  const bool on = sbOnTop->isChecked();
  FMonitor.UpdateSettings([on](TSettings& s) { s.AlertsOnTop = on; });
}

void TfrmCVAlerts::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  PaintAlertBackground(*this);
  sbSound->setChecked(FMonitor.Settings().PlayRepetitiveSounds);
  sbOnTop->setChecked(FMonitor.Settings().AlertsOnTop);
  PlaceAtBottomRight(*this);
  tmrAlert.start();
}

void TfrmCVAlerts::closeEvent(QCloseEvent* event) {
  lbHosts->clear();
  tmrAlert.stop();
  QWidget::closeEvent(event);
}
