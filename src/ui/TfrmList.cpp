#include "ui/TfrmList.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Marked rows keep the flag where a caller (and a test) can read it, not only the font.
constexpr int MarkedRole = Qt::UserRole + 1;
}  // namespace

TfrmList::TfrmList(QWidget* parent, const QString& instruction) : QDialog(parent) {
  setWindowTitle(tr("List Selector"));
  lblInstruction = new QLabel(instruction);
  lblInstruction->setWordWrap(true);
  lblInstruction->setVisible(!instruction.isEmpty());
  List = new QListWidget;
  auto* buttons = new QDialogButtonBox;
  btnOK = buttons->addButton(QDialogButtonBox::Ok);
  btnCancel = buttons->addButton(QDialogButtonBox::Cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblInstruction);
  layout->addWidget(List);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  resize(420, 360);
}

void TfrmList::SetEntries(const std::vector<TEntry>& entries) {
  List->clear();
  for (const TEntry& entry : entries) {
    auto* item = new QListWidgetItem(entry.Text, List);
    item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
    item->setCheckState(entry.Ticked ? Qt::Checked : Qt::Unchecked);
    item->setData(MarkedRole, entry.Marked);
    if (entry.Marked) {
      QFont font = item->font();
      font.setBold(true);
      item->setFont(font);
    }
  }
}

std::vector<int> TfrmList::TickedRows() const {
  std::vector<int> rows;
  for (int i = 0; i < List->count(); ++i)
    if (List->item(i)->checkState() == Qt::Checked) rows.push_back(i);
  return rows;
}

bool TfrmList::IsMarked(int row) const {
  const QListWidgetItem* item = List->item(row);
  return item && item->data(MarkedRole).toBool();
}
