#include "ui/TfrmMultServices.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "common/ErrorText.h"
#include "ui/HTTPSettingsRules.h"
#include "ui/Latin1Text.h"
#include "ui/TDialogAsk.h"
#include "ui/TURLBoxCheck.h"
#include "ui/TfrmList.h"

namespace {


// The busy cursor while a list is read, restored however the reading ends.
class TBusyCursor {
public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// The state a service entry ends in ("name|display name|state"); 4 is running.
constexpr int ServiceRunning = 4;

struct TServiceEntry {
  QString Name, DisplayName;
  bool Running = false;
};

TServiceEntry ReadServiceEntry(const std::string& line) {
  const QStringList parts = Latin1(line).split('|');
  TServiceEntry entry;
  entry.Name = parts.value(0);
  entry.DisplayName = parts.size() > 1 ? parts.value(1) : entry.Name;
  bool ok = false;
  entry.Running = parts.size() > 2 && parts.value(2).trimmed().toInt(&ok) == ServiceRunning && ok;
  return entry;
}

}  // namespace

TfrmMultServices::TfrmMultServices(TMultServicesSources sources, TDialogAsk& ask, QWidget* parent)
    : QDialog(parent), FSources(std::move(sources)), FAsk(ask) {
  setWindowTitle(tr("Add Host & Tests"));

  tbDispName = new QLineEdit;
  cbHost = new QComboBox;
  cbHost->setEditable(true);
  cbHost->setInsertPolicy(QComboBox::NoInsert);
  cbGroup = new QCheckBox(tr("Create a group for the above tests"));
  auto* top = new QFormLayout;
  top->addRow(tr("Display Name:"), tbDispName);
  top->addRow(tr("Host:"), cbHost);
  top->addRow(QString(), cbGroup);

  auto* tests = new QGroupBox(tr("Tests"));
  cbPing = new QCheckBox(tr("Ping (basic \"Host is Online\" test)"));
  cbPing->setChecked(true);

  auto* tcp = new QGroupBox(tr("TCP Ports"));
  auto* tcpGrid = new QGridLayout(tcp);
  struct TPortBox {
    QCheckBox** Box;
    const char* Name;
    const char* Caption;
    int Port;
  };
  const TPortBox ports[] = {
      {&ckbHTTP, "ckbHTTP", "Web Server (80)", 80},          {&ckbFTP, "ckbFTP", "FTP Server (21)", 21},
      {&ckbHTTPS, "ckbHTTPS", "Secure Web Server (443)", 443}, {&ckbSMTP, "ckbSMTP", "SMTP Mail Server (25)", 25},
      {&ckbPOP3, "ckbPOP3", "POP3 Mail Server (110)", 110},   {&ckbIMAP, "ckbIMAP", "IMAP Mail Server (143)", 143},
      {&ckbTelnet, "ckbTelnet", "Telnet Server (23)", 23},     {&ckbSSH, "ckbSSH", "SSH Server (22)", 22},
      {&ckbRLogin, "ckbRLogin", "RLogin Server (513)", 513},   {&ckbRPC, "ckbRPC", "RPC Server (135)", 135},
      {&ckbNetBIOS, "ckbNetBIOS", "NetBIOS Server (139)", 139}, {&ckbIDENT, "ckbIDENT", "IDENT Server (113)", 113},
  };
  for (const TPortBox& port : ports) {
    auto* box = new QCheckBox(tr(port.Caption));
    box->setObjectName(QString::fromLatin1(port.Name));
    box->setProperty("port", port.Port);
    *port.Box = box;
    const int index = static_cast<int>(FPortBoxes.size());
    tcpGrid->addWidget(box, index / 2, index % 2);
    FPortBoxes.push_back(box);
  }
  tbPorts = new QLineEdit;
  // Port numbers separated by commas; control keys still edit the box.
  tbPorts->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9,]*")), tbPorts));
  auto* others = new QHBoxLayout;
  others->addWidget(new QLabel(tr("Other ports:")));
  others->addWidget(tbPorts);
  tcpGrid->addLayout(others, static_cast<int>((FPortBoxes.size() + 1) / 2), 0, 1, 2);

  btnServices = new QPushButton(tr("Select Windows Services"));
  btnShare = new QPushButton(tr("Select Windows File Shares"));
  for (QPushButton* button : {btnServices, btnShare}) button->setAutoDefault(false);
  if (!FSources.Services) {
    btnServices->setEnabled(false);
    btnServices->setToolTip(tr("The list becomes available once Corvale can read the services of a computer."));
  }
  if (!FSources.Shares) {
    btnShare->setEnabled(false);
    btnShare->setToolTip(tr("The list becomes available once Corvale can read the shares of a computer."));
  }
  auto* lists = new QHBoxLayout;
  lists->addWidget(btnServices);
  lists->addWidget(btnShare);
  lists->addStretch();

  ckbWeb = new QCheckBox(tr("Web Server Content Test URL:"));
  tbURL = new QLineEdit;
  tbURL->setEnabled(false);
  auto* web = new QHBoxLayout;
  web->addWidget(ckbWeb);
  web->addWidget(tbURL);

  auto* testsLayout = new QVBoxLayout(tests);
  testsLayout->addWidget(cbPing);
  testsLayout->addWidget(tcp);
  testsLayout->addLayout(lists);
  testsLayout->addLayout(web);

