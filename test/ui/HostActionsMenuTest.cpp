// The host menu's actions on the computer behind a host: the user's actions from the
// actions file, what the menu offers for which host, restart and shutdown through a real
// Samba server (or a stand-in for systemctl on this computer), service control and the
// remote-desktop client.
#include <QLabel>
#include <QMenu>
#include <QSpinBox>
#include <QLineEdit>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/ErrorText.h"
#include "platform/TNetConnections.h"
#include "support/TSambaServer.h"
#include "tools/TActionsFile.h"
#include "ui/ConfigFixture.h"
#include "ui/THostActionsMenu.h"
#include "ui/TfrmRemoteShutdown.h"

using testsupport::ReadFileBytes;
using testsupport::TScopedEnv;
using testsupport::WriteFileBytes;

namespace {

class HostActions : public ConfigFixture {
protected:
  HostActions() {
    M->SetTestingOn(false);
    W->Ask().DialogAnswer = [this](QDialog& d) {
      auto* shutdown = dynamic_cast<TfrmRemoteShutdown*>(&d);
      if (!shutdown) return static_cast<int>(QDialog::Rejected);
      Dialogs.push_back(shutdown->lbQuestion->text() + (shutdown->edMessage->isEnabled() ? "" : " [local]"));
      return Answer;
    };
  }
  THostActionsMenu& H() { return W->HostActions(); }
  void Open(THost& host) {
    W->SelectHostIndex(M->Hosts().IndexOf(&host));
    W->PreparePopup();
  }
  QString LastMessage() const { return W->Ask().Asked().empty() ? QString() : W->Ask().Asked().back().Text; }
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = FRoot.Path() + "/" + name;
    WriteFileBytes(path, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  static std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 200 && !std::filesystem::exists(path); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return ReadFileBytes(path);
  }
  // Captions of a menu's items ("-" for separators, "[x]" for hidden ones).
  static QStringList Captions(const QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions())
      out << (a->isSeparator() ? QStringLiteral("-") : a->isVisible() ? a->text() : "[" + a->text() + "]");
    return out;
  }
  std::vector<QString> Dialogs;
  int Answer = QDialog::Accepted;
};

}  // namespace

TEST_F(HostActions, ActionsFileItemsRunForTheHostAndForABareAddress) {
  const std::string out = FRoot.Path() + "/ran.txt";
  TActionsFile file;
  ASSERT_TRUE(file.LoadFromText("Tools=\r\n\\Ping=/bin/sh -c \"echo host %1 >> " + out +
                                "\"\r\n\\-\r\n\\Web page=xdg-open http://%1/\r\nA & B=/bin/true\r\n"
                                "Power Control\r\n\\Wake all=/bin/true\r\n"));
  H().AddUserActions(file);
  A->Commands().SetActionLookup([&file](const std::string& name) { return file.Lookup(name); });
  const QStringList top = Captions(W->pmActions);
  const int tools = static_cast<int>(top.indexOf("Tools"));
  ASSERT_GE(tools, 0) << top.join("|").toStdString();
  EXPECT_EQ(top.mid(tools, 3), (QStringList{"Tools", "A && B", "Windows Remote Desktop"}));
  QMenu* toolsMenu = W->pmActions->actions()[tools]->menu();
  ASSERT_NE(toolsMenu, nullptr);
  EXPECT_EQ(Captions(toolsMenu), (QStringList{"Ping", "-", "Web page"}));
  EXPECT_EQ(Captions(H().mnuPower), (QStringList{"Restart Computer", "Shutdown Computer", "Wake all"}));

  THost& host = Add("Router", "127.0.0.9", StatusOnline);
  Open(host);
  toolsMenu->actions()[0]->trigger();
  EXPECT_EQ(WaitForFile(out), "host 127.0.0.9\n");
  // A command line that names an action runs that action.
  std::filesystem::remove(out);
  ASSERT_TRUE(A->RunCommandLine("Tools: Ping", host));
  EXPECT_EQ(WaitForFile(out), "host 127.0.0.9\n");
  // From an address link there is no host: "%1" is the address clicked.
  std::filesystem::remove(out);
  H().SetActionAddress("127.0.0.77");
  H().Prepare(nullptr, THostActionsMenu::TOrigin::AddressLink);
  EXPECT_FALSE(H().mnuPowerItem->isVisible());
  EXPECT_TRUE(H().mnuRDPItem->isVisible());
  H().GenericAction1Click(toolsMenu->actions()[0]->data().toInt());
  EXPECT_EQ(WaitForFile(out), "host 127.0.0.77\n");
}

