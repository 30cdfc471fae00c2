#include <gtest/gtest.h>

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QScrollBar>
#include <QStyle>
#include <QTreeView>
#include <QtTest/QTest>

#include "alerts/TAlerts.h"
#include "ui/THostTableModel.h"
#include "ui/THostInfoPane.h"
#include "ui/TLogView.h"
#include "ui/TPingListView.h"
#include "ui/WindowFixture.h"

namespace {
class MainWindow : public WindowFixture {};
}  // namespace

TEST_F(MainWindow, GeometryViewStyleAndColumnsGoThroughTheSettingsFile) {
  TSettings& s = M->Settings();
  // A narrow window keeps the full width it comes back to.
  s.Width = W->MiniWidth();
  s.Height = 420;
  s.Left = 30;
  s.Top = 40;
  s.FullWidth = 910;
  s.ViewStyle = 1;  // small icons
  s.SetColumnWidth("Address", 111);
  s.SetColumnWidth("Notes", 333);
  s.HostInfoPane = false;
  s.PlaySounds = false;
  W->ApplySettings();
  EXPECT_EQ(W->Model().ViewStyle(), THostTableModel::vsSmallIcon);
  EXPECT_EQ(W->lvPing->Report()->columnWidth(THostTableModel::colAddress), 111);
  EXPECT_FALSE(W->sbHostInfo->isChecked());
  EXPECT_FALSE(W->qlsbSound->isChecked());

  // Written back and read again from the file's text, nothing moves.
  W->StoreSettings();
  TSettings read;
  read.LoadFromText(s.SaveToText());
  EXPECT_EQ(read.Width, W->MiniWidth());
  EXPECT_TRUE(W->qlsbMini->isChecked());
  EXPECT_EQ(read.Height, 420);
  EXPECT_EQ(read.Left, 30);
  EXPECT_EQ(read.Top, 40);
  EXPECT_EQ(read.FullWidth, 910);
  EXPECT_EQ(read.ViewStyle, 1);
  EXPECT_EQ(read.ColumnWidth("Address", 0), 111);
  EXPECT_EQ(read.ColumnWidth("Notes", 0), 333);
  EXPECT_EQ(read.ColumnWidth("Host", 0), THostTableModel::DefaultColumnWidth(THostTableModel::colHost));
  EXPECT_FALSE(read.HostInfoPane);
  EXPECT_FALSE(read.PlaySounds);
}

TEST_F(MainWindow, MiniModeNarrowsHidesAndComesBack) {
  Add("Router", "127.0.0.1", StatusOnline);
  W->resize(800, 480);
  W->show();
  Settle();
  const int mini = W->MiniWidth();
  // The frame is what the list leaves of the window's width, with room for the scroll bar.
  QTreeView* list = W->lvPing->Report();
  const int bar = list->verticalScrollBar()->isVisible() ? 0 : list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  EXPECT_EQ(W->ListFrame(), W->width() - list->viewport()->width() + bar);
  ASSERT_GT(mini, THostTableModel::DefaultColumnWidth(THostTableModel::colHost));
  EXPECT_EQ(W->NormalWidth(), 800);

  W->qlsbMini->setChecked(true);
  W->qlsbMiniClick(false);
  Settle();
  EXPECT_EQ(W->width(), mini);
  EXPECT_EQ(W->qlsbMini->text(), ">>");
  EXPECT_TRUE(W->btnRefresh->isHidden());
  EXPECT_TRUE(W->btnConfig->isHidden());
  EXPECT_TRUE(W->btnReset->isHidden());
  EXPECT_FALSE(W->pcCorvale->isTabVisible(W->pcCorvale->indexOf(W->tsLog)));
  EXPECT_EQ(W->NormalWidth(), 800) << "the narrow width is not the one to come back to";

  // Another page shows at the normal width; back on the hosts page it is narrow again.
  W->pcCorvale->setCurrentWidget(W->tsLog);
  Settle();
  EXPECT_EQ(W->width(), 800);
  W->pcCorvale->setCurrentWidget(W->tsPing);
  Settle();
  EXPECT_EQ(W->width(), mini);

  W->qlsbMini->setChecked(false);
  W->qlsbMiniClick(false);
  Settle();
  EXPECT_EQ(W->width(), 800);
  EXPECT_EQ(W->qlsbMini->text(), "<<");
  EXPECT_FALSE(W->btnRefresh->isHidden());
  EXPECT_TRUE(W->pcCorvale->isTabVisible(W->pcCorvale->indexOf(W->tsLog)));

  // Between 385 pixels and the mini width only the configuration button goes.
  W->resize(mini + 60, 480);
  Settle();
  EXPECT_TRUE(W->btnConfig->isHidden());
  EXPECT_FALSE(W->btnRefresh->isHidden());
  EXPECT_EQ(W->NormalWidth(), mini + 60);

  // Shift: wide enough for every column, remembered, and the button released.
  QTreeView* report = W->lvPing->Report();
  int columns = 0;
  for (int c = 0; c < THostTableModel::ColumnCount; ++c) columns += report->columnWidth(c);
  W->qlsbMiniClick(true);
  Settle();
  EXPECT_FALSE(W->qlsbMini->isChecked());
  EXPECT_EQ(W->NormalWidth(), columns + W->ListFrame());
  EXPECT_EQ(W->width(), columns + W->ListFrame());
}

