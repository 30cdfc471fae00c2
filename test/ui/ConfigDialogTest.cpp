// The configuration dialog over a started monitor: every global control shown from and
// stored into the settings and the e-mail configuration, the enabling rules, OK and
// Cancel through the main window, the hosts file after OK, and a new user's first run.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTcpServer>
#include <QTimer>
#include <QTreeWidget>
#include <QToolButton>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/FileUtils.h"
#include "common/NetText.h"
#include "common/SystemInfo.h"
#include "core/TFaultLog.h"
#include "core/THostList.h"
#include "core/THostsFile.h"
#include "platform/LoginStartup.h"
#include "support/THttpTestServer.h"
#include "support/TTestCertificates.h"
#include "ui/ConfigFixture.h"
#include "ui/XvfbRun.h"
#include "ui/TfrmHTTPSettings.h"
#include "ui/TVarsMenu.h"
#include "ui/TfrmMakeRem.h"

namespace {

using ConfigGlobals = ConfigFixture;

// At the dialog's own size the markers of several hosts and the buttons beside them are
// whole.
TEST_F(ConfigGlobals, MarkersAndButtonsFitAtTheDefaultSize) {
  Add("Gateway", "127.0.0.1", StatusOnline);
  Add("DNS server", "127.0.0.2", StatusOnline);
  auto d = Open(TfrmCorvaleConfig::pgHosts, 0);
  d->show();
  d->Hosts->lbHosts->clearSelection();
  for (int line : {0, 1}) d->Hosts->lbHosts->item(line)->setSelected(true);
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  QComboBox* address = d->Hosts->tbHostname;
  ASSERT_EQ(address->currentText(), "(Multiple Values)");
  EXPECT_GE(address->lineEdit()->width(), address->fontMetrics().horizontalAdvance(address->currentText()));
  EXPECT_GE(d->Hosts->btnResolve->width(), d->Hosts->btnResolve->sizeHint().width());
  EXPECT_FALSE(d->Hosts->btnResolve->toolTip().isEmpty());
}

TEST_F(ConfigGlobals, EveryControlShowsItsSettingAndOkStoresTheChange) {
  {
    TSettings& s = M->Settings();
    s.MaxPingThreads = 31, s.NumPings = 3, s.PingTimeout = 1200, s.MaxTCPThreads = 7, s.MaxServiceThreads = 8;
    s.MaxShareThreads = 9, s.TCPConnectTimeout = 4000, s.HTTPTimeout = 45, s.CertExpiryDays = 0;
    s.HostDownSound = "/sounds/down.wav", s.HostUpSound = "", s.SysLogServer = "log.example:514";
    s.OfflineAlertsAtStartup = true, s.Use24HourDate = 1, s.FailFreqAdj = false, s.TestHostServices = false;
    s.WebServerPort = 8080, s.WebServerPassword = "view\xE9", s.WebAdminPassword = "manage", s.WebRestarts = true;
    s.SmtpTls = TSettings::TSmtpTls::Required, s.RelayServer = "relay.example:8443";
    TEmailConfig& e = A->EmailConfig();
    e.PrimaryServer = "smtp1.example:587", e.PrimarySender = "Mon <mon@example.com>", e.PrimaryUser = "u1";
    e.PrimaryPassword = "p1", e.SecondaryServer = "smtp2.example", e.SecondarySender = "b@example.com";
    e.SecondaryUser = "u2", e.SecondaryPassword = "p2", e.RelayEnabled = true, e.RelaySender = "r@example.com";
    e.OfflineSubject = "Down %host%", e.OfflineBody = "line 1\r\nline 2\r\n\r\n";
    e.OnlineSubject = "Up", e.OnlineBody = "";
    e.PageChangeSubject = "", e.PageChangeBody = "changed\r\n";
  }
  auto d = Open(TfrmCorvaleConfig::pgEmail);
  EXPECT_EQ(d->windowTitle(), "Corvale Configuration");
  EXPECT_EQ(d->pcConfig->currentWidget(), d->tsEmail);
  const std::vector<std::pair<QString, QString>> shown = {
      {d->tbSMTP1->text(), "smtp1.example:587"}, {d->tbFrom1->text(), "Mon <mon@example.com>"},
      {d->tbUser1->text(), "u1"}, {d->tbPass1->text(), "p1"}, {d->tbSMTP2->text(), "smtp2.example"},
      {d->tbFrom2->text(), "b@example.com"}, {d->tbUser2->text(), "u2"}, {d->tbPass2->text(), "p2"},
      {d->tbQLMFrom->text(), "r@example.com"}, {d->tbRelayServer->text(), "relay.example:8443"},
      {d->cbSmtpTls->currentText(), "Required"}, {d->tbSubject->text(), "Down %host%"},
      {d->mmoMessage->toPlainText(), "line 1\nline 2\n"}, {d->tbSubject2->text(), "Up"},
      {d->mmoMessage2->toPlainText(), ""}, {d->tbHTTPChangeSubj->text(), ""},
      {d->mmoHTTPChangeBody->toPlainText(), "changed"},
      // Both empty: the defaults.
      {d->tbIPChangeSubj->text(), "IP Change: %displayname%"},
      {d->mmoIPChangeBody->toPlainText(), "Host: %url%\nDate: %lastsuccess%\nNew IP: %ip%\nOld IP: %oldip%"},
      {d->cbOfflineSound->currentText(), "/sounds/down.wav"}, {d->cbOnlineSound->currentText(), ""},
      {d->tbSYSLOG->text(), "log.example:514"}, {d->cbWebPort->currentText(), "8080"},
      {d->tbWebPW->text(), QString::fromLatin1("view\xE9")}, {d->tbWebManagePW->text(), "manage"},
      {d->cbDblClick->currentText(), "ssh %host%"}};
  for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i].first, shown[i].second) << "item " << i;
  EXPECT_TRUE(d->ckbEmailQLM->isChecked());
  EXPECT_TRUE(d->ckbWebServer->isChecked() && d->ckbWebRestarts->isChecked());
  EXPECT_TRUE(d->ckbAlertDownAtStartup->isChecked() && d->ckb24Hour->isChecked());
  EXPECT_FALSE(d->ckbFreqFailAdj->isChecked() || d->ckbTestSvc->isChecked());
  EXPECT_EQ(d->tbPass1->echoMode(), QLineEdit::Password);
  EXPECT_EQ(d->tbWebManagePW->echoMode(), QLineEdit::Password);
  const std::vector<std::pair<QSpinBox*, int>> spins = {
      {d->seMaxPing, 31}, {d->sePingsPerTest, 3}, {d->sePingTimeout, 1200}, {d->seMaxTCP, 7}, {d->seMaxService, 8},
      {d->seMaxShare, 9}, {d->seTCPConnectTimeout, 4000}, {d->seHTTPTimeout, 45}, {d->seCertExpiryDays, 0}};
  for (auto [spin, value] : spins) EXPECT_EQ(spin->value(), value) << spin->objectName().toStdString();

  // Unchanged, OK stores the very bytes it showed (an empty body stays empty).
  for (auto [spin, value] : spins) spin->setValue(value + 1);
  d->tbSMTP1->setText("mail.example");
  d->tbPass2->setText("secret two");
  d->cbSmtpTls->setCurrentText("Off");
  d->ckbEmailQLM->setChecked(false);
  d->mmoMessage2->setPlainText("now up\nsince %lastsuccess%");
  d->cbOnlineSound->setCurrentText("Okay.wav");
  d->tbSYSLOG->clear();
  d->ckbWebServer->setChecked(false);
  d->ckb24Hour->setChecked(false);
  d->ckbTestSvc->setChecked(true);
  d->cbDblClick->setCurrentText("xterm -e ping %host%");
  ASSERT_TRUE(d->StoreAndClose());
  EXPECT_EQ(d->result(), QDialog::Accepted);
  const TSettings& s = M->Settings();
  EXPECT_EQ(std::vector<int>({s.MaxPingThreads, s.NumPings, s.PingTimeout, s.MaxTCPThreads, s.MaxServiceThreads,
                              s.MaxShareThreads, s.TCPConnectTimeout, s.HTTPTimeout, s.CertExpiryDays}),
            std::vector<int>({32, 4, 1201, 8, 9, 10, 4001, 46, 1}));
  EXPECT_EQ(s.HostDownSound, "/sounds/down.wav");
  EXPECT_EQ(s.HostUpSound, "Okay.wav");
  EXPECT_EQ(s.SysLogServer, "");
  EXPECT_EQ(s.WebServerPort, 0) << "the box cleared means no web server";
  EXPECT_EQ(s.WebServerPassword, "view\xE9");
  EXPECT_TRUE(s.WebRestarts && s.OfflineAlertsAtStartup && s.TestHostServices);
  EXPECT_EQ(s.Use24HourDate, 0);
  EXPECT_FALSE(s.FailFreqAdj);
  EXPECT_EQ(s.SmtpTls, TSettings::TSmtpTls::Off);
  EXPECT_EQ(s.RelayServer, "relay.example:8443");
  const TEmailConfig& e = A->EmailConfig();
  EXPECT_EQ(e.PrimaryServer, "mail.example");
  EXPECT_EQ(e.PrimarySender, "Mon <mon@example.com>");
  EXPECT_EQ(e.SecondaryPassword, "secret two");
  EXPECT_FALSE(e.RelayEnabled);
  EXPECT_EQ(e.RelaySender, "r@example.com");
  EXPECT_EQ(e.OfflineBody, "line 1\r\nline 2\r\n\r\n");
  EXPECT_EQ(e.OnlineBody, "now up\r\nsince %lastsuccess%\r\n");
  EXPECT_EQ(e.PageChangeSubject, "");
  EXPECT_EQ(e.PageChangeBody, "changed\r\n");
  EXPECT_EQ(e.IPChangeSubject, "IP Change: %displayname%");
  EXPECT_EQ(e.IPChangeBody, TfrmCorvaleConfig::DefaultIPChangeBody);
  EXPECT_EQ(d->DefaultDoubleClick(), "xterm -e ping %host%");
}

