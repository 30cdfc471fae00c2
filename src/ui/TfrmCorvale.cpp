#include "ui/TfrmCorvale.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QSessionManager>
#include <QStyle>
#include <QSystemTrayIcon>

#include "core/TMonitor.h"

TfrmCorvale::TfrmCorvale(TMonitor& monitor, QWidget* parent) : QMainWindow(parent), FMonitor(monitor) {
  setObjectName("frmCorvale");
  setWindowTitle(QString::fromLatin1(FMonitor.Caption().c_str()));
  resize(800, 500);
  connect(&FMonitor, &TMonitor::ShowRequested, this, &TfrmCorvale::ShowFromRequest);
  connect(&FMonitor, &TMonitor::CloseRequested, this, &TfrmCorvale::OnCloseRequested);
  connect(&FMonitor, &TMonitor::ShutdownStarting, this, &TfrmCorvale::OnShutdownStarting);
  // The session manager's quit is the end of the session.
  connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { FMonitor.EndSession(); });
  if (!FMonitor.ServiceMode()) CreateTrayIcon();
}

TfrmCorvale::~TfrmCorvale() = default;

void TfrmCorvale::CreateTrayIcon() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  pmTray = new QMenu(this);
  pmTray->addAction(tr("Show Corvale"), this, &TfrmCorvale::ShowFromRequest);
  pmTray->addSeparator();
  pmTray->addAction(tr("Exit"), this, &TfrmCorvale::ExitClick);
  FTray = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_ComputerIcon), this);
  FTray->setToolTip(QStringLiteral("Corvale"));
  FTray->setContextMenu(pmTray);
  connect(FTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) ShowFromRequest();
  });
  connect(&FMonitor, &TMonitor::TrayHintChanged, this, [this] {
    // The hint separates its lines with CR, which the tool tip shows as line breaks.
    if (FTray) FTray->setToolTip(QString::fromLatin1(FMonitor.TrayHint().c_str()).replace(QChar('\r'), QChar('\n')));
  });
  FTray->show();
}

void TfrmCorvale::ShowFromRequest() {
  if (isMinimized()) showNormal();
  else show();
  raise();
  activateWindow();
}

void TfrmCorvale::ExitClick() { FMonitor.RequestClose(); }

void TfrmCorvale::OnCloseRequested() { close(); }

void TfrmCorvale::OnShutdownStarting() {
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
  FMonitor.SetRunState(rsClosed);
  FMonitor.Shutdown();
}
