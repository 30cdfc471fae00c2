#include "ui/TConfigHostsPage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimeEdit>

#include <map>
#include <memory>

#include "core/THost.h"
#include "core/THostList.h"
#include "ui/TDialogAsk.h"
#include "ui/TTimeInterval.h"
#include "ui/TfrmCheckList.h"
#include "ui/TfrmHTTPSettings.h"
#include "ui/TfrmList.h"
#include "ui/TfrmMultServices.h"

namespace {

class ConfigHostsPageTest : public ::testing::Test {
protected:
  ConfigHostsPageTest() {
    Ask.MessageAnswer = [this](TDialogAsk::TKind, const QString&, const QString&) { return Answer; };
  }

  THost& Add(const std::string& name, const std::string& address, TTestKind kind = TestPing) {
    auto record = Working.NewRecord(46000.0);
    record->DisplayName = name;
    record->Address = address;
    record->TestKind = kind;
    return *Working.Add(std::move(record));
  }

  void Open(int index = 0) {
    TConfigHostsContext context;
    context.Live = &Live;
    context.Sources = Sources;
    context.Now = [] { return 46000.5; };
    context.ReverseName = [this](const std::string& address) { return Reverse[address]; };
    context.IsBroadcast = [this](const std::string& address) {
      ++BroadcastChecks;
      return address.ends_with(".255");
    };
    context.ResolveName = [](const std::string& name) { return name == "gateway" ? "10.0.0.1" : ""; };
    Page = std::make_unique<TConfigHostsPage>(Working, context, Ask);
    Page->SelectHostIndex(index);
  }

  // As the user selects lines with the mouse.
  void Select(std::initializer_list<int> lines) {
    Page->lbHosts->clearSelection();
    for (int line : lines) Page->lbHosts->item(line)->setSelected(true);
    Page->lbHosts->setCurrentRow(*lines.begin(), QItemSelectionModel::NoUpdate);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& record : Working.Records()) names.push_back(record->DisplayName);
    return names;
  }

  QListWidgetItem* Entry(QListWidget* list, const THost& host) const {
    for (int row = 0; row < list->count(); ++row)
      if (list->item(row)->data(Qt::UserRole).toInt() == host.ID) return list->item(row);
    return nullptr;
  }

  THostList Working;
  THostList Live;
  TDialogAsk Ask;
  int Answer = QMessageBox::Yes;
  int BroadcastChecks = 0;
  TMultServicesSources Sources;
  std::map<std::string, std::string> Reverse;
  std::unique_ptr<TConfigHostsPage> Page;
};

