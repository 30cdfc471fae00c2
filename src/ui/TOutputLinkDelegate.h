#pragma once
// Lines of command output in a fixed-pitch font with their host names, addresses and
// MAC addresses drawn as links; LinkAt tells which link a point of a line is on.
#include <QStyledItemDelegate>

#include <optional>

#include "tools/LocalTools.h"

class TOutputLinkDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // The link under x (relative to the line's left edge) in the line, if any.
  static std::optional<TOutputLink> LinkAt(const QString& line, const QFontMetrics& metrics, int x);
};
