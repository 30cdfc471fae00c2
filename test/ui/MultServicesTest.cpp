#include "ui/TfrmMultServices.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "common/ErrorText.h"
#include "ui/TDialogAsk.h"
#include "ui/TfrmList.h"

namespace {

void Type(QWidget* target, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(target, &press);
  }
}

QStringList Lines(const TfrmList& list) {
  QStringList lines;
  for (int i = 0; i < list.List->count(); ++i) lines << list.List->item(i)->text();
  return lines;
}

// A computer's lists as the sources report them, with the computer asked for.
struct TFakeComputer {
  std::vector<std::string> Services, Shares;
  int Error = 0;
  std::string Asked;

  TMultServicesSources Sources() {
    TMultServicesSources sources;
    sources.Services = [this](const std::string& computer, std::vector<std::string>& list, int& error) {
      Asked = computer;
      list = Services;
      error = Error;
      return Error == 0;
    };
    sources.Shares = [this](const std::string& computer, std::vector<std::string>& list, int& error) {
      Asked = computer;
      list = Shares;
      error = Error;
      return Error == 0;
    };
    return sources;
  }
};

}  // namespace

TEST(MultServices, GroupTickFollowsTheCountOfTickedTests) {
  TDialogAsk ask;
  TfrmMultServices dialog({}, ask);
  EXPECT_EQ(dialog.windowTitle(), "Add Host & Tests");
  EXPECT_TRUE(dialog.cbPing->isChecked());
  EXPECT_FALSE(dialog.cbGroup->isChecked());
  EXPECT_EQ(dialog.ckbHTTP->text(), "Web Server (80)");

  dialog.ckbHTTP->click();
  EXPECT_TRUE(dialog.cbGroup->isChecked()) << "ping and web server";
  dialog.ckbHTTP->click();
  EXPECT_FALSE(dialog.cbGroup->isChecked()) << "ping alone";

  // While the count stays above one the user's own choice stands.
  dialog.ckbSSH->click();
  dialog.ckbFTP->click();
  EXPECT_TRUE(dialog.cbGroup->isChecked());
  dialog.cbGroup->click();
  dialog.ckbWeb->click();
  EXPECT_FALSE(dialog.cbGroup->isChecked()) << "four tests, group left unticked";
  EXPECT_TRUE(dialog.tbURL->isEnabled()) << "the URL box opens with its tick";
  for (QCheckBox* box : {dialog.cbPing, dialog.ckbSSH, dialog.ckbFTP}) box->click();
  EXPECT_FALSE(dialog.cbGroup->isChecked());
  dialog.ckbWeb->click();
  EXPECT_FALSE(dialog.tbURL->isEnabled());
  dialog.ckbIDENT->click();
  dialog.ckbRPC->click();
  EXPECT_TRUE(dialog.cbGroup->isChecked()) << "from none to two crosses one";

  // The port boxes carry their ports, in the dialog's order.
  std::vector<int> ports;
  for (QCheckBox* box : dialog.PortBoxes()) ports.push_back(box->property("port").toInt());
  EXPECT_EQ(ports, (std::vector<int>{80, 21, 443, 25, 110, 143, 23, 22, 513, 135, 139, 113}));
  EXPECT_EQ(dialog.PortBoxes().back()->text(), "IDENT Server (113)");
}

