#include "ui/TfrmQuickMsg.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

#include "common/NetText.h"

TfrmQuickMsg::TfrmQuickMsg(const QStringList& recipients, const TQuickMessage& start, QWidget* parent)
    : QDialog(parent) {
  setObjectName("frmQuickMsg");
  setWindowTitle(QStringLiteral("Send Alert Message"));
  cbRecipient = new QComboBox(this);
  cbRecipient->setObjectName("cbRecipient");
  cbRecipient->setEditable(true);
  cbRecipient->setInsertPolicy(QComboBox::NoInsert);
  cbRecipient->addItems(recipients);
  cbRecipient->setEditText(start.Recipient);
  tbSubj = new QLineEdit(start.Subject, this);
  tbSubj->setObjectName("tbSubj");
  mmoBody = new QPlainTextEdit(start.Body, this);
  mmoBody->setObjectName("mmoBody");
  btnSend = new QPushButton(QStringLiteral("&Send"), this);
  btnSend->setObjectName("btnSend");
  btnSend->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  btnCancel->setObjectName("btnCancel");

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("To:"), cbRecipient);
  form->addRow(QStringLiteral("Subject:"), tbSubj);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnSend);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(mmoBody, 1);
  layout->addLayout(buttons);
  resize(460, 320);

  connect(cbRecipient, &QComboBox::editTextChanged, this, &TfrmQuickMsg::UpdateSend);
  connect(tbSubj, &QLineEdit::textChanged, this, &TfrmQuickMsg::UpdateSend);
  connect(mmoBody, &QPlainTextEdit::textChanged, this, &TfrmQuickMsg::UpdateSend);
  connect(btnSend, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  UpdateSend();
}

TQuickMessage TfrmQuickMsg::Message() const {
  return {cbRecipient->currentText(), tbSubj->text(), mmoBody->toPlainText()};
}

bool TfrmQuickMsg::SendEnabled() const {
  // The queue's addresses are single-byte text: anything beyond Latin-1 is not one.
  const QString recipient = cbRecipient->currentText();
  const bool latin1 = std::all_of(recipient.begin(), recipient.end(), [](QChar c) { return c.unicode() < 256; });
  return latin1 && IsValidEmailAddress(recipient.toLatin1().toStdString()) && !tbSubj->text().isEmpty() &&
         !mmoBody->toPlainText().isEmpty();
}

void TfrmQuickMsg::UpdateSend() { btnSend->setEnabled(SendEnabled()); }

QStringList DistinctRecipients(const QStringList& recipientTexts) {
  QStringList result;
  QSet<QString> seen;
  for (const QString& text : recipientTexts)
    for (const QString& part : text.split(QChar(';'))) {
      const QString address = part.trimmed();
      if (address.isEmpty() || seen.contains(address.toLower())) continue;
      seen.insert(address.toLower());
      result.append(address);
    }
  return result;
}
