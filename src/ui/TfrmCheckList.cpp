#include "ui/TfrmCheckList.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>

#include "ui/TDialogAsk.h"

namespace {

QListWidgetItem* NewEntry(const QString& text, bool ticked) {
  auto* item = new QListWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
  item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
  return item;
}

}  // namespace

TfrmCheckList::TfrmCheckList(QWidget* owner, const QString& caption, const QString& instruction)
    : QDialog(owner) {
  setObjectName(QStringLiteral("frmCheckList"));
  setWindowTitle(caption.isEmpty() ? QStringLiteral("List Editor") : caption);
  if (owner) setPalette(owner->palette());

  tbAdd = new QLineEdit(this);
  btnAdd = new QPushButton(QStringLiteral("&Add"), this);
  btnReplace = new QPushButton(QStringLiteral("R&eplace"), this);
  List = new QListWidget(this);
  List->setSelectionMode(QAbstractItemView::ExtendedSelection);
  List->setDragDropMode(QAbstractItemView::InternalMove);
  List->setDefaultDropAction(Qt::MoveAction);
  btnRemove = new QPushButton(QStringLiteral("&Remove"), this);
  lblInstruction = new QLabel(instruction.isEmpty() ? QStringLiteral("To add an entry, type it above and click Add.  "
                                                                     "To remove an entry click it then Remove.")
                                                    : instruction,
                              this);
  lblInstruction->setWordWrap(true);
  btnOK = new QPushButton(QStringLiteral("&OK"), this);
  btnCancel = new QPushButton(QStringLiteral("C&ancel"), this);

  auto* grid = new QGridLayout(this);
  grid->addWidget(tbAdd, 0, 0);
  auto* editButtons = new QHBoxLayout;
  editButtons->addWidget(btnAdd);
  editButtons->addWidget(btnReplace);
  grid->addLayout(editButtons, 0, 1);
  grid->addWidget(List, 1, 0, 2, 1);
  grid->addWidget(btnRemove, 1, 1, Qt::AlignTop);
  grid->addWidget(lblInstruction, 3, 0, 1, 2);
  auto* closeButtons = new QHBoxLayout;
  closeButtons->addStretch();
  closeButtons->addWidget(btnOK);
  closeButtons->addWidget(btnCancel);
  grid->addLayout(closeButtons, 4, 0, 1, 2);

  connect(tbAdd, &QLineEdit::textChanged, this, &TfrmCheckList::UpdateButtons);
  connect(List, &QListWidget::itemSelectionChanged, this, &TfrmCheckList::UpdateButtons);
  connect(List, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    tbAdd->setText(item->text());
    FReplaceDefault = true;
    UpdateButtons();
  });
  connect(btnAdd, &QPushButton::clicked, this, &TfrmCheckList::AddClick);
  connect(btnReplace, &QPushButton::clicked, this, &TfrmCheckList::ReplaceClick);
  connect(btnRemove, &QPushButton::clicked, this, &TfrmCheckList::RemoveClick);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  UpdateButtons();
}

void TfrmCheckList::SetEntries(const QStringList& ticked, const QStringList& suggestions) {
  List->clear();
  QSet<QString> shown;
  for (const QString& entry : ticked) {
    const QString text = entry.trimmed();
    if (text.isEmpty()) continue;
    List->addItem(NewEntry(text, true));
    shown.insert(text.toLower());
  }
  for (const QString& entry : suggestions) {
    const QString text = entry.trimmed();
    if (text.isEmpty() || shown.contains(text.toLower())) continue;
    List->addItem(NewEntry(text, false));
    shown.insert(text.toLower());
  }
  UpdateButtons();
}

QStringList TfrmCheckList::TickedEntries() const {
  QStringList ticked;
  for (int i = 0; i < List->count(); ++i)
    if (List->item(i)->checkState() == Qt::Checked) ticked.append(List->item(i)->text());
  return ticked;
}

void TfrmCheckList::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QWidget* owner = parentWidget()) {
    const QRect area = owner->window()->frameGeometry();
    move(area.center() - rect().center());
  }
}

void TfrmCheckList::UpdateButtons() {
  const bool hasText = !tbAdd->text().trimmed().isEmpty();
  btnAdd->setEnabled(hasText);
  btnReplace->setEnabled(hasText && List->currentItem() && !List->selectedItems().isEmpty());
  btnRemove->setEnabled(!List->selectedItems().isEmpty());
  if (!hasText) FReplaceDefault = false;
  // Enter adds what is typed, or replaces the entry being edited after a double-click;
  // with nothing typed it closes the editor.
  if (FReplaceDefault && btnReplace->isEnabled()) SetDefault(btnReplace);
  else if (hasText) SetDefault(btnAdd);
  else SetDefault(btnOK);
}

void TfrmCheckList::SetDefault(QPushButton* button) {
  for (QPushButton* b : {btnAdd, btnReplace, btnOK}) {
    b->setDefault(b == button);
    b->setAutoDefault(b == button);
  }
  btnRemove->setAutoDefault(false);
  btnCancel->setAutoDefault(false);
}

void TfrmCheckList::AddClick() {
  const QString text = tbAdd->text().trimmed();
  if (text.isEmpty()) return;
  auto* item = NewEntry(text, true);
  List->addItem(item);
  List->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
  FReplaceDefault = false;
  tbAdd->clear();
  tbAdd->setFocus();
  UpdateButtons();
}

void TfrmCheckList::ReplaceClick() {
  const QString text = tbAdd->text().trimmed();
  QListWidgetItem* item = List->currentItem();
  if (text.isEmpty() || !item) return;
  item->setText(text);
  FReplaceDefault = false;
  UpdateButtons();
}

void TfrmCheckList::RemoveClick() {
  const QList<QListWidgetItem*> selected = List->selectedItems();
  for (QListWidgetItem* item : selected) delete List->takeItem(List->row(item));
  UpdateButtons();
}

QStringList SplitRecipients(const QString& text) {
  QStringList recipients;
  for (const QString& part : QString(text).replace(QChar(','), QChar(';')).split(QChar(';'))) {
    const QString recipient = part.trimmed();
    if (!recipient.isEmpty()) recipients.append(recipient);
  }
  return recipients;
}

std::optional<QString> EditRecipientList(QWidget* owner, TDialogAsk& ask, const QString& recipients,
                                         const QStringList& others) {
  TfrmCheckList editor(owner, QStringLiteral("Edit Recipient List"),
                       QStringLiteral("Enter each recipient above, either as a bare e-mail address "
                                      "(name@example.com) or as a name followed by the address in angle "
                                      "brackets (Jane Doe <name@example.com>), then click Add.  Only ticked "
                                      "recipients are kept."));
  QStringList suggestions;
  for (const QString& other : others) suggestions += SplitRecipients(other);
  editor.SetEntries(SplitRecipients(recipients), suggestions);
  if (ask.Run(editor) != QDialog::Accepted) return std::nullopt;
  // An entry typed with commas or semicolons holds several recipients.
  return SplitRecipients(editor.TickedEntries().join(QChar(';'))).join(QChar(';'));
}
