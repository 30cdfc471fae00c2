#pragma once
// The borderless start-up wait window: a rounded pale-blue panel with one line that
// says what the program is waiting for.
#include <QWidget>

class QLabel;

class TfrmCVLWait : public QWidget {
  Q_OBJECT
public:
  explicit TfrmCVLWait(QWidget* parent = nullptr);
  // Shows the window with the text and lets it paint.
  void ShowText(const QString& text);

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  QLabel* lblWait;
};
