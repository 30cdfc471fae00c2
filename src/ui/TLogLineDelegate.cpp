#include "ui/TLogLineDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QPen>
#include <QStyle>

#include <algorithm>
#include <cmath>

#include "common/TextUtils.h"
#include "ui/TLogLineModel.h"

namespace {

QColor ToQColor(TColor c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}
TColor FromQColor(QColor c) { return RGBToColor(c.red(), c.green(), c.blue()); }

}  // namespace

QColor TLogLineDelegate::CategoryColour(char category) {
  switch (category) {
    case 'E': return {255, 0, 0};
    case 'W': return {255, 63, 0};
    case 'Z':
    case 'I': return {0, 0, 255};
    case 'M': return {175, 79, 0};
    case 'A': return {255, 0, 255};
    case 'C': return {128, 0, 128};
    case 'P': return {0, 0, 128};
    case 'T': return {128, 0, 0};
    default: return {};
  }
}

QColor TLogLineDelegate::BarColour(char category, bool hasHost) {
  if (!hasHost) return {};
  switch (category) {
    case 'E': return {255, 0, 0};
    case 'W': return {255, 255, 0};
    case 'O': return {0, 255, 0};
    default: return {};
  }
}

QColor TLogLineDelegate::BarPixel(QColor bar, QColor background, int y, int height) {
  const double half = std::max(1, height) / 2.0;
  const double fromEdge = std::clamp(std::min<double>(y, height - 1 - y), 0.0, half);
  const double fraction = 0.9 - 0.25 * std::sqrt(fromEdge / half);
  return ToQColor(BlendColor(FromQColor(bar), FromQColor(background), 1, fraction));
}

void TLogLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  // The fields straight from the model's Latin-1 line; through another model, its text.
  std::string copy;
  std::string_view raw;
  if (const auto* model = qobject_cast<const TLogLineModel*>(index.model())) {
    raw = model->Line(index.row());
  } else {
    copy = index.data(TLogLineModel::LineRole).toString().toLatin1().toStdString();
    raw = copy;
  }
  const TLogEntryFields fields = TLogEntryFields::Parse(raw);
  const QRect r = option.rect;
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette& palette = option.palette;
  const QColor background = palette.color(QPalette::Base);
  const QColor bar = BarColour(fields.Category, fields.HasHost());
  const QColor category = CategoryColour(fields.Category);

  painter->save();
  if (bar.isValid()) {
    for (int y = 0; y < r.height(); ++y)
      painter->fillRect(QRect(r.left(), r.top() + y, r.width(), 1), BarPixel(bar, background, y, r.height()));
  } else if (selected) {
    painter->fillRect(r, category.isValid() ? category : palette.color(QPalette::Highlight));
  } else {
    painter->fillRect(r, background);
  }

  // The bars are pale: a selected bar line keeps the dark text and is framed in the
  // highlight colour instead, since the highlight's text would not show on them.
  QColor text = palette.color(QPalette::Text);
  if (selected && bar.isValid()) {
    painter->setPen(QPen(palette.color(QPalette::Highlight), SelectedFrameWidth));
    painter->drawRect(QRectF(r).adjusted(SelectedFrameWidth / 2.0, SelectedFrameWidth / 2.0, -SelectedFrameWidth / 2.0,
                                         -SelectedFrameWidth / 2.0));
  } else if (selected) {
    text = palette.color(QPalette::HighlightedText);
  } else if (!bar.isValid() && category.isValid()) {
    text = category;
  }
  painter->setPen(text);
  painter->setFont(option.font);

  const auto toQ = [](std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); };
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  painter->drawText(QRect(r.left() + TimeLeft, r.top(), TimeWidth, r.height()), flags, toQ(fields.Time));
  painter->drawText(QRect(r.left() + HostLeft, r.top(), HostRight - HostLeft, r.height()), flags, toQ(fields.Host));
  painter->drawText(QRect(r.left() + MessageLeft, r.top(), std::max(0, r.right() - r.left() - MessageLeft + 1), r.height()),
                    flags, toQ(fields.Message));
  if (option.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(option);
    focus.backgroundColor = background;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
  }
  painter->restore();
}

QSize TLogLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return {MessageLeft + 200, option.fontMetrics.height() + 2};
}
