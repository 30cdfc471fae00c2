#pragma once
// The host information pane below the host list (pcHostInfo): a summary of the selected
// host, its test history and its lines of the event log. Shows copies of record fields
// taken on the main thread; it keeps no pointer to a record.
#include <QTabWidget>

#include "common/DateTime.h"

class QLabel;
class QListWidget;
class TLogLineModel;
class TLogListView;
class THost;
class TMonitor;
class TStatusImages;

class THostInfoPane : public QTabWidget {
  Q_OBJECT
public:
  THostInfoPane(TMonitor& monitor, const TStatusImages& images, QWidget* parent = nullptr);

  // Shows the host (nullptr: clears); a group row shows its name only.
  void ShowHost(const THost* host);

  // The texts of the summary for a host, as the labels show them.
  static QString PaneDate(TDateTime value, bool use24Hour);
  static QString UpPercentText(const THost& host);

  QLabel *lbHostName, *lbHostAddr, *lbIPAddr, *lbMAC, *lbLastCheck, *lbPrevCheck, *lbLastSuccess, *lbLastFail,
      *lbTestType, *lbTestInfo, *lbStats, *lbUpDown, *lbTestFreq, *lbTestError, *lbUpPct, *lbErr, *imgStatus;
  QListWidget* lvHistory;
  TLogListView* lbHostLog;

protected:
  void resizeEvent(QResizeEvent* event) override;

signals:
  // The address label was clicked (the host actions menu opens at it), and the MAC.
  void AddressClicked(const QString& address, QPoint globalPos);
  void MACClicked(const QString& mac, QPoint globalPos);

private:
  void ClearLabels();
  void FillHistory(const THost& host);
  bool eventFilter(QObject* watched, QEvent* event) override;

  TMonitor& FMonitor;
  const TStatusImages& FImages;
  TLogLineModel* FLogLines;
};
