#include "ui/THostItemDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "common/TextUtils.h"
#include "core/THost.h"
#include "core/TMonitor.h"
#include "ui/THostTableModel.h"
#include "ui/TStatusImages.h"

namespace {

constexpr int BlendMix = 1;
constexpr int IconGap = 2;
constexpr int TextMargin = 3;

TColor ToColor(QColor c) { return RGBToColor(c.red(), c.green(), c.blue()); }
QColor FromColor(TColor c) {
  return {static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF)};
}
QColor Blend(QColor a, QColor b, double fraction) { return FromColor(BlendColor(ToColor(a), ToColor(b), BlendMix, fraction)); }

const QColor Green(0, 255, 0), Yellow(255, 255, 0), Red(255, 0, 0), Grey(128, 128, 128), Silver(192, 192, 192);

// The share a pixel column belongs to: 0 successes, 1 warnings, 2 errors.
int ShareAt(int x, int b1, int b2) { return x < b1 ? 0 : x < b2 ? 1 : 2; }

}  // namespace

THostItemDelegate::THostItemDelegate(const TStatusImages& images, QObject* parent)
    : QStyledItemDelegate(parent), FImages(images) {}

QColor THostItemDelegate::RowBackground(int row) { return row % 2 == 1 ? QColor(Qt::white) : ListColour(); }

QColor THostItemDelegate::HealthBarPixel(int x, int y, int width, int height, unsigned successes, unsigned warnings,
                                         unsigned errors, QColor background) {
  QColor colour = Grey;
  const double total = static_cast<double>(successes) + warnings + errors;
  if (total > 0 && width > 0) {
    const int b1 = static_cast<int>(std::lround(successes * static_cast<double>(width) / total));
    const int b2 = static_cast<int>(std::lround((static_cast<double>(successes) + warnings) * width / total));
    const QColor shares[3] = {Green, Yellow, Red};
    const int share = ShareAt(x, b1, b2);
    colour = shares[share];
    // The first pixel of a share that follows another is half of each, so the step
    // between two colours does not look jagged.
    if (x > 0 && ShareAt(x - 1, b1, b2) != share) colour = Blend(shares[ShareAt(x - 1, b1, b2)], colour, 0.5);
  }
  const double half = height / 2.0;
  if (half <= 0) return Blend(colour, background, 0.9);
  const double d = std::min<double>(y, height - 1 - y);
  const double fraction = 0.9 - 0.25 * std::sqrt(std::max(d, 0.0) / half);
  return Blend(colour, background, fraction);
}

QSize THostItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  const auto* model = qobject_cast<const THostTableModel*>(index.model());
  if (model && model->ViewStyle() == THostTableModel::vsIcon) {
    const QFontMetrics metrics(option.font);
    return {std::max(size.width(), 75), TStatusImages::LargeSize + 4 + 2 * metrics.height()};
  }
  size.setHeight(std::max(size.height(), TStatusImages::SmallSize + 2));
  return size;
}

void THostItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const auto* model = qobject_cast<const THostTableModel*>(index.model());
  const THost* host = model ? model->HostAt(index.row()) : nullptr;
  if (!host) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  painter->save();
  switch (model->ViewStyle()) {
    case THostTableModel::vsReport:
      if (host->IsGroup()) PaintGroupRow(painter, option, index);
      else PaintHostRow(painter, option, index, *host);
      break;
    case THostTableModel::vsIcon: PaintIconView(painter, option, index, *host); break;
    default: QStyledItemDelegate::paint(painter, option, index); break;
  }
  painter->restore();
}

void THostItemDelegate::PaintGroupRow(QPainter* painter, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const {
  const bool selected = option.state & QStyle::State_Selected;
  painter->fillRect(option.rect, selected ? option.palette.highlight().color() : PanelColour());
  if (index.column() != THostTableModel::colHost) return;
  QRect rect = option.rect;
  const int icon = index.data(THostTableModel::StatusIconRole).toInt();
  painter->drawPixmap(rect.left() + IconGap, rect.top() + (rect.height() - TStatusImages::SmallSize) / 2,
                      FImages.Small(icon));
  rect.setLeft(rect.left() + IconGap + TStatusImages::SmallSize + TextMargin);
  QFont bold = option.font;
  bold.setBold(true);
  painter->setFont(bold);
  painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
  painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, index.data(Qt::DisplayRole).toString());
}

