#pragma once
// The "Remote Tools" page: the remote host box with "Trace Route", "NetBIOS Status" and
// "Path Ping", the range boxes with "Ping Range", and the result panel (the grid sgTrace
// or the list lbNetBIOS). The tools themselves are TRemoteTools.
#include <QWidget>

#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;
class TDialogAsk;
class TMonitor;
class TRemoteTools;
class TToolGridModel;

class TRemoteToolsPage : public QWidget {
  Q_OBJECT
public:
  TRemoteToolsPage(TMonitor& monitor, TDialogAsk& ask, QWidget* parent = nullptr);
  ~TRemoteToolsPage() override;

  TRemoteTools& Tools() { return *FTools; }
  // A host was selected in the host list (or a menu aims a tool at it).
  void SetHost(const std::string& address);
  // The host menu's "Trace Route": presses btnTrace when it is enabled.
  void TraceRouteClick();
  // F5 on this page runs the trace route again; F6 clears the NetBIOS list.
  void Refresh();
  void ClearNetBIOS();
  // "Ping Range" with the boxes' contents; asks before a large range.
  void btnPingRangeClick();
  // Leaving the From box: a prefix range becomes the two boxes' addresses.
  void tbPingFromExit();

  QLineEdit *tbHost, *tbPingFrom, *tbPingTo;
  QPushButton *btnTrace, *btnNBT, *btnPathPing, *btnPingRange;
  QLabel* pnlCaption;
  QTableView* sgTrace;
  QListWidget* lbNetBIOS;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void OnGridChanged();
  void OnToolsEnabled(bool enabled);
  void UpdateRangeButton();

  TDialogAsk& FAsk;
  std::unique_ptr<TRemoteTools> FTools;
  TToolGridModel* FModel = nullptr;
};