  auto* buttons = new QDialogButtonBox;
  btnOK = buttons->addButton(QDialogButtonBox::Ok);
  btnCancel = buttons->addButton(QDialogButtonBox::Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(tests);
  layout->addWidget(buttons);

  for (QCheckBox* box : FPortBoxes) connect(box, &QCheckBox::clicked, this, &TfrmMultServices::TestBoxClicked);
  connect(cbPing, &QCheckBox::clicked, this, &TfrmMultServices::TestBoxClicked);
  connect(ckbWeb, &QCheckBox::clicked, this, &TfrmMultServices::TestBoxClicked);
  connect(ckbWeb, &QCheckBox::toggled, tbURL, &QLineEdit::setEnabled);
  connect(cbHost, &QComboBox::editTextChanged, this, &TfrmMultServices::UpdateOK);
  connect(btnServices, &QPushButton::clicked, this, &TfrmMultServices::SelectServices);
  connect(btnShare, &QPushButton::clicked, this, &TfrmMultServices::SelectShares);
  connect(buttons, &QDialogButtonBox::accepted, this, &TfrmMultServices::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TfrmMultServices::reject);
  FURLCheck = new TURLBoxCheck(tbURL, btnCancel, FAsk);
  UpdateOK();
}

void TfrmMultServices::AddComputerNames(const QStringList& names) {
  const QString text = cbHost->currentText();
  for (const QString& name : names)
    if (!name.isEmpty() && cbHost->findText(name, Qt::MatchFixedString) < 0) cbHost->addItem(name);
  cbHost->setEditText(text);
}

std::vector<QCheckBox*> TfrmMultServices::PortBoxes() const { return FPortBoxes; }

void TfrmMultServices::TestBoxClicked() {
  int count = (cbPing->isChecked() ? 1 : 0) + (ckbWeb->isChecked() ? 1 : 0);
  for (const QCheckBox* box : FPortBoxes) count += box->isChecked() ? 1 : 0;
  // Only crossing between one test and several changes the tick, so the user's own
  // choice stands while the count stays on one side.
  if (count > 1 && FTickedCount <= 1) cbGroup->setChecked(true);
  else if (count <= 1 && FTickedCount > 1) cbGroup->setChecked(false);
  FTickedCount = count;
}

void TfrmMultServices::UpdateOK() { btnOK->setEnabled(!cbHost->currentText().isEmpty()); }

QString TfrmMultServices::Computer() const { return cbHost->currentText().trimmed(); }

bool TfrmMultServices::CheckURL() { return FURLCheck->Check(); }

void TfrmMultServices::accept() {
  if (cbHost->currentText().isEmpty()) return;
  // A web test is made only of a URL that leaving its box would accept.
  if (ckbWeb->isChecked() && !CheckURL()) return;
  QDialog::accept();
}

void TfrmMultServices::SelectServices() {
  if (!FSources.Services) return;
  std::vector<std::string> list;
  int error = 0;
  bool listed = false;
  {
    TBusyCursor busy;
    listed = FSources.Services(Latin1(Computer()), list, error);
  }
  if (!listed) {
    FAsk.Message(this, TDialogAsk::TKind::Error, windowTitle(),
                 tr("The list of services could not be retrieved: ") + Latin1(ErrorText(error)));
    return;
  }
  std::vector<TServiceEntry> services;
  for (const std::string& line : list)
    if (!line.empty()) services.push_back(ReadServiceEntry(line));
  std::stable_sort(services.begin(), services.end(), [](const TServiceEntry& a, const TServiceEntry& b) {
    return a.DisplayName.compare(b.DisplayName, Qt::CaseInsensitive) < 0;
  });
  std::stable_partition(services.begin(), services.end(), [](const TServiceEntry& s) { return s.Running; });

  TfrmList selector(this, tr("Tick the services to test; running services are shown in bold."));
  std::vector<TfrmList::TEntry> entries;
  for (const TServiceEntry& service : services) {
    const QString chosen = service.Name + '|' + service.DisplayName;
    entries.push_back({service.DisplayName + " (" + service.Name + ")", FServices.contains(chosen), service.Running});
  }
  selector.SetEntries(entries);
  if (FAsk.Run(selector) != QDialog::Accepted) return;
  FServices.clear();
  for (const int row : selector.TickedRows()) {
    const QString chosen = services[static_cast<size_t>(row)].Name + '|' + services[static_cast<size_t>(row)].DisplayName;
    if (!FServices.contains(chosen)) FServices.append(chosen);
  }
}

void TfrmMultServices::SelectShares() {
  if (!FSources.Shares) return;
  std::vector<std::string> list;
  int error = 0;
  bool listed = false;
  {
    TBusyCursor busy;
    listed = FSources.Shares(Latin1(Computer()), list, error);
  }
  if (!listed) {
    FAsk.Message(this, TDialogAsk::TKind::Error, windowTitle(),
                 tr("The list of shares could not be retrieved: ") + Latin1(ErrorText(error)));
    return;
  }
  QStringList shares;
  for (const std::string& share : list)
    if (!share.empty() && !shares.contains(Latin1(share))) shares.append(Latin1(share));
  shares.sort(Qt::CaseInsensitive);

  TfrmList selector(this, tr("Tick the shares to test."));
  std::vector<TfrmList::TEntry> entries;
  for (const QString& share : shares) entries.push_back({share, FShares.contains(share), false});
  selector.SetEntries(entries);
  if (FAsk.Run(selector) != QDialog::Accepted) return;
  FShares.clear();
  for (const int row : selector.TickedRows()) FShares.append(shares[row]);
}
