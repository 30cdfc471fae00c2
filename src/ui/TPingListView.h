#pragma once
// The host list lvPing in its four view styles: the report (columns, owner-drawn rows,
// header clicks that sort) and the list, small-icon and icon views over the same model.
// Tells which host row is current and which row was clicked, whatever the style.
#include <QPersistentModelIndex>
#include <QStackedWidget>

class QListView;
class QTreeView;
class THostItemDelegate;
class THostTableModel;

class TPingListView : public QStackedWidget {
  Q_OBJECT
public:
  TPingListView(THostTableModel& model, THostItemDelegate& delegate, QWidget* parent = nullptr);

  // Shows the model's view style (the model decides which rows there are).
  void ApplyViewStyle();
  // The model row of the selected item, -1 for none.
  int CurrentRow() const;
  void SetCurrentRow(int row);
  QTreeView* Report() const { return tvReport; }
  QListView* Icons() const { return lvIcons; }
  QWidget* ActiveView() const;

signals:
  void CurrentRowChanged(int row);
  void RowDoubleClicked(int row);
  // A left click on a group row's icon.
  void GroupIconClicked(int row);
  void ContextMenuAt(int row, QPoint globalPos);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void OnCurrentChanged();

  THostTableModel& FModel;
  QTreeView* tvReport;
  QListView* lvIcons;
  // The row last told by CurrentRowChanged.
  QPersistentModelIndex FToldRow;
};
