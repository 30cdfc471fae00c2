#include "ui/TfrmNetAuth.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <pwd.h>

#include "common/SystemInfo.h"

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
  btnOk = new QPushButton(QStringLiteral("OK"), this);
  btnOk->setObjectName("btnOk");
  btnOk->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName("btnCancel");

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
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  UpdateEnabling();
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
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