TEST_F(ConfigHostsPageTest, SeveralHostsShowMarkersAndKeepWhatTheUserLeftAlone) {
  THost& a = Add("Alpha", "10.0.0.1");
  THost& b = Add("Beta", "10.0.0.1");
  Add(";Servers", "");
  a.TestInterval = 1.0;
  b.TestInterval = 5.0;
  b.AlertWindow = false;
  a.OfflineCommand = "notify alpha";
  Open();
  EXPECT_EQ(Page->lbHosts->item(0)->text(), "Alpha (10.0.0.1)");
  EXPECT_EQ(Page->lbHosts->item(2)->text(), "----Servers----");
  EXPECT_EQ(Page->tbDispName->text(), "Alpha");

  Select({0, 1, 2});
  EXPECT_EQ(Page->EditedIDs().size(), 2u) << "group rows are never edited";
  EXPECT_EQ(Page->tiInterval->Text(), MultipleValuesText);
  EXPECT_EQ(Page->tbDispName->text(), MultipleValuesText);
  EXPECT_EQ(Page->tbHostname->currentText(), "10.0.0.1") << "the same in both";
  EXPECT_EQ(Page->cbHostDownCmd->currentText(), MultipleValuesText) << "an extra item in a drop-down";
  EXPECT_EQ(Page->ckbAlert->checkState(), Qt::PartiallyChecked);

  // Only the test kind changes: both keep their intervals, names and alert flags.
  Page->cbService->setCurrentIndex(Page->cbService->findText("TCP Connect"));
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_EQ(a.TestKind, TestTCP);
  EXPECT_EQ(b.TestKind, TestTCP);
  EXPECT_DOUBLE_EQ(a.TestInterval, 1.0);
  EXPECT_DOUBLE_EQ(b.TestInterval, 5.0);
  EXPECT_EQ(a.DisplayName, "Alpha");
  EXPECT_EQ(b.DisplayName, "Beta");
  EXPECT_TRUE(a.AlertWindow);
  EXPECT_FALSE(b.AlertWindow);
  EXPECT_EQ(a.OfflineCommand, "notify alpha");
  EXPECT_EQ(b.OfflineCommand, "");

  // A click on the grey box gives both the value.
  Page->ckbAlert->click();
  EXPECT_TRUE(a.AlertWindow);
  EXPECT_TRUE(b.AlertWindow);
  Page->ckbAlert->click();
  EXPECT_FALSE(a.AlertWindow);
  EXPECT_FALSE(b.AlertWindow);

  // A port typed as a number with its name; a number below 1 leaves the port alone.
  Page->cbPort->setEditText("8080 (proxy)");
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_EQ(a.Port, 8080);
  EXPECT_EQ(b.Port, 8080);
  Page->cbPort->setEditText("0");
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_EQ(a.Port, 8080);

  // An interval shorter than a second is not taken; a real one goes to both.
  Page->tiInterval->SetText("0 seconds");
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_DOUBLE_EQ(b.TestInterval, 5.0);
  Page->tiInterval->SetText("2 minutes");
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_DOUBLE_EQ(a.TestInterval, 2.0);
  EXPECT_DOUBLE_EQ(b.TestInterval, 2.0);
  EXPECT_EQ(Page->lbHosts->item(0)->text(), "Alpha (10.0.0.1:8080)") << "lines show the new host labels";
  EXPECT_EQ(BroadcastChecks, 0) << "an address left alone is not looked up on every commit";
}

TEST_F(ConfigHostsPageTest, CommitRefusesBroadcastAndFillsEmptyNames) {
  THost& router = Add("Router", "10.0.0.7");
  THost& printer = Add("Printer", "10.0.0.8");
  Reverse["10.0.0.7"] = "router.lan";
  Answer = QMessageBox::Cancel;
  Open();

  Page->tbHostname->setEditText("192.168.1.255");
  Page->tbDispName->setText("Edge");
  EXPECT_FALSE(Page->CommitEdits());
  ASSERT_FALSE(Ask.Asked().empty());
  EXPECT_EQ(Ask.Asked().back().Text, "You may not select a broadcast address for a host.");
  EXPECT_EQ(Ask.Asked().back().Kind, TDialogAsk::TKind::Error);
  EXPECT_EQ(router.Address, "10.0.0.7") << "nothing is committed";
  EXPECT_EQ(router.DisplayName, "Router");
  // Selecting another line keeps the refused one selected, still unchanged; the click
  // that left the box does not say it twice.
  Select({1});
  EXPECT_EQ(Page->EditedIDs(), std::vector<int32_t>{router.ID});
  EXPECT_EQ(Ask.Asked().size(), 1u);
  QApplication::processEvents();
  EXPECT_FALSE(Page->CommitEdits());
  EXPECT_EQ(Ask.Asked().size(), 2u) << "a later try is told again";

  // An empty name becomes the reverse name of the address, else the address.
  Page->tbHostname->setEditText("10.0.0.7");
  Page->tbDispName->clear();
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_EQ(router.DisplayName, "router.lan");
  EXPECT_EQ(Page->tbDispName->text(), "router.lan");
  EXPECT_EQ(Page->lbHosts->item(0)->text(), "router.lan (10.0.0.7)");
  Select({1});
  Page->tbDispName->clear();
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_EQ(printer.DisplayName, "10.0.0.8");

  // A changed address clears the current IP; the resolve button puts the address in.
  printer.CurrentIP = "10.0.0.8";
  Page->tbHostname->setEditText("printer.lan");
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_EQ(printer.Address, "printer.lan");
  EXPECT_EQ(printer.CurrentIP, "");
  Page->tbDispName->setText("gateway");
  EXPECT_TRUE(Page->btnResolve->isEnabled());
  Page->btnResolve->click();
  EXPECT_EQ(printer.Address, "10.0.0.1");
  Page->tbDispName->setText("two words");
  EXPECT_FALSE(Page->btnResolve->isEnabled()) << "only host-name characters";
}