void THostItemDelegate::PaintHostRow(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index, const THost& host) const {
  const auto* model = static_cast<const THostTableModel*>(index.model());
  const bool selected = option.state & QStyle::State_Selected;
  const bool offline = host.Status == StatusOffline;
  QColor background = RowBackground(index.row());
  QColor text = offline ? Red : option.palette.text().color();
  if (selected) {
    background = offline ? Red : option.palette.highlight().color();
    text = option.palette.highlightedText().color();
  } else if (index.column() == model->SortColumn()) {
    background = Blend(background, Silver, 0.5);
  }
  const QRect rect = option.rect;
  painter->fillRect(rect, background);
  const QString caption = index.data(Qt::DisplayRole).toString();

  if (index.column() == THostTableModel::colHost) {
    // The bar is drawn into an image of the cell: one colour per pixel column and row.
    QImage bar(std::max(rect.width(), 1), std::max(rect.height(), 1), QImage::Format_RGB32);
    for (int y = 0; y < bar.height(); ++y)
      for (int x = 0; x < bar.width(); ++x)
        bar.setPixel(x, y, HealthBarPixel(x, y, bar.width(), bar.height(), host.Successes, host.Warnings,
                                          static_cast<unsigned>(std::max(host.Errors, 0)), background)
                               .rgb());
    painter->drawImage(rect.topLeft(), bar);
    const QPoint at(rect.left() + IconGap, rect.top() + (rect.height() - TStatusImages::SmallSize) / 2);
    painter->drawPixmap(at, FImages.Small(index.data(THostTableModel::StatusIconRole).toInt()));
    // Overlays at half size in the corners, so the state beneath stays readable.
    const int half = TStatusImages::SmallSize / 2;
    const auto overlay = [&](int n, int dx, int dy) {
      painter->drawPixmap(QRect(at.x() + dx, at.y() + dy, half, half), FImages.Small(n));
    };
    if (host.RunningTest) overlay(10, half, half);
    if (FAlertQueued && FAlertQueued(host)) overlay(13, 0, half);
    if (FInAlertWindow && FInAlertWindow(host)) overlay(15, half, 0);
    const QRect textRect = rect.adjusted(IconGap + TStatusImages::SmallSize + TextMargin, 0, 0, 0);
    painter->setPen(text);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      option.fontMetrics.elidedText(caption, Qt::ElideRight, textRect.width()));
    return;
  }

  if (index.column() == THostTableModel::colResponse) {
    int largest = 10;
    for (const int32_t v : host.ResponseHistory) largest = std::max(largest, v);
    painter->setPen(Blend(QColor(0, 0, 255), Qt::white, 0.65));
    const int left = rect.left() + 2, span = rect.width() - 4, bottom = rect.bottom();
    const auto pointOf = [&](size_t slot) {
      const double x = left + span * static_cast<double>(slot) / (ResponseHistorySize - 1);
      const double y = bottom - static_cast<double>(host.ResponseHistory[slot]) * (rect.height() - 1) / largest;
      return QPointF(x, y);
    };
    for (size_t slot = 0; slot < ResponseHistorySize; ++slot) {
      if (host.ResponseHistory[slot] < 0) continue;
      const bool prev = slot > 0 && host.ResponseHistory[slot - 1] >= 0;
      const bool next = slot + 1 < ResponseHistorySize && host.ResponseHistory[slot + 1] >= 0;
      if (next) painter->drawLine(pointOf(slot), pointOf(slot + 1));
      else if (!prev) painter->drawPoint(pointOf(slot));
    }
    painter->setPen(Red);
    painter->drawText(rect, Qt::AlignCenter, caption);
    return;
  }

  painter->setPen(text);
  const QRect textRect = rect.adjusted(TextMargin, 0, -TextMargin, 0);
  const auto align = static_cast<Qt::Alignment>(index.data(Qt::TextAlignmentRole).toInt());
  painter->drawText(textRect, align, option.fontMetrics.elidedText(caption, Qt::ElideRight, textRect.width()));
}

void THostItemDelegate::PaintIconView(QPainter* painter, const QStyleOptionViewItem& option,
                                      const QModelIndex& index, const THost& host) const {
  const bool selected = option.state & QStyle::State_Selected;
  const QRect rect = option.rect;
  const int size = TStatusImages::LargeSize, small = TStatusImages::SmallSize;
  const QPoint at(rect.left() + (rect.width() - size) / 2, rect.top() + 2);
  painter->drawPixmap(at, FImages.Large(index.data(THostTableModel::StatusIconRole).toInt()));
  if (host.RunningTest) painter->drawPixmap(at + QPoint(size - small, size - small), FImages.Small(10));
  if (FInAlertWindow && FInAlertWindow(host)) painter->drawPixmap(at + QPoint(size - small, 0), FImages.Small(15));
  if (FAlertQueued && FAlertQueued(host)) painter->drawPixmap(at + QPoint(0, size - small), FImages.Small(13));
  const QRect textRect(rect.left(), at.y() + size + 2, rect.width(), rect.bottom() - at.y() - size - 2);
  if (selected) painter->fillRect(textRect, option.palette.highlight());
  painter->setPen(selected ? option.palette.highlightedText().color()
                           : host.Status == StatusOffline ? Red : option.palette.text().color());
  painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                    index.data(Qt::DisplayRole).toString());
}
