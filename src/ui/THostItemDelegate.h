#pragma once
// Draws the rows of the host list: alternating backgrounds, Offline in red, the tint of
// the sorted column, the health bar behind the "Host" caption with the status icon and
// its overlays, the response graph of "Last/Avg Response", group rows in bold across the
// row, and the large icon with its overlays in the icon view. Rows whose host is gone get
// the default drawing. A group row's caption reaches across the row only where the view
// spans its first column (QTreeView::setFirstColumnSpanned); its other cells get the
// panel colour alone.
#include <QColor>
#include <QStyledItemDelegate>

#include <functional>

class THost;
class TStatusImages;

class THostItemDelegate : public QStyledItemDelegate {
  Q_OBJECT
public:
  // Whether an e-mail alert for the host is queued, and whether the host is listed in
  // the alert window (overlays 13 and 15); none given: never.
  using THostFlag = std::function<bool(const THost& host)>;

  THostItemDelegate(const TStatusImages& images, QObject* parent = nullptr);
  void SetAlertQueued(THostFlag check) { FAlertQueued = std::move(check); }
  void SetInAlertWindow(THostFlag check) { FInAlertWindow = std::move(check); }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // The list colours.
  static QColor ListColour() { return {255, 250, 239}; }
  static QColor PanelColour() { return {159, 159, 255}; }
  // The row background before selection and sort tint: white on odd rows, the list
  // colour on even ones.
  static QColor RowBackground(int row);
  // The health bar's colour at pixel (x, y) of a cell of that size, over the background;
  // total results 0 gives the grey bar.
  static QColor HealthBarPixel(int x, int y, int width, int height, unsigned successes,
                               unsigned warnings, unsigned errors, QColor background);

private:
  void PaintHostRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                    const THost& host) const;
  void PaintGroupRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
  void PaintIconView(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                     const THost& host) const;

  const TStatusImages& FImages;
  THostFlag FAlertQueued, FInAlertWindow;
};
