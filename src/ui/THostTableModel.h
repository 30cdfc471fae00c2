#pragma once
// The host list as the main window shows it: one row per shown host or group row, twelve
// columns, the status filters, collapsed groups, the view style and the sort. Fed by the
// monitor's batched change signals: a batch of changed hosts is one dataChanged over the
// rows it touches; hosts that start or stop passing the filter, or move in the sort, are
// inserted, removed or moved, never a reset for a change of some hosts. Rows are found
// through an ID->row table. Main thread only.
#include <QAbstractItemModel>
#include <QCollator>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "common/DateTime.h"

class THost;
class TMonitor;
class TStatusImages;

class THostTableModel : public QAbstractItemModel {
  Q_OBJECT
public:
  enum TColumn {
    colHost, colAddress, colLastCheck, colLastSuccess, colSuccesses, colLastFailure,
    colFailures, colNotes, colResponse, colUpTime, colDownTime, colUpPercent,
    ColumnCount
  };
  enum TViewStyle { vsReport, vsList, vsSmallIcon, vsIcon };
  enum TRole {
    // int: the host's index in the host list, -1 when the row's host is gone.
    HostIndexRole = Qt::UserRole + 1,
    HostIDRole,      // qint32
    IsGroupRole,     // bool
    StatusIconRole,  // int: the status icon number (11/12 for a group row)
    SortKeyRole,     // double for number columns, QString for the others
  };
  // Given to SetFilters and read back by Filters.
  struct TFilters {
    bool Active = false;   // sbActive: Online hosts
    bool Warning = false;  // sbWarning
    bool Error = false;    // sbError: Offline hosts
    bool operator==(const TFilters&) const = default;
  };

  explicit THostTableModel(TMonitor& monitor, QObject* parent = nullptr);
  ~THostTableModel() override;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Sorts by the column in that order; a column outside 0..11 turns sorting off.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // The header click: a new column sorts in its default direction, the sorted column
  // again reverses it, a third click turns sorting off (host list order, group rows back).
  void HeaderClicked(int column);
  // -1 while unsorted.
  int SortColumn() const { return FSortColumn; }
  Qt::SortOrder SortOrder() const { return FSortOrder; }
  // Descending for "Last Success", "Successes" and "Failures", ascending for the others.
  static Qt::SortOrder DefaultSortOrder(int column);

  void SetFilters(const TFilters& filters);
  TFilters Filters() const { return FFilters; }
  void SetViewStyle(TViewStyle style);
  TViewStyle ViewStyle() const { return FViewStyle; }

  // Rebuilds the rows from the host list (what the window calls UpdateDisplay).
  void UpdateDisplay();

  // The record of a row, nullptr for a row outside the model or whose host is gone.
  THost* HostAt(int row) const;
  int HostIndexAt(int row) const;
  std::int32_t HostIDAt(int row) const;
  // The row of a host ID, -1 when it is not shown.
  int RowOfHost(std::int32_t hostID) const;
  // Toggles a group row's collapsed flag and shows the result; false for a host row.
  bool ToggleGroup(int row);

  // Caption and default width in pixels (-1: the view's default) of a column.
  static QString ColumnCaption(int column);
  static int DefaultColumnWidth(int column);

  // The status icon number of a host (group rows: 11 expanded, 12 collapsed), and the
  // table it follows for a status and its flags.
  static int StatusIconIndex(const THost& host, TDateTime now);
  static int StatusIconIndex(bool disabled, bool outsideWindow, int status, bool hasBeenOffline,
                             bool parentHasBeenOffline, bool parentsUp);

  // The cell's text as the list shows it (Latin-1 record text converted here).
  static QString CellText(const THost& host, int column, TDateTime now, bool use24Hour);
  // The number the column sorts by; none when the cell has no number (sorts as
  // 9999999999 in the current direction).
  static std::optional<double> SortNumber(const THost& host, int column);
  // A sort key of number columns for a cell without a number.
  static constexpr double NoNumberKey = 9999999999.0;

  TMonitor& Monitor() const { return FMonitor; }
  // The pictures the "Host" column's decoration comes from (the list and small-icon
  // views draw it); none: no decoration. Not owned.
  void SetImages(const TStatusImages* images);

signals:
  // The rows were rebuilt from the host list (after a change of the list, the filters,
  // the view style or the sort).
  void DisplayUpdated();

private:
  void OnHostsChanged(const QList<qint32>& ids);
  void OnHostsAdded(const QList<qint32>& ids);
  void OnHostsAboutToBeRemoved(const QList<qint32>& ids);
  void OnHostListRebuilt();

  // The IDs that should be shown now, in display order.
  std::vector<std::int32_t> WantedRows(const std::vector<std::int32_t>& leaving = {}) const;
  bool Passes(const THost& host) const;
  void SortRows(std::vector<std::int32_t>& rows) const;
  // Brings the shown rows to wanted with removes, a layout change and inserts.
  void ApplyRows(const std::vector<std::int32_t>& wanted);
  void ReindexFrom(int row);

  TMonitor& FMonitor;
  std::vector<std::int32_t> FRows;
  std::unordered_map<std::int32_t, int> FRowOf;
  TFilters FFilters;
  TViewStyle FViewStyle = vsReport;
  int FSortColumn = -1;
  Qt::SortOrder FSortOrder = Qt::AscendingOrder;
  bool FSortReversed = false;
  QCollator FCollator;
  const TStatusImages* FImages = nullptr;
};