// Nothing is cut off at the default sizes: the column captions, the narrow window's
// buttons.
TEST_F(MainWindow, CaptionsAndButtonsFitAtTheirDefaultSizes) {
  Add("Router", "127.0.0.1", StatusOnline);
  W->resize(800, 480);
  W->show();
  Settle();
  QHeaderView* header = W->lvPing->Report()->header();
  const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  for (int c = 0; c < THostTableModel::ColumnCount; ++c) {
    const QString caption = THostTableModel::ColumnCaption(c);
    EXPECT_GE(header->sectionSize(c), header->fontMetrics().horizontalAdvance(caption) + margins)
        << caption.toStdString();
    if (THostTableModel::DefaultColumnWidth(c) > 0) {
      EXPECT_GE(header->sectionSize(c), THostTableModel::DefaultColumnWidth(c)) << caption.toStdString();
    }
  }

  // The narrow window; with a slimmer "Host" column its buttons take two rows.
  for (int hostWidth : {THostTableModel::DefaultColumnWidth(THostTableModel::colHost), 110}) {
    W->lvPing->Report()->setColumnWidth(THostTableModel::colHost, hostWidth);
    W->qlsbMini->setChecked(true);
    W->qlsbMiniClick(false);
    Settle();
    ASSERT_EQ(W->width(), W->MiniWidth());
    int shown = 0;
    for (QToolButton* b : W->pnlPing->findChildren<QToolButton*>()) {
      if (b->isHidden()) continue;
      ++shown;
      EXPECT_TRUE(W->pnlPing->rect().contains(b->geometry())) << b->objectName().toStdString() << " " << hostWidth;
      EXPECT_GE(b->width(), b->sizeHint().width()) << b->objectName().toStdString();
      EXPECT_FALSE(b->toolTip().isEmpty()) << "a button without its caption still names itself";
    }
    EXPECT_EQ(shown, 6);
  }
  EXPECT_GT(W->qlsbMini->y(), W->sbActive->geometry().bottom()) << "the second row";
  W->qlsbMini->setChecked(false);
  W->qlsbMiniClick(false);
  Settle();
  EXPECT_EQ(W->sbActive->toolButtonStyle(), Qt::ToolButtonTextBesideIcon) << "captions again";
  EXPECT_LT(W->qlsbMini->y(), W->sbActive->geometry().bottom()) << "one row again";
}

TEST_F(MainWindow, ShiftResizeCouplesTheDateCountAndTimeColumns) {
  QTreeView* report = W->lvPing->Report();
  using M = THostTableModel;
  report->setColumnWidth(M::colLastSuccess, 97);
  W->ColumnResized(M::colLastSuccess, 97, Qt::ShiftModifier);
  EXPECT_EQ(report->columnWidth(M::colLastCheck), 97);
  EXPECT_EQ(report->columnWidth(M::colLastFailure), 97);
  EXPECT_NE(report->columnWidth(M::colSuccesses), 97);
  report->setColumnWidth(M::colDownTime, 66);
  W->ColumnResized(M::colDownTime, 66, Qt::NoModifier);
  EXPECT_NE(report->columnWidth(M::colUpTime), 66) << "without Shift each column keeps its own width";
  W->ColumnResized(M::colFailures, 55, Qt::ShiftModifier);
  EXPECT_EQ(report->columnWidth(M::colSuccesses), 55);
}

