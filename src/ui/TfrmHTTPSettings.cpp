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

#include "core/HTTPSettingsRules.h"
#include "ui/TDialogAsk.h"
#include "ui/TVarsMenu.h"
#include "ui/TfrmCheckList.h"

namespace {
QString L1(const std::string& text) { return QString::fromLatin1(text); }
std::string L1(const QString& text) { return text.toLatin1().toStdString(); }

// Whether the focus really leaves the URL box for another control of the dialog: not
// when another window or a pop-up menu takes it for a while, and not for Cancel, which
// throws the URL away.
bool LeavesURLBox(Qt::FocusReason reason, const QWidget* cancel) {
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return false;
  return !cancel->hasFocus();
}
}  // namespace

TfrmHTTPSettings::TfrmHTTPSettings(const THTTPReq& request, bool pageChangeTab, QStringList knownRecipients,
                                   TDialogAsk& ask, QWidget* parent)
    : QDialog(parent), RecipientEditor(EditRecipientList), FRequest(request), FKnownRecipients(std::move(knownRecipients)), FAsk(ask) {
  setWindowTitle(tr("HTTP Settings"));

  tbURL = new QLineEdit(L1(request.URL));
  tbUsername = new QLineEdit(L1(request.UserName));
  tbPassword = new QLineEdit(L1(request.Password));
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
    if (!entry.empty()) lbVars->addItem(L1(entry));
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
  for (const std::string& entry : ChangeThresholdEntries()) cbChange->addItem(L1(entry));
  cbChange->setEditText(L1(ChangeThresholdText(request.ChangeThreshold)));
  cbAlertTo = new QLineEdit(L1(request.ChangeRecipients));
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

  tbURL->installEventFilter(this);
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

bool TfrmHTTPSettings::CheckURL() {
  if (HTTPURLAccepted(L1(tbURL->text()))) return true;
  if (FWarning) return false;
  FWarning = true;
  FAsk.Message(this, TDialogAsk::TKind::Warning, windowTitle(), QString::fromLatin1(HTTPURLWarning));
  FWarning = false;
  // Back into the box once the focus change that left it has finished.
  QTimer::singleShot(0, tbURL, [edit = tbURL] { edit->setFocus(); });
  return false;
}

bool TfrmHTTPSettings::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tbURL && event->type() == QEvent::FocusOut) {
    if (LeavesURLBox(static_cast<QFocusEvent*>(event)->reason(), btnCancel) && !FWarning) CheckURL();
  } else if (watched == tbValue && event->type() == QEvent::KeyPress) {
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
  btnAdd->setEnabled(CanAddHTTPVariable(L1(tbName->text()), L1(tbValue->text())));
}

void TfrmHTTPSettings::AddVariable() {
  if (!btnAdd->isEnabled()) return;
  std::vector<std::string> entries;
  for (int i = 0; i < lbVars->count(); ++i) entries.push_back(L1(lbVars->item(i)->text()));
  SetHTTPVariable(entries, L1(tbName->text()), L1(tbValue->text()));
  lbVars->clear();
  for (const std::string& entry : entries) lbVars->addItem(L1(entry));
  tbName->clear();
  tbValue->clear();
  tbName->setFocus();
}

void TfrmHTTPSettings::LoadVariable() {
  const QListWidgetItem* item = lbVars->currentItem();
  if (!item) return;
  const std::string entry = L1(item->text());
  tbName->setText(L1(HTTPVariableName(entry)));
  tbValue->setText(L1(HTTPVariableValue(entry)));
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
  FRequest.URL = L1(tbURL->text());
  FRequest.UserName = L1(tbUsername->text());
  FRequest.Password = L1(tbPassword->text());
  FRequest.Post = rbPost->isChecked();
  std::vector<std::string> entries;
  for (int i = 0; i < lbVars->count(); ++i) entries.push_back(L1(lbVars->item(i)->text()));
  FRequest.Variables = JoinHTTPVariables(entries);
  FRequest.ChangeThreshold = ParseChangeThreshold(L1(cbChange->currentText()));
  FRequest.ChangeRecipients = L1(cbAlertTo->text());
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
