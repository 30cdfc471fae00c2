#pragma once
// The pop-up menus from which a message variable is put into the text being edited:
// pmVars (the edit commands around the variables, for the alert text fields) and
// pmVarsOnly (the variables alone, without those that only some tests fill and without
// the trace-route group). Items are the variables themselves; their hints say what each
// one holds.
#include <QMenu>
#include <QPointer>
#include <QString>

class QAction;

class TVarsMenu : public QMenu {
  Q_OBJECT
public:
  enum class TKind { Vars, VarsOnly };

  explicit TVarsMenu(TKind kind, QWidget* parent = nullptr);

  TKind Kind() const { return FKind; }
  // Makes the menu the context menu of an edit, a plain-text edit or an editable combo box.
  void Attach(QWidget* target);
  // Opens the menu for the target (nullptr: the choice is only kept as LastChoice).
  void PopupFor(QWidget* target, const QPoint& globalPos);
  // Replaces the target's selection (or inserts at its cursor) with the variable.
  void InsertVariable(QWidget* target, const QString& variable);
  // The variable chosen last.
  QString LastChoice() const { return FLastChoice; }
  // The control the menu was last opened for; null when none (or it is gone).
  QWidget* Target() const { return FTarget; }

  // The item of a variable ("%host%"); null when the menu does not offer it.
  QAction* VariableAction(const QString& variable) const;

  // The edit commands of pmVars; null in pmVarsOnly.
  QAction* actUndo = nullptr;
  QAction* actCut = nullptr;
  QAction* actCopy = nullptr;
  QAction* actPaste = nullptr;
  QAction* actDelete = nullptr;
  QAction* actSelectAll = nullptr;

signals:
  // A variable was chosen, whether or not there was a control to insert it into.
  void VariableChosen(const QString& variable);

private:
  void AddVariables(QMenu* into);
  void Choose(const QString& variable);
  void UpdateEditCommands();
  void RunEditCommand(QAction* command);

  TKind FKind;
  QPointer<QWidget> FTarget;
  QString FLastChoice;
};