TEST_F(ConfigHostsPageTest, CopyAddAndRemoveLines) {
  THost& web = Add("Web", "web.lan", TestHTTP);
  web.HTTPTest.URL = "http://web.lan/status";
  web.Successes = 12;
  Add(";Core", "");
  Add("Switch", "10.0.0.2");
  Live.Add(Live.NewRecord(46000.0));
  Open();

  // Copy of the selected host, after it, new ID, no statistics.
  EXPECT_TRUE(Page->actCopyHost->isEnabled());
  Page->CopyHost();
  ASSERT_EQ(Working.Count(), 4);
  const THost& copy = *Working.Items(1);
  EXPECT_EQ(copy.DisplayName, "Copy of Web");
  EXPECT_EQ(copy.HTTPTest.URL, "http://web.lan/status");
  EXPECT_EQ(copy.Successes, 0u);
  EXPECT_NE(copy.ID, web.ID);
  EXPECT_EQ(Live.FindByID(copy.ID), -1);
  EXPECT_EQ(Page->EditedIDs(), std::vector<int32_t>{copy.ID}) << "the new line is selected";

  // With a group row selected a default host is added; two lines disable the copies.
  Select({2});
  Page->CopyHost();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Web", "Copy of Web", ";Core", "", "Switch"}));
  EXPECT_EQ(Working.Items(3)->TestKind, TestPing);
  Select({0, 1});
  EXPECT_FALSE(Page->actCopyHost->isEnabled());
  EXPECT_FALSE(Page->actCopyMultiple->isEnabled());

  // Several copies, one per address entered.
  Select({4});
  Ask.DialogAnswer = [](QDialog& dialog) {
    auto* list = qobject_cast<TfrmCheckList*>(&dialog);
    if (!list) return int(QDialog::Rejected);
    EXPECT_EQ(list->windowTitle(), "Add Multiple Hosts");
    list->SetEntries({"10.0.0.3", "10.0.0.4"});
    return int(QDialog::Accepted);
  };
  Page->CopyHostMultiple();
  ASSERT_EQ(Working.Count(), 7);
  EXPECT_EQ(Working.Items(5)->Address, "10.0.0.3");
  EXPECT_EQ(Working.Items(6)->DisplayName, "10.0.0.4");

  // Removing asks, then makes the line after the last removed one current: here the
  // new last line.
  Select({5, 6});
  Page->RemoveSelected();
  EXPECT_EQ(Ask.Asked().back().Text, "Are you sure you wish to remove 2 hosts?");
  ASSERT_EQ(Working.Count(), 5);
  EXPECT_EQ(Page->lbHosts->currentRow(), 4);
  EXPECT_EQ(Page->EditedIDs(), std::vector<int32_t>{Working.Items(4)->ID});
  Answer = QMessageBox::No;
  Page->RemoveSelected();
  EXPECT_EQ(Ask.Asked().back().Text, "Are you sure you wish to remove the selected host?");
  EXPECT_EQ(Working.Count(), 5);
  Answer = QMessageBox::Yes;
  Select({1});
  Page->RemoveSelected();
  EXPECT_EQ(Page->lbHosts->currentRow(), 1) << "the line after the removed one";
  EXPECT_EQ(Working.Items(1)->DisplayName, ";Core");
}

