#pragma once
// Two forms of one account window:
// - "Corvale Service Account": the account the service is installed under, asked before
//   the service program runs (elevated, it could not show a window on this desktop). A
//   systemd unit runs as a system user without a password, so there is no password box.
// - "Network Authorization": the credentials for a connection to another computer,
//   asked again after every refused attempt, the refusal in the status bar.
#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QStatusBar;
class TDialogAsk;

class TfrmNetAuth : public QDialog {
  Q_OBJECT
public:
  explicit TfrmNetAuth(QWidget* parent = nullptr);

  // What a user name or password box holds for "none: the current credentials".
  static constexpr const char* DefaultText = "<Default>";
  // One connection attempt: 0 or the Windows code; connection is the name to
  // disconnect later.
  using TConnect = std::function<int(const std::string& remoteName, const std::string& user,
                                     const std::string& password, std::string& connection)>;
  // The platform's connection, made off the main thread (whose events go on meanwhile).
  static TConnect NetworkConnect();

  // The network authorization form for "\\computer\resource": the user name and
  // password shown (empty ones as DefaultText). OK tries connect with what the boxes
  // hold and closes only when it succeeds.
  TfrmNetAuth(const std::string& remoteName, const std::string& user, const std::string& password, TConnect connect,
              QWidget* parent = nullptr);

  // Connects to the remote name with the credentials, asking for them when either is
  // missing: first with the current credentials, then with what the user enters, until
  // an attempt succeeds or the user cancels. A refusal of credentials given in full is
  // warned about ("Authentication Failure: " + the error text). 0 or the last code.
  static int ConnectInteractive(QWidget* parent, TDialogAsk& ask, const std::string& remoteName,
                                const std::string& user, const std::string& password, std::string& connectionName,
                                TConnect connect = NetworkConnect());
  int LastCode() const { return FLastCode; }
  const std::string& ConnectionName() const { return FConnectionName; }

  // The package's user "corvale" where it exists, else the user running this program.
  static std::string ProposedAccount();
  // The switches for "corvale-service /INSTALL" that install what the dialog shows.
  std::string InstallSwitches() const;

  QComboBox* tbUsername;
  QCheckBox* ckbStartup = nullptr;   // "Load Corvale Service at Startup" (service account)
  QCheckBox* ckbLocalSys = nullptr;  // "Load under Local System account" (service account)
  QLineEdit* tbComputer = nullptr;   // network authorization only, as the two below
  QLineEdit* tbPassword = nullptr;
  QStatusBar* sbStatus = nullptr;
  QPushButton *btnOk, *btnCancel;

private:
  void UpdateEnabling();
  void OkClick();
  void TryConnect();
  void AddButtons();

  TConnect FConnect;
  std::string FRemoteName, FConnectionName;
  int FLastCode = 0;
};
