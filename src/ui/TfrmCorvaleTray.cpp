// The tray icon of the main window, its menu and the status warnings it shows.
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QToolButton>

#include <cmath>

#include "common/Clock.h"
#include "core/TMonitor.h"
#include "ui/TStatusImages.h"
#include "ui/TfrmCorvaleConfig.h"
#include "ui/TfrmCorvale.h"

namespace {
constexpr char16_t TitleSplit = 160;
}

void TfrmCorvale::CreateTrayIcon() {
  pmIcon = new QMenu(this);
  pmIcon->setObjectName("pmIcon");
  mnuOpen = pmIcon->addAction(QStringLiteral("Open Corvale"), this, &TfrmCorvale::ShowFromRequest);
  mnuDisableTesting = pmIcon->addAction(QStringLiteral("Disable Host Testing"), this,
                                        [this] { SetTesting(!FMonitor.TestingOn()); });
  mnuDisableTesting->setCheckable(true);
  pmIcon->addSeparator();
  mnuExit = pmIcon->addAction(QStringLiteral("Exit"), this, &TfrmCorvale::ExitClick);
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  FTray = new QSystemTrayIcon(this);
  FTray->setToolTip(QStringLiteral("Corvale"));
  FTray->setContextMenu(pmIcon);
  connect(FTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) ShowFromRequest();
  });
  connect(FTray, &QSystemTrayIcon::messageClicked, this, [this] {
    ShowFromRequest();
    if (FLastWarningAction == 0) {
      FAsk.Message(this, TDialogAsk::TKind::Warning, windowTitle(), StatusWarningMessage());
      return;
    }
    if (FAsk.Message(this, TDialogAsk::TKind::Warning, windowTitle(), StatusWarningMessage(),
                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
      PerformStatusAction();
  });
  connect(&FMonitor, &TMonitor::TrayHintChanged, this, [this] {
    // The hint separates its lines with CR, which the tool tip shows as line breaks.
    if (FTray) FTray->setToolTip(QString::fromLatin1(FMonitor.TrayHint().c_str()).replace(QChar('\r'), QChar('\n')));
  });
  FTray->show();
}

void TfrmCorvale::UpdateTestingControls(bool on) {
  sbPing->setChecked(on);
  if (pmIcon) mnuDisableTesting->setChecked(!on);
  if (FTray) FTray->setIcon(QIcon(FImages->Large(on ? 2 : 14)));
}

bool TfrmCorvale::StatusWarningTick() {
  TMonitor::TStatusWarning warning;
  try {
    warning = FMonitor.StatusCheck();
  } catch (...) {
    FMonitor.ReportCurrentException("StatusCheck");
    return false;
  }
  if (warning.Text.empty()) return false;
  const QString text = QString::fromLatin1(warning.Text.data(), static_cast<int>(warning.Text.size()));
  const int day = static_cast<int>(std::floor(FMonitor.Clock().Now()));
  if (text == FLastWarning && day == FLastWarningDay) return false;
  FLastWarning = text;
  FLastWarningAction = warning.Action;
  FLastWarningDay = day;
  if (FTray) {
    FTray->show();
    FTray->showMessage(QStringLiteral("Corvale Alert"), text.section(QChar(TitleSplit), 0, 0),
                       QSystemTrayIcon::Warning, 60000);
  }
  return true;
}

QString TfrmCorvale::StatusWarningMessage() const {
  QString text = FLastWarning;
  text.replace(QChar(TitleSplit), QStringLiteral("\n\n"));
  if (FLastWarningAction != 0) text += QStringLiteral("\n\nWould you like to do this now?");
  return text;
}

void TfrmCorvale::PerformStatusAction() {
  // The warning that asks for this is about the mail servers.
  if (FLastWarningAction == 1) ShowConfiguration(TfrmCorvaleConfig::pgEmail);
  else if (FLastWarningAction == 4) SetTesting(true);
}