TEST_F(HostActions, WhatTheMenuOffersFollowsTheHost) {
  THost& service = Add("Spooler", "127.0.0.5", StatusOnline);
  service.TestKind = TestService;
  service.Service = "Spooler|Print Spooler";
  service.CurrentIP = "127.0.0.5";
  service.LocalSubnet = true;
  const TDateTime now = M->Clock().Now();
  const struct {
    const char* Name;
    int Status;
    bool LocalSubnet;
    int ShareCapability, RDPCapability;
    TDateTime DisabledUntil;
    bool Power, ServiceMenu, Start, Stop, RDP;
    int Checked;  // the "Disable Host..." item checked, -1 none
  } cases[] = {
      {"online service host", StatusOnline, true, 1, 1, 0, true, true, false, true, true, -1},
      {"offline: start only; disabled 2 hours ahead", StatusOffline, true, 1, 1, now + 2.0 / 24, true, true, true,
       false, true, 3},
      {"not on a local subnet; disabled 8 days ahead", StatusOnline, false, 1, 1, now + 8, false, true, false, true,
       true, 0},
      {"ports 139 and 3389 closed", StatusOnline, true, 2, 2, 0, true, false, false, true, false, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    service.Status = c.Status;
    service.LocalSubnet = c.LocalSubnet;
    service.ShareCapability = static_cast<uint8_t>(c.ShareCapability);
    service.RDPCapability = static_cast<uint8_t>(c.RDPCapability);
    service.DisabledUntil = c.DisabledUntil;
    Open(service);
    EXPECT_EQ(H().mnuPowerItem->isVisible(), c.Power);
    EXPECT_EQ(H().mnuServiceItem->isVisible(), c.ServiceMenu);
    EXPECT_EQ(H().StartService1->isEnabled(), c.Start);
    EXPECT_EQ(H().StopService1->isEnabled(), c.Stop);
    EXPECT_EQ(H().RestartService1->isEnabled(), c.Stop);
    EXPECT_EQ(H().mnuRDPItem->isVisible(), c.RDP);
    for (int i = 0; i < W->mnuDisableItems.size(); ++i) EXPECT_EQ(W->mnuDisableItems[i]->isChecked(), i == c.Checked) << i;
  }
  // A ping host has no service to control.
  THost& ping = Add("Ping", "127.0.0.6", StatusOnline);
  Open(ping);
  EXPECT_FALSE(H().mnuServiceItem->isVisible());

  // A service that cannot be stopped is reported with the verb "stopped", and not started.
  Open(service);
  H().ServiceControl(THostActionsMenu::soRestart);
  EXPECT_EQ(LastMessage().toStdString(),
            "Service Print Spooler on 127.0.0.5 could not be stopped: " + ErrorText(1060));
}

// Pause takes the dependants first; "Start/Resume Service" on a paused service, which the
// manager calls already running, resumes it.
TEST_F(HostActions, ServiceControlPausesDependantsFirstAndResumesAPausedService) {
  FServices.AddService("Spooler", "Print Spooler", 4);
  FServices.AddService("Fax", "Fax", 4, {"Spooler"});
  THost& host = Add("Spooler", "127.0.0.5", StatusOnline);
  host.TestKind = TestService;
  host.Service = "Spooler|Print Spooler";
  Open(host);
  H().ServiceControl(THostActionsMenu::soPause);
  EXPECT_EQ(LastMessage().toStdString(), "Service Print Spooler on 127.0.0.5 was successfully paused.");
  EXPECT_EQ(FServices.State("Fax"), 7);
  EXPECT_EQ(FServices.State("Spooler"), 7);
  H().ServiceControl(THostActionsMenu::soStart);
  EXPECT_EQ(LastMessage().toStdString(), "Service Print Spooler on 127.0.0.5 was successfully started.");
  EXPECT_EQ(FServices.State("Spooler"), 4);
  EXPECT_EQ(FServices.Requests(), (std::vector<std::string>{"Pause Fax", "Pause Spooler", "Continue Spooler"}));
}

TEST_F(HostActions, RestartShutdownAndAbortReachASambaServer) {
  std::string why;
  if (!testsupport::TSambaServer::Available(why)) GTEST_SKIP() << why;
  const std::string got = FRoot.Path() + "/got.txt";
  testsupport::TSambaServer server;
  server.AddGlobal("shutdown script = " + Script("down.sh", "echo \"$@\" >> " + got) + " \"%z\" %r %f");
  server.AddGlobal("abort shutdown script = " + Script("abort.sh", "echo aborted >> " + got));
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.AddUser("root", "secret")) << server.Error();
  M->Settings().SMBPort = server.Port();
  H().ShutdownTools().NetOptions = {"-s", server.ConfFile()};
  THost& host = Add("Server", "127.0.0.1", StatusOnline);
  host.WinUserName = "root";
  host.WinPassword = "secret";
  host.CurrentIP = "127.0.0.1";
  host.LocalSubnet = true;
  Open(host);
  ASSERT_TRUE(H().RestartComputer1->isEnabled());

  H().RestartComputer1->trigger();
  ASSERT_EQ(Dialogs.size(), 1u);
  EXPECT_EQ(Dialogs[0].toStdString(), "Are you sure you wish to Restart computer 127.0.0.1?");
  EXPECT_EQ(LastMessage().toStdString(), "Remote computer 127.0.0.1 is being restarted.");
  const std::string request = ReadFileBytes(got);
  EXPECT_EQ(request.rfind("Restart_by_Corvale_user_", 0), 0u) << request;
  EXPECT_NE(request.find(" -r -f"), std::string::npos) << request;

  std::filesystem::remove(got);
  Answer = TfrmRemoteShutdown::AbortResult;
  H().ShutdownComputer1->trigger();
  EXPECT_EQ(ReadFileBytes(got), "aborted\n");
  EXPECT_EQ(LastMessage().toStdString(), "The shutdown of remote computer 127.0.0.1 was aborted.");

  Answer = QDialog::Rejected;
  std::filesystem::remove(got);
  H().ShutdownComputer1->trigger();
  EXPECT_FALSE(std::filesystem::exists(got));

  Answer = QDialog::Accepted;
  host.WinPassword = "wrong";
  H().ShutdownComputer1->trigger();
  EXPECT_EQ(LastMessage().toStdString(),
            "Remote computer 127.0.0.1 cannot be shutdown.:\r\nError: " + ErrorText(1326));
  EXPECT_FALSE(std::filesystem::exists(got));
  EXPECT_FALSE(TNetConnections::Instance().CredentialsFor("127.0.0.1").has_value());
}

