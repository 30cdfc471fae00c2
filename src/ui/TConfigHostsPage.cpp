// The page's construction and its host list: filling, selection, adding, removing and
// reordering. The editor lives in TConfigHostsPageEditor.cpp, the dependency lists and
// the choosers in TConfigHostsPageDeps.cpp.
#include "ui/TConfigHostsPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

#include "common/Fields.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "ui/ConfigHostsText.h"
#include "ui/TDialogAsk.h"
#include "ui/TTimeInterval.h"
#include "ui/TVarsMenu.h"
#include "ui/TfrmCheckList.h"

const char* const MultipleValuesText = "(Multiple Values)";

std::string CleanGroupName(const std::string& name) {
  std::string clean;
  for (char c : name) {
    const auto code = static_cast<unsigned char>(c);
    if (code >= 32 && code <= 127 && c != ',') clean.push_back(c);
  }
  return clean;
}

TConfigHostsPage::TConfigHostsPage(THostList& working, TConfigHostsContext context, TDialogAsk& ask,
                                   QWidget* parent)
    : QWidget(parent), FWorking(working), FContext(std::move(context)), FAsk(ask) {
  KeyboardModifiers = [] { return QApplication::keyboardModifiers(); };
  auto* layout = new QHBoxLayout(this);
  auto* listPanel = new QWidget(this);
  BuildList(listPanel);
  FEditor = new QWidget(this);
  BuildEditor(FEditor);
  layout->addWidget(listPanel, 2);
  layout->addWidget(FEditor, 3);
  ConnectEditor();
  FillList();
  LoadEditor();
}

