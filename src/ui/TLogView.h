#pragma once
// The "Log" page of the main window: the host filter `cbLogFilter` ("(All Hosts)" and
// every host the in-memory log names), the lines `lbLog` and its pop-up menu `pmLog`
// with "Copy", "Export to File..." and "Send via Email..." for the selected lines.
// It follows the monitor's log by id (TLogLineModel); a refresh takes only new lines.
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QMenu;
class THostList;
class TLogLineModel;
class TLogListView;
class TMonitor;

// The message "Send via Email..." offers: the recipient choices, the preset (and, after
// the dialog, the chosen) recipient, the subject and the body.
struct TLogMail {
  std::vector<std::string> Recipients;
  std::string Recipient;
  std::string Subject;
  std::string Body;
};

class TLogView : public QWidget {
  Q_OBJECT
public:
  static constexpr const char* AllHosts = "(All Hosts)";

  explicit TLogView(TMonitor& monitor, QWidget* parent = nullptr);

  // The page is shown again: take the lines logged since the last look.
  void Refresh();
  // Refills by the filter chosen in cbLogFilter.
  void cbLogFilterClick();
  // "View In Log...": chooses the host's log label as the filter and refills; false,
  // changing nothing, when the log does not name the host (the caller warns "The
  // selected host does not appear in the log.").
  bool ShowHost(const std::string& logLabel);
  // "View In Log..." as the host menu offers it: ShowHost, or when the log does not
  // name the host the warning HostNotInLog (Cancel button) and false.
  static constexpr const char* HostNotInLog = "The selected host does not appear in the log.";
  bool ViewInLog(const std::string& logLabel);
  // The chosen filter's host; empty for "(All Hosts)".
  std::string FilterHost() const;

  // The pop-up menu's actions on the selected lines.
  void CopyClick();
  void ExportClick();
  void SendClick();
  // "Email Results..." of the local tools page: the same dialog and queue for a text of
  // its own.
  void SendText(const std::string& subject, const std::string& body);
  // Each line ended by a line break (CR LF in files and mail, LF on the clipboard).
  std::string SelectionText(const char* lineBreak) const;
  // Writes the selected lines to the file, replacing it whole; the error's text, or
  // empty on success.
  std::string ExportToFile(const QString& fileName) const;
  // What "Send via Email..." starts with; and queues a filled-in message (no host,
  // priority 3), remembering its recipient as the next preset. False with the reason
  // when no mail can be queued.
  TLogMail MailForSelection() const;
  bool QueueMail(const TLogMail& mail, std::string* error = nullptr);
  // Every distinct non-blank recipient of the hosts' offline and online lists, in
  // first-seen order.
  static std::vector<std::string> RecipientChoices(const THostList& hosts);

  // The dialog that edits the message; true to send. Unset: the hand-written message
  // dialog "Send Alert Message" (TfrmQuickMsg).
  using TMailDialog = std::function<bool(TLogMail& mail)>;
  void SetMailDialog(TMailDialog dialog) { FMailDialog = std::move(dialog); }

  TLogLineModel& Model() const { return *FModel; }
  TLogListView* lbLog = nullptr;
  QComboBox* cbLogFilter = nullptr;
  QMenu* pmLog = nullptr;

private:
  void RebuildFilterList();
  void ShowMenu(const QPoint& at);
  bool EditMail(TLogMail& mail);
  void SendMail(TLogMail mail);

  TMonitor& FMonitor;
  TLogLineModel* FModel = nullptr;
  QAction* FCopy = nullptr;
  QAction* FExport = nullptr;
  QAction* FSend = nullptr;
  TMailDialog FMailDialog;
  std::string FLastRecipient;
};
