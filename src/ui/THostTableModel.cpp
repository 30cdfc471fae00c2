#include "ui/THostTableModel.h"

#include "ui/Latin1Text.h"

#include <QFont>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_set>

#include "common/Clock.h"
#include "core/MessageVariables.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "ui/TStatusImages.h"

namespace {

struct TColumnInfo {
  const char* Caption;
  int Width;
  Qt::Alignment Align;
};

constexpr Qt::Alignment Left = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment Centre = Qt::AlignCenter;

const TColumnInfo Columns[THostTableModel::ColumnCount] = {
    {"Host", 145, Left},          {"Address", 125, Left},     {"Last Check", 80, Centre},
    {"Last Success", 80, Centre}, {"Successes", -1, Centre},  {"Last Failure", 80, Centre},
    {"Failures", -1, Centre},     {"Notes", 200, Left},       {"Last/Avg Response", 80, Centre},
    {"Up Time", 100, Centre},     {"Down Time", 100, Centre}, {"Up %", -1, Centre},
};

// Control characters and blanks at both ends go, as the notes column always did.
std::string TrimBlanks(const std::string& text) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string SpanText(long double days) { return days == 0 ? std::string("-") : DurationText(days); }

bool TextColumn(int column) {
  return column == THostTableModel::colHost || column == THostTableModel::colAddress ||
         column == THostTableModel::colNotes;
}

}  // namespace

THostTableModel::THostTableModel(TMonitor& monitor, QObject* parent)
    : QAbstractItemModel(parent), FMonitor(monitor) {
  FCollator.setCaseSensitivity(Qt::CaseInsensitive);
  THostChanges& changes = FMonitor.Changes();
  connect(&changes, &THostChanges::HostsChanged, this, &THostTableModel::OnHostsChanged);
  connect(&changes, &THostChanges::HostsAdded, this, &THostTableModel::OnHostsAdded);
  connect(&changes, &THostChanges::HostsAboutToBeRemoved, this, &THostTableModel::OnHostsAboutToBeRemoved);
  connect(&changes, &THostChanges::HostListRebuilt, this, &THostTableModel::OnHostListRebuilt);
  FRows = WantedRows();
  ReindexFrom(0);
}

THostTableModel::~THostTableModel() = default;

QModelIndex THostTableModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= ColumnCount) return {};
  return createIndex(row, column);
}

QModelIndex THostTableModel::parent(const QModelIndex&) const { return {}; }

int THostTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int THostTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

Qt::ItemFlags THostTableModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

QVariant THostTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) return {};
  if (role == Qt::DisplayRole) return ColumnCaption(section);
  if (role == Qt::TextAlignmentRole) return static_cast<int>(Columns[section].Align);
  return {};
}

QVariant THostTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int row = index.row(), column = index.column();
  const THost* host = HostAt(row);
  switch (role) {
    case HostIndexRole: return HostIndexAt(row);
    case HostIDRole: return HostIDAt(row);
    case Qt::TextAlignmentRole: return static_cast<int>(Columns[column].Align);
    default: break;
  }
  // A row whose host has gone since the last batch shows nothing rather than guessing.
  if (!host) return {};
  const TDateTime now = FMonitor.Clock().Now();
  switch (role) {
    case Qt::DisplayRole:
      if (host->IsGroup()) return column == colHost ? Latin1(host->DisplayName.substr(1)) : QString();
      return CellText(*host, column, now, FMonitor.Use24HourDate());
    case Qt::DecorationRole:
      if (column != colHost || !FImages) return {};
      return FImages->Small(StatusIconIndex(*host, now));
    case Qt::FontRole:
      if (host->IsGroup()) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return {};
    case IsGroupRole: return host->IsGroup();
    case StatusIconRole: return StatusIconIndex(*host, now);
    case SortKeyRole: {
      if (TextColumn(column)) return CellText(*host, column, now, false);
      return SortNumber(*host, column).value_or(NoNumberKey);
    }
    default: return {};
  }
}

QString THostTableModel::ColumnCaption(int column) {
  return column >= 0 && column < ColumnCount ? QString::fromLatin1(Columns[column].Caption) : QString();
}

int THostTableModel::DefaultColumnWidth(int column) {
  return column >= 0 && column < ColumnCount ? Columns[column].Width : -1;
}

Qt::SortOrder THostTableModel::DefaultSortOrder(int column) {
  return column == colLastSuccess || column == colSuccesses || column == colFailures ? Qt::DescendingOrder
                                                                                     : Qt::AscendingOrder;
}

