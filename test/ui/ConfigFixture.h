#pragma once
// The main window over a started monitor, for the configuration dialog: the login
// entry goes to a private config folder, the network's computers are a fixed list and
// name lookups answer from a table, so no test reaches beyond this process.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <functional>

#include <map>
#include <memory>
#include <string>

#include "ui/TfrmCorvaleConfig.h"
#include "ui/WindowFixture.h"

class ConfigFixture : public WindowFixture {
protected:
  ConfigFixture() : FEnvConfig("XDG_CONFIG_HOME", Dir("config")) {
    QObject::connect(M.get(), &TMonitor::ShutdownFinished, [this] { FFinished = true; });
    Started = M->Startup();
    W->SetConfigurationHook([this](TConfigDialogContext& c) { Prepare(c); });
    // No box may wait for a click: every message is answered with its first button.
    for (TDialogAsk* ask : {&Ask, &W->Ask()})
      ask->MessageAnswer = [](TDialogAsk::TKind kind, const QString&, const QString&) {
        return kind == TDialogAsk::TKind::Question ? QMessageBox::Yes : QMessageBox::Ok;
      };
  }
  ~ConfigFixture() override {
    if (!Started) return;
    M->Shutdown();
    for (int i = 0; i < 500 && !FFinished; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  void Prepare(TConfigDialogContext& c) {
    c.Lister = [](std::vector<std::string>& names, const std::atomic<bool>&) { names = {"\\\\ZULU", "ALPHA"}; };
    c.Hosts.ResolveName = [this](const std::string& name) {
      auto it = Names.find(name);
      return it == Names.end() ? std::string() : it->second;
    };
    c.Hosts.ReverseName = [this](const std::string& address) {
      for (const auto& [name, a] : Names)
        if (a == address) return name;
      return std::string();
    };
    c.DriveType = [](const std::string&) { return 2; };
    c.OpenFolder = [this](const std::string& folder) { OpenedFolder = folder; };
  }

  // A dialog as the window makes it, with the test's answers.
  std::unique_ptr<TfrmCorvaleConfig> Open(int page = TfrmCorvaleConfig::pgHosts, int hostIndex = -1) {
    TConfigDialogContext c;
    c.Monitor = M.get();
    c.Alerts = A.get();
    c.Ask = &Ask;
    c.DefaultDoubleClick = "ssh %host%";
    Prepare(c);
    return std::make_unique<TfrmCorvaleConfig>(std::move(c), hostIndex, page);
  }

  // Runs an event loop (a modal dialog's, as the program would) until done() or about
  // ten seconds have passed; whether done() became true.
  static bool WaitFor(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    int rounds = 0;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done() || ++rounds > 1000) loop.quit();
    });
    poll.start(10);
    loop.exec();
    return done();
  }

  testsupport::TScopedEnv FEnvConfig;
  bool Started = false;
  bool FFinished = false;
  TDialogAsk Ask;
  std::map<std::string, std::string> Names{{"loopback.test", "127.0.0.1"}};
  std::string OpenedFolder;
};
