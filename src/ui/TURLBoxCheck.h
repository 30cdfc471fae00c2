#pragma once
// The check of a dialog's URL box: leaving it for another control of the dialog with a
// URL of a scheme the tests cannot fetch warns and puts the focus back. Switching to
// another window, a pop-up menu or Cancel does not count as leaving; the dialog's OK
// asks again through Check.
#include <QObject>

class QLineEdit;
class QWidget;
class TDialogAsk;

class TURLBoxCheck : public QObject {
  Q_OBJECT
public:
  TURLBoxCheck(QLineEdit* box, const QWidget* cancel, TDialogAsk& ask);
  // True when the box may be left; otherwise the warning (one at a time) and the focus
  // goes back into the box.
  bool Check();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QLineEdit* FBox;
  const QWidget* FCancel;
  TDialogAsk& FAsk;
  bool FWarning = false;
};