TEST_F(MainWindow, ResetAllHostsGoesAsDeepAsTheKeysHeld) {
  THost& host = Add("Router", "127.0.0.1", StatusOffline);
  auto dirty = [&] {
    host.Status = StatusOffline;
    host.Successes = 5;
    host.Failures = 3;
    host.LastErrorText = "Timed out";
    host.HasBeenOffline = true;
  };
  dirty();
  W->btnResetClick(Qt::NoModifier);
  EXPECT_EQ(host.Status, StatusOffline);
  EXPECT_EQ(host.LastErrorText, "");
  EXPECT_FALSE(host.HasBeenOffline);
  EXPECT_EQ(host.Successes, 5u);
  dirty();
  W->btnResetClick(Qt::ShiftModifier);
  EXPECT_EQ(host.Status, StatusUnknown);
  EXPECT_EQ(host.Successes, 5u);
  dirty();
  W->btnResetClick(Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(host.Status, StatusUnknown);
  EXPECT_EQ(host.Successes, 0u);
  EXPECT_EQ(host.Failures, 0u);
  EXPECT_TRUE(HasLine(*M, "Reset All Hosts", 'I'));
}

TEST_F(MainWindow, DisableSubmenuChecksTheMatchingItemAndTheCheckedItemEnables) {
  THost& host = Add("Router", "127.0.0.1", StatusOnline);
  Add("Printer", "127.0.0.2", StatusOnline);
  Settle();
  W->SelectHostIndex(0);
  ASSERT_EQ(W->SelectedHost(), &host);
  W->PreparePopup();
  for (QAction* item : W->mnuDisableItems) EXPECT_FALSE(item->isChecked());

  W->DisableItemClick(2);  // "For 1 Hour"
  EXPECT_NEAR(host.DisabledUntil, FClock.Now() + 1.0 / 24, 1e-6);
  EXPECT_TRUE(HasLine(*M, "Host Disabled Until ", 'I'));
  W->PreparePopup();
  EXPECT_EQ(W->mnuDisableItems[2]->text(), "For 1 Hour");
  EXPECT_TRUE(W->mnuDisableItems[2]->isChecked());
  EXPECT_FALSE(W->mnuDisableItems[0]->isChecked());

  W->DisableItemClick(2);
  EXPECT_EQ(host.DisabledUntil, 0);
  EXPECT_TRUE(HasLine(*M, "Host Testing Enabled", 'I'));

  W->DisableItemClick(0);
  EXPECT_EQ(host.DisabledUntil, 1.0);
  W->PreparePopup();
  EXPECT_TRUE(W->mnuDisableItems[0]->isChecked());
  W->DisableItemClick(0);
  EXPECT_EQ(host.DisabledUntil, 0);
}

TEST_F(MainWindow, HostMenuFollowsTheSelectedHost) {
  THost& router = Add("Router", "127.0.0.1", StatusOnline);
  THost& printer = Add("Printer", "127.0.0.2", StatusOnline);
  printer.Parents = router.IDText();
  M->Hosts().RecomputeAllAncestors();
  Settle();
  W->SelectHostIndex(-1);
  W->PreparePopup();
  EXPECT_FALSE(W->mnuResetHost->isEnabled());
  EXPECT_FALSE(W->mnuSimulate->isChecked());
  W->SelectHostIndex(0);
  W->PreparePopup();
  EXPECT_TRUE(W->mnuResetDependents->isVisible());
  EXPECT_FALSE(W->mnuCancelEmail->isVisible());
  EXPECT_FALSE(W->mnuSendEmail->isEnabled()) << "no mail route configured";
  EXPECT_TRUE(W->mnuVOnDown->isChecked());
  W->mnuVOnDown->trigger();
  EXPECT_FALSE(router.AlertWindow);
  W->SelectHostIndex(1);
  W->PreparePopup();
  EXPECT_FALSE(W->mnuResetDependents->isVisible());

  // "View In Log..." shows the log page with the host's lines.
  M->LogEvent(&printer, "Host is answering", TLogCategory::Okay);
  Settle();
  W->mnuViewInLog->trigger();
  EXPECT_EQ(W->pcCorvale->currentWidget(), W->tsLog);
  EXPECT_EQ(W->frmLog->FilterHost(), LogLabel(printer));
}

// Clicks as the mouse gives them: a press makes the row current before it selects it.
TEST_F(MainWindow, MouseClicksShowTheClickedHostInTheInformationPane) {
  Add("Router", "127.0.0.1", StatusOnline);
  THost& printer = Add("Printer", "127.0.0.2", StatusOffline);
  Add("Switch", "127.0.0.3", StatusOnline);
  W->resize(900, 600);
  W->show();
  Settle();
  QTreeView* report = W->lvPing->Report();
  QWidget* viewport = report->viewport();
  const auto at = [&](int row) { return report->visualRect(W->Model().index(row, THostTableModel::colAddress)).center(); };
  const auto paneShows = [&](const char* name) {
    return W->pcHostInfo->isVisible() && W->pcHostInfo->lbHostName->text() == QString::fromLatin1(name);
  };
  EXPECT_FALSE(W->pcHostInfo->isVisible()) << "nothing selected";

  QTest::mouseClick(viewport, Qt::LeftButton, {}, at(1));
  Settle();
  EXPECT_EQ(W->SelectedHost(), &printer);
  EXPECT_TRUE(paneShows("Printer"));
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at(2));
  Settle();
  EXPECT_TRUE(paneShows("Switch")) << "a click while the pane shows keeps it showing";
  QTest::keyClick(report, Qt::Key_Up);
  Settle();
  EXPECT_TRUE(paneShows("Printer")) << "the keys as before";

  // With the button up a click shows no pane; a double-click without a command turns it on.
  W->sbHostInfo->setChecked(false);
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at(0));
  Settle();
  EXPECT_FALSE(W->pcHostInfo->isVisible());
  // A double-click is a click, then the second press as a double-click, then its release.
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at(2));
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, at(2));
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, at(2));
  Settle();
  EXPECT_TRUE(W->sbHostInfo->isChecked());
  EXPECT_TRUE(paneShows("Switch"));

  // A right-click selects the row under the mouse and opens the host menu for it.
  QTest::mouseClick(viewport, Qt::RightButton, {}, at(1));
  QContextMenuEvent menu(QContextMenuEvent::Mouse, at(1), viewport->mapToGlobal(at(1)));
  QApplication::sendEvent(viewport, &menu);
  Settle();
  EXPECT_TRUE(W->pmActions->isVisible());
  EXPECT_EQ(W->SelectedHost(), &printer);
  EXPECT_TRUE(paneShows("Printer"));
  EXPECT_TRUE(W->mnuResetHost->isEnabled());
  W->pmActions->hide();
}

