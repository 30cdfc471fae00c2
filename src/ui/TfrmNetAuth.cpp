#include "ui/TfrmNetAuth.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QFormLayout>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>
#include <pwd.h>

#include "common/ErrorText.h"
#include "common/SystemInfo.h"
#include "platform/NetResources.h"
#include "ui/Latin1Text.h"
#include "ui/MainThreadWait.h"
#include "ui/TDialogAsk.h"

namespace {
const char* const PackageUser = "corvale";

bool UserExists(const std::string& name) { return !name.empty() && ::getpwnam(name.c_str()) != nullptr; }
// A user name as systemd takes it: no blanks, quotes or switches.
bool PlausibleUserName(const QString& name) {
  static const QString bad = QStringLiteral(" \t\"'\\/=");
  if (name.isEmpty() || name.startsWith('-')) return false;
  for (QChar c : name)
    if (bad.contains(c) || c.unicode() < 32) return false;
  return true;
}
}  // namespace

std::string TfrmNetAuth::ProposedAccount() {
  return UserExists(PackageUser) ? std::string(PackageUser) : LocalUserName();
}

TfrmNetAuth::TfrmNetAuth(QWidget* parent) : QDialog(parent) {
  setObjectName("frmNetAuth");
  setWindowTitle(QStringLiteral("Corvale Service Account"));
  setModal(true);
  tbUsername = new QComboBox(this);
  tbUsername->setObjectName("tbUsername");
  tbUsername->setEditable(true);
  const QString proposed = QString::fromLocal8Bit(ProposedAccount().c_str());
  QStringList users{proposed};
  if (UserExists(PackageUser) && proposed != PackageUser) users << PackageUser;
  const QString self = QString::fromLocal8Bit(LocalUserName().c_str());
  if (!users.contains(self)) users << self;
  tbUsername->addItems(users);
  tbUsername->setCurrentText(proposed);
  tbUsername->setToolTip(QStringLiteral("The system user the service runs as"));
  ckbStartup = new QCheckBox(QStringLiteral("Load Corvale Service at Startup"), this);
  ckbStartup->setObjectName("ckbStartup");
  ckbStartup->setChecked(true);
  ckbLocalSys = new QCheckBox(QStringLiteral("Load under Local System account"), this);
  ckbLocalSys->setObjectName("ckbLocalSys");
  auto* note = new QLabel(QStringLiteral("(not recommended if you are performing any testing besides Pinging)"), this);
  note->setEnabled(false);
  AddButtons();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("User name:"), this));
  layout->addWidget(tbUsername);
  layout->addWidget(ckbStartup);
  layout->addWidget(ckbLocalSys);
  layout->addWidget(note);
  layout->addLayout(buttons);
  connect(ckbLocalSys, &QCheckBox::toggled, this, &TfrmNetAuth::UpdateEnabling);
  connect(btnOk, &QPushButton::clicked, this, &TfrmNetAuth::OkClick);
  UpdateEnabling();
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

TfrmNetAuth::TConnect TfrmNetAuth::NetworkConnect() {
  return [](const std::string& remoteName, const std::string& user, const std::string& password,
            std::string& connection) {
    int code = 0;
    RunOffMainThread([&] { code = ConnectResource(remoteName, user, password, connection); });
    return code;
  };
}

TfrmNetAuth::TfrmNetAuth(const std::string& remoteName, const std::string& user, const std::string& password,
                         TConnect connect, QWidget* parent)
    : QDialog(parent), FConnect(std::move(connect)), FRemoteName(remoteName) {
  setObjectName("frmNetAuth");
  setWindowTitle(QStringLiteral("Network Authorization"));
  setModal(true);
  const auto shown = [](const std::string& value) { return value.empty() ? QString(DefaultText) : Latin1(value); };
  // "\\computer\resource": the third field.
  tbComputer = new QLineEdit(Latin1(remoteName).split('\\').value(2), this);
  tbComputer->setObjectName("tbComputer");
  tbComputer->setReadOnly(true);
  tbUsername = new QComboBox(this);
  tbUsername->setObjectName("tbUsername");
  tbUsername->setEditable(true);
  tbUsername->addItems({QStringLiteral("(Domain)\\(Username)"), QStringLiteral(".\\(Username)"),
                        QStringLiteral("(username)@(domain.tld)")});
  tbUsername->setCurrentText(shown(user));
  tbPassword = new QLineEdit(shown(password), this);
  tbPassword->setObjectName("tbPassword");
  // Shown in clear only while it says it holds none.
  const auto mask = [this] {
    tbPassword->setEchoMode(tbPassword->text() == DefaultText ? QLineEdit::Normal : QLineEdit::Password);
  };
  mask();
  QObject::connect(tbPassword, &QLineEdit::textChanged, this, mask);
  sbStatus = new QStatusBar(this);
  sbStatus->setObjectName("sbStatus");
  sbStatus->setSizeGripEnabled(false);
  AddButtons();

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Computer"), tbComputer);
  form->addRow(QStringLiteral("Username"), tbUsername);
  form->addRow(QStringLiteral("Password"), tbPassword);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
  layout->addWidget(sbStatus);
  QObject::connect(btnOk, &QPushButton::clicked, this, &TfrmNetAuth::TryConnect);
  adjustSize();
}

void TfrmNetAuth::AddButtons() {
  btnOk = new QPushButton(QStringLiteral("OK"), this);
  btnOk->setObjectName("btnOk");
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName("btnCancel");
  QObject::connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmNetAuth::TryConnect() {
  const auto given = [](const QString& text) { return text == DefaultText ? std::string() : Latin1(text); };
  FConnectionName.clear();
  FLastCode = FConnect ? FConnect(FRemoteName, given(tbUsername->currentText()), given(tbPassword->text()),
                                  FConnectionName)
                       : 1;
  sbStatus->showMessage(" " + Latin1(ErrorText(FLastCode)));
  if (FLastCode == 0) accept();
}

int TfrmNetAuth::ConnectInteractive(QWidget* parent, TDialogAsk& ask, const std::string& remoteName,
                                    const std::string& user, const std::string& password,
                                    std::string& connectionName, TConnect connect) {
  connectionName.clear();
  if (!user.empty() && !password.empty()) {
    const int code = connect(remoteName, user, password, connectionName);
    if (code != 0)
      ask.Message(parent, TDialogAsk::TKind::Warning, QStringLiteral("Corvale"),
                  "Authentication Failure: " + Latin1(ErrorText(code)));
    return code;
  }
  const int first = connect(remoteName, std::string(), std::string(), connectionName);
  if (first == 0) return 0;
  TfrmNetAuth dialog(remoteName, user, password, connect, parent);
  dialog.FLastCode = first;
  ask.Run(dialog);
  connectionName = dialog.FLastCode == 0 ? dialog.FConnectionName : std::string();
  return dialog.FLastCode;
}

void TfrmNetAuth::UpdateEnabling() { tbUsername->setEnabled(!ckbLocalSys->isChecked()); }

void TfrmNetAuth::OkClick() {
  if (!ckbLocalSys->isChecked() && !PlausibleUserName(tbUsername->currentText().trimmed())) {
    tbUsername->setFocus();
    tbUsername->lineEdit()->selectAll();
    return;
  }
  accept();
}

std::string TfrmNetAuth::InstallSwitches() const {
  std::string switches = ckbLocalSys->isChecked()
                             ? std::string("/LOCALSYSTEM")
                             : "/ACCOUNT=" + tbUsername->currentText().trimmed().toLocal8Bit().toStdString();
  if (!ckbStartup->isChecked()) switches += " /MANUAL";
  return switches;
}