TEST_F(ConfigHostsPageTest, GroupsAreCleanedAndInsertedAtTheCurrentLine) {
  Add("One", "10.0.0.1");
  Add("Two", "10.0.0.2");
  Open();
  Ask.TextAnswer = [](const QString& caption, const QString& label) -> std::optional<QString> {
    if (caption == "New Group" && label == "Enter a name for a group") return QString::fromLatin1("Core,\tSwitches\xe9!");
    if (caption == "Rename Group") return QString("Edge, Routers");
    return std::nullopt;
  };
  Page->AddGroup();
  EXPECT_EQ(Names(), (std::vector<std::string>{";CoreSwitches!", "One", "Two"}));
  Select({2});
  Page->AddGroup();
  EXPECT_EQ(Names(), (std::vector<std::string>{";CoreSwitches!", "One", "Two", ";CoreSwitches!"}))
      << "after the last line";
  emit Page->lbHosts->itemDoubleClicked(Page->lbHosts->item(0));
  EXPECT_EQ(Working.Items(0)->DisplayName, ";Edge Routers");
  EXPECT_EQ(Page->lbHosts->item(0)->text(), "----Edge Routers----");
  Page->AddSingleHost();
  EXPECT_EQ(Working.Count(), 5);
}

TEST_F(ConfigHostsPageTest, AddHostMakesOneRecordPerChosenTest) {
  Add("Existing", "10.0.0.1");
  Sources.Services = [](const std::string&, std::vector<std::string>& list, int&) {
    list = {"Spooler|Print Spooler|4"};
    return true;
  };
  Sources.Shares = [](const std::string&, std::vector<std::string>& list, int&) {
    list = {"public"};
    return true;
  };
  Open();
  Page->AddComputerNames({"MAILSRV", "FILESRV"});
  Ask.DialogAnswer = [](QDialog& dialog) {
    if (auto* selector = qobject_cast<TfrmList*>(&dialog)) {
      for (int i = 0; i < selector->List->count(); ++i) selector->List->item(i)->setCheckState(Qt::Checked);
      return int(QDialog::Accepted);
    }
    auto* add = qobject_cast<TfrmMultServices*>(&dialog);
    if (!add) return int(QDialog::Rejected);
    add->btnServices->click();
    add->btnShare->click();
    EXPECT_GE(add->cbHost->findText("MAILSRV"), 0) << "the computer names are offered";
    add->tbDispName->setText("Mail");
    add->cbHost->setEditText("mail.lan");
    add->cbGroup->setChecked(true);
    add->cbPing->setChecked(true);
    add->ckbHTTPS->setChecked(true);
    add->ckbSMTP->setChecked(true);
    add->tbPorts->setText("8080,,99999,25");
    add->ckbWeb->setChecked(true);
    add->tbURL->setText("http://mail.lan/owa");
    return int(QDialog::Accepted);
  };
  Page->AddHost();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Existing", ";Mail", "Mail (Ping)", "Mail (Secure Web)", "Mail (SMTP Mail)",
                                               "Mail (8080)", "Mail (25)", "Mail (Spooler)", "Mail (public)",
                                               "Mail (HTTP Content)"}));
  EXPECT_EQ(Working.Items(3)->Port, 443);
  EXPECT_EQ(Working.Items(3)->TestKind, TestTCP);
  EXPECT_EQ(Working.Items(5)->Port, 8080);
  EXPECT_EQ(Working.Items(7)->TestKind, TestService);
  EXPECT_EQ(Working.Items(7)->Service, "Spooler|Print Spooler");
  EXPECT_EQ(Working.Items(8)->TestKind, TestShare);
  EXPECT_EQ(Working.Items(8)->SharePath, "public");
  EXPECT_EQ(Working.Items(9)->TestKind, TestHTTP);
  EXPECT_EQ(Working.Items(9)->HTTPTest.URL, "http://mail.lan/owa");
  for (int i = 2; i < 10; ++i) EXPECT_EQ(Working.Items(i)->Address, "mail.lan");
  EXPECT_DOUBLE_EQ(Working.Items(2)->TestInterval, 1.0) << "defaults of a new record";
  EXPECT_EQ(Page->EditedIDs().size(), 8u) << "the new lines are selected";

  // Without a display name the host box names them.
  Ask.DialogAnswer = [](QDialog& dialog) {
    auto* add = qobject_cast<TfrmMultServices*>(&dialog);
    add->cbHost->setEditText("nas.lan");
    add->cbPing->setChecked(true);
    return int(QDialog::Accepted);
  };
  Page->AddHost();
  EXPECT_EQ(Working.Items(2)->DisplayName, "nas.lan (Ping)") << "after the current line (the group row)";
}

