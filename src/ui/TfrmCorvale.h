#pragma once
// The main window. For now a plain window with the tray icon: closing it hides it to the
// tray; it ends the program only with Shift held down or when another program asked.
#include <QMainWindow>

class QSystemTrayIcon;
class QMenu;
class TMonitor;

class TfrmCorvale : public QMainWindow {
  Q_OBJECT
public:
  explicit TfrmCorvale(TMonitor& monitor, QWidget* parent = nullptr);
  ~TfrmCorvale() override;

  // The show request: restore, show and bring to the front.
  void ShowFromRequest();
  QSystemTrayIcon* TrayIcon() const { return FTray; }

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  void CreateTrayIcon();
  void ExitClick();
  void OnCloseRequested();
  void OnShutdownStarting();

  TMonitor& FMonitor;
  QSystemTrayIcon* FTray = nullptr;
  QMenu* pmTray = nullptr;
};