// The first credentials of a configuration that never chose a TLS mode make TLS
// required; a mode on file, credentials already there or a mode picked stay as they are.
TEST_F(ConfigGlobals, FirstCredentialsMakeTlsRequired) {
  struct TCase {
    const char* What;
    std::string FileLine;  // the settings file's SmtpTls line, if any
    std::string UserBefore, UserTyped;
    const char* Picked;  // the box's choice, null: left alone
    TSettings::TSmtpTls Stored;
  };
  using TMode = TSettings::TSmtpTls;
  const TCase cases[] = {
      {"first credentials", "", "", "alerts", nullptr, TMode::Required},
      {"no credentials", "", "", "", nullptr, TMode::Auto},
      {"credentials there before", "", "old", "alerts", nullptr, TMode::Auto},
      {"auto on file", "SmtpTls=auto\r\n", "", "alerts", nullptr, TMode::Auto},
      {"off picked", "", "", "alerts", "Off", TMode::Off},
  };
  for (const TCase& c : cases) {
    M->Settings().LoadFromText("NumPings=2\r\n" + c.FileLine);
    M->Settings().SmtpTls = TMode::Auto;
    A->EmailConfig().PrimaryUser = c.UserBefore;
    A->EmailConfig().SecondaryUser.clear();
    auto d = Open(TfrmCorvaleConfig::pgEmail);
    d->tbUser1->setText(QString::fromStdString(c.UserTyped));
    if (c.Picked) d->cbSmtpTls->setCurrentText(c.Picked);
    ASSERT_TRUE(d->StoreAndClose()) << c.What;
    EXPECT_EQ(M->Settings().SmtpTls, c.Stored) << c.What;
  }
}