// The alert window lists hosts that the list may not show: its menu acts on them anyway.
TEST_F(MainWindow, HostMenuFromElsewhereActsOnAHostTheListHides) {
  THost& shown = Add("Shown", "127.0.0.1", StatusOffline);
  Add(";Branch", "", 0);
  THost& inGroup = Add("In group", "127.0.0.2", StatusOffline);
  Add(";Lab", "", 0);
  THost& filtered = Add("Filtered", "127.0.0.3", StatusOnline);
  Settle();
  W->Model().ToggleGroup(W->Model().RowOfHost(M->Hosts().Items(1)->ID));
  W->sbError->setChecked(true);
  Settle();
  ASSERT_LT(W->Model().RowOfHost(inGroup.ID), 0) << "collapsed";
  ASSERT_LT(W->Model().RowOfHost(filtered.ID), 0) << "filtered out";
  W->SelectHostIndex(0);
  for (THost* host : {&inGroup, &filtered}) {
    host->AlertWindow = true;
    W->PopupHostMenu(host->ID, QPoint(10, 10));
    ASSERT_TRUE(W->pmActions->isVisible()) << host->DisplayName;
    EXPECT_TRUE(W->mnuResetHost->isEnabled());
    EXPECT_TRUE(W->mnuVOnDown->isChecked());
    W->mnuVOnDown->trigger();
    EXPECT_FALSE(host->AlertWindow) << host->DisplayName;
    EXPECT_TRUE(shown.AlertWindow) << "not the selected row's host";
    W->pmActions->hide();
    Settle();
    EXPECT_EQ(W->SelectedHost(), &shown) << "after the menu, the selected row counts again";
  }
  // A host that is gone opens nothing.
  W->PopupHostMenu(8388607 + 1, QPoint(10, 10));
  EXPECT_FALSE(W->pmActions->isVisible());
}

