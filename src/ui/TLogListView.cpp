#include "ui/TLogListView.h"

#include <QMessageBox>

#include <algorithm>

#include "ui/THostItemDelegate.h"
#include "ui/TLogLineDelegate.h"
#include "ui/TLogLineModel.h"

TLogListView::TLogListView(QWidget* parent) : QListView(parent) {
  QPalette pal = palette();
  pal.setColor(QPalette::Base, THostItemDelegate::ListColour());
  setPalette(pal);
  setItemDelegate(new TLogLineDelegate(this));
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setUniformItemSizes(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) ShowDetails(index.row());
  });
}

void TLogListView::SetLogModel(TLogLineModel* model) {
  if (FModel) disconnect(FModel, nullptr, this, nullptr);
  FModel = model;
  setModel(model);
  if (!model) return;
  connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, &TLogListView::RowsAboutToBeInserted);
  connect(model, &QAbstractItemModel::rowsInserted, this, &TLogListView::RowsInserted);
  // A refill starts at the newest line.
  connect(model, &QAbstractItemModel::modelReset, this, &TLogListView::SelectLastLine);
  SelectLastLine();
}

void TLogListView::RowsAboutToBeInserted() {
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  const int last = FModel->rowCount() - 1;
  FFollow = selected.isEmpty() ||
            std::any_of(selected.begin(), selected.end(), [last](const QModelIndex& i) { return i.row() == last; });
}

void TLogListView::RowsInserted() {
  if (FFollow) SelectLastLine();
}

void TLogListView::SelectLastLine() {
  if (!FModel || FModel->rowCount() == 0) return;
  const QModelIndex last = FModel->index(FModel->rowCount() - 1);
  selectionModel()->setCurrentIndex(last, QItemSelectionModel::ClearAndSelect);
  scrollTo(last);
}

std::vector<std::string> TLogListView::SelectedLines() const {
  std::vector<std::string> lines;
  if (!FModel) return lines;
  QModelIndexList selected = selectionModel()->selectedRows();
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  lines.reserve(static_cast<std::size_t>(selected.size()));
  for (const QModelIndex& i : selected) lines.push_back(FModel->Line(i.row()));
  return lines;
}

std::string TLogListView::DetailsText(const std::string& line) {
  const TLogEntryFields f = TLogEntryFields::Parse(line);
  std::string text = "Time: ";
  text.append(f.Time).append("\r\nHost: ").append(f.Host).append("\r\nCategory: ");
  if (f.Category) text += f.Category;
  text.append("\r\n\r\n").append(f.Message);
  return text;
}

void TLogListView::ShowDetails(int row) {
  if (!FModel || row < 0 || row >= FModel->rowCount()) return;
  const std::string details = DetailsText(FModel->Line(row));
  QString text = QString::fromLatin1(details.data(), static_cast<qsizetype>(details.size()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox::information(this, QStringLiteral("Corvale"), text);
}
