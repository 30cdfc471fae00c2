#pragma once
// A list of event-log lines drawn by TLogLineDelegate: several lines selectable, Ctrl+A
// selects every line, and a view whose last line is selected (or with nothing selected)
// keeps following the end as lines arrive. Double-clicking a line shows its details.
// The log page and the host information pane's "Log" tab use it over a TLogLineModel.
#include <QListView>

#include <string>
#include <vector>

class TLogLineModel;

class TLogListView : public QListView {
  Q_OBJECT
public:
  explicit TLogListView(QWidget* parent = nullptr);

  // The view does not own the model.
  void SetLogModel(TLogLineModel* model);
  TLogLineModel* LogModel() const { return FModel; }

  // The selected lines in list order.
  std::vector<std::string> SelectedLines() const;
  void SelectLastLine();

  // The text of the information box for an entry line.
  static std::string DetailsText(const std::string& line);
  // Shows the box for a row; the double-click's action.
  void ShowDetails(int row);

private:
  void RowsAboutToBeInserted();
  void RowsInserted();

  TLogLineModel* FModel = nullptr;
  bool FFollow = false;
};
