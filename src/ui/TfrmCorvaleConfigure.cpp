// The main window's side of the configuration dialog: testing paused while it is open,
// and after OK the monitor takes the working list and the settings and saves them.
#include <QTimer>

#include <memory>

#include "alerts/TAlerts.h"
#include "common/FileUtils.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "ui/TfrmCVLWait.h"
#include "ui/TfrmCorvale.h"
#include "ui/TfrmCorvaleConfig.h"

bool TfrmCorvale::ShowConfiguration(int page) {
  if (FConfigOpen) return false;
  FConfigOpen = true;
  TScheduler& scheduler = FMonitor.Scheduler();
  const bool timerAllowed = scheduler.TimerAllowed();
  // Results of tests already running still arrive and change the live records; only
  // new tests wait until the dialog is done.
  scheduler.AllowTimer(false);
  bool applied = false;
  try {
    TConfigDialogContext context;
    context.Monitor = &FMonitor;
    context.Alerts = dynamic_cast<TAlerts*>(&FMonitor.Alerts());
    context.Ask = &FAsk;
    context.DefaultDoubleClick = FDefaultDoubleClick;
    context.ListingFailureLogged = &FListingFailureLogged;
    if (FConfigHook) FConfigHook(context);
    TfrmCorvaleConfig dialog(std::move(context), SelectedHostIndex(), page, this);
    if (FAsk.Run(dialog) == QDialog::Accepted) {
      FDefaultDoubleClick = dialog.DefaultDoubleClick();
      const std::unique_ptr<TfrmCVLWait> wait = std::make_unique<TfrmCVLWait>(this);
      wait->ShowText(QStringLiteral("One moment... Waiting for Background Tasks to Finish..."));
      const bool saved = FMonitor.ApplyConfiguration(dialog.Working().ExtractAll());
      if (!saved)
        FAsk.Message(this, TDialogAsk::TKind::Error, windowTitle(),
                     QStringLiteral("The hosts file could not be saved; see the log for the reason."));
      StoreSettings();
      FMonitor.SaveSettings();
      if (!FMonitor.Alerts().SaveConfiguration(FMonitor.DataFolder()))
        FAsk.Message(this, TDialogAsk::TKind::Error, windowTitle(),
                     QStringLiteral("The e-mail configuration could not be saved; see the log for the reason."));
      FMonitor.ApplyWebServerPort();
      applied = true;
    }
  } catch (...) {
    FMonitor.ReportCurrentException("ShowConfiguration");
  }
  scheduler.AllowTimer(timerAllowed);
  FConfigOpen = false;
  return applied;
}

bool TfrmCorvale::ConfigureWhenNoHostsFile() {
  if (FileExists(FMonitor.HostsFileName())) return false;
  QTimer::singleShot(0, this, [this] { ShowConfiguration(TfrmCorvaleConfig::pgHosts); });
  return true;
}
