#include "ui/TfrmRemoteShutdown.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TfrmRemoteShutdown::TfrmRemoteShutdown(bool restart, const QString& address, bool thisComputer,
                                       const QString& message, QWidget* parent)
    : QDialog(parent) {
  const QString verb = restart ? QStringLiteral("Restart") : QStringLiteral("Shutdown");
  setWindowTitle(verb + QStringLiteral(" Computer"));
  setObjectName("frmRemoteShutdown");
  auto* layout = new QVBoxLayout(this);
  lbQuestion = new QLabel(QStringLiteral("Are you sure you wish to ") + verb + QStringLiteral(" computer ") + address +
                              QStringLiteral("?"),
                          this);
  layout->addWidget(lbQuestion);
  auto* form = new QFormLayout;
  edMessage = new QLineEdit(message, this);
  edMessage->setMaxLength(512);
  form->addRow(QStringLiteral("Message:"), edMessage);
  seTimeout = new QSpinBox(this);
  seTimeout->setRange(0, 600);
  seTimeout->setValue(30);
  seTimeout->setSuffix(QStringLiteral(" seconds"));
  form->addRow(QStringLiteral("Time-out:"), seTimeout);
  ckbForce = new QCheckBox(QStringLiteral("Close applications without asking"), this);
  ckbForce->setChecked(true);
  form->addRow(QString(), ckbForce);
  layout->addLayout(form);
  if (thisComputer) {
    // logind restarts at once and closes everything in order: nothing here applies.
    for (QWidget* w : {static_cast<QWidget*>(edMessage), static_cast<QWidget*>(seTimeout),
                       static_cast<QWidget*>(ckbForce)})
      w->setEnabled(false);
    layout->addWidget(new QLabel(QStringLiteral("This computer goes at once, through systemd."), this));
  }
  auto* buttons = new QHBoxLayout;
  btnAbort = new QPushButton(QStringLiteral("Abort Shutdown"), this);
  btnAbort->setEnabled(!thisComputer);
  btnYes = new QPushButton(QStringLiteral("&Yes"), this);
  btnNo = new QPushButton(QStringLiteral("&No"), this);
  btnNo->setDefault(true);
  buttons->addWidget(btnAbort);
  buttons->addStretch();
  buttons->addWidget(btnYes);
  buttons->addWidget(btnNo);
  layout->addLayout(buttons);
  connect(btnYes, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnNo, &QPushButton::clicked, this, &QDialog::reject);
  connect(btnAbort, &QPushButton::clicked, this, [this] { done(AbortResult); });
}

QString TfrmRemoteShutdown::Message() const { return edMessage->text(); }
int TfrmRemoteShutdown::TimeoutSeconds() const { return seTimeout->value(); }
bool TfrmRemoteShutdown::Force() const { return ckbForce->isChecked(); }
