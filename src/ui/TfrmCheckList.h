#pragma once
// The list editor: entries typed into a box and added to a check-list, replaced, removed,
// ticked or unticked and reordered by dragging; OK keeps the ticked ones in list order.
#include <QDialog>
#include <QString>
#include <QStringList>

#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TDialogAsk;

class TfrmCheckList : public QDialog {
  Q_OBJECT
public:
  // An empty caption or instruction gives the usual one. Centred over the owner and in
  // its colours.
  explicit TfrmCheckList(QWidget* owner, const QString& caption = {}, const QString& instruction = {});

  // ticked: shown ticked, in order (blank ones skipped). suggestions: shown unticked
  // below them, each once, blank ones skipped, none that is already ticked (letter case
  // does not make an entry different).
  void SetEntries(const QStringList& ticked, const QStringList& suggestions = {});
  QStringList TickedEntries() const;

  QLineEdit* tbAdd;
  QListWidget* List;
  QLabel* lblInstruction;
  QPushButton *btnAdd, *btnReplace, *btnRemove, *btnOK, *btnCancel;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void UpdateButtons();
  void AddClick();
  void ReplaceClick();
  void RemoveClick();
  void SetDefault(QPushButton* button);

  bool FReplaceDefault = false;
};

// The recipient list editor ("Edit Recipient List"). recipients: the box's text, whose
// commas count as ";". others: every recipient of the offline and online lists of all
// hosts (entries may still hold several, separated by ";" or ","). The new box text, the
// ticked entries joined with ";"; nothing when cancelled.
std::optional<QString> EditRecipientList(QWidget* owner, TDialogAsk& ask, const QString& recipients,
                                         const QStringList& others);
// The single recipients of recipient texts: commas count as ";", blanks around each are
// dropped, empty ones skipped.
QStringList SplitRecipients(const QString& text);