TEST_F(ConfigHostsPageTest, DependencyTicksNeverMakeAHostItsOwnAncestor) {
  THost& a = Add("A", "10.0.0.1");
  THost& b = Add("B", "10.0.0.2");
  THost& c = Add("C", "10.0.0.3");
  Add("Plain", "10.0.0.4");
  for (THost* host : {&a, &b, &c}) host->Dependable = true;
  b.Parents = a.IDText();  // A -> B -> C: C depends on B, B on A
  c.Parents = b.IDText();
  Working.RecomputeAllAncestors();
  Open();
  EXPECT_EQ(Page->ckbOfflineHosts->count(), 3) << "dependable hosts only";
  QListWidgetItem* cEntry = Entry(Page->ckbOfflineHosts, c);
  ASSERT_NE(cEntry, nullptr);
  EXPECT_FALSE(cEntry->flags() & Qt::ItemIsEnabled) << "C already depends on A";
  EXPECT_FALSE(cEntry->toolTip().isEmpty());
  EXPECT_FALSE(Entry(Page->ckbOfflineHosts, a)->flags() & Qt::ItemIsEnabled) << "A alone may not be its own parent";
  ASSERT_NE(Entry(Page->ckbDependentHosts, b), nullptr);
  EXPECT_EQ(Entry(Page->ckbDependentHosts, b)->checkState(), Qt::Checked);
  EXPECT_EQ(Entry(Page->ckbDependentHosts, c), nullptr) << "only direct dependants";

  // B's offline list: A is ticked; clearing and ticking it again edits B's parents.
  Select({1});
  QListWidgetItem* aEntry = Entry(Page->ckbOfflineHosts, a);
  EXPECT_EQ(aEntry->checkState(), Qt::Checked);
  aEntry->setCheckState(Qt::Unchecked);
  EXPECT_EQ(b.Parents, "");
  aEntry->setCheckState(Qt::Checked);
  EXPECT_EQ(b.Parents, a.IDText());
  EXPECT_FALSE(Entry(Page->ckbOfflineHosts, c)->flags() & Qt::ItemIsEnabled) << "C depends on B itself";

  // A and B selected, B ticked: A gets B, B not itself. B's entry is grey (some).
  b.Parents.clear();
  c.Parents.clear();
  Working.RecomputeAllAncestors();
  Select({0, 1});
  EXPECT_TRUE(Entry(Page->ckbOfflineHosts, c)->flags() & Qt::ItemIsEnabled) << "no loop any more";
  Entry(Page->ckbOfflineHosts, b)->setCheckState(Qt::Checked);
  EXPECT_EQ(a.Parents, b.IDText());
  EXPECT_EQ(b.Parents, "");
  EXPECT_EQ(Entry(Page->ckbOfflineHosts, b)->checkState(), Qt::PartiallyChecked);

  // Dependants of B: A. Cleared and ticked again; a tick that would loop is skipped.
  Select({1});
  QListWidgetItem* dependent = Entry(Page->ckbDependentHosts, a);
  ASSERT_NE(dependent, nullptr);
  dependent->setCheckState(Qt::Unchecked);
  EXPECT_EQ(a.Parents, "");
  EXPECT_NE(Entry(Page->ckbDependentHosts, a), nullptr) << "stays listed to be ticked again";
  b.Parents = a.IDText();
  Working.RecomputeAllAncestors();
  Entry(Page->ckbDependentHosts, a)->setCheckState(Qt::Checked);
  EXPECT_EQ(a.Parents, "") << "B depends on A: A may not depend on B";
  EXPECT_EQ(Entry(Page->ckbDependentHosts, a)->checkState(), Qt::Unchecked) << "the list shows the truth";
}

