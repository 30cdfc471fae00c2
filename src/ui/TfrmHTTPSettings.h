#pragma once
// "HTTP Settings": the URL, credentials, method and variables of an HTTP request (the
// HTTP test or a notification of a host), and for tests the page-change threshold and
// its recipients.
#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

#include "hosttests/THTTPReq.h"

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TDialogAsk;
class TVarsMenu;

class TfrmHTTPSettings : public QDialog {
  Q_OBJECT
public:
  // pageChangeTab: the request is a test (the page-change tab is shown).
  // knownRecipients: every address already in any host's offline or online recipients.
  TfrmHTTPSettings(const THTTPReq& request, bool pageChangeTab, QStringList knownRecipients, TDialogAsk& ask,
                   QWidget* parent = nullptr);

  // The edited request (after OK, with its edited flag set).
  THTTPReq Request() const;

  // Whether the URL box may be left; warns and returns the focus to it when not.
  bool CheckURL();

  QLineEdit* tbURL;
  QLineEdit* tbUsername;
  QLineEdit* tbPassword;
  QTabWidget* pcHTTP;
  QRadioButton* rbGET;
  QRadioButton* rbPost;
  QLineEdit* tbName;
  QLineEdit* tbValue;
  QPushButton* btnAdd;
  QListWidget* lbVars;
  QPushButton* btnDelete;
  QComboBox* cbChange;
  QLineEdit* cbAlertTo;
  QPushButton* btnHostDown;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  TVarsMenu* pmVars;

  // The recipient list editor behind btnHostDown (EditRecipientList): the new box
  // text, nothing when cancelled.
  std::function<std::optional<QString>(QWidget* owner, TDialogAsk& ask, const QString& recipients,
                                       const QStringList& others)>
      RecipientEditor;

  void accept() override;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void UpdateAdd();
  void AddVariable();
  void LoadVariable();
  void DeleteVariable();
  void EditRecipients();

  THTTPReq FRequest;
  QStringList FKnownRecipients;
  TDialogAsk& FAsk;
  bool FWarning = false;
};

// Opens "HTTP Settings" for the request; true on OK (request changed, edited flag set).
bool EditHTTPSettings(QWidget* parent, TDialogAsk& ask, THTTPReq& request, bool pageChangeTab,
                      const QStringList& knownRecipients);
