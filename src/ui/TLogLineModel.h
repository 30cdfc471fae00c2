#pragma once
// The event log's lines as a list for the log page and the host information pane: the
// newest lines (at most MaxLines) whose host field matches the host filter, oldest
// first. It follows the log by id: each Sync takes only the lines after the last one it
// saw, so a refresh costs what was appended, not the whole log. Beside the rows it
// counts the lines of every host still in the in-memory log, which is the host filter's
// choice list; when the filtered host's last line leaves the log the filter falls back
// to all hosts.
//
// Main thread only; the log it reads belongs to the main thread.
#include <QAbstractListModel>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class TEventLog;

// The four fields of an entry line: time TAB host TAB message TAB category. A message
// that holds tabs keeps them; a line with fewer fields leaves the missing ones empty, and
// a last field of more than one character stays in the message.
struct TLogEntryFields {
  std::string_view Time, Host, Message;
  char Category = 0;

  static TLogEntryFields Parse(std::string_view line);
  // The host field of an entry about no host.
  static constexpr std::string_view NoHost = "---";
  bool HasHost() const { return !Host.empty() && Host != NoHost; }
};

class TLogLineModel : public QAbstractListModel {
  Q_OBJECT
public:
  enum TRole {
    LineRole = Qt::UserRole + 1,  // the whole entry line (QString)
    TimeRole,
    HostRole,
    MessageRole,
    CategoryRole,  // the category letter (QChar), a null QChar when there is none
    HasHostRole,   // bool
    IDRole,        // the log's id of the line (qint64)
  };

  // The log page keeps 1000 lines, the information pane 250.
  static constexpr int PageLines = 1000;
  static constexpr int PaneLines = 250;

  TLogLineModel(const TEventLog& log, int maxLines, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // The host field the rows must carry; empty for every line. Refills. A chosen filter
  // falls back to every line when its host leaves the log; a fixed one (the pane of one
  // host) stays, showing what it has.
  void SetHostFilter(const std::string& host);
  void SetFixedHost(const std::string& host);
  const std::string& HostFilter() const { return FFilter; }
  int MaxLines() const { return FMaxLines; }

  // Rebuilds the rows from the whole in-memory log (the newest matching lines) and the
  // host list from every line in it. A filter whose host no longer appears falls back
  // to all hosts (FilterFellBack is emitted).
  void Refill();
  // Takes the lines appended since the last Sync or Refill, and forgets the hosts whose
  // lines have all left the log.
  void Sync();
  // Empties the rows (the program is shutting down).
  void Clear();
  // Connected to the monitor's LogLineAdded: a burst of lines is taken in one Sync at
  // the next turn of the event loop, or at once before the log could drop lines this
  // model has not seen yet.
  void LineAdded(qint64 id);

  // Every host field of the in-memory log except "---", sorted without regard to case.
  QStringList Hosts() const;
  bool HasHost(const std::string& host) const { return FHostLines.count(host) > 0; }
  const std::string& Line(int row) const { return FRows[static_cast<std::size_t>(row)].Text; }
  std::int64_t LastSeenID() const { return FLastSeen; }

signals:
  // The host list changed (a host logged its first line, or its last one left the log).
  void HostsChanged();
  // The filtered host left the log; the rows now show every host.
  void FilterFellBack();

private:
  struct TRow {
    std::int64_t ID;
    std::string Text;
  };
  bool Matches(std::string_view line) const;
  bool CountHost(std::string_view host);
  void ForgetDroppedLines(bool& hostsChanged);
  void TrimRows();

  const TEventLog& FLog;
  int FMaxLines;
  std::string FFilter;
  bool FFixed = false;
  std::deque<TRow> FRows;
  std::int64_t FLastSeen = 0;
  bool FSyncPending = false;
  // Every line of the in-memory log as (id, host field), to learn which hosts the log
  // still names when its oldest lines are dropped; and the count of lines per host.
  std::deque<std::pair<std::int64_t, std::string>> FLogHosts;
  std::map<std::string, int, std::less<>> FHostLines;
};
