#pragma once
// Draws one event-log line of a TLogLineModel in three columns (time, host, message),
// coloured by its category: errors, warnings and recoveries of a host over a red,
// yellow or green bar, every other line in its category's text colour. The log page
// and the host information pane draw their lines with it.
#include <QColor>
#include <QStyledItemDelegate>

class TLogLineDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The text colour of a line without a bar; invalid for the default colour.
  static QColor CategoryColour(char category);
  // The bar behind a line about a host ("E" red, "W" yellow, "O" green); invalid for
  // none.
  static QColor BarColour(char category, bool hasHost);
  // The bar's colour in pixel row y of a line of that height over the background: faint
  // at the edges, strongest in the middle.
  static QColor BarPixel(QColor bar, QColor background, int y, int height);

  // Where the columns begin, from the line's left edge.
  static constexpr int TimeLeft = 2, TimeWidth = 95;
  static constexpr int HostLeft = 97, HostRight = 345;
  static constexpr int MessageLeft = 347;
  // The highlight frame around a selected bar line.
  static constexpr int SelectedFrameWidth = 2;
};
