#include "ui/TLogLineModel.h"

#include <QChar>
#include <QString>

#include <algorithm>

#include "core/TEventLog.h"

TLogEntryFields TLogEntryFields::Parse(std::string_view line) {
  TLogEntryFields f;
  const std::size_t first = line.find('\t');
  if (first == std::string_view::npos) {
    f.Message = line;
    return f;
  }
  f.Time = line.substr(0, first);
  const std::size_t second = line.find('\t', first + 1);
  if (second == std::string_view::npos) {
    f.Host = line.substr(first + 1);
    return f;
  }
  f.Host = line.substr(first + 1, second - first - 1);
  // The category is the last field, so tabs inside a message stay in the message.
  const std::size_t last = line.rfind('\t');
  if (last == second) {
    f.Message = line.substr(second + 1);
    return f;
  }
  // A last field that is no letter belongs to the message, so nothing is hidden.
  if (line.size() - last - 1 != 1) {
    f.Message = line.substr(second + 1);
    return f;
  }
  f.Message = line.substr(second + 1, last - second - 1);
  f.Category = line[last + 1];
  return f;
}

TLogLineModel::TLogLineModel(const TEventLog& log, int maxLines, QObject* parent)
    : QAbstractListModel(parent), FLog(log), FMaxLines(std::max(1, maxLines)) {}

int TLogLineModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

QVariant TLogLineModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return {};
  const TRow& row = FRows[static_cast<std::size_t>(index.row())];
  const auto text = [](std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); };
  switch (role) {
    case Qt::DisplayRole:
    case LineRole: return text(row.Text);
    case TimeRole: return text(TLogEntryFields::Parse(row.Text).Time);
    case HostRole: return text(TLogEntryFields::Parse(row.Text).Host);
    case MessageRole: return text(TLogEntryFields::Parse(row.Text).Message);
    case CategoryRole: return QChar::fromLatin1(TLogEntryFields::Parse(row.Text).Category);
    case HasHostRole: return TLogEntryFields::Parse(row.Text).HasHost();
    case IDRole: return QVariant::fromValue<qint64>(row.ID);
    default: return {};
  }
}

void TLogLineModel::SetHostFilter(const std::string& host) {
  FFilter = host;
  FFixed = false;
  Refill();
}

void TLogLineModel::SetFixedHost(const std::string& host) {
  FFilter = host;
  FFixed = true;
  Refill();
}

bool TLogLineModel::Matches(std::string_view line) const {
  return FFilter.empty() || TLogEntryFields::Parse(line).Host == FFilter;
}

bool TLogLineModel::CountHost(std::string_view host) {
  auto it = FHostLines.find(host);
  if (it != FHostLines.end()) {
    ++it->second;
    return false;
  }
  FHostLines.emplace(std::string(host), 1);
  return true;
}

void TLogLineModel::Refill() {
  beginResetModel();
  FRows.clear();
  FLogHosts.clear();
  FHostLines.clear();
  const std::deque<TLogLine>& lines = FLog.Lines();
  for (const TLogLine& line : lines) {
    const TLogEntryFields f = TLogEntryFields::Parse(line.Text);
    if (!f.HasHost()) continue;
    FLogHosts.emplace_back(line.ID, std::string(f.Host));
    CountHost(f.Host);
  }
  // Filling by a host that is gone would leave the list empty under "(All Hosts)".
  const bool fellBack = !FFixed && !FFilter.empty() && !HasHost(FFilter);
  if (fellBack) FFilter.clear();
  for (auto it = lines.rbegin(); it != lines.rend() && FRows.size() < static_cast<std::size_t>(FMaxLines); ++it)
    if (Matches(it->Text)) FRows.push_front(TRow{it->ID, it->Text});
  FLastSeen = FLog.LastID();
  endResetModel();
  emit HostsChanged();
  if (fellBack) emit FilterFellBack();
}

void TLogLineModel::Sync() {
  const std::vector<TLogLine> fresh = FLog.LinesAfter(FLastSeen);
  bool hostsChanged = false;
  std::vector<const TLogLine*> matching;
  for (const TLogLine& line : fresh) {
    const TLogEntryFields f = TLogEntryFields::Parse(line.Text);
    if (f.HasHost()) {
      FLogHosts.emplace_back(line.ID, std::string(f.Host));
      hostsChanged |= CountHost(f.Host);
    }
    if (FFilter.empty() || f.Host == FFilter) matching.push_back(&line);
    FLastSeen = line.ID;
  }

  // Of a burst longer than the list only its newest lines can stay.
  const std::size_t max = static_cast<std::size_t>(FMaxLines);
  const std::size_t skip = matching.size() > max ? matching.size() - max : 0;
  const std::size_t adding = matching.size() - skip;
  const std::size_t overflow = FRows.size() + adding > max ? FRows.size() + adding - max : 0;
  if (overflow > 0) {
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(overflow) - 1);
    FRows.erase(FRows.begin(), FRows.begin() + static_cast<std::ptrdiff_t>(overflow));
    endRemoveRows();
  }
  if (adding > 0) {
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(adding) - 1);
    for (std::size_t i = skip; i < matching.size(); ++i) FRows.push_back(TRow{matching[i]->ID, matching[i]->Text});
    endInsertRows();
  }

  ForgetDroppedLines(hostsChanged);
  if (!FFixed && !FFilter.empty() && !HasHost(FFilter)) {
    FFilter.clear();
    Refill();  // tells HostsChanged itself
    emit FilterFellBack();
    return;
  }
  if (hostsChanged) emit HostsChanged();
}

void TLogLineModel::LineAdded(qint64 id) {
  if (id - FLastSeen >= static_cast<qint64>(TEventLog::MaxLines / 2)) {
    Sync();
    return;
  }
  if (FSyncPending) return;
  FSyncPending = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        FSyncPending = false;
        Sync();
      },
      Qt::QueuedConnection);
}

void TLogLineModel::ForgetDroppedLines(bool& hostsChanged) {
  const std::deque<TLogLine>& lines = FLog.Lines();
  const std::int64_t oldest = lines.empty() ? FLog.LastID() + 1 : lines.front().ID;
  while (!FLogHosts.empty() && FLogHosts.front().first < oldest) {
    auto it = FHostLines.find(FLogHosts.front().second);
    if (it != FHostLines.end() && --it->second <= 0) {
      FHostLines.erase(it);
      hostsChanged = true;
    }
    FLogHosts.pop_front();
  }
}

void TLogLineModel::Clear() {
  if (FRows.empty()) return;
  beginResetModel();
  FRows.clear();
  endResetModel();
}

QStringList TLogLineModel::Hosts() const {
  QStringList hosts;
  hosts.reserve(static_cast<qsizetype>(FHostLines.size()));
  for (const auto& [host, count] : FHostLines)
    hosts.append(QString::fromLatin1(host.data(), static_cast<qsizetype>(host.size())));
  std::stable_sort(hosts.begin(), hosts.end(),
                   [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  return hosts;
}
