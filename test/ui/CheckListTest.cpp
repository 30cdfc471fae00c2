#include "ui/TDialogAsk.h"
#include "ui/TfrmCheckList.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace {

QStringList Texts(const QListWidget* list) {
  QStringList texts;
  for (int i = 0; i < list->count(); ++i) texts.append(list->item(i)->text());
  return texts;
}

}  // namespace

TEST(CheckList, AddReplaceRemoveAndTicks) {
  TfrmCheckList editor(nullptr);
  EXPECT_EQ(editor.windowTitle(), "List Editor");
  EXPECT_TRUE(editor.lblInstruction->text().startsWith("To add an entry, type it above and click Add."));
  EXPECT_EQ(editor.List->dragDropMode(), QAbstractItemView::InternalMove);

  // Suggestions come once each, blank ones skipped, none repeating a ticked entry.
  editor.SetEntries({"alpha", " ", "beta"}, {"Beta", "gamma", "", "gamma", " delta "});
  EXPECT_EQ(Texts(editor.List), (QStringList{"alpha", "beta", "gamma", "delta"}));
  EXPECT_EQ(editor.TickedEntries(), (QStringList{"alpha", "beta"}));

  EXPECT_FALSE(editor.btnAdd->isEnabled());
  EXPECT_FALSE(editor.btnReplace->isEnabled());
  EXPECT_TRUE(editor.btnOK->isDefault());
  editor.tbAdd->setText("epsilon");
  EXPECT_TRUE(editor.btnAdd->isEnabled());
  EXPECT_TRUE(editor.btnAdd->isDefault());
  EXPECT_FALSE(editor.btnReplace->isEnabled()) << "nothing selected";
  editor.btnAdd->click();
  EXPECT_TRUE(editor.tbAdd->text().isEmpty());
  EXPECT_EQ(editor.TickedEntries(), (QStringList{"alpha", "beta", "epsilon"}));

  // A double-click brings the entry up for editing and Enter replaces it.
  QListWidgetItem* gamma = editor.List->item(2);
  editor.List->setCurrentItem(gamma);
  emit editor.List->itemDoubleClicked(gamma);
  EXPECT_EQ(editor.tbAdd->text(), "gamma");
  EXPECT_TRUE(editor.btnReplace->isEnabled());
  EXPECT_TRUE(editor.btnReplace->isDefault());
  editor.tbAdd->setText("GAMMA");
  editor.btnReplace->click();
  EXPECT_EQ(editor.List->item(2)->text(), "GAMMA");
  EXPECT_EQ(editor.List->count(), 5);
  EXPECT_TRUE(editor.btnAdd->isDefault());

  // Ticks and removal; the ticked entries come in list order.
  editor.List->item(2)->setCheckState(Qt::Checked);
  editor.List->item(0)->setCheckState(Qt::Unchecked);
  editor.List->clearSelection();
  editor.List->item(1)->setSelected(true);
  editor.List->item(3)->setSelected(true);
  editor.btnRemove->click();
  EXPECT_EQ(Texts(editor.List), (QStringList{"alpha", "GAMMA", "epsilon"}));
  EXPECT_EQ(editor.TickedEntries(), (QStringList{"GAMMA", "epsilon"}));

  // OK with every entry unticked keeps none.
  for (int i = 0; i < editor.List->count(); ++i) editor.List->item(i)->setCheckState(Qt::Unchecked);
  EXPECT_TRUE(editor.TickedEntries().isEmpty());

  TfrmCheckList hosts(nullptr, "Add Multiple Hosts", "Enter host addresses above");
  EXPECT_EQ(hosts.windowTitle(), "Add Multiple Hosts");
  EXPECT_EQ(hosts.lblInstruction->text(), "Enter host addresses above");
}

TEST(CheckList, RecipientEditorSplitsAtCommasAndSemicolons) {
  TDialogAsk ask;
  QStringList shown;
  ask.DialogAnswer = [&](QDialog& dialog) {
    auto& editor = static_cast<TfrmCheckList&>(dialog);
    EXPECT_EQ(editor.windowTitle(), "Edit Recipient List");
    EXPECT_TRUE(editor.lblInstruction->text().contains("angle brackets"));
    shown = Texts(editor.List);
    // The user unticks one, ticks a suggestion and types two at once.
    editor.List->item(1)->setCheckState(Qt::Unchecked);
    editor.List->item(3)->setCheckState(Qt::Checked);
    editor.tbAdd->setText("x@h.test, y@h.test");
    editor.btnAdd->click();
    return int(QDialog::Accepted);
  };
  const auto text = EditRecipientList(nullptr, ask, "a@h.test, Bob <b@h.test>;; c@h.test",
                                      {"b@h.test;d@h.test", "A@H.TEST", "", "e@h.test,d@h.test"});
  EXPECT_EQ(shown, (QStringList{"a@h.test", "Bob <b@h.test>", "c@h.test", "b@h.test", "d@h.test", "e@h.test"}));
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "a@h.test;c@h.test;b@h.test;x@h.test;y@h.test");

  ask.DialogAnswer = [](QDialog&) { return int(QDialog::Rejected); };
  EXPECT_FALSE(EditRecipientList(nullptr, ask, "a@h.test", {}));
  // Unticking everything empties the box.
  ask.DialogAnswer = [](QDialog& dialog) {
    auto& editor = static_cast<TfrmCheckList&>(dialog);
    for (int i = 0; i < editor.List->count(); ++i) editor.List->item(i)->setCheckState(Qt::Unchecked);
    return int(QDialog::Accepted);
  };
  EXPECT_EQ(EditRecipientList(nullptr, ask, "a@h.test;b@h.test", {}), QString());
}
