#include "ui/TfrmHTTPSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/HTTPSettingsRules.h"
#include "ui/Latin1Text.h"
#include "ui/TDialogAsk.h"
#include "ui/TURLBoxCheck.h"
#include "ui/TVarsMenu.h"
#include "ui/TfrmCheckList.h"

TfrmHTTPSettings::TfrmHTTPSettings(const THTTPReq& request, bool pageChangeTab, QStringList knownRecipients,
                                   TDialogAsk& ask, QWidget* parent)
    : QDialog(parent), RecipientEditor(EditRecipientList), FRequest(request), FKnownRecipients(std::move(knownRecipients)), FAsk(ask) {
  setWindowTitle(tr("HTTP Settings"));

  tbURL = new QLineEdit(Latin1(request.URL));
  tbUsername = new QLineEdit(Latin1(request.UserName));
  tbPassword = new QLineEdit(Latin1(request.Password));
  tbPassword->setEchoMode(QLineEdit::Password);
  auto* top = new QFormLayout;
  top->addRow(tr("HTTP URL:"), tbURL);
  top->addRow(tr("Username:"), tbUsername);
  top->addRow(tr("Password:"), tbPassword);

  // Upload parameters: the method and the variables, one "name=value" entry a line.
  auto* upload = new QWidget;
  rbGET = new QRadioButton(tr("GET"));
  rbPost = new QRadioButton(tr("POST"));
  (request.Post ? rbPost : rbGET)->setChecked(true);
  tbName = new QLineEdit;
  tbValue = new QLineEdit;
  btnAdd = new QPushButton(tr("Add"));
  btnAdd->setAutoDefault(false);
  lbVars = new QListWidget;
  for (const std::string& entry : SplitHTTPVariables(request.Variables))
    if (!entry.empty()) lbVars->addItem(Latin1(entry));
  btnDelete = new QPushButton(tr("Delete"));
  btnDelete->setAutoDefault(false);
  auto* method = new QHBoxLayout;
  method->addWidget(rbGET);
  method->addWidget(rbPost);
  method->addStretch();
  auto* grid = new QGridLayout(upload);
  grid->addLayout(method, 0, 0, 1, 3);
  grid->addWidget(new QLabel(tr("Name:")), 1, 0);
  grid->addWidget(new QLabel(tr("Value:")), 1, 1);
  grid->addWidget(tbName, 2, 0);
  grid->addWidget(tbValue, 2, 1);
  grid->addWidget(btnAdd, 2, 2);
  grid->addWidget(lbVars, 3, 0, 1, 2);
  grid->addWidget(btnDelete, 3, 2, Qt::AlignTop);

  // Page change: the threshold in percent and who hears of a change.
  auto* change = new QWidget;
  cbChange = new QComboBox;
  cbChange->setEditable(true);
  cbChange->setInsertPolicy(QComboBox::NoInsert);
  for (const std::string& entry : ChangeThresholdEntries()) cbChange->addItem(Latin1(entry));
  cbChange->setEditText(Latin1(ChangeThresholdText(request.ChangeThreshold)));
  cbAlertTo = new QLineEdit(Latin1(request.ChangeRecipients));
  btnHostDown = new QPushButton(tr("..."));
  btnHostDown->setAutoDefault(false);
  auto* recipients = new QHBoxLayout;
  recipients->addWidget(cbAlertTo);
  recipients->addWidget(btnHostDown);
  auto* changeForm = new QFormLayout(change);
  changeForm->addRow(tr("If page changes more than:"), cbChange);
  changeForm->addRow(tr("Send an alert to:"), recipients);

  pcHTTP = new QTabWidget;
  pcHTTP->addTab(upload, tr("Upload Parameters"));
  pcHTTP->addTab(change, tr("Page Change"));
  // Notifications have no page to compare.
  pcHTTP->setTabVisible(1, pageChangeTab);

  auto* buttons = new QDialogButtonBox;
  btnOK = buttons->addButton(QDialogButtonBox::Ok);
  btnCancel = buttons->addButton(QDialogButtonBox::Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(pcHTTP);
  layout->addWidget(buttons);

  pmVars = new TVarsMenu(TVarsMenu::TKind::Vars, this);
  pmVars->Attach(tbName);
  pmVars->Attach(tbValue);

  FURLCheck = new TURLBoxCheck(tbURL, btnCancel, FAsk);
  tbValue->installEventFilter(this);
  connect(tbName, &QLineEdit::textChanged, this, &TfrmHTTPSettings::UpdateAdd);
  connect(tbValue, &QLineEdit::textChanged, this, &TfrmHTTPSettings::UpdateAdd);
  connect(btnAdd, &QPushButton::clicked, this, &TfrmHTTPSettings::AddVariable);
  connect(lbVars, &QListWidget::itemDoubleClicked, this, &TfrmHTTPSettings::LoadVariable);
  connect(btnDelete, &QPushButton::clicked, this, &TfrmHTTPSettings::DeleteVariable);
  connect(btnHostDown, &QPushButton::clicked, this, &TfrmHTTPSettings::EditRecipients);
  connect(buttons, &QDialogButtonBox::accepted, this, &TfrmHTTPSettings::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TfrmHTTPSettings::reject);
  UpdateAdd();
}

bool TfrmHTTPSettings::CheckURL() { return FURLCheck->Check(); }

bool TfrmHTTPSettings::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tbValue && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && btnAdd->isEnabled()) {
      // Enter adds the entry instead of closing the dialog.
      btnAdd->click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmHTTPSettings::UpdateAdd() {
  btnAdd->setEnabled(CanAddHTTPVariable(Latin1(tbName->text()), Latin1(tbValue->text())));
}

void TfrmHTTPSettings::AddVariable() {
  if (!btnAdd->isEnabled()) return;
  std::vector<std::string> entries;
  for (int i = 0; i < lbVars->count(); ++i) entries.push_back(Latin1(lbVars->item(i)->text()));
  SetHTTPVariable(entries, Latin1(tbName->text()), Latin1(tbValue->text()));
  lbVars->clear();
  for (const std::string& entry : entries) lbVars->addItem(Latin1(entry));
  tbName->clear();
  tbValue->clear();
  tbName->setFocus();
}

void TfrmHTTPSettings::LoadVariable() {
  const QListWidgetItem* item = lbVars->currentItem();
  if (!item) return;
  const std::string entry = Latin1(item->text());
  tbName->setText(Latin1(HTTPVariableName(entry)));
  tbValue->setText(Latin1(HTTPVariableValue(entry)));
}

void TfrmHTTPSettings::DeleteVariable() { delete lbVars->currentItem(); }

void TfrmHTTPSettings::EditRecipients() {
  QStringList others = FKnownRecipients;
  for (QString& other : others) other.replace(',', ';');
  const QString current = cbAlertTo->text().replace(',', ';');
  if (!RecipientEditor) return;
  if (const std::optional<QString> edited = RecipientEditor(this, FAsk, current, others)) cbAlertTo->setText(*edited);
}

void TfrmHTTPSettings::accept() {
  // OK with a URL of another scheme would store what leaving the box refuses.
  if (!CheckURL()) return;
  FRequest.URL = Latin1(tbURL->text());
  FRequest.UserName = Latin1(tbUsername->text());
  FRequest.Password = Latin1(tbPassword->text());
  FRequest.Post = rbPost->isChecked();
  std::vector<std::string> entries;
  for (int i = 0; i < lbVars->count(); ++i) entries.push_back(Latin1(lbVars->item(i)->text()));
  FRequest.Variables = JoinHTTPVariables(entries);
  FRequest.ChangeThreshold = ParseChangeThreshold(Latin1(cbChange->currentText()));
  FRequest.ChangeRecipients = Latin1(cbAlertTo->text());
  FRequest.Edited = 1;
  QDialog::accept();
}

THTTPReq TfrmHTTPSettings::Request() const { return FRequest; }

bool EditHTTPSettings(QWidget* parent, TDialogAsk& ask, THTTPReq& request, bool pageChangeTab,
                      const QStringList& knownRecipients) {
  TfrmHTTPSettings dialog(request, pageChangeTab, knownRecipients, ask, parent);
  if (ask.Run(dialog) != QDialog::Accepted) return false;
  request = dialog.Request();
  return true;
}