int THostTableModel::StatusIconIndex(bool disabled, bool outsideWindow, int status, bool hasBeenOffline,
                                     bool parentHasBeenOffline, bool parentsUp) {
  if (disabled) return 14;
  if (outsideWindow) return 18;
  int icon;
  switch (status) {
    case StatusOffline: icon = 0; break;
    case StatusWarning: icon = 4; break;
    case StatusOnline: icon = hasBeenOffline ? 6 : parentHasBeenOffline ? 8 : 2; break;
    case 3: icon = 14; break;
    default: icon = 16; break;
  }
  // The even pictures of a state have a twin with the parent-down mark right after them.
  if (!parentsUp && (icon <= 8 || icon == 16)) ++icon;
  return icon;
}

int THostTableModel::StatusIconIndex(const THost& host, TDateTime now) {
  if (host.IsGroup()) return host.Status == 1 ? 12 : 11;
  return StatusIconIndex(host.IsDisabled(now), !host.InDailyWindow(now), host.Status, host.HasBeenOffline,
                         host.ParentHasBeenOffline, host.ParentsUp);
}

QString THostTableModel::CellText(const THost& host, int column, TDateTime now, bool use24Hour) {
  std::string text;
  switch (column) {
    case colHost: text = host.DisplayName; break;
    case colAddress:
      text = TestAddress(host);
      if (!host.CurrentIP.empty() && host.CurrentIP != "0.0.0.0" && host.CurrentIP != "-" &&
          host.CurrentIP != host.Address)
        text += " [" + host.CurrentIP + "]";
      break;
    case colLastCheck: text = VariableDateText(host.LastCheck, now, use24Hour); break;
    case colLastSuccess: text = VariableDateText(host.LastSuccess, now, use24Hour); break;
    case colSuccesses: text = std::to_string(host.Successes); break;
    case colLastFailure: text = VariableDateText(host.LastFailure, now, use24Hour); break;
    case colFailures: text = std::to_string(host.Failures); break;
    case colNotes:
      text = host.LastErrorText;
      if (!host.TraceLastReply.empty()) text += " (Last host " + host.TraceLastReply + ")";
      text = TrimBlanks(text);
      break;
    case colResponse: {
      if (host.LastResponse() < 0) return QStringLiteral("-");
      // Responses are kept for failures too: with no success there is no average to divide out.
      const auto average = host.AverageResponse();
      text = std::to_string(host.LastResponse()) + "/" +
             (average ? std::to_string(std::llround(*average)) : std::string("-")) + " ms";
      break;
    }
    case colUpTime: text = SpanText(host.Uptime); break;
    case colDownTime: text = SpanText(host.Downtime); break;
    case colUpPercent: {
      const auto percent = host.UpPercent();
      if (!percent || !std::isfinite(static_cast<double>(*percent))) return QStringLiteral("-");
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "%.1f%%", static_cast<double>(*percent));
      text = buffer;
      break;
    }
    default: return {};
  }
  return Latin1(text);
}

std::optional<double> THostTableModel::SortNumber(const THost& host, int column) {
  const auto date = [](TDateTime value) -> std::optional<double> {
    if (value > 0) return value;
    return std::nullopt;
  };
  const auto span = [](long double days) -> std::optional<double> {
    if (days != 0 && std::isfinite(static_cast<double>(days))) return static_cast<double>(days);
    return std::nullopt;
  };
  switch (column) {
    case colLastCheck: return date(host.LastCheck);
    case colLastSuccess: return date(host.LastSuccess);
    case colLastFailure: return date(host.LastFailure);
    case colSuccesses: return host.Successes;
    case colFailures: return host.Failures;
    case colResponse:
      if (host.LastResponse() >= 0) return host.LastResponse();
      return std::nullopt;
    case colUpTime: return span(host.Uptime);
    case colDownTime: return span(host.Downtime);
    case colUpPercent: {
      const auto percent = host.UpPercent();
      if (percent && std::isfinite(static_cast<double>(*percent))) return static_cast<double>(*percent) / 100;
      return std::nullopt;
    }
    default: return std::nullopt;
  }
}

// --- Rows -------------------------------------------------------------------------

THost* THostTableModel::HostAt(int row) const {
  if (row < 0 || row >= rowCount()) return nullptr;
  return FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(FRows[static_cast<size_t>(row)]));
}

int THostTableModel::HostIndexAt(int row) const {
  if (row < 0 || row >= rowCount()) return -1;
  return FMonitor.Hosts().FindByID(FRows[static_cast<size_t>(row)]);
}

