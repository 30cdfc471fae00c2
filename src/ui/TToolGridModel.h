#pragma once
// The grid sgTrace of the remote tools page: the rows of TRemoteTools as a table model,
// reset when the row count changes and refreshed in one change otherwise.
#include <QAbstractTableModel>

class TRemoteTools;

class TToolGridModel : public QAbstractTableModel {
  Q_OBJECT
public:
  // Received and lost replies of a row, for the success bar.
  static constexpr int ReceivedRole = Qt::UserRole + 1;
  static constexpr int LostRole = Qt::UserRole + 2;

  explicit TToolGridModel(TRemoteTools& tools, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // The tools' rows changed.
  void Refresh();

private:
  TRemoteTools& FTools;
  int FRows = 0;
};
