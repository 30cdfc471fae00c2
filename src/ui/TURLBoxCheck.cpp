#include "ui/TURLBoxCheck.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QTimer>

#include "ui/HTTPSettingsRules.h"
#include "ui/Latin1Text.h"
#include "ui/TDialogAsk.h"

TURLBoxCheck::TURLBoxCheck(QLineEdit* box, const QWidget* cancel, TDialogAsk& ask)
    : QObject(box), FBox(box), FCancel(cancel), FAsk(ask) {
  box->installEventFilter(this);
}

bool TURLBoxCheck::Check() {
  if (HTTPURLAccepted(Latin1(FBox->text()))) return true;
  if (FWarning) return false;
  FWarning = true;
  FAsk.Message(FBox->window(), TDialogAsk::TKind::Warning, FBox->window()->windowTitle(),
               QString::fromLatin1(HTTPURLWarning));
  FWarning = false;
  // Back into the box once the focus change that left it has finished.
  QTimer::singleShot(0, FBox, [box = FBox] { box->setFocus(); });
  return false;
}

bool TURLBoxCheck::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FBox && event->type() == QEvent::FocusOut && !FWarning) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    const bool leaves = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                        !(FCancel && FCancel->hasFocus());
    if (leaves) Check();
  }
  return QObject::eventFilter(watched, event);
}
