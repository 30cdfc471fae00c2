#pragma once
// "Add Host & Tests": several tests of one computer set up at once (ping, TCP ports,
// services, shares and a web page). The configuration dialog reads the choices after OK
// and makes the host records.
#include <QDialog>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class TDialogAsk;

struct TMultServicesSources {
  // Lists a computer's services (entries "name|display name|state") or shares; false
  // with a system error code. Unset: not available yet (the button shows a hint).
  std::function<bool(const std::string& computer, std::vector<std::string>& list, int& error)> Services, Shares;
};

class TfrmMultServices : public QDialog {
  Q_OBJECT
public:
  TfrmMultServices(TMultServicesSources sources, TDialogAsk& ask, QWidget* parent = nullptr);

  // The host box's drop-down.
  void AddComputerNames(const QStringList& names);

  // The TCP port boxes, ckbHTTP ... ckbIDENT; each carries its port in property "port".
  std::vector<QCheckBox*> PortBoxes() const;
  // The chosen services, "name|display name".
  QStringList Services() const { return FServices; }
  // The chosen shares.
  QStringList Shares() const { return FShares; }

  // Whether the URL box may be left; warns and returns the focus to it when not.
  bool CheckURL();
  // The list selectors of the two buttons.
  void SelectServices();
  void SelectShares();

  QLineEdit* tbDispName;
  QComboBox* cbHost;
  QCheckBox* cbGroup;
  QCheckBox* cbPing;
  QCheckBox *ckbHTTP, *ckbFTP, *ckbHTTPS, *ckbSMTP, *ckbPOP3, *ckbIMAP, *ckbTelnet, *ckbSSH, *ckbRLogin, *ckbRPC,
      *ckbNetBIOS, *ckbIDENT;
  QLineEdit* tbPorts;
  QCheckBox* ckbWeb;
  QLineEdit* tbURL;
  QPushButton* btnServices;
  QPushButton* btnShare;
  QPushButton* btnOK;
  QPushButton* btnCancel;

  void accept() override;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void TestBoxClicked();
  void UpdateOK();
  QString Computer() const;

  TMultServicesSources FSources;
  TDialogAsk& FAsk;
  std::vector<QCheckBox*> FPortBoxes;
  QStringList FServices;
  QStringList FShares;
  int FTickedCount = 0;
  bool FWarning = false;
};