TEST_F(HostActions, ThisComputerAsksSystemctlAfterTheQuestion) {
  const std::string got = FRoot.Path() + "/systemctl.txt";
  TScopedEnv stand("CORVALE_SYSTEMCTL", Script("systemctl", "echo \"$1\" >> " + got));
  THost& host = Add("Me", "localhost", StatusOnline);
  host.CurrentIP = "127.0.0.1";
  host.LocalSubnet = true;
  Open(host);
  H().ShutdownComputer1->trigger();
  ASSERT_EQ(Dialogs.size(), 1u);
  EXPECT_EQ(Dialogs[0].toStdString(), "Are you sure you wish to Shutdown computer localhost? [local]");
  EXPECT_EQ(ReadFileBytes(got), "poweroff\n");
  EXPECT_EQ(LastMessage().toStdString(), "Remote computer localhost is being shutdown.");
}

TEST_F(HostActions, RemoteDesktopUsesTheHostsFileOrWritesOneAndNamesTheMissingClient) {
  const std::string bin = FRoot.Path() + "/bin";
  std::filesystem::create_directory(bin);
  const std::string got = FRoot.Path() + "/rdp.txt";
  THost& host = Add("Desk", "127.0.0.8", StatusOnline);
  host.WinUserName = "OFFICE\\ann";
  Open(host);
  {
    TScopedEnv path("PATH", bin);
    H().OpenRDP1Click(false);
    EXPECT_NE(LastMessage().indexOf("freerdp2-x11"), -1) << LastMessage().toStdString();
  }
  WriteFileBytes(bin + "/xfreerdp", "#!/bin/sh\necho \"$@\" >> " + got + "\n");
  std::filesystem::permissions(bin + "/xfreerdp", std::filesystem::perms::owner_all);
  TScopedEnv path("PATH", bin + ":/usr/bin:/bin");
  const std::string own = M->DataFolder() + "127.0.0.8.rdp";
  WriteFileBytes(own, "full address:s:kept\r\n");
  H().OpenRDP2->trigger();
  EXPECT_EQ(WaitForFile(got), own + " /admin\n");
  EXPECT_EQ(ReadFileBytes(own), "full address:s:kept\r\n");
  std::filesystem::remove(own);
  std::filesystem::remove(got);
  H().OpenRDP1->trigger();
  const std::string temp = M->DataFolder() + "temp.rdp";
  EXPECT_EQ(WaitForFile(got), temp + "\n");
  // The written file names the host's address and user (UTF-16 after its mark).
  const std::string written = ReadFileBytes(temp);
  ASSERT_GE(written.size(), 2u);
  std::string narrow;
  for (std::size_t i = 2; i < written.size(); i += 2) narrow += written[i];
  EXPECT_NE(narrow.find("127.0.0.8"), std::string::npos) << narrow;
  EXPECT_NE(narrow.find("ann"), std::string::npos) << narrow;
}
