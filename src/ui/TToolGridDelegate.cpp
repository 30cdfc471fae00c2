#include "ui/TToolGridDelegate.h"

#include <QPainter>

#include "tools/TRemoteTools.h"
#include "ui/TToolGridModel.h"

void TToolGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int received = index.data(TToolGridModel::ReceivedRole).toInt();
  const int lost = index.data(TToolGridModel::LostRole).toInt();
  if (index.column() != TRemoteTools::colSuccess || received + lost == 0) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  painter->save();
  const QRect r = option.rect.adjusted(2, 2, -2, -2);
  const int good = r.width() * received / (received + lost);
  painter->fillRect(r, QColor(230, 120, 120));
  painter->fillRect(QRect(r.left(), r.top(), good, r.height()), QColor(120, 200, 120));
  painter->setPen(option.palette.color(QPalette::Text));
  painter->drawText(r, Qt::AlignCenter, index.data(Qt::DisplayRole).toString());
  painter->restore();
}
