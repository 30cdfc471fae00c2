#include "ui/TPingListView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QListView>
#include <QMouseEvent>
#include <QTreeView>

#include <algorithm>

#include "ui/THostItemDelegate.h"
#include "ui/THostTableModel.h"
#include "ui/TStatusImages.h"

TPingListView::TPingListView(THostTableModel& model, THostItemDelegate& delegate, QWidget* parent)
    : QStackedWidget(parent), FModel(model) {
  setObjectName("lvPing");
  tvReport = new QTreeView(this);
  tvReport->setObjectName("tvReport");
  tvReport->setRootIsDecorated(false);
  tvReport->setItemsExpandable(false);
  tvReport->setUniformRowHeights(true);
  tvReport->setSelectionBehavior(QAbstractItemView::SelectRows);
  tvReport->setSelectionMode(QAbstractItemView::SingleSelection);
  tvReport->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvReport->setAllColumnsShowFocus(true);
  tvReport->setModel(&model);
  tvReport->setItemDelegate(&delegate);
  tvReport->setIconSize(QSize(TStatusImages::SmallSize, TStatusImages::SmallSize));
  tvReport->header()->setSectionsMovable(false);
  tvReport->header()->setSectionsClickable(true);
  tvReport->header()->setStretchLastSection(false);
  tvReport->header()->setSortIndicatorShown(false);
  // At least as wide as the caption, whatever the font ("Last/Avg Response" is wider
  // than its 80 pixels in most).
  for (int c = 0; c < THostTableModel::ColumnCount; ++c) {
    const int width = THostTableModel::DefaultColumnWidth(c);
    if (width > 0) tvReport->setColumnWidth(c, std::max(width, tvReport->header()->sectionSizeHint(c)));
  }
  connect(tvReport->header(), &QHeaderView::sectionClicked, &model, &THostTableModel::HeaderClicked);

  lvIcons = new QListView(this);
  lvIcons->setObjectName("lvIcons");
  lvIcons->setModel(&model);
  lvIcons->setItemDelegate(&delegate);
  lvIcons->setSelectionMode(QAbstractItemView::SingleSelection);
  lvIcons->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvIcons->setResizeMode(QListView::Adjust);
  lvIcons->setMovement(QListView::Static);
  lvIcons->setUniformItemSizes(true);

  addWidget(tvReport);
  addWidget(lvIcons);
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(tvReport), static_cast<QAbstractItemView*>(lvIcons)}) {
    view->setContextMenuPolicy(Qt::DefaultContextMenu);
    view->viewport()->installEventFilter(this);
    // A mouse press makes a row current before it selects it, the keys select first:
    // both signals are followed, and the row is told once.
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this, &TPingListView::OnCurrentChanged);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TPingListView::OnCurrentChanged);
    connect(view, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { emit RowDoubleClicked(index.row()); });
  }
  // After a reset the same row number may hold another host.
  connect(&model, &THostTableModel::modelReset, this, [this] {
    FToldRow = QPersistentModelIndex();
    emit CurrentRowChanged(CurrentRow());
  });
  ApplyViewStyle();
}

QWidget* TPingListView::ActiveView() const { return currentWidget(); }

void TPingListView::ApplyViewStyle() {
  const int row = CurrentRow();
  switch (FModel.ViewStyle()) {
    case THostTableModel::vsReport: setCurrentWidget(tvReport); break;
    case THostTableModel::vsList:
      lvIcons->setViewMode(QListView::ListMode);
      lvIcons->setFlow(QListView::TopToBottom);
      lvIcons->setWrapping(true);
      lvIcons->setIconSize(QSize(TStatusImages::SmallSize, TStatusImages::SmallSize));
      lvIcons->setGridSize(QSize());
      setCurrentWidget(lvIcons);
      break;
    case THostTableModel::vsSmallIcon:
      lvIcons->setViewMode(QListView::ListMode);
      lvIcons->setFlow(QListView::LeftToRight);
      lvIcons->setWrapping(true);
      lvIcons->setIconSize(QSize(TStatusImages::SmallSize, TStatusImages::SmallSize));
      lvIcons->setGridSize(QSize(150, 20));
      setCurrentWidget(lvIcons);
      break;
    case THostTableModel::vsIcon:
      lvIcons->setViewMode(QListView::IconMode);
      lvIcons->setIconSize(QSize(TStatusImages::LargeSize, TStatusImages::LargeSize));
      lvIcons->setGridSize(QSize(96, 64));
      setCurrentWidget(lvIcons);
      break;
  }
  SetCurrentRow(row);
}

int TPingListView::CurrentRow() const {
  // The selected row: the current index alone may run ahead of the selection.
  const auto* view = static_cast<const QAbstractItemView*>(currentWidget());
  const QModelIndexList selected = view->selectionModel()->selectedIndexes();
  return selected.isEmpty() ? -1 : selected.first().row();
}

void TPingListView::SetCurrentRow(int row) {
  auto* view = static_cast<QAbstractItemView*>(currentWidget());
  if (row < 0 || row >= FModel.rowCount()) {
    view->selectionModel()->clearSelection();
    return;
  }
  view->selectionModel()->setCurrentIndex(FModel.index(row, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TPingListView::OnCurrentChanged() {
  const int row = CurrentRow();
  const QModelIndex index = row >= 0 ? FModel.index(row, 0) : QModelIndex();
  // A persistent index follows its host through a re-sort.
  if (index.isValid() == FToldRow.isValid() && (!index.isValid() || FToldRow == index)) return;
  FToldRow = index;
  emit CurrentRowChanged(row);
}

bool TPingListView::eventFilter(QObject* watched, QEvent* event) {
  auto* view = static_cast<QAbstractItemView*>(currentWidget());
  if (watched != view->viewport()) return QStackedWidget::eventFilter(watched, event);
  if (event->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QModelIndex index = view->indexAt(mouse->position().toPoint());
    if (mouse->button() == Qt::LeftButton && index.isValid() && index.data(THostTableModel::IsGroupRole).toBool()) {
      const QRect cell = view->visualRect(FModel.index(index.row(), 0));
      if (mouse->position().toPoint().x() < cell.left() + view->iconSize().width() + 4) emit GroupIconClicked(index.row());
    }
  } else if (event->type() == QEvent::ContextMenu) {
    auto* menu = static_cast<QContextMenuEvent*>(event);
    const QModelIndex index = view->indexAt(menu->pos());
    // The menu acts on the row under the mouse, which becomes the selection.
    if (index.isValid()) SetCurrentRow(index.row());
    emit ContextMenuAt(index.isValid() ? index.row() : -1, menu->globalPos());
    return true;
  }
  return QStackedWidget::eventFilter(watched, event);
}
