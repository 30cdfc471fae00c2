#include "ui/TToolGridModel.h"

#include "tools/TRemoteTools.h"

namespace {
const char* const Headings[] = {"Step", "Address", "Host", "Success", "Response"};
}

TToolGridModel::TToolGridModel(TRemoteTools& tools, QObject* parent) : QAbstractTableModel(parent), FTools(tools) {
  connect(&FTools, &TRemoteTools::GridChanged, this, &TToolGridModel::Refresh);
}

int TToolGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FRows; }

int TToolGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : TRemoteTools::ColumnCount;
}

QVariant TToolGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(FTools.Rows().size())) return {};
  const TRemoteTools::TRow& row = FTools.Rows()[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole: return QString::fromLatin1(row.Cells[static_cast<std::size_t>(index.column())].c_str());
    case ReceivedRole: return row.Received;
    case LostRole: return row.Lost;
    default: return {};
  }
}

QVariant TToolGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= TRemoteTools::ColumnCount)
    return {};
  if (section == 0) return QString::fromLatin1(FTools.FirstHeading().c_str());
  return QString::fromLatin1(Headings[section]);
}

void TToolGridModel::Refresh() {
  const int rows = static_cast<int>(FTools.Rows().size());
  if (rows != FRows) {
    beginResetModel();
    FRows = rows;
    endResetModel();
  } else if (rows > 0) {
    emit dataChanged(index(0, 0), index(rows - 1, TRemoteTools::ColumnCount - 1));
  }
  emit headerDataChanged(Qt::Horizontal, 0, 0);
}
