#include "ui/TfrmMakeRem.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <cstring>

#include "ui/TDialogAsk.h"

namespace {

constexpr int DriveRemovable = 2;
constexpr int DriveOptical = 5;

const QString Caption = QStringLiteral("Copy to Removable Drive");

QString Latin1(const std::string& text) { return QString::fromLatin1(text.c_str()); }

// Paths compared as the system would find them: the same folder written differently
// (a trailing "/", "..", a link) is the same folder.
QString Comparable(const QString& path) {
  if (path.isEmpty()) return {};
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

}  // namespace

TfrmMakeRem::TfrmMakeRem(TPortableCopySource source, TDialogAsk& ask, QWidget* parent)
    : QDialog(parent), FSource(std::move(source)), FAsk(ask) {
  setObjectName(QStringLiteral("frmMakeRem"));
  setWindowTitle(Caption);

  tbFolder = new QLineEdit(this);
  btnBrowse = new QPushButton(QStringLiteral("..."), this);
  btnBrowse->setMaximumWidth(32);
  auto* lblFolder = new QLabel(QStringLiteral("Copy / Install To:"), this);
  lblFolder->setBuddy(tbFolder);
  ckbEmail = new QCheckBox(QStringLiteral("Copy my Email Server Settings"), this);
  ckbActions = new QCheckBox(QStringLiteral("Copy my Host Action List (context menu)"), this);
  ckbHosts = new QCheckBox(QStringLiteral("Copy my Hosts Configuration"), this);
  ckbPrefs = new QCheckBox(QStringLiteral("Copy My Preferences"), this);
  ckbRDP = new QCheckBox(QStringLiteral("Copy Default Remote Desktop Config File"), this);
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnOK->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblFolder);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(tbFolder, 1);
  folderRow->addWidget(btnBrowse);
  layout->addLayout(folderRow);
  for (QCheckBox* box : {ckbEmail, ckbActions, ckbHosts, ckbPrefs, ckbRDP}) layout->addWidget(box);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  layout->addLayout(buttons);

  // A box is offered only when there is something to copy; what is offered starts ticked.
  const auto offer = [](QCheckBox* box, bool available) {
    box->setEnabled(available);
    box->setChecked(available);
  };
  offer(ckbEmail, static_cast<bool>(FSource.WriteEmailConfig));
  offer(ckbActions, !FSource.ActionsFile.empty() && FileExists(FSource.ActionsFile));
  offer(ckbHosts, static_cast<bool>(FSource.WriteHosts));
  offer(ckbPrefs, static_cast<bool>(FSource.WritePreferences));
  offer(ckbRDP, !FSource.RdpFile.empty() && FileExists(FSource.RdpFile));

  connect(btnBrowse, &QPushButton::clicked, this, &TfrmMakeRem::BrowseClick);
  connect(btnOK, &QPushButton::clicked, this, &TfrmMakeRem::OKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TfrmMakeRem::TargetFolder(const QString& chosenFolder) {
  QString folder = chosenFolder.trimmed();
  while (folder.size() > 1 && (folder.endsWith(QChar('/')) || folder.endsWith(QChar('\\')))) folder.chop(1);
  const QString name = folder.mid(std::max(folder.lastIndexOf(QChar('/')), folder.lastIndexOf(QChar('\\'))) + 1);
  if (name.endsWith(QStringLiteral("corvale"), Qt::CaseInsensitive)) return folder;
  if (!folder.endsWith(QChar('/'))) folder += QChar('/');
  return folder + QStringLiteral("Corvale");
}

bool TfrmMakeRem::Fail(const QString& text) {
  FAsk.Message(this, TDialogAsk::TKind::Error, Caption, text);
  return false;
}

bool TfrmMakeRem::CopyTo(const QString& chosenText) {
  // A relative folder would land wherever the program happens to run from.
  const QString chosenFolder = chosenText.trimmed().isEmpty() ? QString() : QFileInfo(chosenText.trimmed()).absoluteFilePath();
  const QString target = TargetFolder(chosenFolder);
  const int driveType = FSource.DriveType ? FSource.DriveType(target.toLatin1().toStdString()) : -1;
  const QString current = Comparable(Latin1(FSource.CurrentFolder));
  const bool isCurrent = !chosenFolder.trimmed().isEmpty() && !current.isEmpty() &&
                         (Comparable(target) == current || Comparable(chosenFolder.trimmed()) == current);
  if (chosenFolder.trimmed().isEmpty() || isCurrent || (driveType != DriveRemovable && driveType != DriveOptical)) {
    FAsk.Message(this, TDialogAsk::TKind::Warning, Caption,
                 QStringLiteral("Corvale can only be installed to a removable or optical drive."));
    return false;
  }
  const std::string targetPath = target.toLatin1().toStdString();
  if (!ForceDirectories(targetPath))
    return Fail(QStringLiteral("The folder %1 could not be created: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
  const QString into = target + QChar('/');

  const auto copy = [&](const std::string& from, const QString& name) {
    const QString source = Latin1(from);
    const QString destination = into + name;
    QFile::remove(destination);  // an earlier copy is replaced
    QFile file(source);
    if (!file.copy(destination))
      return Fail(QStringLiteral("%1 could not be copied to %2: %3").arg(source, destination, file.errorString()));
    return true;
  };
  const auto write = [&](const std::function<bool(const std::string&, std::string&)>& writer, const QString& name) {
    std::string error;
    const QString destination = into + name;
    if (!writer(destination.toLatin1().toStdString(), error))
      return Fail(QStringLiteral("%1 could not be written: %2").arg(destination, Latin1(error)));
    return true;
  };

  if (!copy(FSource.ProgramPath, QFileInfo(Latin1(FSource.ProgramPath)).fileName())) return false;
  for (const std::string* sound : {&FSource.OfflineSoundPath, &FSource.OnlineSoundPath})
    if (!sound->empty() && !copy(*sound, QFileInfo(Latin1(*sound)).fileName())) return false;
  if (ckbEmail->isEnabled() && ckbEmail->isChecked() && !write(FSource.WriteEmailConfig, QStringLiteral("EmailConfig.cvl")))
    return false;
  if (ckbActions->isEnabled() && ckbActions->isChecked() && !copy(FSource.ActionsFile, QStringLiteral("Actions.cvl")))
    return false;
  if (ckbHosts->isEnabled() && ckbHosts->isChecked() && !write(FSource.WriteHosts, QStringLiteral("Hosts.cvlh")))
    return false;
  if (ckbPrefs->isEnabled() && ckbPrefs->isChecked() && !write(FSource.WritePreferences, QStringLiteral("Hosts.cvlp")))
    return false;
  if (ckbRDP->isEnabled() && ckbRDP->isChecked() && !copy(FSource.RdpFile, QStringLiteral("default.rdp"))) return false;
  if (FSource.OpenFolder) FSource.OpenFolder(targetPath);
  return true;
}

void TfrmMakeRem::BrowseClick() {
  const std::optional<QString> folder = FAsk.Folder(this, QStringLiteral("Copy / Install To:"), tbFolder->text());
  if (folder) tbFolder->setText(QDir::toNativeSeparators(*folder));
}

void TfrmMakeRem::OKClick() {
  if (CopyTo(tbFolder->text())) accept();
}
