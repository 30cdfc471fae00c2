// corvale: the monitor with its desktop window, or headless with the argument "service".
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "alerts/TAlerts.h"
#include "common/Clock.h"
#include "common/QLRegistry.h"
#include "core/TMonitor.h"
#include "core/TPluginHost.h"
#include "core/TProgramEntry.h"
#include "core/TStartOptions.h"
#include "platform/TPlatformServiceControl.h"
#include "platform/TTermSignals.h"
#include "tools/TActionsFile.h"
#include "ui/THostActionsMenu.h"
#include "ui/TLocalAlerts.h"
#include "ui/TWindowEntryUi.h"
#include "ui/TfrmCVAlerts.h"
#include "ui/TfrmCorvale.h"
#include "web/TWebServer.h"
#include "web/WebRemoteShutdown.h"
#include "web/WebStandardRoutes.h"

namespace {
bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  return (platform && *platform) || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

int RunMonitor(QCoreApplication& app, const TStartOptions& options, TEntryUi& ui, bool withWindow) {
  TClock clock;
  // The SMB port follows the settings once the monitor has read them.
  TPlatformServiceControl services;
  bool restartService = false;
  if (!options.ServiceMode) restartService = StopOwnService(services, ui);
  if (ShowRunningInstance()) {
    if (restartService) RestartOwnService(services, ui);
    return 0;
  }

  // The user's actions outlive the alert channels that run them by name.
  TActionsFile actions;
  // The alert channels outlive the monitor: it may call them until it is gone.
  std::unique_ptr<TAlerts> alerts;
  auto monitorObject = std::make_unique<TMonitor>(options, clock, services);
  TMonitor& monitor = *monitorObject;
  // The desktop program alerts the person at the computer as well; without a display
  // there is no one to hear or see it.
  TLocalAlerts* localAlerts = nullptr;
  if (withWindow) {
    auto local = std::make_unique<TLocalAlerts>(monitor);
    localAlerts = local.get();
    alerts = std::move(local);
  } else {
    alerts = std::make_unique<TAlerts>(monitor);
  }
  monitor.SetAlertChannels(alerts.get());
  // A plug-in's mail joins the alert queue.
  monitor.Plugins().SetEmailSender([&queue = alerts->Queue()](std::int32_t hostID, const std::string& recipients,
                                                              const std::string& subject, const std::string& message) {
    return queue.QueuePluginEmail(hostID, recipients, subject, message);
  });
  monitor.SetRestartServiceAtExit(restartService);
  // Made on the main thread, so host actions are handed to it; the monitor stops it at
  // shutdown while the main thread still runs, and a waiting action is let go then.
  TWebSite site;
  site.Monitor = &monitor;
  // "Restart" and "Shutdown" are offered on the web pages only where they can work.
  SetUpWebRemoteShutdown(site);
  auto webServer = std::make_unique<TWebServer>(site, StandardWebRoutes());
  monitor.SetWebServer(webServer.get());
  QObject::connect(&monitor, &TMonitor::ShutdownFinished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
  TTermSignals termSignals;
  termSignals.Install();
  QObject::connect(&termSignals, &TTermSignals::EndSessionRequested, &monitor, [&monitor](int) { monitor.EndSession(); });

  if (!withWindow) monitor.SetEventEcho(stderr);

  std::unique_ptr<TfrmCorvale> form;
  if (withWindow) form = std::make_unique<TfrmCorvale>(monitor);
  if (form && localAlerts)
    QObject::connect(&localAlerts->AlertWindow(), &TfrmCVAlerts::RestoreRequested, form.get(),
                     &TfrmCorvale::ShowFromRequest);
  if (form && localAlerts)
    QObject::connect(&localAlerts->AlertWindow(), &TfrmCVAlerts::HostMenuRequested, form.get(),
                     &TfrmCorvale::PopupHostMenu);
  if (!monitor.Startup()) {
    // Another copy holds the data folder; it may have opened its window meanwhile.
    form.reset();
    int exitCode = 0;
    if (!ShowRunningInstance()) {
      std::fprintf(stderr, "corvale: %s\n", monitor.StartRefusal().c_str());
      exitCode = 1;
    }
    if (restartService) RestartOwnService(services, ui);
    return exitCode;
  }
  // "Start service when Corvale is closed" (configuration dialog) also starts a service
  // that was not running when this copy started.
  if (!options.ServiceMode && monitor.Settings().Value("StartServiceAtClose") == "1" &&
      RegKeyExists(monitor.Registry(), HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Corvale"))
    monitor.SetRestartServiceAtExit(true);
  // After the settings, from the program's folder, as start-up left it current.
  if (!actions.LoadFromFile(monitor.ProgramFolder() + "Actions.cvl")) {
    monitor.LogEvent(nullptr, actions.Error(), TLogCategory::Error);
    if (form)
      QTimer::singleShot(0, form.get(), [&form, &actions] {
        form->Ask().Message(form.get(), TDialogAsk::TKind::Error, QStringLiteral("Corvale"),
                            QString::fromLatin1(actions.Error().c_str()));
      });
  }
  alerts->Commands().SetActionLookup([&actions](const std::string& name) { return actions.Lookup(name); });
  if (form) form->HostActions().AddUserActions(actions);
  // The window's layout comes from the settings file the start-up has just read.
  if (form) form->ApplySettings();
  if (form && !options.StartMinimized) form->show();
  // A first start has no hosts to show: the user is taken to where they are added.
  if (form) form->ConfigureWhenNoHostsFile();
  app.exec();

  if (monitor.RunState() != rsClosed) ui.ShowPrematureClose(PrematureCloseText(monitor));
  const bool restartAtExit = monitor.RestartServiceAtExit();
  const int exitCode = monitor.ExitCode();
  form.reset();
  webServer->Stop();
  monitor.SetWebServer(nullptr);
  monitorObject.reset();
  webServer.reset();
  if (restartAtExit) RestartOwnService(services, ui);
  return exitCode;
}
}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Corvale %s\n", CORVALE_VERSION_TEXT);
      return 0;
    }
    args.emplace_back(argv[i]);
  }
  const TStartOptions options = ParseCommandLine(args);
  if (options.ServiceMode) {
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Corvale"));
    THeadlessEntryUi ui;
    return RunMonitor(app, options, ui, false);
  }
  if (!HasDisplay()) {
    std::fprintf(stderr, "corvale: no display to show the window on; run \"corvale service\" to monitor without one\n");
    return 1;
  }
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("Corvale"));
  // The window hides to the tray when closed; only the orderly shutdown ends the loop.
  app.setQuitOnLastWindowClosed(false);
  TWindowEntryUi ui;
  return RunMonitor(app, options, ui, true);
}