std::int32_t THostTableModel::HostIDAt(int row) const {
  return row >= 0 && row < rowCount() ? FRows[static_cast<size_t>(row)] : -1;
}

int THostTableModel::RowOfHost(std::int32_t hostID) const {
  const auto it = FRowOf.find(hostID);
  return it == FRowOf.end() ? -1 : it->second;
}

bool THostTableModel::ToggleGroup(int row) {
  const THost* host = HostAt(row);
  if (!host || !host->IsGroup()) return false;
  if (!FMonitor.ToggleGroupCollapsed(HostIndexAt(row))) return false;
  // Shown at once; the batched change that follows finds nothing left to do.
  UpdateDisplay();
  return true;
}

void THostTableModel::SetImages(const TStatusImages* images) {
  FImages = images;
  if (!FRows.empty()) emit dataChanged(index(0, colHost), index(rowCount() - 1, colHost), {Qt::DecorationRole});
}

bool THostTableModel::Passes(const THost& host) const {
  if (!FFilters.Active && !FFilters.Warning && !FFilters.Error) return true;
  switch (host.Status) {
    case StatusOnline: return FFilters.Active;
    case StatusWarning: return FFilters.Warning;
    case StatusOffline: return FFilters.Error;
    default: return false;
  }
}

std::vector<std::int32_t> THostTableModel::WantedRows(const std::vector<std::int32_t>& leaving) const {
  const std::unordered_set<std::int32_t> gone(leaving.begin(), leaving.end());
  const bool groupsShown = FViewStyle == vsReport && FSortColumn < 0;
  std::vector<std::int32_t> rows;
  bool expanded = true;  // hosts before the first group row follow the filter only
  for (const auto& record : FMonitor.Hosts().Records()) {
    const THost& host = *record;
    if (gone.count(host.ID)) continue;
    if (host.IsGroup()) {
      expanded = host.Status != 1;
      if (groupsShown) rows.push_back(host.ID);
      continue;
    }
    if (!Passes(host) || (groupsShown && !expanded)) continue;
    rows.push_back(host.ID);
  }
  if (FSortColumn >= 0) SortRows(rows);
  return rows;
}

void THostTableModel::SortRows(std::vector<std::int32_t>& rows) const {
  // Keys are made once per host, not once per comparison: a list of thousands of hosts
  // is sorted again after every batch of results.
  struct TKey {
    std::int32_t ID;
    double Number;
    QCollatorSortKey Text;
  };
  const THostList& hosts = FMonitor.Hosts();
  std::vector<std::string> pluginNames;
  if (FSortColumn == colAddress)
    for (const auto& test : FMonitor.VariableContext().PluginTests) pluginNames.push_back(test.Name);
  std::vector<TKey> keys;
  keys.reserve(rows.size());
  const bool text = TextColumn(FSortColumn);
  for (const std::int32_t id : rows) {
    const THost* host = hosts.Items(hosts.FindByID(id));
    if (!host) continue;
    std::string value;
    if (FSortColumn == colHost) value = host->DisplayName;
    else if (FSortColumn == colAddress) value = HostLabel(*host, pluginNames);
    else if (FSortColumn == colNotes) value = host->LastErrorText;
    keys.push_back({id, text ? 0.0 : SortNumber(*host, FSortColumn).value_or(NoNumberKey),
                    // Folded first: without a collation library the collator ignores its
                    // case setting.
                    FCollator.sortKey(text ? Latin1(value).toCaseFolded() : QString())});
  }
  const bool descending = FSortOrder == Qt::DescendingOrder;
  std::stable_sort(keys.begin(), keys.end(), [&](const TKey& a, const TKey& b) {
    const TKey& x = descending ? b : a;
    const TKey& y = descending ? a : b;
    return text ? x.Text.compare(y.Text) < 0 : x.Number < y.Number;
  });
  rows.clear();
  for (const TKey& key : keys) rows.push_back(key.ID);
}

void THostTableModel::ReindexFrom(int row) {
  for (auto it = FRowOf.begin(); it != FRowOf.end();) {
    if (it->second >= row) it = FRowOf.erase(it);
    else ++it;
  }
  for (size_t r = static_cast<size_t>(std::max(row, 0)); r < FRows.size(); ++r) FRowOf[FRows[r]] = static_cast<int>(r);
}

