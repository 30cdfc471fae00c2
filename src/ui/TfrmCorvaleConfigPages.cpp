// The configuration dialog's global controls: the pages "Email Configuration" and
// "Preferences", shown from the settings and the e-mail configuration and stored back.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "alerts/TAlerts.h"
#include "alerts/TEmailConfig.h"
#include "common/NetText.h"
#include "common/TextUtils.h"
#include "core/TMonitor.h"
#include "core/TSettings.h"
#include "ui/TDialogAsk.h"
#include "ui/TVarsMenu.h"
#include "ui/TfrmCorvaleConfig.h"

namespace {
QString Latin1(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }
std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }

// A stored body ends every line with CR LF; the box shows the lines without the last
// line break, which storing puts back, so an unchanged box stores the same bytes.
QString BodyText(const std::string& body) {
  QString text = Latin1(body);
  if (text.endsWith(QStringLiteral("\r\n"))) text.chop(2);
  return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
std::string StoredBody(const QPlainTextEdit* box) {
  QString text = box->toPlainText();
  if (text.isEmpty()) return {};
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
  return Latin1(text.replace(QChar('\n'), QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

QLineEdit* NewEdit(QWidget* parent, const char* name, const QString& hint, bool password = false) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setToolTip(hint);
  if (password) edit->setEchoMode(QLineEdit::Password);
  return edit;
}

QCheckBox* NewCheck(QWidget* parent, const char* name, const QString& caption, const QString& hint = {}) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  box->setToolTip(hint.isEmpty() ? caption : hint);
  return box;
}

QSpinBox* NewSpin(QWidget* parent, const char* name, int low, int high, const QString& hint) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(name);
  spin->setRange(low, high);
  spin->setToolTip(hint);
  return spin;
}

QComboBox* NewCombo(QWidget* parent, const char* name, const QString& hint, bool editable = true) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(editable);
  box->setToolTip(hint);
  return box;
}

QColor ToQColor(TColor c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
TColor ToColor(const QColor& c) { return RGBToColor(c.red(), c.green(), c.blue()); }

constexpr int SmtpTlsAuto = 0, SmtpTlsRequired = 1, SmtpTlsOff = 2;
}  // namespace

