#include "ui/TfrmHTTPSettings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include "ui/TDialogAsk.h"
#include "ui/TVarsMenu.h"
#include "ui/TfrmCheckList.h"

namespace {

QStringList Entries(const QListWidget* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries << list->item(i)->text();
  return entries;
}

void LeaveURL(TfrmHTTPSettings& dialog) {
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(dialog.tbURL, &leave);
}

THTTPReq TestRequest() {
  THTTPReq request;
  request.URL = "https://intranet.example.test/status";
  request.Post = true;
  request.Variables = std::string("host=%host%\xFF\xFF") + "state=%status%\xFF";
  request.ChangeThreshold = 1.5f;
  request.ChangeRecipients = "ops@example.test";
  request.UserName = "monitor";
  request.Password = "s\xE9" "cret";  // Latin-1 survives the round trip
  request.LastChange = 0.25f;
  return request;
}

}  // namespace

TEST(HTTPSettings, RequestRoundTripsThroughTheDialog) {
  TDialogAsk ask;
  THTTPReq request = TestRequest();
  bool recipientsOffered = false;
  ask.DialogAnswer = [&](QDialog& shown) {
    if (auto* editor = qobject_cast<TfrmCheckList*>(&shown)) {
      // The recipient editor gets the box and the other hosts' addresses with ";" for ",".
      EXPECT_EQ(editor->windowTitle(), "Edit Recipient List");
      EXPECT_EQ(editor->TickedEntries(), (QStringList{"ops@example.test", "dev@example.test"}));
      bool found = false;
      for (int i = 0; i < editor->List->count(); ++i)
        if (editor->List->item(i)->text() == "noc@example.test") {
          editor->List->item(i)->setCheckState(Qt::Checked);
          found = true;
        }
      EXPECT_TRUE(found) << "a known recipient is offered";
      recipientsOffered = true;
      return int(QDialog::Accepted);
    }
    auto& dialog = dynamic_cast<TfrmHTTPSettings&>(shown);
    EXPECT_EQ(dialog.windowTitle(), "HTTP Settings");
    EXPECT_EQ(Entries(dialog.lbVars), (QStringList{"host=%host%", "state=%status%"})) << "empty entries dropped";
    EXPECT_TRUE(dialog.rbPost->isChecked());
    EXPECT_EQ(dialog.cbChange->currentText(), "1.5%");
    EXPECT_EQ(dialog.tbPassword->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog.pcHTTP->isTabVisible(1)) << "a test shows the page-change tab";
    EXPECT_EQ(dialog.cbChange->count(), 31);
    EXPECT_EQ(dialog.cbChange->itemText(0), "0.00%");

    dialog.rbGET->setChecked(true);
    dialog.tbName->setText("when");
    dialog.tbValue->setText("%lastcheck%");
    dialog.btnAdd->click();
    dialog.cbChange->setEditText(" 2.5 %");
    dialog.cbAlertTo->setText("ops@example.test, dev@example.test");
    dialog.btnHostDown->click();
    EXPECT_EQ(dialog.cbAlertTo->text(), "ops@example.test;dev@example.test;noc@example.test");
    dialog.btnOK->click();
    return dialog.result();
  };
  ASSERT_TRUE(EditHTTPSettings(nullptr, ask, request, true, {"x@example.test,noc@example.test"}));
  EXPECT_TRUE(recipientsOffered);
  EXPECT_EQ(request.Variables, "host=%host%\xFFstate=%status%\xFFwhen=%lastcheck%");
  EXPECT_FALSE(request.Post);
  EXPECT_FLOAT_EQ(request.ChangeThreshold, 2.5f);
  EXPECT_EQ(request.ChangeRecipients, "ops@example.test;dev@example.test;noc@example.test");
  EXPECT_EQ(request.Password, "s\xE9" "cret");
  EXPECT_EQ(request.Edited, 1);
  EXPECT_FLOAT_EQ(request.LastChange, 0.25f) << "what the dialog does not show stays";

  // Cancel changes nothing, not even the edited flag; an unreadable threshold reads as 0.
  THTTPReq before = TestRequest();
  THTTPReq untouched = before;
  ask.DialogAnswer = [](QDialog& shown) {
    auto& dialog = dynamic_cast<TfrmHTTPSettings&>(shown);
    dialog.tbURL->setText("http://elsewhere.test/");
    dialog.btnCancel->click();
    return dialog.result();
  };
  EXPECT_FALSE(EditHTTPSettings(nullptr, ask, untouched, false, {}));
  EXPECT_EQ(untouched, before);
  TfrmHTTPSettings notification(before, false, {}, ask);
  EXPECT_FALSE(notification.pcHTTP->isTabVisible(1)) << "a notification hides the page-change tab";
  notification.cbChange->setEditText("lots");
  notification.btnOK->click();
  EXPECT_FLOAT_EQ(notification.Request().ChangeThreshold, 0.0f);
  EXPECT_EQ(notification.Request().Edited, 1);
}