TEST_F(ConfigGlobals, EnablingRulesAndSenderTints) {
  auto d = Open();
  const QColor window = QPalette().color(QPalette::Base);
  const QColor invalid((window.red() + 255) / 2, window.green() / 2, window.blue() / 2);
  auto tinted = [&](QLineEdit* e) {
    const QColor c = e->palette().color(QPalette::Base);
    EXPECT_TRUE(c == window || std::abs(c.red() - invalid.red()) <= 1) << e->objectName().toStdString();
    return c != window;
  };
  struct TRow {
    const char *Smtp1, *From1, *Smtp2, *From2;
    bool Relay;
    const char* RelayFrom;
    bool SecondEnabled, From1Tinted, From2Tinted, RelayFromEnabled, RelayFromTinted;
  };
  const TRow rows[] = {
      {"", "", "", "", false, "", false, false, false, false, true},
      {"smtp", "", "", "", false, "a@b.com", false, true, false, false, false},
      {"smtp", "a@b.com", "", "bad", false, "", true, false, false, false, true},
      {"smtp", "a@b.com", "s2", "bad", true, "x", true, false, true, true, true},
      {"smtp", "Name <a@b.com>", "s2", "c@d.com", true, "r@b.com", true, false, false, true, false},
      {"", "a@b.com", "s2", "c@d.com", false, "", false, false, false, false, true},
      {"  ", "a@b.com", "", "", false, "", false, false, false, false, true},
  };
  int n = 0;
  for (const TRow& r : rows) {
    SCOPED_TRACE(n++);
    d->tbSMTP1->setText(r.Smtp1);
    d->tbFrom1->setText(r.From1);
    d->tbSMTP2->setText(r.Smtp2);
    d->tbFrom2->setText(r.From2);
    d->ckbEmailQLM->setChecked(r.Relay);
    d->tbQLMFrom->setText(r.RelayFrom);
    for (QWidget* w : std::initializer_list<QWidget*>{d->tbSMTP2, d->tbUser2, d->tbPass2, d->tbFrom2, d->lblSMTP2,
                                                      d->lblFrom2})
      EXPECT_EQ(w->isEnabled(), r.SecondEnabled) << w->objectName().toStdString();
    EXPECT_EQ(tinted(d->tbFrom1), r.From1Tinted);
    EXPECT_EQ(tinted(d->tbFrom2), r.From2Tinted);
    EXPECT_EQ(d->tbQLMFrom->isEnabled(), r.RelayFromEnabled);
    EXPECT_EQ(tinted(d->tbQLMFrom), r.RelayFromTinted);
  }
  // The web controls follow their box; "Load minimized" only while the login start is
  // ticked (not grey); the service boxes say why they are off.
  for (bool on : {true, false, true}) {
    d->ckbWebServer->setChecked(on);
    for (QWidget* w : std::initializer_list<QWidget*>{d->cbWebPort, d->tbWebPW, d->tbWebManagePW, d->ckbWebRestarts})
      EXPECT_EQ(w->isEnabled(), on);
  }
  for (auto [state, enabled] : {std::pair{Qt::Checked, true}, {Qt::PartiallyChecked, false}, {Qt::Unchecked, false}}) {
    d->ckbLoadStartup->setCheckState(state);
    EXPECT_EQ(d->ckbStartupMinimize->isEnabled(), enabled);
  }
  EXPECT_FALSE(d->ckbInstService->isEnabled() || d->ckbStartServ->isEnabled());
  EXPECT_EQ(d->ckbInstService->toolTip(), "The service program is not installed.");
  // The hint line tells what is under the mouse.
  QEvent enter(QEvent::Enter);
  QCoreApplication::sendEvent(d->ckbStartServ, &enter);
  EXPECT_EQ(d->lbHint->text(), "The service program is not installed.");
  QCoreApplication::sendEvent(d->sePingTimeout, &enter);
  EXPECT_EQ(d->lbHint->text(), "Ping timeout (ms)");
  // The alert texts and the double-click command take variables from the right-click menu.
  for (QWidget* w : std::initializer_list<QWidget*>{d->tbSubject, d->mmoMessage, d->tbSubject2, d->mmoMessage2,
                                                    d->tbHTTPChangeSubj, d->mmoHTTPChangeBody, d->tbIPChangeSubj,
                                                    d->mmoIPChangeBody, d->cbDblClick->lineEdit()})
    EXPECT_EQ(w->contextMenuPolicy(), Qt::CustomContextMenu) << w->objectName().toStdString();
  d->tbSubject2->clear();
  d->pmVars->InsertVariable(d->tbSubject2, "%uptime%");
  EXPECT_EQ(d->tbSubject2->text(), "%uptime%");
}