TEST_F(MainWindow, QuickMessageIsQueuedAndRememberedAndCanBeCancelled) {
  THost& router = Add("Router", "127.0.0.1", StatusOnline);
  router.OfflineRecipients = "ops@example.test;noc@example.test";
  QStringList offered;
  W->SetQuickMsgHook([&](TfrmQuickMsg& dialog) {
    for (int i = 0; i < dialog.cbRecipient->count(); ++i) offered.append(dialog.cbRecipient->itemText(i));
    dialog.cbRecipient->setEditText("ops@example.test");
    dialog.tbSubj->setText("Maintenance");
    dialog.mmoBody->setPlainText("Tonight.");
    dialog.btnSend->click();
  });
  W->btnAlertClick();
  EXPECT_EQ(offered, (QStringList{"ops@example.test", "noc@example.test"}));
  const auto& entries = A->Queue().Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->Recipients, "ops@example.test");
  EXPECT_EQ(entries[0]->Subject, "Maintenance");
  EXPECT_EQ(entries[0]->Priority, 3);
  EXPECT_EQ(entries[0]->HostID, -1);

  QString startSubject;
  W->SetQuickMsgHook([&](TfrmQuickMsg& dialog) {
    startSubject = dialog.tbSubj->text();
    dialog.btnCancel->click();
  });
  W->btnAlertClick();
  EXPECT_EQ(startSubject, "Maintenance");
  EXPECT_EQ(A->Queue().Entries().size(), 1u) << "cancel sends nothing";

  // Without a selected host every waiting message goes.
  W->SelectHostIndex(-1);
  W->CancelPendingEmailClick();
  EXPECT_TRUE(A->Queue().Entries().empty());
}

TEST_F(MainWindow, StatusWarningShowsOnceAndItsActionTurnsTestingOn) {
  Add("Router", "127.0.0.1", StatusOnline);
  W->SetTesting(false);
  EXPECT_FALSE(W->sbPing->isChecked());
  EXPECT_TRUE(W->StatusWarningTick());
  EXPECT_FALSE(W->StatusWarningTick()) << "the same text on the same day is not shown again";
  EXPECT_TRUE(W->StatusWarningMessage().startsWith("Host testing has been disabled.\n\nYour hosts"));
  EXPECT_TRUE(W->StatusWarningMessage().endsWith("\n\nWould you like to do this now?"));
  FClock.Advance(24 * 3600 * 1000.0);
  EXPECT_TRUE(W->StatusWarningTick()) << "a new day tells it again";
  W->PerformStatusAction();
  EXPECT_TRUE(M->TestingOn());
  EXPECT_TRUE(W->sbPing->isChecked());
  // Now the missing mail servers are the warning.
  EXPECT_TRUE(W->StatusWarningTick());
  EXPECT_TRUE(W->StatusWarningMessage().startsWith("Email servers have not been configured."));
}

TEST_F(MainWindow, TypedWordsInTheListAndAnywhereInTheWindow) {
  W->show();
  Settle();
  QTreeView* list = W->lvPing->Report();
  int toggled = 0;
  QObject::connect(W.get(), &TfrmCorvale::EverythingOkToggled, [&] { ++toggled; });
  auto type = [](QWidget* to, const QString& text) {
    for (QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
      QApplication::sendEvent(to, &press);
    }
  };
  type(list, "xeverythingok");
  EXPECT_EQ(toggled, 1);
  // The word counts in the host list only.
  type(W->sbActive, "everythingok");
  EXPECT_EQ(toggled, 1);
  // "ThreadList" opens the list of background work wherever it is typed, and closes it.
  type(W->sbActive, "ThreadList");
  QWidget* threads = W->findChild<QWidget*>("frmWaitShutdown");
  ASSERT_NE(threads, nullptr);
  EXPECT_TRUE(threads->isVisible());
  type(list, "ThreadList");
  EXPECT_FALSE(threads->isVisible());
}
