#pragma once
// "Send Alert Message": a hand-written e-mail for the alert queue. The recipient box
// offers the addresses the hosts alert; Send is enabled only for a valid address, a
// subject and a body.
#include <QDialog>
#include <QStringList>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

struct TQuickMessage {
  QString Recipient;
  QString Subject;
  QString Body;
};

class TfrmQuickMsg : public QDialog {
  Q_OBJECT
public:
  TfrmQuickMsg(const QStringList& recipients, const TQuickMessage& start, QWidget* parent = nullptr);

  TQuickMessage Message() const;
  bool SendEnabled() const;

  QComboBox* cbRecipient;
  QLineEdit* tbSubj;
  QPlainTextEdit* mmoBody;
  QPushButton* btnSend;
  QPushButton* btnCancel;

private:
  void UpdateSend();
};

// Every distinct non-blank address of the texts (each divided by ";"), in first-seen
// order, blanks around an address trimmed.
QStringList DistinctRecipients(const QStringList& recipientTexts);
