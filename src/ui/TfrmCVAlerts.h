#pragma once
// The alert window: the hosts that went offline, newest first, with the offline sound
// repeated once a minute while any of them asks for the global offline sound. It stays on
// top of other windows and shows itself without taking the focus.
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QToolButton;
class THost;
class TMonitor;

class TfrmCVAlerts : public QWidget {
  Q_OBJECT
public:
  // play: how the window plays a sound (file name, asynchronous).
  using TPlay = std::function<void(const std::string& fileName, bool async)>;
  TfrmCVAlerts(TMonitor& monitor, TPlay play, QWidget* parent = nullptr);
  ~TfrmCVAlerts() override;

  // Lists the host at the top unless its display name is listed already; the repetition
  // starts over for a newly listed host only. True when it was listed now.
  bool AddHost(const THost& host);
  // Takes the host off the list; the window closes when the list is empty.
  void RemoveHost(const THost& host);
  // The IDs of the listed hosts, top first.
  QList<qint32> HostIDs() const;
  int AlertCount() const { return FAlertCount; }

  void tmrAlertTimer();
  void lbHostsDblClick();
  void sbSoundClick();
  void sbOnTopClick();
  void btnRestoreClick() { emit RestoreRequested(); }

  QListWidget* lbHosts = nullptr;
  QToolButton* sbSound = nullptr;
  QToolButton* sbOnTop = nullptr;
  QToolButton* btnRestore = nullptr;
  QTimer tmrAlert;

signals:
  // The main window should be restored, as by a click on the tray icon.
  void RestoreRequested();
  // The host actions menu for a listed host, at a global position.
  void HostMenuRequested(qint32 hostID, const QPoint& globalPos);

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void RemoveItem(QListWidgetItem* item);

  TMonitor& FMonitor;
  TPlay FPlay;
  int FAlertCount = 0;
};