void THostTableModel::ApplyRows(const std::vector<std::int32_t>& wanted) {
  const std::unordered_set<std::int32_t> wantedSet(wanted.begin(), wanted.end());
  // Rows that leave, in runs from the bottom, so the rows above keep their numbers.
  for (int last = rowCount() - 1; last >= 0;) {
    if (wantedSet.count(FRows[static_cast<size_t>(last)])) {
      --last;
      continue;
    }
    int first = last;
    while (first > 0 && !wantedSet.count(FRows[static_cast<size_t>(first - 1)])) --first;
    beginRemoveRows({}, first, last);
    FRows.erase(FRows.begin() + first, FRows.begin() + last + 1);
    endRemoveRows();
    last = first - 1;
  }
  const std::unordered_set<std::int32_t> kept(FRows.begin(), FRows.end());
  // The rows that stay, in their new order: a move of rows keeps selections and the
  // current row with their hosts.
  std::vector<std::int32_t> order;
  order.reserve(kept.size());
  for (const std::int32_t id : wanted)
    if (kept.count(id)) order.push_back(id);
  if (order != FRows) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::unordered_map<std::int32_t, int> newRow;
    for (size_t r = 0; r < order.size(); ++r) newRow[order[r]] = static_cast<int>(r);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before) {
      const auto it = newRow.find(FRows[static_cast<size_t>(old.row())]);
      after.push_back(it == newRow.end() ? QModelIndex() : createIndex(it->second, old.column()));
    }
    FRows = order;
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  }
  // Rows that join, in runs at their places among the rows that stayed.
  for (size_t at = 0; at < wanted.size();) {
    if (at < FRows.size() && FRows[at] == wanted[at]) {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < wanted.size() && !kept.count(wanted[end])) ++end;
    if (end == at) break;  // cannot happen: the kept rows are in wanted's order by now
    beginInsertRows({}, static_cast<int>(at), static_cast<int>(end) - 1);
    FRows.insert(FRows.begin() + static_cast<std::ptrdiff_t>(at), wanted.begin() + static_cast<std::ptrdiff_t>(at),
                 wanted.begin() + static_cast<std::ptrdiff_t>(end));
    endInsertRows();
    at = end;
  }
  FRowOf.clear();
  ReindexFrom(0);
}

void THostTableModel::UpdateDisplay() {
  FMonitor.LookUpDisplayAddresses();
  ApplyRows(WantedRows());
  emit DisplayUpdated();
}

// --- Settings ---------------------------------------------------------------------

void THostTableModel::SetFilters(const TFilters& filters) {
  if (filters == FFilters) return;
  FFilters = filters;
  UpdateDisplay();
}

void THostTableModel::SetViewStyle(TViewStyle style) {
  if (style == FViewStyle) return;
  FViewStyle = style;
  UpdateDisplay();
}

void THostTableModel::sort(int column, Qt::SortOrder order) {
  const bool valid = column >= 0 && column < ColumnCount;
  FSortColumn = valid ? column : -1;
  FSortOrder = order;
  FSortReversed = valid && order != DefaultSortOrder(column);
  UpdateDisplay();
}

void THostTableModel::HeaderClicked(int column) {
  if (column < 0 || column >= ColumnCount) return;
  if (column != FSortColumn) {
    sort(column, DefaultSortOrder(column));
  } else if (!FSortReversed) {
    FSortOrder = FSortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    FSortReversed = true;
    UpdateDisplay();
  } else {
    sort(-1);
  }
}

// --- The monitor's signals --------------------------------------------------------

void THostTableModel::OnHostsChanged(const QList<qint32>& ids) {
  // A change may move the host in the sort, in or out of the filter, or (a group row)
  // show or hide the hosts below it.
  ApplyRows(WantedRows());
  int first = -1, last = -1;
  for (const qint32 id : ids) {
    const int row = RowOfHost(id);
    if (row < 0) continue;
    first = first < 0 ? row : std::min(first, row);
    last = std::max(last, row);
  }
  if (first >= 0) emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void THostTableModel::OnHostsAdded(const QList<qint32>&) {
  FMonitor.LookUpDisplayAddresses();
  ApplyRows(WantedRows());
}

void THostTableModel::OnHostsAboutToBeRemoved(const QList<qint32>& ids) {
  ApplyRows(WantedRows(std::vector<std::int32_t>(ids.begin(), ids.end())));
}

void THostTableModel::OnHostListRebuilt() {
  FMonitor.LookUpDisplayAddresses();
  beginResetModel();
  FRows = WantedRows();
  FRowOf.clear();
  ReindexFrom(0);
  endResetModel();
  emit DisplayUpdated();
}
