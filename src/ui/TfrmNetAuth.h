#pragma once
// "Corvale Service Account": the account the service is installed under, asked before
// the service program runs (elevated, it could not show a window on this desktop).
// A systemd unit runs as a system user without a password, so there is no password box.
#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QPushButton;

class TfrmNetAuth : public QDialog {
  Q_OBJECT
public:
  explicit TfrmNetAuth(QWidget* parent = nullptr);

  // The package's user "corvale" where it exists, else the user running this program.
  static std::string ProposedAccount();
  // The switches for "corvale-service /INSTALL" that install what the dialog shows.
  std::string InstallSwitches() const;

  QComboBox* tbUsername;
  QCheckBox* ckbStartup;    // "Load Corvale Service at Startup"
  QCheckBox* ckbLocalSys;   // "Load under Local System account"
  QPushButton *btnOk, *btnCancel;

private:
  void UpdateEnabling();
  void OkClick();
};
