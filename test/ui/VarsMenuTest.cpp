#include "ui/TVarsMenu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include "core/MessageVariables.h"

namespace {

// Opens the menu for the target and picks the variable as the user would.
void Pick(TVarsMenu& menu, QWidget* target, const QString& variable) {
  menu.PopupFor(target, QPoint(0, 0));
  QAction* action = menu.VariableAction(variable);
  ASSERT_NE(action, nullptr) << variable.toStdString();
  action->trigger();
  menu.hide();
}

}  // namespace

TEST(VarsMenu, InsertsIntoEachKindOfTargetReplacingTheSelection) {
  TVarsMenu menu(TVarsMenu::TKind::Vars);
  QLineEdit edit("Host down now");
  edit.setSelection(5, 4);  // "down"
  Pick(menu, &edit, "%status%");
  EXPECT_EQ(edit.text(), "Host %status% now");

  QPlainTextEdit memo("line one\nline two");
  QTextCursor cursor = memo.textCursor();
  cursor.setPosition(5);
  cursor.setPosition(8, QTextCursor::KeepAnchor);  // "one"
  memo.setTextCursor(cursor);
  Pick(menu, &memo, "%host%");
  EXPECT_EQ(memo.toPlainText(), "line %host%\nline two");

  QTextEdit rich;
  rich.setPlainText("at ");
  rich.moveCursor(QTextCursor::End);
  Pick(menu, &rich, "%lastfail%");
  EXPECT_EQ(rich.toPlainText(), "at %lastfail%");

  QComboBox combo;
  combo.setEditable(true);
  combo.setEditText("ping ");
  combo.lineEdit()->end(false);
  Pick(menu, &combo, "%ip%");
  EXPECT_EQ(combo.currentText(), "ping %ip%");

  // Read-only text and a non-editable combo box stay as they are.
  QLineEdit locked("fixed");
  locked.setReadOnly(true);
  Pick(menu, &locked, "%id%");
  EXPECT_EQ(locked.text(), "fixed");
  QComboBox fixedCombo;
  fixedCombo.addItem("a");
  Pick(menu, &fixedCombo, "%id%");
  EXPECT_EQ(fixedCombo.currentText(), "a");
  EXPECT_EQ(menu.LastChoice(), "%id%");

  // A right click on an attached control opens the menu for that control.
  QLineEdit attached;
  QComboBox attachedCombo;
  attachedCombo.setEditable(true);
  QPlainTextEdit attachedMemo;
  menu.Attach(&attached);
  menu.Attach(&attachedCombo);
  menu.Attach(&attachedMemo);
  const std::pair<QWidget*, QWidget*> clicks[] = {{&attached, &attached},
                                                  {attachedCombo.lineEdit(), &attachedCombo},
                                                  {attachedMemo.viewport(), &attachedMemo}};
  for (const auto& [receiver, target] : clicks) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), receiver->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(receiver, &event);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(menu.Target(), target);
    menu.hide();
  }
  Pick(menu, &attachedCombo, "%url%");
  EXPECT_EQ(attachedCombo.currentText(), "%url%");
}

