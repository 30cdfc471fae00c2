#include "ui/TVarsMenu.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "core/MessageVariables.h"

namespace {

// The line edit that holds the text of an edit or an editable combo box.
QLineEdit* LineEditOf(QWidget* target) {
  if (auto* edit = qobject_cast<QLineEdit*>(target)) return edit;
  if (auto* combo = qobject_cast<QComboBox*>(target)) return combo->isEditable() ? combo->lineEdit() : nullptr;
  return nullptr;
}

bool ClipboardHasText() {
  const QMimeData* data = QApplication::clipboard()->mimeData();
  return data && data->hasText() && !data->text().isEmpty();
}

}  // namespace

TVarsMenu::TVarsMenu(TKind kind, QWidget* parent) : QMenu(parent), FKind(kind) {
  setToolTipsVisible(true);
  if (kind == TKind::VarsOnly) {
    AddVariables(this);
    return;
  }
  actUndo = addAction(tr("&Undo"));
  addSeparator();
  QMenu* insert = addMenu(tr("Insert Variable"));
  insert->setToolTipsVisible(true);
  AddVariables(insert);
  addSeparator();
  actCut = addAction(tr("Cu&t"));
  actCopy = addAction(tr("&Copy"));
  actPaste = addAction(tr("&Paste"));
  actDelete = addAction(tr("&Delete"));
  addSeparator();
  actSelectAll = addAction(tr("Select &All"));
  for (QAction* command : {actUndo, actCut, actCopy, actPaste, actDelete, actSelectAll})
    connect(command, &QAction::triggered, this, [this, command] { RunEditCommand(command); });
  connect(this, &QMenu::aboutToShow, this, &TVarsMenu::UpdateEditCommands);
}

void TVarsMenu::AddVariables(QMenu* into) {
  QMenu* submenu = nullptr;
  QString submenuName;
  for (const TVariableMenuItem& item : HostVariables()) {
    if (FKind == TKind::VarsOnly && !item.InVarsOnly) continue;
    const QString name = QString::fromLatin1(item.Submenu);
    if (!submenu || name != submenuName) {
      submenu = into->addMenu(name);
      submenu->setToolTipsVisible(true);
      submenuName = name;
    }
    const QString variable = QString::fromLatin1(item.Name);
    if (variable.isEmpty()) {
      // Separators around a left-out group would stand side by side; QMenu collapses them.
      submenu->addSeparator();
      continue;
    }
    QAction* action = submenu->addAction(variable);
    action->setObjectName(variable);
    action->setToolTip(QString::fromLatin1(item.Hint));
    action->setStatusTip(QString::fromLatin1(item.Hint));
    connect(action, &QAction::triggered, this, [this, variable] { Choose(variable); });
  }
}

QAction* TVarsMenu::VariableAction(const QString& variable) const {
  const auto actions = findChildren<QAction*>(variable);
  return actions.isEmpty() ? nullptr : actions.first();
}

void TVarsMenu::Attach(QWidget* target) {
  if (!target) return;
  // An editable combo box shows the menu of its line edit, which receives the clicks.
  QWidget* receiver = target;
  if (auto* combo = qobject_cast<QComboBox*>(target); combo && combo->lineEdit()) receiver = combo->lineEdit();
  receiver->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(receiver, &QWidget::customContextMenuRequested, this, [this, target, receiver](const QPoint& pos) {
    // A scroll area reports the position in its viewport.
    QWidget* origin = receiver;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(receiver)) origin = area->viewport();
    PopupFor(target, origin->mapToGlobal(pos));
  });
}

void TVarsMenu::PopupFor(QWidget* target, const QPoint& globalPos) {
  FTarget = target;
  popup(globalPos);
}

void TVarsMenu::Choose(const QString& variable) {
  FLastChoice = variable;
  if (FTarget) InsertVariable(FTarget, variable);
  emit VariableChosen(variable);
}

void TVarsMenu::InsertVariable(QWidget* target, const QString& variable) {
  if (QLineEdit* edit = LineEditOf(target)) {
    if (!edit->isReadOnly()) edit->insert(variable);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(target)) {
    if (!plain->isReadOnly()) plain->insertPlainText(variable);
  } else if (auto* rich = qobject_cast<QTextEdit*>(target)) {
    if (!rich->isReadOnly()) rich->insertPlainText(variable);
  }
}

void TVarsMenu::UpdateEditCommands() {
  if (FKind != TKind::Vars) return;
  bool canUndo = false, hasSelection = false, editable = false, hasTarget = true;
  if (QLineEdit* edit = LineEditOf(FTarget)) {
    canUndo = edit->isUndoAvailable();
    hasSelection = edit->hasSelectedText();
    editable = !edit->isReadOnly();
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(FTarget.data())) {
    canUndo = plain->document()->isUndoAvailable();
    hasSelection = plain->textCursor().hasSelection();
    editable = !plain->isReadOnly();
  } else if (auto* rich = qobject_cast<QTextEdit*>(FTarget.data())) {
    canUndo = rich->document()->isUndoAvailable();
    hasSelection = rich->textCursor().hasSelection();
    editable = !rich->isReadOnly();
  } else {
    hasTarget = false;
  }
  actUndo->setEnabled(canUndo && editable);
  actCut->setEnabled(hasSelection && editable);
  actCopy->setEnabled(hasSelection);
  actPaste->setEnabled(editable && ClipboardHasText());
  actDelete->setEnabled(hasTarget);
  actSelectAll->setEnabled(hasTarget);
}

void TVarsMenu::RunEditCommand(QAction* command) {
  if (QLineEdit* edit = LineEditOf(FTarget)) {
    if (command == actUndo) edit->undo();
    else if (command == actCut) edit->cut();
    else if (command == actCopy) edit->copy();
    else if (command == actPaste) edit->paste();
    else if (command == actDelete) {
      // Delete clears the selection only, never the character after the cursor.
      if (edit->hasSelectedText() && !edit->isReadOnly()) edit->insert(QString());
    } else if (command == actSelectAll) edit->selectAll();
    return;
  }
  auto run = [&](auto* text) {
    if (command == actUndo) text->undo();
    else if (command == actCut) text->cut();
    else if (command == actCopy) text->copy();
    else if (command == actPaste) text->paste();
    else if (command == actDelete) {
      if (!text->isReadOnly()) {
        QTextCursor cursor = text->textCursor();
        cursor.removeSelectedText();
        text->setTextCursor(cursor);
      }
    } else if (command == actSelectAll) text->selectAll();
  };
  if (auto* plain = qobject_cast<QPlainTextEdit*>(FTarget.data())) run(plain);
  else if (auto* rich = qobject_cast<QTextEdit*>(FTarget.data())) run(rich);
}
