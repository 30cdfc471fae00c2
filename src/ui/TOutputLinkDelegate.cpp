#include "ui/TOutputLinkDelegate.h"

#include <QPainter>

#include "ui/Latin1Text.h"

void TOutputLinkDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem plain = option;
  initStyleOption(&plain, index);
  const QString line = plain.text;
  plain.text.clear();
  QStyledItemDelegate::paint(painter, plain, index);
  painter->save();
  painter->setFont(option.font);
  const QFontMetrics metrics(option.font);
  const bool selected = option.state.testFlag(QStyle::State_Selected);
  const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  const QRect r = option.rect.adjusted(2, 0, 0, 0);
  painter->setPen(text);
  painter->drawText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
  QFont linkFont = option.font;
  linkFont.setUnderline(true);
  painter->setFont(linkFont);
  painter->setPen(selected ? text : QColor(0, 0, 200));
  for (const TOutputLink& link : FindOutputLinks(Latin1(line))) {
    const int left = metrics.horizontalAdvance(line.left(link.Link.Start - 1));
    const QRect at(r.left() + left, r.top(), r.width() - left, r.height());
    painter->drawText(at, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      line.mid(link.Link.Start - 1, link.Link.Length));
  }
  painter->restore();
}

std::optional<TOutputLink> TOutputLinkDelegate::LinkAt(const QString& line, const QFontMetrics& metrics, int x) {
  for (const TOutputLink& link : FindOutputLinks(Latin1(line))) {
    const int left = 2 + metrics.horizontalAdvance(line.left(link.Link.Start - 1));
    const int right = left + metrics.horizontalAdvance(line.mid(link.Link.Start - 1, link.Link.Length));
    if (x >= left && x < right) return link;
  }
  return std::nullopt;
}