TEST_F(ConfigHostsPageTest, ListSelectionShortcutsAndReordering) {
  Add("Web 1", "SRV.lan");
  Add(";Group", "");
  Add("Web 2", "srv.LAN", TestTCP);
  Add("Other", "10.0.0.9");
  Open(99);
  EXPECT_EQ(Page->lbHosts->currentRow(), 0) << "an index outside the list selects the first line";

  QKeyEvent ctrlA(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
  QApplication::sendEvent(Page->lbHosts, &ctrlA);
  EXPECT_FALSE(Page->lbHosts->item(1)->isSelected()) << "group lines stay out";
  EXPECT_EQ(Page->EditedIDs().size(), 3u);

  emit Page->lbHosts->itemDoubleClicked(Page->lbHosts->item(2));
  EXPECT_EQ(Page->EditedIDs(), (std::vector<int32_t>{Working.Items(0)->ID, Working.Items(2)->ID}))
      << "same address, letter case ignored";

  // A line moved in the list moves its record.
  QListWidgetItem* item = Page->lbHosts->takeItem(3);
  Page->lbHosts->insertItem(0, item);
  QApplication::processEvents();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Other", "Web 1", ";Group", "Web 2"}));
  // A drop inside the list moves the model's rows, as this does.
  ASSERT_TRUE(Page->lbHosts->model()->moveRow(QModelIndex(), 0, QModelIndex(), 4));
  QApplication::processEvents();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Web 1", ";Group", "Web 2", "Other"}));
  EXPECT_EQ(Page->lbHosts->item(3)->text(), "Other (10.0.0.9)");
}

TEST_F(ConfigHostsPageTest, ServiceKindWithoutAListFallsBackToPing) {
  THost& service = Add("Spooler", "srv.lan", TestService);
  service.Service = "Spooler|Print Spooler";
  Answer = QMessageBox::Ok;
  Open();
  ASSERT_FALSE(Ask.Asked().empty());
  EXPECT_EQ(Ask.Asked().back().Text,
            "The service list could not be retrieved from srv.lan.  Ping will be selected as the service test type.");
  EXPECT_EQ(service.TestKind, TestPing);
}

TEST_F(ConfigHostsPageTest, ServiceListAndAlertBoxes) {
  THost& host = Add("Spooler", "srv.lan", TestService);
  host.Service = "Spooler|Print Spooler";
  host.OfflineRecipients = "ops@x.test; a@x.test";
  Add("Other", "10.0.0.5").OnlineRecipients = "A@x.test,boss@x.test";
  TConfigHostsContext context;
  context.Sources.Services = [](const std::string& computer, std::vector<std::string>& list, int&) {
    if (computer != "srv.lan") return false;
    list = {"Spooler|Print Spooler|4", "W32Time|Windows Time|1"};
    return true;
  };
  Page = std::make_unique<TConfigHostsPage>(Working, context, Ask);
  Page->SelectHostIndex(0);
  EXPECT_TRUE(Ask.Asked().empty());
  EXPECT_EQ(Page->cbServices->currentText(), "Print Spooler (Spooler)");
  Page->cbServices->setCurrentIndex(1);
  ASSERT_TRUE(Page->CommitEdits());
  EXPECT_EQ(host.Service, "W32Time|Windows Time");
  EXPECT_EQ(Page->KnownRecipients(), (QStringList{"ops@x.test", "a@x.test", "boss@x.test"}));

  // Shift couples the alert boxes of the two tabs; without it only the one changes.
  Page->KeyboardModifiers = [] { return Qt::KeyboardModifiers(Qt::ShiftModifier); };
  Page->ckbGlobalDownSnd->click();
  EXPECT_FALSE(host.GlobalOfflineSound);
  EXPECT_FALSE(host.GlobalOnlineSound);
  Page->KeyboardModifiers = [] { return Qt::KeyboardModifiers(); };
  Page->ckbAlert->click();
  EXPECT_FALSE(host.AlertWindow);
  EXPECT_FALSE(host.OnlinePopup);
  EXPECT_EQ(Page->tbEmail->toolTip(), "ops@x.test; a@x.test") << "the hint shows the full text";

  // The HTTP buttons follow their boxes; the time windows exclude each other.
  EXPECT_FALSE(Page->btnHTTPDown->isEnabled());
  Page->ckbHTTPDown->click();
  EXPECT_TRUE(Page->btnHTTPDown->isEnabled());
  EXPECT_TRUE(host.OfflineNotify);
  Page->dtpAfter->setTime(QTime(22, 0));
  Page->dtpBefore->setTime(QTime(6, 0));
  Page->ckbEmailDelay->click();
  EXPECT_FALSE(Page->ckbLimitHours->isEnabled());
  EXPECT_TRUE(host.EmailWindow);
  EXPECT_NEAR(static_cast<double>(host.WindowStart), 22.0 / 24, 1e-9);
  EXPECT_NEAR(static_cast<double>(host.WindowEnd), 6.0 / 24, 1e-9);
  Page->ckbEmailDelay->click();
  EXPECT_TRUE(Page->ckbLimitHours->isEnabled());
  EXPECT_FALSE(host.EmailWindow);
  EXPECT_EQ(host.WindowStart, 0);
  EXPECT_EQ(host.WindowEnd, 0);
}

TEST_F(ConfigHostsPageTest, SubDialogsEditEverySelectedHost) {
  THost& a = Add("Site A", "a.lan", TestHTTP);
  THost& b = Add("Site B", "b.lan", TestHTTP);
  a.HTTPTest.URL = "http://a.lan/";
  Add("Mail", "mail.lan").OnlineRecipients = "boss@x.test";
  Open();
  Select({0, 1});
  QStringList offered;
  Ask.DialogAnswer = [&](QDialog& dialog) {
    if (auto* settings = qobject_cast<TfrmHTTPSettings*>(&dialog)) {
      EXPECT_EQ(settings->tbURL->text(), "http://a.lan/") << "the first host's request";
      settings->tbURL->setText("http://shared.lan/health");
      settings->accept();
      return settings->result();
    }
    if (auto* list = qobject_cast<TfrmCheckList*>(&dialog)) {
      for (int row = 0; row < list->List->count(); ++row) {
        offered << list->List->item(row)->text();
        list->List->item(row)->setCheckState(Qt::Checked);
      }
      return int(QDialog::Accepted);
    }
    return int(QDialog::Rejected);
  };
  EXPECT_FALSE(Page->btnSettings->isHidden()) << "the HTTP kind's controls only";
  EXPECT_TRUE(Page->cbPort->isHidden());
  Page->btnSettings->click();
  EXPECT_EQ(a.HTTPTest.URL, "http://shared.lan/health");
  EXPECT_EQ(b.HTTPTest.URL, "http://shared.lan/health");
  EXPECT_EQ(Page->lbHosts->item(1)->text(), "Site B (b.lan@shared.lan/health");
  Page->btnEmail->click();
  EXPECT_EQ(offered, QStringList{"boss@x.test"}) << "recipients of other hosts are offered";
  EXPECT_EQ(a.OfflineRecipients, "boss@x.test");
  EXPECT_EQ(b.OfflineRecipients, "boss@x.test");
  EXPECT_EQ(Page->tbEmail->text(), "boss@x.test") << "the same in both now";
}

TEST_F(ConfigHostsPageTest, ChoosersKeepArgumentsAndQuotePaths) {
  THost& host = Add("Host", "10.0.0.1");
  host.OfflineCommand = "\"/opt/old tool/run\" --host %host%";
  Open();
  QString startedIn;
  Ask.FileAnswer = [&](const QString& caption) -> std::optional<QString> {
    if (caption == "Select a Sound File...") return QString("/sounds/down.wav");
    return QString("/opt/new tool/alert");
  };
  Page->btnHostDownCmd->click();
  EXPECT_EQ(host.OfflineCommand, "\"/opt/new tool/alert\" --host %host%");
  Page->btnSoundUp->click();
  EXPECT_EQ(host.OnlineSound, "/sounds/down.wav");
  EXPECT_EQ(Page->cbSoundUp->toolTip(), "/sounds/down.wav");
  EXPECT_EQ(CleanGroupName("a,b\x7f\x80"), "ab\x7f");
}

}  // namespace