TEST_F(ConfigGlobals, AWebPortThatIsNoPortRefusesOkAndTheLoginEntryFollowsTheBox) {
  auto d = Open();
  d->ckbWebServer->setChecked(true);
  for (const char* bad : {"", "http", "0", "65536", "-80"}) {
    d->cbWebPort->setCurrentText(bad);
    EXPECT_FALSE(d->StoreAndClose()) << bad;
    EXPECT_EQ(Ask.Asked().back().Text, "The web server port must be a number from 1 to 65535.");
    EXPECT_EQ(d->pcConfig->currentWidget(), d->tsPreferences);
  }
  EXPECT_EQ(M->Settings().WebServerPort, 0) << "nothing was stored";
  d->cbWebPort->setCurrentText(" 7464 ");
  d->ckbLoadStartup->setCheckState(Qt::Checked);
  d->ckbStartupMinimize->setChecked(true);
  ASSERT_TRUE(d->StoreAndClose());
  EXPECT_EQ(M->Settings().WebServerPort, 7464);
  EXPECT_EQ(ReadLoginStartup(), "\"" + M->ProgramPath() + "\" /minimize");
  EXPECT_TRUE(M->LoadAtLogin() && M->LoadMinimized());

  // Grey leaves another program's entry alone; cleared removes it.
  std::string error;
  ASSERT_TRUE(WriteLoginStartup("\"/opt/other/prog\"", error)) << error;
  auto grey = Open();
  grey->ckbLoadStartup->setCheckState(Qt::PartiallyChecked);
  ASSERT_TRUE(grey->StoreAndClose());
  EXPECT_EQ(ReadLoginStartup(), "\"/opt/other/prog\"");
  auto cleared = Open();
  cleared->ckbLoadStartup->setCheckState(Qt::Unchecked);
  ASSERT_TRUE(cleared->StoreAndClose());
  EXPECT_EQ(ReadLoginStartup(), "");
  EXPECT_FALSE(M->LoadAtLogin());
}

}  // namespace