TEST(HTTPSettings, LeavingTheURLBoxWarnsOfOtherSchemes) {
  TDialogAsk ask;
  ask.MessageAnswer = [](TDialogAsk::TKind, const QString&, const QString&) { return int(QMessageBox::Ok); };
  TfrmHTTPSettings dialog({}, true, {}, ask);
  const struct {
    const char* URL;
    bool Warned;
  } cases[] = {{"ftp://x", true},        {"https://x", false}, {"HTTP://x/a", false}, {"", false},
               {"www.example.test", true}, {"Https:", false},  {"http//x", true}};
  for (const auto& c : cases) {
    const size_t before = ask.Asked().size();
    dialog.tbURL->setText(c.URL);
    LeaveURL(dialog);
    ASSERT_EQ(ask.Asked().size(), before + (c.Warned ? 1 : 0)) << c.URL;
    if (c.Warned) {
      EXPECT_EQ(ask.Asked().back().Kind, TDialogAsk::TKind::Warning);
      EXPECT_EQ(ask.Asked().back().Text, "URLs must begin with \"http:\".");
    }
  }
  // Another window or a pop-up menu taking the focus for a while is no leaving.
  const size_t warned = ask.Asked().size();
  dialog.tbURL->setText("ftp://x");
  for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
    QFocusEvent away(QEvent::FocusOut, reason);
    QApplication::sendEvent(dialog.tbURL, &away);
  }
  EXPECT_EQ(ask.Asked().size(), warned);

  // OK does not take a URL that leaving the box refuses.
  dialog.tbURL->setText("ftp://x");
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(ask.Asked().back().Text, "URLs must begin with \"http:\".");
  dialog.tbURL->setText("http://x");
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Request().URL, "http://x");
}

TEST(HTTPSettings, AddEnablesForNameAndValueAndReplacesTheSameName) {
  TDialogAsk ask;
  THTTPReq request;
  request.Variables = "User=a\xFFmode=b";
  TfrmHTTPSettings dialog(request, true, {}, ask);
  EXPECT_FALSE(dialog.btnAdd->isEnabled());
  dialog.tbName->setText("user");
  EXPECT_FALSE(dialog.btnAdd->isEnabled()) << "no value";
  dialog.tbValue->setText("%username%");
  EXPECT_TRUE(dialog.btnAdd->isEnabled());
  dialog.btnAdd->click();
  EXPECT_EQ(Entries(dialog.lbVars), (QStringList{"user=%username%", "mode=b"})) << "replaced where it stood";
  EXPECT_EQ(dialog.tbName->text(), "");
  EXPECT_EQ(dialog.tbValue->text(), "");
  EXPECT_FALSE(dialog.btnAdd->isEnabled());

  // Enter in the value box adds, and does not close the dialog.
  dialog.show();
  dialog.tbName->setText("extra");
  dialog.tbValue->setText("1");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(dialog.tbValue, &enter);
  EXPECT_EQ(Entries(dialog.lbVars), (QStringList{"user=%username%", "mode=b", "extra=1"}));
  EXPECT_TRUE(dialog.isVisible());

  // Double-click loads an entry back; Delete removes the selected one.
  dialog.lbVars->setCurrentRow(1);
  emit dialog.lbVars->itemDoubleClicked(dialog.lbVars->item(1));
  EXPECT_EQ(dialog.tbName->text(), "mode");
  EXPECT_EQ(dialog.tbValue->text(), "b");
  dialog.btnDelete->click();
  EXPECT_EQ(Entries(dialog.lbVars), (QStringList{"user=%username%", "extra=1"}));
  dialog.lbVars->setCurrentRow(-1);
  dialog.btnDelete->click();
  EXPECT_EQ(dialog.lbVars->count(), 2) << "nothing selected, nothing removed";

  // Both boxes carry the variable menu.
  for (QLineEdit* box : {dialog.tbName, dialog.tbValue}) {
    box->clear();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(1, 1), box->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(box, &click);
    EXPECT_EQ(dialog.pmVars->Target(), box);
    dialog.pmVars->VariableAction("%host%")->trigger();
    dialog.pmVars->hide();
    EXPECT_EQ(box->text(), "%host%");
  }
}
