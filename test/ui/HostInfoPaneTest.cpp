#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>

#include "common/DateTime.h"
#include "ui/THostInfoPane.h"
#include "ui/TLogLineModel.h"
#include "ui/TLogListView.h"
#include "ui/WindowFixture.h"

namespace {
class HostInfoPane : public WindowFixture {};
}  // namespace

TEST_F(HostInfoPane, SummaryHistoryAndLogOfTheSelectedHost) {
  Add(";Servers", "", 0);
  THost& host = Add("Mail", "127.0.0.4", StatusOnline);
  host.TestKind = TestTCP;
  host.Port = 25;
  host.Uptime = 3.0 / 24;
  host.Downtime = 1.0 / 24;
  host.Successes = 7;
  host.Warnings = 2;
  host.Errors = 1;
  host.TestInterval = 1.5;
  host.CurrentIP = "127.0.0.4";
  const TDateTime now = FClock.Now();
  host.StatusHistory.push_back({now - 2.0, StatusOffline, 0});
  host.StatusHistory.push_back({now - 1.0 / 1440, StatusOnline, 12});
  M->LogEvent(&host, "Host is answering", TLogCategory::Okay);
  THost& other = Add("Web", "127.0.0.5", StatusOnline);
  M->LogEvent(&other, "Someone else's line", TLogCategory::Okay);
  W->resize(900, 600);
  W->show();
  Settle();
  W->SelectHostIndex(1);
  Settle();
  THostInfoPane& pane = *W->pcHostInfo;
  ASSERT_TRUE(pane.isVisible());
  EXPECT_EQ(pane.lbHostName->text(), "Mail");
  EXPECT_EQ(pane.lbHostAddr->text(), "Addr: 127.0.0.4");
  EXPECT_EQ(pane.lbTestType->text(), "TCP Port");
  EXPECT_EQ(pane.lbTestInfo->text(), "Port 25");
  EXPECT_EQ(pane.lbStats->text(), "S/W/E: 7/2/1");
  EXPECT_EQ(pane.lbUpDown->text(), "U/D: 00:03:00:00/00:01:00:00");
  EXPECT_EQ(pane.lbTestFreq->text(), "Test Freq: 00:01:30");
  EXPECT_EQ(pane.lbUpPct->text(), "Up: 75.0%");
  EXPECT_EQ(pane.lbMAC->text(), "---");
  EXPECT_EQ(pane.lbLastSuccess->text(), "Last Success: ---");
  // Newest first; today's entry without its date.
  ASSERT_EQ(pane.lvHistory->count(), 2);
  EXPECT_EQ(pane.lvHistory->item(0)->text(), "02:04:00p (12 ms)");
  EXPECT_TRUE(pane.lvHistory->item(1)->text().startsWith("Dec 6, "));
  // Columns of 120 pixels at least, wide enough for an entry with its date.
  EXPECT_GE(pane.lvHistory->gridSize().width(), 120);
  for (int i = 0; i < pane.lvHistory->count(); ++i)
    EXPECT_LE(pane.lvHistory->fontMetrics().horizontalAdvance(pane.lvHistory->item(i)->text()) + 16 + 4,
              pane.lvHistory->gridSize().width())
        << pane.lvHistory->item(i)->text().toStdString();
  // The log tab holds this host's lines only, new ones as they come.
  TLogLineModel& lines = *pane.lbHostLog->LogModel();
  ASSERT_EQ(lines.rowCount(), 1);
  EXPECT_NE(lines.Line(0).find("Host is answering"), std::string::npos);
  M->LogEvent(&other, "Not for this pane", TLogCategory::Okay);
  M->LogEvent(&host, "Manual test", TLogCategory::Test);
  Settle();
  ASSERT_EQ(lines.rowCount(), 2);
  EXPECT_NE(lines.Line(1).find("Manual test"), std::string::npos);

  // No time accounted: a dash; a group row: its name only.
  host.Uptime = host.Downtime = 0;
  pane.ShowHost(&host);
  EXPECT_EQ(pane.lbUpPct->text(), "Up: -");
  pane.ShowHost(M->Hosts().Items(0));
  EXPECT_EQ(pane.lbHostName->text(), "Group: Servers");
  EXPECT_EQ(pane.lbStats->text(), "");
  EXPECT_EQ(lines.rowCount(), 0) << "a group row has no log lines";
}
