#include "ui/TLogView.h"

#include "ui/Latin1Text.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QVBoxLayout>

#include <algorithm>

#include "alerts/TAlerts.h"
#include "common/NetText.h"
#include "common/SystemInfo.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "ui/TLogLineModel.h"
#include "ui/TLogListView.h"
#include "ui/TfrmQuickMsg.h"

namespace {


}  // namespace

TLogView::TLogView(TMonitor& monitor, QWidget* parent) : QWidget(parent), FMonitor(monitor) {
  setObjectName("LogView");
  FModel = new TLogLineModel(monitor.Log(), TLogLineModel::PageLines, this);

  cbLogFilter = new QComboBox(this);
  cbLogFilter->setObjectName("cbLogFilter");
  cbLogFilter->setEditable(false);
  cbLogFilter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  lbLog = new TLogListView(this);
  lbLog->setObjectName("lbLog");
  lbLog->SetLogModel(FModel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(cbLogFilter, 0, Qt::AlignLeft);
  layout->addWidget(lbLog, 1);

  pmLog = new QMenu(this);
  pmLog->setObjectName("pmLog");
  FCopy = pmLog->addAction(tr("Copy"), this, &TLogView::CopyClick);
  FExport = pmLog->addAction(tr("Export to File..."), this, &TLogView::ExportClick);
  FSend = pmLog->addAction(tr("Send via Email..."), this, &TLogView::SendClick);
  lbLog->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lbLog, &QWidget::customContextMenuRequested, this, &TLogView::ShowMenu);
  // The menu's enabling follows the selection, so its keys work only with lines to act on.
  FCopy->setShortcut(QKeySequence::Copy);
  FCopy->setShortcutContext(Qt::WidgetShortcut);
  lbLog->addAction(FCopy);
  const auto updateActions = [this] {
    const bool any = lbLog->selectionModel()->hasSelection();
    for (QAction* a : {FCopy, FExport, FSend}) a->setEnabled(any);
  };
  connect(lbLog->selectionModel(), &QItemSelectionModel::selectionChanged, this, updateActions);
  connect(FModel, &QAbstractItemModel::modelReset, this, updateActions);

  connect(cbLogFilter, &QComboBox::activated, this, &TLogView::cbLogFilterClick);
  connect(FModel, &TLogLineModel::HostsChanged, this, &TLogView::RebuildFilterList);
  connect(&monitor, &TMonitor::LogLineAdded, FModel, &TLogLineModel::LineAdded);
  connect(&monitor, &TMonitor::ShutdownStarting, FModel, &TLogLineModel::Clear);
  FModel->Refill();
  updateActions();
}

void TLogView::Refresh() { FModel->Sync(); }

void TLogView::cbLogFilterClick() {
  const int index = cbLogFilter->currentIndex();
  FModel->SetHostFilter(index <= 0 ? std::string() : cbLogFilter->currentText().toLatin1().toStdString());
}

bool TLogView::ShowHost(const std::string& logLabel) {
  FModel->Sync();
  if (!FModel->HasHost(logLabel)) return false;
  FModel->SetHostFilter(logLabel);
  return true;
}

bool TLogView::ViewInLog(const std::string& logLabel) {
  if (ShowHost(logLabel)) return true;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Corvale"), QString::fromLatin1(HostNotInLog),
                  QMessageBox::Cancel, this);
  box.exec();
  return false;
}

std::string TLogView::FilterHost() const { return FModel->HostFilter(); }

void TLogView::RebuildFilterList() {
  const QString chosen = Latin1(FModel->HostFilter());
  const QSignalBlocker block(cbLogFilter);
  cbLogFilter->clear();
  cbLogFilter->addItem(QString::fromLatin1(AllHosts));
  cbLogFilter->addItems(FModel->Hosts());
  const int at = chosen.isEmpty() ? 0 : cbLogFilter->findText(chosen, Qt::MatchExactly | Qt::MatchCaseSensitive);
  cbLogFilter->setCurrentIndex(std::max(0, at));
}

void TLogView::ShowMenu(const QPoint& at) { pmLog->popup(lbLog->viewport()->mapToGlobal(at)); }

