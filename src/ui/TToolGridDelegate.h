#pragma once
// The "Success" cells of sgTrace: a bar of received against lost replies under the text.
#include <QStyledItemDelegate>

class TToolGridDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
