#pragma once
// The "Local Tools" page: the list lbInfo of local information commands (and the
// buttons beside it), the heading, and the output in a fixed-pitch list whose host
// names, addresses and MAC addresses are links. Commands run off the main thread.
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "tools/LocalTools.h"

class QLabel;
class QListWidget;
class QPushButton;
class TMonitor;

class TLocalToolsPage : public QWidget {
  Q_OBJECT
public:
  explicit TLocalToolsPage(TMonitor& monitor, QWidget* parent = nullptr);
  ~TLocalToolsPage() override;

  // Runs the command; name is the heading (empty for a button's command).
  void RunCommand(const std::string& name, const std::string& command);
  // F5 on this page: the selected entry again.
  void Refresh();
  bool Running() const { return FRunning; }
  std::string Heading() const;
  std::vector<std::string> OutputLines() const;

  QListWidget* lbInfo;
  QLabel* lblHeading;
  QListWidget* lbOutput;
  QPushButton* btnEmail;
  QWidget* pnlCommands;

signals:
  void HostLinkClicked(const QString& address, QPoint globalPos);
  void MacLinkClicked(const QString& mac, QPoint globalPos);
  // "Email Results...": subject and body (CR LF lines).
  void EmailRequested(const QString& subject, const QString& body);
  // A command has ended and its output is shown (or its error reported).
  void CommandFinished();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Show(const TLocalCommandResult& result);

  TMonitor& FMonitor;
  std::vector<TLocalCommand> FCommands;
  bool FRunning = false;
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};