std::string TLogView::SelectionText(const char* lineBreak) const {
  std::string text;
  for (const std::string& line : lbLog->SelectedLines()) text.append(line).append(lineBreak);
  return text;
}

void TLogView::CopyClick() {
  if (!lbLog->selectionModel()->hasSelection()) return;
  QApplication::clipboard()->setText(Latin1(SelectionText("\n")));
}

std::string TLogView::ExportToFile(const QString& fileName) const {
  // A failed write leaves an existing file as it was.
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString().toStdString();
  const std::string text = SelectionText("\r\n");
  if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
      !file.commit())
    return file.errorString().toStdString();
  return {};
}

void TLogView::ExportClick() {
  if (!lbLog->selectionModel()->hasSelection()) return;
  QFileDialog dialog(this, tr("Export to File"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters({tr("Text Files (*.txt)"), tr("All Files (*)")});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const std::string error = ExportToFile(dialog.selectedFiles().constFirst());
  if (!error.empty()) QMessageBox::critical(this, tr("Error"), QString::fromStdString(error));
}

std::vector<std::string> TLogView::RecipientChoices(const THostList& hosts) {
  QStringList texts;
  for (const auto& record : hosts.Records()) {
    texts.append(Latin1(record->OfflineRecipients));
    texts.append(Latin1(record->OnlineRecipients));
  }
  std::vector<std::string> choices;
  for (const QString& address : DistinctRecipients(texts)) choices.push_back(address.toLatin1().toStdString());
  return choices;
}

TLogMail TLogView::MailForSelection() const {
  TLogMail mail;
  mail.Recipients = RecipientChoices(FMonitor.Hosts());
  mail.Recipient = FLastRecipient;
  mail.Subject = "Corvale log on " + LocalComputerName();
  mail.Body = SelectionText("\r\n");
  return mail;
}

bool TLogView::QueueMail(const TLogMail& mail, std::string* error) {
  const auto fail = [error](std::string why) {
    if (error) *error = std::move(why);
    return false;
  };
  if (!IsValidEmailAddress(mail.Recipient)) return fail("\"" + mail.Recipient + "\" is not a valid e-mail address.");
  if (mail.Body.empty()) return fail("There are no lines to send.");
  auto* alerts = dynamic_cast<TAlerts*>(&FMonitor.Alerts());
  if (!alerts) return fail("E-mail alerts are not available in this program.");
  FLastRecipient = mail.Recipient;
  alerts->Queue().QueueAlert(mail.Recipient, mail.Subject, mail.Body, 0, 0, nullptr, 3, -1, false);
  return true;
}

bool TLogView::EditMail(TLogMail& mail) {
  QStringList choices;
  for (const std::string& r : mail.Recipients) choices.append(Latin1(r));
  QString body = Latin1(mail.Body);
  body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  TfrmQuickMsg dialog(choices, TQuickMessage{Latin1(mail.Recipient), Latin1(mail.Subject), body}, this);
  if (dialog.exec() != QDialog::Accepted || !dialog.SendEnabled()) return false;
  const TQuickMessage message = dialog.Message();
  mail.Recipient = message.Recipient.trimmed().toLatin1().toStdString();
  mail.Subject = message.Subject.toLatin1().toStdString();
  mail.Body = QString(message.Body).replace(QStringLiteral("\n"), QStringLiteral("\r\n")).toLatin1().toStdString();
  return true;
}

void TLogView::SendClick() {
  if (!lbLog->selectionModel()->hasSelection()) return;
  SendMail(MailForSelection());
}

void TLogView::SendText(const std::string& subject, const std::string& body) {
  TLogMail mail = MailForSelection();
  mail.Subject = subject;
  mail.Body = body;
  SendMail(std::move(mail));
}

void TLogView::SendMail(TLogMail mail) {
  if (!(FMailDialog ? FMailDialog(mail) : EditMail(mail))) return;
  std::string error;
  if (!QueueMail(mail, &error)) QMessageBox::warning(this, tr("Send via Email"), Latin1(error));
}
