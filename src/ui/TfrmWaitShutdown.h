#pragma once
// The background-task window: a borderless, rounded, always-on-top panel listing what
// the program is still waiting for, refreshed ten times a second. It shows at shutdown
// and when "ThreadList" is typed in the main window. Dragging anywhere moves it.
#include <QPoint>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QTimer;

// Each distinct name once, sorted, with how often it runs: "Ping router (2)".
QStringList CountedTaskNames(const std::vector<std::string>& names);

class TfrmWaitShutdown : public QWidget {
  Q_OBJECT
public:
  // runningNames: the names of the running background tasks, read on the main thread.
  explicit TfrmWaitShutdown(std::function<std::vector<std::string>()> runningNames, QWidget* parent = nullptr);

  // Reads the names again (the timer does it every 100 ms while the window shows).
  void Refresh();

  QLabel* lblWaiting;
  QListWidget* lbTasks;

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  std::function<std::vector<std::string>()> FRunningNames;
  QTimer* FTimer;
  QPoint FDragOffset;
  bool FDragging = false;
};