TConfigHostsPage::~TConfigHostsPage() {
  // The children outlive this part of the page: what they signal while they go must not
  // reach it.
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

void TConfigHostsPage::BuildList(QWidget* panel) {
  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  lbHosts = new QListWidget(panel);
  lbHosts->setObjectName("lbHosts");
  lbHosts->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lbHosts->setDragDropMode(QAbstractItemView::InternalMove);
  lbHosts->setDefaultDropAction(Qt::MoveAction);
  lbHosts->setDropIndicatorShown(true);
  lbHosts->setAutoScroll(true);
  lbHosts->installEventFilter(this);
  layout->addWidget(lbHosts, 1);

  auto* buttons = new QHBoxLayout;
  ddAdd = new QToolButton(panel);
  ddAdd->setObjectName("ddAdd");
  ddAdd->setText(tr("Add"));
  ddAdd->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(ddAdd);
  actAddHost = menu->addAction(tr("Add Host"), this, &TConfigHostsPage::AddHost);
  actCopyHost = menu->addAction(tr("Copy Host"), this, &TConfigHostsPage::CopyHost);
  actCopyMultiple = menu->addAction(tr("Copy Host (Multiple)"), this, &TConfigHostsPage::CopyHostMultiple);
  actAddGroup = menu->addAction(tr("Add Group"), this, &TConfigHostsPage::AddGroup);
  actAddSingle = menu->addAction(tr("Add Single Host"), this, &TConfigHostsPage::AddSingleHost);
  ddAdd->setMenu(menu);
  btnRemove = new QPushButton(tr("Remove"), panel);
  btnRemove->setObjectName("btnRemove");
  buttons->addWidget(ddAdd);
  buttons->addWidget(btnRemove);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  connect(btnRemove, &QPushButton::clicked, this, &TConfigHostsPage::RemoveSelected);
  connect(lbHosts, &QListWidget::itemSelectionChanged, this, &TConfigHostsPage::ListSelectionChanged);
  connect(lbHosts, &QListWidget::itemDoubleClicked, this, &TConfigHostsPage::ListDoubleClicked);
  // A drag inside the list moves its lines (as a move, or as an insert and a remove);
  // once the drop is over, the records follow the lines.
  auto queueSync = [this] {
    if (!FBusy) QMetaObject::invokeMethod(this, &TConfigHostsPage::ListRowsMoved, Qt::QueuedConnection);
  };
  connect(lbHosts->model(), &QAbstractItemModel::rowsMoved, this, queueSync);
  connect(lbHosts->model(), &QAbstractItemModel::rowsRemoved, this, queueSync);
}

bool TConfigHostsPage::eventFilter(QObject* watched, QEvent* event) {
  // Ctrl+A is the list's own, whatever shortcut the dialog around it has.
  if (watched == lbHosts && event->type() == QEvent::ShortcutOverride &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::SelectAll)) {
    event->accept();
    return true;
  }
  if (watched == lbHosts && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::SelectAll)) {
    SelectAllHosts();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

TDateTime TConfigHostsPage::NowTime() const { return FContext.Now ? FContext.Now() : Now(); }

QString TConfigHostsPage::LineText(const THost& host) const {
  if (host.IsGroup()) return "----" + Latin1(host.DisplayName.substr(1)) + "----";
  return Latin1(HostLabel(host, FContext.PluginTestNames));
}

void TConfigHostsPage::FillList() {
  FBusy = true;
  lbHosts->clear();
  for (const auto& record : FWorking.Records()) {
    auto* item = new QListWidgetItem(LineText(*record));
    item->setData(IDRole, record->ID);
    lbHosts->addItem(item);
  }
  FBusy = false;
}

int TConfigHostsPage::CurrentLine() const {
  const int row = lbHosts->currentRow();
  return row >= 0 && row < lbHosts->count() ? row : -1;
}

THost* TConfigHostsPage::RecordOfLine(int line) const {
  QListWidgetItem* item = lbHosts->item(line);
  if (!item) return nullptr;
  return FWorking.Items(FWorking.FindByID(item->data(IDRole).toInt()));
}

int TConfigHostsPage::LineOfID(int32_t id) const {
  for (int line = 0; line < lbHosts->count(); ++line)
    if (lbHosts->item(line)->data(IDRole).toInt() == id) return line;
  return -1;
}

std::vector<int> TConfigHostsPage::SelectedLines() const {
  std::vector<int> lines;
  for (int line = 0; line < lbHosts->count(); ++line)
    if (lbHosts->item(line)->isSelected()) lines.push_back(line);
  return lines;
}

void TConfigHostsPage::SelectLines(const std::vector<int>& lines, int current) {
  {
    const QSignalBlocker block(lbHosts);
    lbHosts->clearSelection();
    if (current >= 0 && current < lbHosts->count())
      lbHosts->setCurrentRow(current, QItemSelectionModel::NoUpdate);
    for (int line : lines)
      if (QListWidgetItem* item = lbHosts->item(line)) item->setSelected(true);
    if (current >= 0 && current < lbHosts->count()) lbHosts->scrollToItem(lbHosts->item(current));
  }
  LoadEditor();
}

void TConfigHostsPage::SelectHostIndex(int index) {
  if (!CommitEdits()) return;
  if (lbHosts->count() == 0) {
    SelectLines({}, -1);
    return;
  }
  if (index < 0 || index >= lbHosts->count()) index = 0;
  SelectLines({index}, index);
}

void TConfigHostsPage::SelectAllHosts() {
  if (!CommitEdits()) return;
  std::vector<int> lines;
  for (int line = 0; line < lbHosts->count(); ++line) {
    const THost* record = RecordOfLine(line);
    if (record && !record->IsGroup()) lines.push_back(line);
  }
  SelectLines(lines, lines.empty() ? CurrentLine() : lines.front());
}

void TConfigHostsPage::ListSelectionChanged() {
  if (FBusy) return;
  if (!CommitEdits()) {
    // The edits of the previous selection were refused: it stays selected so that the
    // user can mend them.
    std::vector<int> lines;
    for (int32_t id : FEditIDs) lines.push_back(LineOfID(id));
    const QSignalBlocker block(lbHosts);
    lbHosts->clearSelection();
    for (int line : lines)
      if (QListWidgetItem* item = lbHosts->item(line)) item->setSelected(true);
    return;
  }
  LoadEditor();
}

void TConfigHostsPage::ListDoubleClicked(QListWidgetItem* item) {
  THost* record = item ? RecordOfLine(lbHosts->row(item)) : nullptr;
  if (!record || !CommitEdits()) return;
  if (record->IsGroup()) {
    const auto name = FAsk.Text(this, tr("Rename Group"), tr("Enter the new name for the group"),
                                Latin1(record->DisplayName.substr(1)));
    if (!name) return;
    record->DisplayName = ";" + CleanGroupName(ToLatin1(*name));
    item->setText(LineText(*record));
    return;
  }
  std::vector<int> lines;
  const QString address = Latin1(record->Address);
  for (int line = 0; line < lbHosts->count(); ++line) {
    const THost* other = RecordOfLine(line);
    if (other && !other->IsGroup() && Latin1(other->Address).compare(address, Qt::CaseInsensitive) == 0)
      lines.push_back(line);
  }
  SelectLines(lines, lbHosts->row(item));
}

void TConfigHostsPage::ListRowsMoved() {
  if (FBusy || lbHosts->count() != FWorking.Count()) return;
  bool same = true;
  for (int line = 0; line < lbHosts->count() && same; ++line)
    same = lbHosts->item(line)->data(IDRole).toInt() == FWorking.Items(line)->ID;
  if (same) return;
  CommitEdits();
  THostList::TRecords records = FWorking.ExtractAll();
  for (int line = 0; line < lbHosts->count(); ++line) {
    const int32_t id = lbHosts->item(line)->data(IDRole).toInt();
    for (auto& record : records)
      if (record && record->ID == id) FWorking.Add(std::move(record));
  }
  // Whatever the lines did not name stays in the list, at the end.
  for (auto& record : records)
    if (record) FWorking.Add(std::move(record));
  FillListKeepingSelection();
}

void TConfigHostsPage::FillListKeepingSelection() {
  std::set<int32_t> selected;
  for (int line : SelectedLines()) selected.insert(lbHosts->item(line)->data(IDRole).toInt());
  const int32_t current = CurrentLine() >= 0 ? lbHosts->item(CurrentLine())->data(IDRole).toInt() : -1;
  FillList();
  std::vector<int> lines;
  int currentLine = -1;
  for (int line = 0; line < lbHosts->count(); ++line) {
    const int32_t id = lbHosts->item(line)->data(IDRole).toInt();
    if (selected.count(id)) lines.push_back(line);
    if (id == current) currentLine = line;
  }
  SelectLines(lines, currentLine);
}

void TConfigHostsPage::UpdateAddActions() {
  const bool one = SelectedLines().size() == 1;
  actCopyHost->setEnabled(one);
  actCopyMultiple->setEnabled(one);
  btnRemove->setEnabled(!SelectedLines().empty());
}

int32_t TConfigHostsPage::FreshID() {
  int32_t id;
  do id = FWorking.NewID(FContext.Live);
  while (std::find(FPendingIDs.begin(), FPendingIDs.end(), id) != FPendingIDs.end());
  FPendingIDs.push_back(id);
  return id;
}

std::unique_ptr<THost> TConfigHostsPage::NewHost(const std::string& name, const std::string& address) {
  std::unique_ptr<THost> record = FWorking.NewRecord(NowTime());
  record->ID = FreshID();
  record->DisplayName = name;
  record->Address = address;
  return record;
}

void TConfigHostsPage::InsertRecords(std::vector<std::unique_ptr<THost>> records, int position) {
  FPendingIDs.clear();
  if (records.empty()) return;
  if (position < 0) position = CurrentLine() >= 0 ? CurrentLine() + 1 : lbHosts->count();
  position = std::clamp(position, 0, lbHosts->count());
  FBusy = true;
  std::vector<int> lines;
  for (auto& record : records) {
    const int line = position + static_cast<int>(lines.size());
    auto* item = new QListWidgetItem(LineText(*record));
    item->setData(IDRole, record->ID);
    FWorking.Insert(line, std::move(record));
    lbHosts->insertItem(line, item);
    lines.push_back(line);
  }
  FBusy = false;
  SelectLines(lines, lines.front());
}

void TConfigHostsPage::AddHost() {
  if (!CommitEdits()) return;
  TfrmMultServices dialog(FContext.Sources, FAsk, this);
  QStringList names;
  for (int i = 0; i < tbHostname->count(); ++i)
    if (!tbHostname->itemData(i, MarkerRole).toBool()) names << tbHostname->itemText(i);
  dialog.AddComputerNames(names);
  FOpenMultServices = &dialog;
  const int result = FAsk.Run(dialog);
  FOpenMultServices = nullptr;
  if (result != QDialog::Accepted) return;

  const std::string address = ToLatin1(dialog.cbHost->currentText().trimmed());
  std::string name = ToLatin1(dialog.tbDispName->text().trimmed());
  if (name.empty()) name = address;
  std::vector<std::unique_ptr<THost>> records;
  if (dialog.cbGroup->isChecked()) records.push_back(NewHost(";" + CleanGroupName(name), {}));
  if (dialog.cbPing->isChecked()) records.push_back(NewHost(name + " (Ping)", address));
  auto addTCP = [&](const std::string& label, int port) {
    auto record = NewHost(name + " (" + label + ")", address);
    record->TestKind = TestTCP;
    record->Port = port;
    records.push_back(std::move(record));
  };
  for (QCheckBox* box : dialog.PortBoxes()) {
    if (!box->isChecked()) continue;
    QString caption = box->text();
    const int server = caption.indexOf("Server");
    if (server >= 0) caption.truncate(server);
    addTCP(ToLatin1(caption.trimmed()), box->property("port").toInt());
  }
  for (const QString& piece : dialog.tbPorts->text().split(',')) {
    bool ok = false;
    const int port = piece.trimmed().toInt(&ok);
    // A piece that is no port number (empty between commas, or out of range) adds nothing.
    if (ok && port >= 1 && port <= 65535) addTCP(std::to_string(port), port);
  }
  for (const QString& service : dialog.Services()) {
    const std::string entry = ToLatin1(service);
    auto record = NewHost(name + " (" + entry.substr(0, entry.find('|')) + ")", address);
    record->TestKind = TestService;
    record->Service = entry;
    records.push_back(std::move(record));
  }
  for (const QString& share : dialog.Shares()) {
    auto record = NewHost(name + " (" + ToLatin1(share) + ")", address);
    record->TestKind = TestShare;
    record->SharePath = ToLatin1(share);
    records.push_back(std::move(record));
  }
  const QString url = dialog.tbURL->text().trimmed();
  if (dialog.ckbWeb->isChecked() && !url.isEmpty()) {
    auto record = NewHost(name + " (HTTP Content)", address);
    record->TestKind = TestHTTP;
    record->HTTPTest.URL = ToLatin1(url);
    records.push_back(std::move(record));
  }
  {
    const QSignalBlocker block(lbHosts);
    lbHosts->clearSelection();
  }
  InsertRecords(std::move(records));
}

void TConfigHostsPage::CopyHost() {
  const std::vector<int> lines = SelectedLines();
  if (!CommitEdits()) return;
  const THost* source = lines.size() == 1 ? RecordOfLine(lines.front()) : nullptr;
  std::vector<std::unique_ptr<THost>> records;
  if (source && !source->IsGroup()) {
    auto copy = std::make_unique<THost>();
    FWorking.CopyRecord(*source, *copy, false, NowTime());
    copy->ID = FreshID();
    copy->DisplayName = "Copy of " + source->DisplayName;
    records.push_back(std::move(copy));
  } else {
    records.push_back(NewHost({}, {}));
  }
  InsertRecords(std::move(records));
}

void TConfigHostsPage::CopyHostMultiple() {
  const std::vector<int> lines = SelectedLines();
  if (!CommitEdits()) return;
  const THost* source = lines.size() == 1 ? RecordOfLine(lines.front()) : nullptr;
  if (!source || source->IsGroup()) return;
  TfrmCheckList dialog(this, tr("Add Multiple Hosts"), tr("Enter host addresses above"));
  if (FAsk.Run(dialog) != QDialog::Accepted) return;
  std::vector<std::unique_ptr<THost>> records;
  for (const QString& line : dialog.TickedEntries()) {
    const std::string address = ToLatin1(line.trimmed());
    if (address.empty()) continue;
    auto copy = std::make_unique<THost>();
    FWorking.CopyRecord(*source, *copy, false, NowTime());
    copy->ID = FreshID();
    copy->DisplayName = address;
    copy->Address = address;
    copy->CurrentIP.clear();
    records.push_back(std::move(copy));
  }
  InsertRecords(std::move(records));
}

void TConfigHostsPage::AddGroup() {
  if (!CommitEdits()) return;
  const auto name = FAsk.Text(this, tr("New Group"), tr("Enter a name for a group"));
  if (!name) return;
  const int current = CurrentLine();
  int position = current < 0 ? lbHosts->count() : current;
  if (current >= 0 && current == lbHosts->count() - 1) position = current + 1;
  std::vector<std::unique_ptr<THost>> records;
  records.push_back(NewHost(";" + CleanGroupName(ToLatin1(*name)), {}));
  InsertRecords(std::move(records), position);
}

void TConfigHostsPage::AddSingleHost() {
  if (!CommitEdits()) return;
  std::vector<std::unique_ptr<THost>> records;
  records.push_back(NewHost({}, {}));
  InsertRecords(std::move(records));
}

void TConfigHostsPage::RemoveSelected() {
  const std::vector<int> lines = SelectedLines();
  if (lines.empty() || !CommitEdits()) return;
  const QString what = lines.size() == 1 ? tr("the selected host") : QString::number(lines.size()) + tr(" hosts");
  if (FAsk.Message(this, TDialogAsk::TKind::Question, tr("Remove"),
                   tr("Are you sure you wish to remove ") + what + "?", QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::No) != QMessageBox::Yes)
    return;
  FBusy = true;
  FEditIDs.clear();
  std::vector<std::string> removedIDs;
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    std::unique_ptr<THost> record = FWorking.Extract(*line);
    delete lbHosts->takeItem(*line);
    if (!record) continue;
    removedIDs.push_back(record->IDText());
    THostList::FreeRecord(std::move(record));
  }
  // A parent that left the list is no parent any more.
  for (const auto& record : FWorking.Records())
    for (const std::string& id : removedIDs)
      if (ListHasItem(record->Parents, id, ';')) record->Parents = CleanDelimited(ListRemoveItem(record->Parents, id, ';'));
  FWorking.RecomputeAllAncestors();
  FBusy = false;
  const int next = std::min(lines.back() - static_cast<int>(lines.size()) + 1, lbHosts->count() - 1);
  if (next >= 0)
    SelectLines({next}, next);
  else
    SelectLines({}, -1);
}

void TConfigHostsPage::AddComputerNames(const QStringList& names) {
  {
    const QSignalBlocker block(tbHostname);
    const QString text = tbHostname->currentText();
    for (const QString& name : names)
      if (tbHostname->findText(name, Qt::MatchFixedString) < 0) tbHostname->addItem(name);
    tbHostname->setEditText(text);
  }
  if (FOpenMultServices) FOpenMultServices->AddComputerNames(names);
}

QStringList TConfigHostsPage::KnownRecipients() const {
  QStringList known;
  for (const auto& record : FWorking.Records()) {
    for (const std::string* list : {&record->OfflineRecipients, &record->OnlineRecipients}) {
      for (const QString& piece : Latin1(*list).split(QRegularExpression("[,;]"))) {
        const QString recipient = piece.trimmed();
        if (!recipient.isEmpty() && !known.contains(recipient, Qt::CaseInsensitive)) known << recipient;
      }
    }
  }
  return known;
}