namespace {

class ConfigWindow : public ConfigFixture {
protected:
  static std::string Bytes(const std::string& file) {
    std::string text;
    ReadWholeFile(file, text);
    return text;
  }
  // The host list as the hosts file would hold it now.
  std::string ListBytes() {
    const std::string file = FRoot.Path() + "/snapshot.cvlh";
    SaveHosts(file, M->Hosts());
    return Bytes(file);
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The dialog the window opens, handed to the test's function; its result is the
  // dialog's own after the function clicked OK or Cancel.
  void OnDialog(std::function<void(TfrmCorvaleConfig&)> walk) {
    W->Ask().DialogAnswer = [this, walk](QDialog& dialog) {
      auto* d = dynamic_cast<TfrmCorvaleConfig*>(&dialog);
      if (!d) return Sub ? Sub(dialog) : int(QDialog::Rejected);
      ++Opened;
      OpenedOn = d->pcConfig->currentIndex();
      TimerWhileOpen = M->Scheduler().TimerAllowed();
      walk(*d);
      return d->result();
    };
  }
  std::function<int(QDialog&)> Sub;  // the dialogs the configuration dialog opens
  int Opened = 0, OpenedOn = -1;
  bool TimerWhileOpen = true;
};

TEST_F(ConfigWindow, CancelLeavesMemoryAndDiskAsTheyWere) {
  Add("Router", "127.0.0.1", StatusOnline);
  Add("Switch", "127.0.0.2", StatusOffline).OfflineRecipients = "ops@example.com";
  A->EmailConfig().PrimaryServer = "smtp.example.com";
  ASSERT_TRUE(M->SaveConfiguration(M->HostsFileName()));
  ASSERT_TRUE(M->SaveSettings());
  ASSERT_TRUE(A->SaveConfiguration(M->DataFolder()));
  const std::string emailFile = M->DataFolder() + EmailConfigFileName;
  const std::string hosts = Bytes(M->HostsFileName()), settings = Bytes(M->SettingsFileName()),
                    email = Bytes(emailFile), list = ListBytes();
  const THost* first = M->Hosts().Items(0);
  W->SetDefaultDoubleClickCommand("ssh %host%");
  OnDialog([](TfrmCorvaleConfig& d) {
    d.Hosts->tbDispName->setText("Renamed");
    EXPECT_TRUE(d.Hosts->CommitEdits());
    d.Hosts->RemoveSelected();
    d.seMaxPing->setValue(3);
    d.tbSMTP1->setText("other.example.com");
    d.ckbLoadStartup->setCheckState(Qt::Checked);
    d.ckbWebServer->setChecked(true);
    d.cbDblClick->setCurrentText("telnet %host%");
    d.btnCancel->click();
  });
  EXPECT_FALSE(W->ShowConfiguration(TfrmCorvaleConfig::pgHosts));
  EXPECT_EQ(Opened, 1);
  EXPECT_EQ(Bytes(M->HostsFileName()), hosts);
  EXPECT_EQ(Bytes(M->SettingsFileName()), settings);
  EXPECT_EQ(Bytes(emailFile), email);
  EXPECT_EQ(ListBytes(), list);
  EXPECT_EQ(M->Hosts().Items(0), first) << "the live records are the same objects";
  EXPECT_EQ(M->Settings().MaxPingThreads, 25);
  EXPECT_EQ(M->Settings().WebServerPort, 0);
  EXPECT_EQ(A->EmailConfig().PrimaryServer, "smtp.example.com");
  EXPECT_EQ(ReadLoginStartup(), "");
  EXPECT_EQ(W->DefaultDoubleClickCommand(), "ssh %host%");
  EXPECT_TRUE(M->Scheduler().TimerAllowed());
}

TEST_F(ConfigWindow, OkWithAThousandHostsRewritesOnlyTheEditedHost) {
  M->SetTestingOn(false);  // a thousand hosts are never tested here
  for (int i = 0; i < 1000; ++i) {
    THost& h = InsertTestHost(*M, "Host " + std::to_string(i), "127.0." + std::to_string(i / 250) + "." +
                                                                   std::to_string(i % 250 + 1), StatusOnline);
    h.Successes = static_cast<unsigned>(i);
    if (i % 10 == 0) h.Parents = M->Hosts().Items(0)->IDText();
  }
  // Loaded from its own file, the list carries what a load computes.
  ASSERT_TRUE(M->SaveConfiguration(M->HostsFileName()));
  ASSERT_TRUE(M->LoadConfiguration(M->HostsFileName()));
  ASSERT_TRUE(M->SaveConfiguration(M->HostsFileName()));
  const std::vector<std::string> before = Lines(Bytes(M->HostsFileName()));
  Settle();
  W->SelectHostIndex(500);
  OnDialog([](TfrmCorvaleConfig& d) {
    ASSERT_EQ(d.Hosts->EditedIDs().size(), 1u);
    EXPECT_EQ(d.Hosts->tbDispName->text(), "Host 500");
    d.Hosts->tbDispName->setText("Edited host");
    d.btnOk->click();
  });
  ASSERT_TRUE(W->ShowConfiguration(TfrmCorvaleConfig::pgHosts));
  const std::vector<std::string> after = Lines(Bytes(M->HostsFileName()));
  ASSERT_EQ(after.size(), before.size());
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < before.size(); ++i)
    if (before[i] != after[i]) changed.push_back(i);
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_NE(after[changed[0]].find("Edited host"), std::string::npos);
  EXPECT_EQ(M->Hosts().Items(500)->DisplayName, "Edited host");
  EXPECT_TRUE(HasLine(*M, LocalUserName() + " modified configuration file", 'C'));
}

TEST_F(ConfigWindow, ButtonBalloonAndFirstStartOpenTheRightPage) {
  Add("Router", "127.0.0.1", StatusOnline);
  THost& selected = Add("Switch", "127.0.0.2", StatusOnline);
  Settle();
  W->SelectHostIndex(1);
  std::vector<std::int32_t> edited;
  QStringList computers;
  OnDialog([&](TfrmCorvaleConfig& d) {
    edited = d.Hosts->EditedIDs();
    // The computer list arrives through the event loop.
    WaitFor([&] { return d.Hosts->tbHostname->findText("ZULU") >= 0; });
    for (int i = 0; i < d.Hosts->tbHostname->count(); ++i) computers << d.Hosts->tbHostname->itemText(i);
    EXPECT_FALSE(W->ShowConfiguration(0)) << "one dialog at a time";
    d.btnCancel->click();
  });
  W->btnConfig->click();
  for (int i = 0; i < 50 && Opened == 0; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(Opened, 1);
  EXPECT_EQ(OpenedOn, TfrmCorvaleConfig::pgHosts);
  EXPECT_FALSE(TimerWhileOpen) << "no test starts while the dialog is open";
  EXPECT_TRUE(M->Scheduler().TimerAllowed());
  EXPECT_EQ(edited, std::vector<std::int32_t>{selected.ID});
  EXPECT_TRUE(computers.contains("ZULU") && computers.contains("ALPHA")) << computers.join(",").toStdString();

  // The mail-server warning's action opens the e-mail page.
  EXPECT_TRUE(W->StatusWarningTick());
  ASSERT_TRUE(W->StatusWarningMessage().startsWith("Email servers have not been configured."));
  W->PerformStatusAction();
  EXPECT_EQ(Opened, 2);
  EXPECT_EQ(OpenedOn, TfrmCorvaleConfig::pgEmail);

  // Only a missing hosts file opens it at start-up.
  ASSERT_TRUE(M->SaveConfiguration(M->HostsFileName()));
  EXPECT_FALSE(W->ConfigureWhenNoHostsFile());
  std::remove(M->HostsFileName().c_str());
  EXPECT_TRUE(W->ConfigureWhenNoHostsFile());
  EXPECT_EQ(Opened, 2) << "not before the event loop runs";
  for (int i = 0; i < 50 && Opened == 2; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(Opened, 3);
  EXPECT_EQ(OpenedOn, TfrmCorvaleConfig::pgHosts);
}

// Most networks cannot be browsed: that is told once a run, not at every opening.
TEST_F(ConfigWindow, NetworkThatCannotBeBrowsedIsLoggedOnceARun) {
  W->SetConfigurationHook([this](TConfigDialogContext& c) {
    Prepare(c);
    c.Lister = [](std::vector<std::string>&, const std::atomic<bool>&) {
      throw std::runtime_error("The computers of the network could not be listed: no browse service");
    };
  });
  const auto faults = [this] {
    int n = 0;
    for (const TLogLine& l : M->Log().Lines())
      if (l.Text.find("ListNetworkComputers") != std::string::npos && l.Text.back() == 'E') ++n;
    return n;
  };
  for (int opening = 0; opening < 3; ++opening) {
    OnDialog([&](TfrmCorvaleConfig& d) {
      WaitFor([&] { return !d.ComputerList() || d.ComputerList()->isFinished(); });
      QCoreApplication::processEvents();
      d.btnCancel->click();
    });
    EXPECT_FALSE(W->ShowConfiguration(TfrmCorvaleConfig::pgHosts));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(faults(), 1) << "opening " << opening;
    // Past the fault log's own minute, so that only the once-a-run rule holds it back.
    FClock.Advance(2 * TFaultLog::RepeatAfterMs);
  }
}

}  // namespace

namespace {

// Selects the line of a host in the page's list by its display name.
void SelectLine(TConfigHostsPage& page, const QString& name) {
  const auto found = page.lbHosts->findItems(name, Qt::MatchStartsWith);
  ASSERT_EQ(found.size(), 1) << name.toStdString();
  page.lbHosts->clearSelection();
  page.lbHosts->setCurrentItem(found.front());
  found.front()->setSelected(true);
}

TEST_F(ConfigWindow, ANewUsersFirstRunFromEmptyFolderToTestedHosts) {
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "the openssl command is not installed";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  testsupport::TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  testsupport::TScopedEnv noDir("SSL_CERT_DIR", FRoot.Path() + "/no-certs");
  const auto cert = certs.Server("127.0.0.1");
  ASSERT_TRUE(cert.Ok()) << certs.Error();
  testsupport::THttpTestServer web([](testsupport::THttpConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 13\r\nConnection: close\r\n\r\n<p>hello</p>\n");
  });
  ASSERT_TRUE(web.StartTls(cert.CertFile, cert.KeyFile));
  QTcpServer listening;
  ASSERT_TRUE(listening.listen(QHostAddress::LocalHost));
  const QString port = QString::number(listening.serverPort());

  ASSERT_FALSE(FileExists(M->HostsFileName())) << "an empty data folder";
  W->Ask().TextAnswer = [](const QString& caption, const QString&) -> std::optional<QString> {
    if (caption == "New Group") return QStringLiteral("Servers");
    return std::nullopt;
  };
  Sub = [&](QDialog& dialog) {
    auto* http = dynamic_cast<TfrmHTTPSettings*>(&dialog);
    if (!http) return int(QDialog::Rejected);
    http->tbURL->setText(QString::fromStdString(web.Url("/")));
    http->btnOK->click();
    return http->result();
  };
  OnDialog([&](TfrmCorvaleConfig& d) {
    TConfigHostsPage& page = *d.Hosts;
    page.AddGroup();
    page.AddSingleHost();
    page.tbDispName->setText("Loopback");
    page.tbHostname->setEditText("127.0.0.1");
    page.ckbDependable->setChecked(true);
    page.tbEmail->setText("ops@example.com");
    ASSERT_TRUE(page.CommitEdits());
    page.AddSingleHost();
    page.tbDispName->setText("Listener");
    page.tbHostname->setEditText("127.0.0.1");
    page.cbService->setCurrentText("TCP Connect");
    page.cbPort->setEditText(port);
    ASSERT_TRUE(page.CommitEdits());
    page.AddSingleHost();
    page.tbDispName->setText("Secure site");
    page.tbHostname->setEditText("127.0.0.1");
    page.cbService->setCurrentText("HTTP Server");
    ASSERT_TRUE(page.CommitEdits());
    page.btnSettings->click();
    ASSERT_TRUE(page.CommitEdits());
    // The site is not tested while the loopback host is down.
    SelectLine(page, "Secure site");
    const auto parent = page.ckbOfflineHosts->findItems("Loopback", Qt::MatchStartsWith);
    ASSERT_EQ(parent.size(), 1);
    parent.front()->setCheckState(Qt::Checked);
    ASSERT_TRUE(page.CommitEdits());
    d.tbSMTP1->setText("127.0.0.1:2525");
    d.tbFrom1->setText("monitor@example.com");
    d.tbSubject->setText("Down: %displayname% at %lastfail%");
    d.seMaxTCP->setValue(4);
    d.btnOk->click();
  });
  ASSERT_TRUE(W->ConfigureWhenNoHostsFile());
  ASSERT_TRUE(WaitFor([&] { return Opened == 1 && !W->ConfigurationOpen(); }));
  ASSERT_TRUE(FileExists(M->HostsFileName()));
  ASSERT_EQ(M->Hosts().Count(), 4);
  EXPECT_EQ(M->Hosts().Items(0)->DisplayName, ";Servers");
  const THost& ping = *M->Hosts().Items(1);
  const THost& tcp = *M->Hosts().Items(2);
  const THost& https = *M->Hosts().Items(3);
  EXPECT_EQ(tcp.TestKind, TestTCP);
  EXPECT_EQ(tcp.Port, listening.serverPort());
  EXPECT_EQ(https.TestKind, TestHTTP);
  EXPECT_EQ(https.Parents, ping.IDText());

  // Testing was on before the dialog: all three are tested without anyone asking.
  EXPECT_TRUE(M->TestingOn());
  const bool tested = WaitFor([&] {
    return ping.Status == StatusOnline && tcp.Status == StatusOnline && https.Status == StatusOnline;
  });
  EXPECT_TRUE(tested) << ping.Status << " " << tcp.Status << " " << https.Status << " " << https.LastErrorText;

  // A fresh monitor on the same folder finds what the user made.
  struct TSaved {
    std::string Name, Address, Parents, Url, Recipients;
    TTestKind Kind;
    int Port;
    bool operator==(const TSaved&) const = default;
  };
  auto saved = [](TMonitor& m) {
    std::vector<TSaved> list;
    for (const auto& h : m.Hosts().Records())
      list.push_back({h->DisplayName, h->Address, h->Parents, h->HTTPTest.URL, h->OfflineRecipients, h->TestKind, h->Port});
    return list;
  };
  const std::vector<TSaved> made = saved(*M);
  M->Shutdown();
  ASSERT_TRUE(WaitFor([&] { return FFinished; }));
  // The data folder is locked until the monitor is gone.
  W.reset();
  M->SetAlertChannels(nullptr);
  M.reset();
  A.reset();
  M = NewMonitor();
  A = std::make_unique<TAlerts>(*M);
  M->SetAlertChannels(A.get());
  FFinished = false;
  QObject::connect(M.get(), &TMonitor::ShutdownFinished, [this] { FFinished = true; });
  ASSERT_TRUE(M->Startup()) << M->StartRefusal();
  M->SetTestingOn(false);
  EXPECT_TRUE(saved(*M) == made);
  EXPECT_EQ(M->Settings().MaxTCPThreads, 4);
  EXPECT_EQ(A->EmailConfig().PrimaryServer, "127.0.0.1:2525");
  EXPECT_EQ(A->EmailConfig().OfflineSubject, "Down: %displayname% at %lastfail%");
}

}  // namespace

namespace {

TEST_F(ConfigGlobals, PortableCopyCarriesWhatTheDialogShowsAndStoresNothing) {
  Add("Router", "127.0.0.1", StatusOnline);
  const std::string down = FRoot.Path() + "/down.wav", up = FRoot.Path() + "/up.wav";
  ASSERT_TRUE(WriteWholeFile(down, "RIFFdown") && WriteWholeFile(up, "RIFFup"));
  auto d = Open(TfrmCorvaleConfig::pgInfo);
  EXPECT_EQ(d->pcConfig->currentWidget(), d->tsInfo);
  ASSERT_EQ(d->lvPlugins->columnCount(), 3);
  EXPECT_EQ(d->lvPlugins->headerItem()->text(2), "Tests");
  EXPECT_FALSE(d->btnPluginSettings->isEnabled()) << "no plug-ins are loaded";
  d->Hosts->tbDispName->setText("Router in the copy");
  d->tbSMTP1->setText("copy.example.com");
  d->seMaxPing->setValue(7);
  d->cbOfflineSound->setCurrentText(QString::fromStdString(down));
  d->cbOnlineSound->setCurrentText(QString::fromStdString(up));
  const QString target = QString::fromStdString(FRoot.Path() + "/stick");
  bool copied = false;
  Ask.DialogAnswer = [&](QDialog& dialog) {
    auto* rem = dynamic_cast<TfrmMakeRem*>(&dialog);
    if (!rem) return int(QDialog::Rejected);
    rem->ckbEmail->setChecked(true);
    rem->ckbHosts->setChecked(true);
    rem->ckbPrefs->setChecked(true);
    copied = rem->CopyTo(target);
    return int(QDialog::Accepted);
  };
  d->btnMakeRem->click();
  ASSERT_TRUE(copied) << (Ask.Asked().empty() ? "" : Ask.Asked().back().Text.toStdString());
  const std::string folder = target.toStdString() + "/Corvale/";
  TEmailConfig email;
  std::string error;
  EXPECT_EQ(email.LoadFromFile(folder + EmailConfigFileName, error), TEmailConfig::TLoadResult::Loaded) << error;
  EXPECT_EQ(email.PrimaryServer, "copy.example.com");
  EXPECT_EQ(email.OfflineSubject, TfrmCorvaleConfig::DefaultOfflineSubject);
  std::string prefs, hosts;
  ASSERT_TRUE(ReadWholeFile(folder + "Hosts.cvlp", prefs));
  EXPECT_NE(prefs.find("MaxPingThreads=7\r\n"), std::string::npos);
  ASSERT_TRUE(ReadWholeFile(folder + "Hosts.cvlh", hosts));
  EXPECT_NE(hosts.find("Router in the copy"), std::string::npos) << "the working list, with the pending edit";
  EXPECT_EQ(OpenedFolder, folder.substr(0, folder.size() - 1));
  // Until OK, the monitor keeps its own.
  EXPECT_EQ(M->Settings().MaxPingThreads, 25);
  EXPECT_EQ(A->EmailConfig().PrimaryServer, "");
  EXPECT_EQ(M->Hosts().Items(0)->DisplayName, "Router");
}

}  // namespace

namespace {

QString ScreenshotFolder() {
  const char* build = std::getenv("CORVALE_BUILD_DIR");
  return QString::fromLocal8Bit(build ? build : ".") + "/screenshots/";
}

const char* const ConfigShots[] = {"config-hosts.png", "config-email.png", "config-preferences.png", "config-info.png",
                                   "add-host.png", "http-settings.png", "config-hosts-multiple.png"};

bool SaveShot(QWidget& widget, const char* name) {
  widget.show();
  widget.raise();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const QImage shot = widget.grab().toImage();
  return !shot.isNull() && shot.save(ScreenshotFolder() + name, "PNG");
}

using ConfigScreenshot = ConfigFixture;

TEST_F(ConfigScreenshot, EveryPageAndTheDialogsOfTheHostsPage) {
  if (!std::getenv(ScreenshotChildFlag)) GTEST_SKIP() << "runs in the child process of ConfigDialogOnXvfb";
  Add(";Core network", "", 0);
  Add("Gateway", "127.0.0.1", StatusOnline).Dependable = true;
  THost& dns = Add("DNS server", "127.0.0.2", StatusOnline);
  dns.TestKind = TestTCP;
  dns.Port = 53;
  dns.OfflineRecipients = "ops@example.com";
  Add(";Web", "", 0);
  THost& intranet = Add("Intranet", "127.0.0.3", StatusWarning);
  intranet.TestKind = TestHTTP;
  intranet.HTTPTest.URL = "http://127.0.0.3/portal/";
  A->EmailConfig().PrimaryServer = "smtp.example.com:587";
  A->EmailConfig().PrimarySender = "monitor@example";
  QDir().mkpath(ScreenshotFolder());
  auto d = Open(TfrmCorvaleConfig::pgHosts, 2);
  d->resize(820, 640);
  const int pages[] = {TfrmCorvaleConfig::pgHosts, TfrmCorvaleConfig::pgEmail, TfrmCorvaleConfig::pgPreferences,
                       TfrmCorvaleConfig::pgInfo};
  for (int i = 0; i < 4; ++i) {
    d->pcConfig->setCurrentIndex(pages[i]);
    ASSERT_TRUE(SaveShot(*d, ConfigShots[i])) << ConfigShots[i];
  }
  d->pcConfig->setCurrentIndex(TfrmCorvaleConfig::pgHosts);
  // The sub-dialogs are photographed instead of run.
  Ask.DialogAnswer = [&](QDialog& dialog) {
    const char* name = dynamic_cast<TfrmHTTPSettings*>(&dialog) ? ConfigShots[5] : ConfigShots[4];
    EXPECT_TRUE(SaveShot(dialog, name)) << name;
    return int(QDialog::Rejected);
  };
  d->Hosts->AddHost();
  SelectLine(*d->Hosts, "Intranet");
  d->Hosts->btnSettings->click();
  // Two hosts that differ in every field show the markers.
  Ask.DialogAnswer = nullptr;
  d->Hosts->lbHosts->clearSelection();
  for (const char* name : {"Gateway", "DNS server"})
    d->Hosts->lbHosts->findItems(name, Qt::MatchStartsWith).first()->setSelected(true);
  ASSERT_TRUE(SaveShot(*d, ConfigShots[6]));
  d->reject();
}

TEST(ScreenshotRun, ConfigDialogOnXvfb) {
  if (std::getenv(ScreenshotChildFlag)) GTEST_SKIP() << "the child only takes the pictures";
  for (const char* name : ConfigShots) QFile::remove(ScreenshotFolder() + name);
  const TXvfbRun run = RunOnXvfb("ConfigScreenshot.EveryPageAndTheDialogsOfTheHostsPage");
  if (!run.SkipReason.empty()) GTEST_SKIP() << run.SkipReason;
  ASSERT_TRUE(run.Failure.empty()) << run.Failure << "\n" << run.Output;
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  for (const char* name : ConfigShots) {
    const QImage shot(ScreenshotFolder() + name);
    EXPECT_FALSE(shot.isNull()) << name;
    EXPECT_GE(shot.width(), 200) << name;
  }
  // The invalid sender of the e-mail page is tinted: clearly reddish pixels.
  const QImage email(ScreenshotFolder() + ConfigShots[1]);
  int reddish = 0;
  for (int y = 0; y < email.height(); y += 2)
    for (int x = 0; x < email.width(); x += 2) {
      const QColor c = email.pixelColor(x, y);
      if (c.red() > 200 && c.green() < 150 && c.blue() < 150) ++reddish;
    }
  EXPECT_GT(reddish, 50);
}

}  // namespace

// The hosts page's service box lists the computer's services from the service manager.
TEST_F(ConfigGlobals, ServiceBoxListsTheComputersServices) {
  FServices.AddService("Db", "Database", svcstate::Running);
  FServices.AddService("Mail", "Mail Server", svcstate::Stopped);
  THost& host = Add("Database", "127.0.0.1", StatusOnline);
  host.TestKind = TestService;
  host.Service = "Db|Database";
  auto d = Open(TfrmCorvaleConfig::pgHosts, 0);
  QComboBox* box = d->Hosts->cbServices;
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  EXPECT_EQ(items, (QStringList{"Database (Db)", "Mail Server (Mail)"}));
  EXPECT_EQ(box->currentText(), "Database (Db)");
}