TEST(MultServices, BoxesTakeOnlyWhatTheyMayAndOKNeedsAHost) {
  TDialogAsk ask;
  ask.MessageAnswer = [](TDialogAsk::TKind, const QString&, const QString&) { return int(QMessageBox::Ok); };
  TfrmMultServices dialog({}, ask);
  Type(dialog.tbPorts, "8a0, x443;b");
  EXPECT_EQ(dialog.tbPorts->text(), "80,443");
  QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  QApplication::sendEvent(dialog.tbPorts, &backspace);
  EXPECT_EQ(dialog.tbPorts->text(), "80,44") << "editing keys still work";

  EXPECT_FALSE(dialog.btnOK->isEnabled());
  dialog.AddComputerNames({"ALPHA", "beta", "alpha", ""});
  EXPECT_EQ(dialog.cbHost->count(), 2);
  EXPECT_EQ(dialog.cbHost->currentText(), "") << "the drop-down does not fill the box";
  EXPECT_FALSE(dialog.btnOK->isEnabled());
  dialog.cbHost->setEditText("server1");
  EXPECT_TRUE(dialog.btnOK->isEnabled());
  dialog.cbHost->setEditText("");
  EXPECT_FALSE(dialog.btnOK->isEnabled());
  dialog.cbHost->setCurrentIndex(1);
  EXPECT_TRUE(dialog.btnOK->isEnabled());

  // Leaving the URL box: http and https pass, other schemes are warned of.
  dialog.ckbWeb->click();
  for (const char* url : {"https://x", "http://x/a", "ftp://x"}) {
    dialog.tbURL->setText(url);
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(dialog.tbURL, &leave);
  }
  ASSERT_EQ(ask.Asked().size(), 1u);
  EXPECT_EQ(ask.Asked()[0].Text, "URLs must begin with \"http:\".");
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected) << "no web test of an ftp URL";
  dialog.tbURL->setText("http://beta/");
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(MultServices, ServicesAreOfferedRunningFirstInDisplayNameOrder) {
  TDialogAsk ask;
  ask.MessageAnswer = [](TDialogAsk::TKind, const QString&, const QString&) { return int(QMessageBox::Ok); };
  TFakeComputer computer;
  computer.Services = {"Spooler|Print Spooler|1", "wuauserv|windows Update|1", "ALG|Application Layer Gateway|1",
                       ""};
  TfrmMultServices dialog(computer.Sources(), ask);
  dialog.cbHost->setEditText("fileserver");
  QStringList shown;
  std::vector<bool> marked;
  int tick = -1;
  ask.DialogAnswer = [&](QDialog& selector) {
    auto& list = dynamic_cast<TfrmList&>(selector);
    EXPECT_EQ(list.windowTitle(), "List Selector");
    shown = Lines(list);
    marked.clear();
    for (int i = 0; i < list.List->count(); ++i) marked.push_back(list.IsMarked(i));
    if (tick < 0) return int(QDialog::Rejected);
    for (int i = 0; i < list.List->count(); ++i)
      list.List->item(i)->setCheckState(i == tick ? Qt::Checked : Qt::Unchecked);
    return int(QDialog::Accepted);
  };
  dialog.btnServices->click();
  EXPECT_EQ(computer.Asked, "fileserver");
  EXPECT_EQ(shown, (QStringList{"Application Layer Gateway (ALG)", "Print Spooler (Spooler)",
                                "windows Update (wuauserv)"}));
  EXPECT_EQ(marked, (std::vector<bool>{false, false, false}));
  EXPECT_TRUE(dialog.Services().isEmpty()) << "cancelled";

  computer.Services = {"Spooler|Print Spooler|4", "wuauserv|windows Update|1", "ALG|Application Layer Gateway|1",
                       "BITS|Background Intelligent Transfer|4", "Zeta|zeta|4"};
  tick = 1;
  dialog.btnServices->click();
  EXPECT_EQ(shown, (QStringList{"Background Intelligent Transfer (BITS)", "Print Spooler (Spooler)", "zeta (Zeta)",
                                "Application Layer Gateway (ALG)", "windows Update (wuauserv)"}));
  EXPECT_EQ(marked, (std::vector<bool>{true, true, true, false, false}));
  EXPECT_EQ(dialog.Services(), (QStringList{"Spooler|Print Spooler"}));

  // Chosen services come back ticked; OK keeps exactly the ticked ones.
  std::vector<int> tickedOnOpen;
  ask.DialogAnswer = [&](QDialog& selector) {
    auto& list = dynamic_cast<TfrmList&>(selector);
    tickedOnOpen = list.TickedRows();
    list.List->item(4)->setCheckState(Qt::Checked);
    list.List->item(1)->setCheckState(Qt::Unchecked);
    return int(QDialog::Accepted);
  };
  dialog.btnServices->click();
  EXPECT_EQ(tickedOnOpen, (std::vector<int>{1}));
  EXPECT_EQ(dialog.Services(), (QStringList{"wuauserv|windows Update"}));

  // A failed listing says why and keeps the choice.
  computer.Error = 53;
  dialog.btnServices->click();
  ASSERT_EQ(ask.Asked().size(), 1u);
  EXPECT_EQ(ask.Asked()[0].Kind, TDialogAsk::TKind::Error);
  EXPECT_EQ(ask.Asked()[0].Text,
            "The list of services could not be retrieved: " + QString::fromLatin1(ErrorText(53)));
  EXPECT_EQ(dialog.Services(), (QStringList{"wuauserv|windows Update"}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor is gone";
}

TEST(MultServices, SharesAreOfferedSortedAndListsWithoutASourceAreDisabled) {
  TDialogAsk ask;
  ask.MessageAnswer = [](TDialogAsk::TKind, const QString&, const QString&) { return int(QMessageBox::Ok); };
  TFakeComputer computer;
  computer.Shares = {"public", "ADMIN$", "Data", "public"};
  TfrmMultServices dialog(computer.Sources(), ask);
  dialog.cbHost->setEditText("nas");
  QStringList shown;
  ask.DialogAnswer = [&](QDialog& selector) {
    auto& list = dynamic_cast<TfrmList&>(selector);
    shown = Lines(list);
    for (int i = 0; i < list.List->count(); ++i)
      list.List->item(i)->setCheckState(list.List->item(i)->text() == "ADMIN$" ? Qt::Unchecked : Qt::Checked);
    return int(QDialog::Accepted);
  };
  dialog.btnShare->click();
  EXPECT_EQ(shown, (QStringList{"ADMIN$", "Data", "public"}));
  EXPECT_EQ(dialog.Shares(), (QStringList{"Data", "public"}));
  computer.Error = 5;
  dialog.btnShare->click();
  ASSERT_EQ(ask.Asked().size(), 1u);
  EXPECT_EQ(ask.Asked()[0].Text, "The list of shares could not be retrieved: " + QString::fromLatin1(ErrorText(5)));
  EXPECT_EQ(dialog.Shares(), (QStringList{"Data", "public"}));

  // Until the program can read a computer's lists, the buttons say so instead.
  TfrmMultServices unavailable({}, ask);
  for (QPushButton* button : {unavailable.btnServices, unavailable.btnShare}) {
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(button->toolTip().contains("becomes available")) << button->toolTip().toStdString();
  }
  EXPECT_EQ(unavailable.btnServices->text(), "Select Windows Services");
  EXPECT_EQ(unavailable.btnShare->text(), "Select Windows File Shares");
}