void TfrmCorvaleConfig::CreateEmailPage() {
  tsEmail = new QWidget(pcConfig);
  tsEmail->setObjectName("tsEmail");
  auto* servers = new QGroupBox(QStringLiteral("Outgoing Mail Servers"), tsEmail);
  auto* grid = new QGridLayout(servers);
  const QString serverHint = QStringLiteral("Name or address of the SMTP server, optionally followed by \":\" and a port");
  tbSMTP1 = NewEdit(servers, "tbSMTP1", serverHint);
  tbUser1 = NewEdit(servers, "tbUser1", QStringLiteral("User name for the server; empty when it needs none"));
  tbPass1 = NewEdit(servers, "tbPass1", QStringLiteral("Password for the server"), true);
  tbFrom1 = NewEdit(servers, "tbFrom1", QStringLiteral("Sender address of the alerts sent through this server"));
  tbSMTP2 = NewEdit(servers, "tbSMTP2", serverHint + QStringLiteral(", used when the primary server fails"));
  tbUser2 = NewEdit(servers, "tbUser2", tbUser1->toolTip());
  tbPass2 = NewEdit(servers, "tbPass2", tbPass1->toolTip(), true);
  tbFrom2 = NewEdit(servers, "tbFrom2", tbFrom1->toolTip());
  lblSMTP2 = new QLabel(QStringLiteral("Alternate SMTP Server (:port)"), servers);
  lblUser2 = new QLabel(QStringLiteral("Username"), servers);
  lblPass2 = new QLabel(QStringLiteral("Password"), servers);
  lblFrom2 = new QLabel(QStringLiteral("From Address"), servers);
  grid->addWidget(new QLabel(QStringLiteral("Primary SMTP Server (:port)"), servers), 0, 0);
  grid->addWidget(tbSMTP1, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Username"), servers), 0, 2);
  grid->addWidget(tbUser1, 0, 3);
  grid->addWidget(new QLabel(QStringLiteral("From Address"), servers), 1, 0);
  grid->addWidget(tbFrom1, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Password"), servers), 1, 2);
  grid->addWidget(tbPass1, 1, 3);
  grid->addWidget(lblSMTP2, 2, 0);
  grid->addWidget(tbSMTP2, 2, 1);
  grid->addWidget(lblUser2, 2, 2);
  grid->addWidget(tbUser2, 2, 3);
  grid->addWidget(lblFrom2, 3, 0);
  grid->addWidget(tbFrom2, 3, 1);
  grid->addWidget(lblPass2, 3, 2);
  grid->addWidget(tbPass2, 3, 3);
  ckbEmailQLM = NewCheck(servers, "ckbEmailQLM", QStringLiteral("Send alerts through the relay server"),
                         QStringLiteral("Deliver alerts through the relay service instead of the SMTP servers"));
  tbQLMFrom = NewEdit(servers, "tbQLMFrom", QStringLiteral("Sender address of the alerts sent through the relay"));
  tbRelayServer = NewEdit(servers, "tbRelayServer",
                          QStringLiteral("The relay's server, optionally followed by \":\" and a port; empty: no relay"));
  cbSmtpTls = NewCombo(servers, "cbSmtpTls",
                       QStringLiteral("Auto starts TLS when the server offers it, Required refuses to send without "
                                      "it, Off never starts it"),
                       false);
  cbSmtpTls->addItems({QStringLiteral("Auto"), QStringLiteral("Required"), QStringLiteral("Off")});
  grid->addWidget(ckbEmailQLM, 4, 0, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Relay From Address"), servers), 5, 0);
  grid->addWidget(tbQLMFrom, 5, 1);
  grid->addWidget(new QLabel(QStringLiteral("Relay Server"), servers), 5, 2);
  grid->addWidget(tbRelayServer, 5, 3);
  grid->addWidget(new QLabel(QStringLiteral("Encryption (TLS)"), servers), 6, 0);
  grid->addWidget(cbSmtpTls, 6, 1);

  pmVars = new TVarsMenu(TVarsMenu::TKind::Vars, this);
  pmVars->setObjectName("pmVars");
  auto* texts = new QTabWidget(tsEmail);
  texts->setObjectName("pcAlertTexts");
  auto addTexts = [&](const QString& caption, const char* subjectName, const char* bodyName, QLineEdit*& subject,
                      QPlainTextEdit*& body) {
    auto* page = new QWidget(texts);
    subject = NewEdit(page, subjectName, QStringLiteral("Subject of the alert; right-click to insert a variable"));
    body = new QPlainTextEdit(page);
    body->setObjectName(bodyName);
    body->setToolTip(QStringLiteral("Text of the alert; right-click to insert a variable"));
    pmVars->Attach(subject);
    pmVars->Attach(body);
    auto* form = new QFormLayout(page);
    form->addRow(QStringLiteral("Subject:"), subject);
    form->addRow(QStringLiteral("Message:"), body);
    texts->addTab(page, caption);
  };
  addTexts(QStringLiteral("Host Goes Offline"), "tbSubject", "mmoMessage", tbSubject, mmoMessage);
  addTexts(QStringLiteral("Host Comes Online"), "tbSubject2", "mmoMessage2", tbSubject2, mmoMessage2);
  addTexts(QStringLiteral("HTTP Page Change"), "tbHTTPChangeSubj", "mmoHTTPChangeBody", tbHTTPChangeSubj,
           mmoHTTPChangeBody);
  addTexts(QStringLiteral("IP Address Change"), "tbIPChangeSubj", "mmoIPChangeBody", tbIPChangeSubj, mmoIPChangeBody);

  auto* layout = new QVBoxLayout(tsEmail);
  layout->addWidget(servers);
  layout->addWidget(texts, 1);
  pcConfig->addTab(tsEmail, QStringLiteral("Email Configuration"));

  for (QLineEdit* edit : {tbSMTP1, tbFrom1, tbSMTP2, tbFrom2, tbQLMFrom})
    connect(edit, &QLineEdit::textChanged, this, &TfrmCorvaleConfig::UpdateEnabling);
  connect(ckbEmailQLM, &QCheckBox::toggled, this, &TfrmCorvaleConfig::UpdateEnabling);
}

void TfrmCorvaleConfig::CreatePreferencesPage() {
  tsPreferences = new QWidget(pcConfig);
  tsPreferences->setObjectName("tsPreferences");
  auto* general = new QGroupBox(QStringLiteral("General"), tsPreferences);
  auto* g = new QVBoxLayout(general);
  ckbLoadStartup = NewCheck(general, "ckbLoadStartup", QStringLiteral("Load Corvale at Login"),
                            QStringLiteral("Start Corvale when you log in (grey: another program is registered "
                                           "under the name; left as it is)"));
  ckbLoadStartup->setTristate(true);
  ckbStartupMinimize = NewCheck(general, "ckbStartupMinimize", QStringLiteral("Load minimized"));
  ckbInstService = NewCheck(general, "ckbInstService", QStringLiteral("Install Corvale as a Windows Service"),
                            QStringLiteral("Run Corvale as the system service corvale.service, also when no one is "
                                           "logged in"));
  ckbStartServ = NewCheck(general, "ckbStartServ", QStringLiteral("Start service when Corvale is closed"),
                          QStringLiteral("Start the service when this program ends, so monitoring goes on"));
  connect(ckbInstService, &QCheckBox::toggled, this, &TfrmCorvaleConfig::UpdateEnabling);
  ckb24Hour = NewCheck(general, "ckb24Hour", QStringLiteral("Use 24-hour date format instead of AM/PM"));
  ckbFreqFailAdj = NewCheck(general, "ckbFreqFailAdj", QStringLiteral("Reduce testing frequency of Offline hosts"));
  ckbAlertDownAtStartup = NewCheck(general, "ckbAlertDownAtStartup",
                                   QStringLiteral("Issue 'Host Offline' alerts if hosts are down at startup"));
  ckbTestSvc = NewCheck(general, "ckbTestSvc", QStringLiteral("Test hosts for IPC/PPTP capability"));
  auto* startRow = new QHBoxLayout;
  startRow->addWidget(ckbLoadStartup);
  startRow->addWidget(ckbStartupMinimize);
  startRow->addStretch(1);
  g->addLayout(startRow);
  g->addWidget(ckbInstService);
  g->addWidget(ckbStartServ);
  for (QCheckBox* box : {ckb24Hour, ckbFreqFailAdj, ckbAlertDownAtStartup, ckbTestSvc}) g->addWidget(box);
  cbDblClick = NewCombo(general, "cbDblClick",
                        QStringLiteral("Command run when a host without a double-click command of its own is "
                                       "double-clicked (this run only); right-click to insert a variable"));
  // Created with the e-mail page, which comes first.
  pmVars->Attach(cbDblClick);
  auto* dbl = new QFormLayout;
  dbl->addRow(QStringLiteral("Default Host Double-Click Action:"), cbDblClick);
  g->addLayout(dbl);

  auto* testing = new QGroupBox(QStringLiteral("Testing"), tsPreferences);
  auto* t = new QFormLayout(testing);
  seMaxPing = NewSpin(testing, "seMaxPing", 1, 99, QStringLiteral("Maximum simultaneous Ping requests"));
  sePingTimeout = NewSpin(testing, "sePingTimeout", 100, 30000, QStringLiteral("Ping timeout (ms)"));
  sePingsPerTest = NewSpin(testing, "sePingsPerTest", 1, 99, QStringLiteral("Number of Ping attempts per test"));
  seMaxTCP = NewSpin(testing, "seMaxTCP", 1, 99, QStringLiteral("Maximum simultaneous TCP and HTTP tests"));
  seMaxService = NewSpin(testing, "seMaxService", 1, 99, QStringLiteral("Maximum simultaneous service tests"));
  seMaxShare = NewSpin(testing, "seMaxShare", 1, 99, QStringLiteral("Maximum simultaneous file share tests"));
  seTCPConnectTimeout = NewSpin(testing, "seTCPConnectTimeout", 100, 120000,
                                QStringLiteral("Time one connection attempt of a TCP test may take (ms)"));
  seHTTPTimeout = NewSpin(testing, "seHTTPTimeout", 1, 3600,
                          QStringLiteral("Time one HTTP test may take in all, redirects included (seconds)"));
  seCertExpiryDays = NewSpin(testing, "seCertExpiryDays", 0, 3650,
                             QStringLiteral("An https test fails when the server's certificate expires within "
                                            "this many days; 0 turns the check off"));
  t->addRow(QStringLiteral("Maximum simultaneous Ping requests"), seMaxPing);
  t->addRow(QStringLiteral("Ping timeout (ms):"), sePingTimeout);
  t->addRow(QStringLiteral("Number of Ping attempts per test:"), sePingsPerTest);
  t->addRow(QStringLiteral("Maximum simultaneous TCP tests"), seMaxTCP);
  t->addRow(QStringLiteral("Maximum simultaneous service tests"), seMaxService);
  t->addRow(QStringLiteral("Maximum simultaneous share tests"), seMaxShare);
  t->addRow(QStringLiteral("TCP connect timeout (ms):"), seTCPConnectTimeout);
  t->addRow(QStringLiteral("HTTP timeout (seconds):"), seHTTPTimeout);
  t->addRow(QStringLiteral("Certificate expiry warning (days):"), seCertExpiryDays);

  auto* alerts = new QGroupBox(QStringLiteral("Sounds and Logging"), tsPreferences);
  auto* a = new QFormLayout(alerts);
  auto soundRow = [&](const char* name, QComboBox*& box, const QString& caption) {
    box = NewCombo(alerts, name, caption);
    const QDir folder(QString::fromLocal8Bit(FMonitor.ProgramFolder().c_str()));
    box->addItems(folder.entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name));
    auto* choose = new QPushButton(QStringLiteral("..."), alerts);
    choose->setObjectName(QStringLiteral("btn%1").arg(QLatin1String(name + 2)));
    choose->setToolTip(QStringLiteral("Choose a wave file"));
    choose->setMaximumWidth(30);
    connect(choose, &QPushButton::clicked, this, [this, b = box] { ChooseSound(b); });
    auto* row = new QHBoxLayout;
    row->addWidget(box, 1);
    row->addWidget(choose);
    a->addRow(caption, row);
  };
  soundRow("cbOfflineSound", cbOfflineSound, QStringLiteral("Global 'Host Offline' Sound:"));
  soundRow("cbOnlineSound", cbOnlineSound, QStringLiteral("Global 'Host Online' Sound:"));
  tbSYSLOG = NewEdit(alerts, "tbSYSLOG",
                     QStringLiteral("Syslog server for every log entry, optionally followed by \":\" and a port"));
  a->addRow(QStringLiteral("Send log to SYSLOG server:"), tbSYSLOG);

  auto* web = new QGroupBox(QStringLiteral("Web Server"), tsPreferences);
  auto* w = new QGridLayout(web);
  ckbWebServer = NewCheck(web, "ckbWebServer", QStringLiteral("Enable Web Server on Port:"));
  cbWebPort = NewCombo(web, "cbWebPort", QStringLiteral("Port the web server listens on"));
  cbWebPort->addItems({QStringLiteral("80"), QStringLiteral("7464"), QStringLiteral("8000"), QStringLiteral("8080"),
                       QStringLiteral("8888")});
  tbWebPW = NewEdit(web, "tbWebPW", QStringLiteral("Password for viewing the web pages; empty: none"), true);
  tbWebManagePW = NewEdit(web, "tbWebManagePW", QStringLiteral("Password for managing hosts from the web"), true);
  ckbWebRestarts = NewCheck(web, "ckbWebRestarts", QStringLiteral("Enable Shutdown"),
                            QStringLiteral("Allow shutdown and restart of hosts from the web interface"));
  w->addWidget(ckbWebServer, 0, 0);
  w->addWidget(cbWebPort, 0, 1);
  w->addWidget(ckbWebRestarts, 0, 2);
  w->addWidget(new QLabel(QStringLiteral("View Password:"), web), 1, 0);
  w->addWidget(tbWebPW, 1, 1);
  w->addWidget(new QLabel(QStringLiteral("Manage Password:"), web), 1, 2);
  w->addWidget(tbWebManagePW, 1, 3);

  auto* columns = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(general);
  left->addWidget(alerts);
  left->addStretch(1);
  columns->addLayout(left, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(testing);
  right->addStretch(1);
  columns->addLayout(right, 1);
  auto* layout = new QVBoxLayout(tsPreferences);
  layout->addLayout(columns, 1);
  layout->addWidget(web);
  pcConfig->addTab(tsPreferences, QStringLiteral("Preferences"));

  connect(ckbLoadStartup, &QCheckBox::stateChanged, this, &TfrmCorvaleConfig::UpdateEnabling);
  connect(ckbWebServer, &QCheckBox::toggled, this, &TfrmCorvaleConfig::UpdateEnabling);
}

void TfrmCorvaleConfig::ChooseSound(QComboBox* box) {
  const QString current = box->currentText();
  QString folder = QFileInfo(current).path();
  if (current.isEmpty() || !current.contains(QChar('/')))
    folder = QString::fromLocal8Bit(FMonitor.ProgramFolder().c_str());
  const auto chosen = FAsk.OpenFile(this, QStringLiteral("Select a Sound File..."), folder,
                                    QStringLiteral("Wave Files (*.wav);;All Files (*)"));
  if (chosen) box->setCurrentText(*chosen);
}

void TfrmCorvaleConfig::ShowGlobals() {
  const TSettings& s = FMonitor.Settings();
  TEmailConfig empty;
  const TEmailConfig& e = FContext.Alerts ? FContext.Alerts->EmailConfig() : empty;
  tbSMTP1->setText(Latin1(e.PrimaryServer));
  tbUser1->setText(Latin1(e.PrimaryUser));
  tbPass1->setText(Latin1(e.PrimaryPassword));
  tbFrom1->setText(Latin1(e.PrimarySender));
  tbSMTP2->setText(Latin1(e.SecondaryServer));
  tbUser2->setText(Latin1(e.SecondaryUser));
  tbPass2->setText(Latin1(e.SecondaryPassword));
  tbFrom2->setText(Latin1(e.SecondarySender));
  ckbEmailQLM->setChecked(e.RelayEnabled);
  tbQLMFrom->setText(Latin1(e.RelaySender));
  tbRelayServer->setText(Latin1(s.RelayServer));
  cbSmtpTls->setCurrentIndex(s.SmtpTls == TSettings::TSmtpTls::Required ? SmtpTlsRequired
                             : s.SmtpTls == TSettings::TSmtpTls::Off    ? SmtpTlsOff
                                                                        : SmtpTlsAuto);
  auto showText = [](QLineEdit* subject, QPlainTextEdit* body, const std::string& storedSubject,
                     const std::string& storedBody, const char* defaultSubject, const char* defaultBody) {
    const bool useDefaults = storedSubject.empty() && storedBody.empty();
    subject->setText(Latin1(useDefaults ? std::string(defaultSubject) : storedSubject));
    body->setPlainText(BodyText(useDefaults ? std::string(defaultBody) : storedBody));
  };
  showText(tbSubject, mmoMessage, e.OfflineSubject, e.OfflineBody, DefaultOfflineSubject, DefaultOfflineBody);
  showText(tbSubject2, mmoMessage2, e.OnlineSubject, e.OnlineBody, DefaultOnlineSubject, DefaultOnlineBody);
  showText(tbHTTPChangeSubj, mmoHTTPChangeBody, e.PageChangeSubject, e.PageChangeBody, DefaultPageChangeSubject,
           DefaultPageChangeBody);
  showText(tbIPChangeSubj, mmoIPChangeBody, e.IPChangeSubject, e.IPChangeBody, DefaultIPChangeSubject,
           DefaultIPChangeBody);

  // The login entry is the user's, not the settings': where it belongs to another
  // program the box is grey, and OK leaves it alone unless the user decides.
  ckbLoadStartup->setCheckState(FMonitor.LoadAtLogin()            ? Qt::Checked
                                : FMonitor.OtherProgramAtLogin() ? Qt::PartiallyChecked
                                                                  : Qt::Unchecked);
  ckbStartupMinimize->setChecked(FMonitor.LoadMinimized());
  if (FMonitor.RemovableMode()) {
    ckbLoadStartup->setEnabled(false);
    ckbLoadStartup->setToolTip(QStringLiteral("Running on removable media: the login start is not changed"));
  }
  ShowServiceBoxes();
  ckb24Hour->setChecked(s.Use24HourDate == 1);
  ckbFreqFailAdj->setChecked(s.FailFreqAdj);
  ckbAlertDownAtStartup->setChecked(s.OfflineAlertsAtStartup);
  ckbTestSvc->setChecked(s.TestHostServices);
  cbDblClick->setCurrentText(Latin1(FContext.DefaultDoubleClick));
  seMaxPing->setValue(s.MaxPingThreads);
  sePingTimeout->setValue(s.PingTimeout);
  sePingsPerTest->setValue(s.NumPings);
  seMaxTCP->setValue(s.MaxTCPThreads);
  seMaxService->setValue(s.MaxServiceThreads);
  seMaxShare->setValue(s.MaxShareThreads);
  seTCPConnectTimeout->setValue(s.TCPConnectTimeout);
  seHTTPTimeout->setValue(s.HTTPTimeout);
  seCertExpiryDays->setValue(s.CertExpiryDays);
  cbOfflineSound->setCurrentText(Latin1(s.HostDownSound));
  cbOnlineSound->setCurrentText(Latin1(s.HostUpSound));
  tbSYSLOG->setText(Latin1(s.SysLogServer));
  ckbWebServer->setChecked(s.WebServerPort > 0);
  cbWebPort->setCurrentText(s.WebServerPort > 0 ? QString::number(s.WebServerPort) : QStringLiteral("80"));
  tbWebPW->setText(Latin1(s.WebServerPassword));
  tbWebManagePW->setText(Latin1(s.WebAdminPassword));
  ckbWebRestarts->setChecked(s.WebRestarts);
}

void TfrmCorvaleConfig::UpdateEnabling() {
  const bool first = !tbSMTP1->text().trimmed().isEmpty() && !tbFrom1->text().trimmed().isEmpty();
  for (QWidget* w : std::initializer_list<QWidget*>{tbSMTP2, tbUser2, tbPass2, tbFrom2, lblSMTP2, lblUser2, lblPass2,
                                                    lblFrom2})
    w->setEnabled(first);
  tbQLMFrom->setEnabled(ckbEmailQLM->isChecked());
  const TColor window = ToColor(QPalette().color(QPalette::Base));
  const QColor invalid = ToQColor(BlendColor(window, RGBToColor(255, 0, 0), BlendModeMix, 0.5));
  auto tint = [&](QLineEdit* edit, bool checked) {
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, checked && !IsValidEmailAddress(Latin1(edit->text())) ? invalid : ToQColor(window));
    edit->setPalette(pal);
  };
  tint(tbFrom1, !tbSMTP1->text().trimmed().isEmpty());
  tint(tbFrom2, !tbSMTP2->text().trimmed().isEmpty());
  tint(tbQLMFrom, true);
  ckbStartupMinimize->setEnabled(ckbLoadStartup->isEnabled() && ckbLoadStartup->checkState() == Qt::Checked);
  ckbStartServ->setEnabled(ckbInstService->isEnabled() && ckbInstService->isChecked());
  for (QWidget* w : std::initializer_list<QWidget*>{cbWebPort, tbWebPW, tbWebManagePW, ckbWebRestarts})
    w->setEnabled(ckbWebServer->isChecked());
}

bool TfrmCorvaleConfig::CheckGlobals() {
  if (!ckbWebServer->isChecked()) return true;
  bool ok = false;
  const int port = cbWebPort->currentText().trimmed().toInt(&ok);
  if (ok && port >= 1 && port <= 65535) return true;
  // Storing it as 0 would switch the web server off without a word.
  pcConfig->setCurrentWidget(tsPreferences);
  FAsk.Message(this, TDialogAsk::TKind::Warning, windowTitle(),
               QStringLiteral("The web server port must be a number from 1 to 65535."));
  cbWebPort->setFocus();
  return false;
}

void TfrmCorvaleConfig::StoreSettings(TSettings& s) const {
  s.MaxPingThreads = seMaxPing->value();
  s.PingTimeout = sePingTimeout->value();
  s.NumPings = sePingsPerTest->value();
  s.MaxTCPThreads = seMaxTCP->value();
  s.MaxServiceThreads = seMaxService->value();
  s.MaxShareThreads = seMaxShare->value();
  s.TCPConnectTimeout = seTCPConnectTimeout->value();
  s.HTTPTimeout = seHTTPTimeout->value();
  s.CertExpiryDays = seCertExpiryDays->value();
  s.HostDownSound = Latin1(cbOfflineSound->currentText().trimmed());
  s.HostUpSound = Latin1(cbOnlineSound->currentText().trimmed());
  s.SysLogServer = Latin1(tbSYSLOG->text().trimmed());
  s.OfflineAlertsAtStartup = ckbAlertDownAtStartup->isChecked();
  s.Use24HourDate = ckb24Hour->isChecked() ? 1 : 0;
  s.FailFreqAdj = ckbFreqFailAdj->isChecked();
  s.TestHostServices = ckbTestSvc->isChecked();
  s.WebServerPort = ckbWebServer->isChecked() ? cbWebPort->currentText().trimmed().toInt() : 0;
  if (s.WebServerPort < 0 || s.WebServerPort > 65535) s.WebServerPort = 0;
  s.WebServerPassword = Latin1(tbWebPW->text());
  s.WebAdminPassword = Latin1(tbWebManagePW->text());
  s.WebRestarts = ckbWebRestarts->isChecked();
  s.RelayServer = Latin1(tbRelayServer->text().trimmed());
  s.SmtpTls = cbSmtpTls->currentIndex() == SmtpTlsRequired ? TSettings::TSmtpTls::Required
              : cbSmtpTls->currentIndex() == SmtpTlsOff    ? TSettings::TSmtpTls::Off
                                                           : TSettings::TSmtpTls::Auto;
  // Credentials entered for the first time, in a configuration that never chose a mode:
  // they go out only over TLS. "auto" stays for whoever picks it (old internal relays).
  const bool hadCredentials =
      FContext.Alerts && (!FContext.Alerts->EmailConfig().PrimaryUser.empty() ||
                          !FContext.Alerts->EmailConfig().SecondaryUser.empty());
  const bool credentials = !tbUser1->text().trimmed().isEmpty() || !tbUser2->text().trimmed().isEmpty();
  if (credentials && !hadCredentials && s.SmtpTls == TSettings::TSmtpTls::Auto && !FMonitor.Settings().HasName("SmtpTls"))
    s.SmtpTls = TSettings::TSmtpTls::Required;
}

void TfrmCorvaleConfig::StoreEmail(TEmailConfig& e) const {
  e.PrimaryServer = Latin1(tbSMTP1->text().trimmed());
  e.PrimaryUser = Latin1(tbUser1->text());
  e.PrimaryPassword = Latin1(tbPass1->text());
  e.PrimarySender = Latin1(tbFrom1->text().trimmed());
  e.SecondaryServer = Latin1(tbSMTP2->text().trimmed());
  e.SecondaryUser = Latin1(tbUser2->text());
  e.SecondaryPassword = Latin1(tbPass2->text());
  e.SecondarySender = Latin1(tbFrom2->text().trimmed());
  e.RelayEnabled = ckbEmailQLM->isChecked();
  e.RelaySender = Latin1(tbQLMFrom->text().trimmed());
  e.OfflineSubject = Latin1(tbSubject->text());
  e.OfflineBody = StoredBody(mmoMessage);
  e.OnlineSubject = Latin1(tbSubject2->text());
  e.OnlineBody = StoredBody(mmoMessage2);
  e.PageChangeSubject = Latin1(tbHTTPChangeSubj->text());
  e.PageChangeBody = StoredBody(mmoHTTPChangeBody);
  e.IPChangeSubject = Latin1(tbIPChangeSubj->text());
  e.IPChangeBody = StoredBody(mmoIPChangeBody);
}
