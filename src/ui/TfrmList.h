#pragma once
// "List Selector": a check list of entries; OK keeps exactly the ticked ones. Marked
// entries (running services) stand out in bold.
#include <QDialog>
#include <QString>

#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

class TfrmList : public QDialog {
  Q_OBJECT
public:
  struct TEntry {
    QString Text;
    bool Ticked = false;
    bool Marked = false;
  };

  explicit TfrmList(QWidget* parent = nullptr, const QString& instruction = {});

  void SetEntries(const std::vector<TEntry>& entries);
  // The positions (as given to SetEntries) of the ticked entries, in order.
  std::vector<int> TickedRows() const;
  bool IsMarked(int row) const;

  QLabel* lblInstruction;
  QListWidget* List;
  QPushButton* btnOK;
  QPushButton* btnCancel;
};