TEST(VarsMenu, EditCommandsFollowTheTargetAndWorkOnIt) {
  TVarsMenu menu(TVarsMenu::TKind::Vars);
  QLineEdit edit("alpha beta");
  menu.PopupFor(&edit, QPoint(0, 0));
  EXPECT_FALSE(menu.actUndo->isEnabled()) << "nothing typed yet";
  EXPECT_FALSE(menu.actCut->isEnabled());
  EXPECT_FALSE(menu.actCopy->isEnabled());
  EXPECT_TRUE(menu.actDelete->isEnabled());
  menu.hide();

  QApplication::clipboard()->clear();
  edit.setSelection(0, 5);
  menu.PopupFor(&edit, QPoint(0, 0));
  EXPECT_TRUE(menu.actCut->isEnabled());
  EXPECT_TRUE(menu.actCopy->isEnabled());
  EXPECT_FALSE(menu.actPaste->isEnabled()) << "the clipboard is empty";
  menu.actCut->trigger();
  menu.hide();
  EXPECT_EQ(edit.text(), " beta");
  EXPECT_EQ(QApplication::clipboard()->text(), "alpha");

  menu.PopupFor(&edit, QPoint(0, 0));
  EXPECT_TRUE(menu.actUndo->isEnabled());
  EXPECT_TRUE(menu.actPaste->isEnabled());
  menu.actUndo->trigger();
  EXPECT_EQ(edit.text(), "alpha beta");
  // Delete takes the selection only; without one it leaves the text alone.
  edit.deselect();
  edit.setCursorPosition(0);
  menu.actDelete->trigger();
  EXPECT_EQ(edit.text(), "alpha beta");
  menu.actSelectAll->trigger();
  EXPECT_EQ(edit.selectedText(), "alpha beta");
  menu.actDelete->trigger();
  EXPECT_EQ(edit.text(), "");
  menu.hide();

  QPlainTextEdit memo("one two");
  menu.PopupFor(&memo, QPoint(0, 0));
  EXPECT_FALSE(menu.actCopy->isEnabled());
  menu.actSelectAll->trigger();
  menu.hide();
  // The commands are set as the menu opens, as the user sees them.
  menu.PopupFor(&memo, QPoint(0, 0));
  EXPECT_TRUE(menu.actCopy->isEnabled());
  menu.actCopy->trigger();
  menu.hide();
  EXPECT_EQ(QApplication::clipboard()->text(), "one two");
  memo.moveCursor(QTextCursor::End);
  menu.PopupFor(&memo, QPoint(0, 0));
  menu.actPaste->trigger();
  menu.hide();
  EXPECT_EQ(memo.toPlainText(), "one twoone two");

  // Opened without a control, the edit commands have nothing to work on.
  menu.PopupFor(nullptr, QPoint(0, 0));
  EXPECT_FALSE(menu.actDelete->isEnabled());
  EXPECT_FALSE(menu.actSelectAll->isEnabled());
  menu.hide();
}

TEST(VarsMenu, VariablesOnlyMenuHidesTestSpecificItemsAndKeepsTheLastChoice) {
  TVarsMenu only(TVarsMenu::TKind::VarsOnly);
  EXPECT_EQ(only.actUndo, nullptr);
  for (const char* hidden : {"%ip%", "%mac%", "%port%", "%service%", "%share%", "%url%", "%lasthost%",
                             "%traceroute%", "%droppedat%"})
    EXPECT_EQ(only.VariableAction(hidden), nullptr) << hidden;
  for (const char* offered : {"%displayname%", "%addr%", "%oldip%", "%pctchanged%", "%computer%"})
    EXPECT_NE(only.VariableAction(offered), nullptr) << offered;
  // The three submenus and nothing else at the top.
  QStringList titles;
  for (QAction* action : only.actions()) titles << action->text();
  EXPECT_EQ(titles, (QStringList{"Basic Host Information", "Host Status", "General Information"}));

  QStringList chosen;
  QObject::connect(&only, &TVarsMenu::VariableChosen, [&](const QString& v) { chosen << v; });
  Pick(only, nullptr, "%status%");
  EXPECT_EQ(only.LastChoice(), "%status%");
  Pick(only, nullptr, "%uptime%");
  EXPECT_EQ(only.LastChoice(), "%uptime%");
  EXPECT_EQ(chosen, (QStringList{"%status%", "%uptime%"}));
  // With a target it inserts likewise.
  QLineEdit edit;
  Pick(only, &edit, "%group%");
  EXPECT_EQ(edit.text(), "%group%");
}

TEST(VarsMenu, ItemsShowTheTablesHints) {
  TVarsMenu full(TVarsMenu::TKind::Vars);
  int offered = 0;
  for (const TVariableMenuItem& item : HostVariables()) {
    if (!*item.Name) continue;
    QAction* action = full.VariableAction(QString::fromLatin1(item.Name));
    ASSERT_NE(action, nullptr) << item.Name;
    EXPECT_EQ(action->toolTip(), QString::fromLatin1(item.Hint));
    EXPECT_EQ(action->statusTip(), QString::fromLatin1(item.Hint));
    ++offered;
  }
  EXPECT_EQ(offered, 41);
  EXPECT_EQ(full.VariableAction("%group%")->toolTip(), "Group number to whch a host belongs");
  const QMenu* insert = nullptr;
  for (QAction* action : full.actions())
    if (action->text() == "Insert Variable") insert = action->menu();
  ASSERT_NE(insert, nullptr);
  EXPECT_TRUE(insert->toolTipsVisible());
  for (QAction* sub : insert->actions()) EXPECT_TRUE(sub->menu()->toolTipsVisible()) << sub->text().toStdString();
}
