#pragma once
// "Restart Computer" / "Shutdown Computer": the question before the request, with the
// message the computer shows, its count-down and whether applications are closed by
// force; "Abort Shutdown" cancels a count-down that is running instead. For this
// computer only the question remains: logind acts at once.
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TfrmRemoteShutdown : public QDialog {
  Q_OBJECT
public:
  // The dialog's result for "Abort Shutdown" (Accepted: send the request).
  static constexpr int AbortResult = 2;

  TfrmRemoteShutdown(bool restart, const QString& address, bool thisComputer, const QString& message,
                     QWidget* parent = nullptr);

  QString Message() const;
  int TimeoutSeconds() const;
  bool Force() const;

  QLabel* lbQuestion;
  QLineEdit* edMessage;
  QSpinBox* seTimeout;
  QCheckBox* ckbForce;
  QPushButton *btnYes, *btnNo, *btnAbort;
};
