// The host list model over a real monitor: cell texts, filters, groups, the sort cycle
// and how batches of changes, added, removed and replaced hosts reach the rows.
#include <gtest/gtest.h>

#include <QPersistentModelIndex>

#include <string>
#include <vector>

#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "core/THostNameLookups.h"
#include "hosttests/TBackgroundTask.h"
#include "ui/THostTableModel.h"

namespace {

using M_ = THostTableModel;

class HostModelTest : public MonitorFixture {
protected:
  HostModelTest() : M(NewMonitor()) {}

  THost& Add(const std::string& name, int status, unsigned successes = 0) {
    auto record = M->Hosts().NewRecord(FClock.Now());
    record->DisplayName = name;
    record->Address = name + ".test";
    THost* host = M->InsertHost(M->Hosts().Count(), std::move(record));
    host->Status = status;
    host->Successes = successes;
    host->ParentsUp = true;
    return *host;
  }

  void Changed(std::initializer_list<THost*> hosts) {
    for (THost* h : hosts) M->HostChanged(*h, "test");
    M->Changes().Flush();
  }

  static std::vector<std::string> Names(const THostTableModel& model) {
    std::vector<std::string> names;
    for (int r = 0; r < model.rowCount(); ++r) names.push_back(model.index(r, 0).data().toString().toStdString());
    return names;
  }

  // The ID->row table agrees with the rows, both ways.
  static void ExpectIndexed(const THostTableModel& model) {
    for (int r = 0; r < model.rowCount(); ++r) EXPECT_EQ(model.RowOfHost(model.HostIDAt(r)), r);
  }

  std::unique_ptr<TMonitor> M;
};

using TNames = std::vector<std::string>;

TEST_F(HostModelTest, CellTextsOfEveryColumnIn12And24HourForms) {
  THost& h = Add("web", StatusOnline, 7);
  const TDateTime now = FClock.Now();  // Tue Dec 8 2026, 14:05:00
  h.CurrentIP = "192.0.2.7";
  h.LastCheck = EncodeDateTime(2026, 12, 8, 13, 5, 9);
  h.LastSuccess = EncodeDateTime(2026, 12, 5, 9, 30, 0);
  h.LastFailure = EncodeDateTime(2026, 11, 20, 18, 15, 0);
  h.Failures = 2;
  h.LastErrorText = "  timed out ";
  h.TraceLastReply = "198.51.100.1";
  h.ResponseHistory.fill(-1);
  h.ResponseHistory.back() = 12;
  h.TotalResponse = 7 * 10 + 3;  // average 10.43 rounds to 10
  h.Uptime = 3 + 4 / 24.0L + 5 / 1440.0L + 6 / 86400.0L;
  h.Downtime = 0;
  THostTableModel model(*M);
  struct Case {
    int Column;
    const char* H12;
    const char* H24;
  };
  const Case cases[] = {
      {M_::colHost, "web", "web"},
      {M_::colAddress, "web.test [192.0.2.7]", "web.test [192.0.2.7]"},
      {M_::colLastCheck, "01:05:09p", "13:05:09"},
      {M_::colLastSuccess, "Sat 09:30a", "Sat 09:30"},
      {M_::colSuccesses, "7", "7"},
      {M_::colLastFailure, "Nov 20, 06:15p", "Nov 20, 18:15"},
      {M_::colFailures, "2", "2"},
      {M_::colNotes, "timed out  (Last host 198.51.100.1)", "timed out  (Last host 198.51.100.1)"},
      {M_::colResponse, "12/10 ms", "12/10 ms"},
      {M_::colUpTime, "03:04:05:06", "03:04:05:06"},
      {M_::colDownTime, "-", "-"},
      {M_::colUpPercent, "100.0%", "100.0%"},
  };
  for (const bool use24 : {false, true}) {
    M->Settings().Use24HourDate = use24 ? 1 : 0;
    for (const Case& c : cases)
      EXPECT_EQ(model.index(0, c.Column).data().toString().toStdString(), use24 ? c.H24 : c.H12)
          << "column " << c.Column << (use24 ? " 24h" : " 12h");
  }
  // The moved clock: the same check is now "this week", then "older".
  M->Settings().Use24HourDate = 0;
  FClock.SetNow(now + 2);
  EXPECT_EQ(model.index(0, M_::colLastCheck).data().toString(), "Tue 01:05p");
  FClock.SetNow(now + 9);
  EXPECT_EQ(model.index(0, M_::colLastCheck).data().toString(), "Dec 8, 01:05p");

  // The "-" cases and the edges of the statistics columns.
  const auto text = [&](int column) { return M_::CellText(h, column, now, false).toStdString(); };
  h.LastCheck = 0;
  h.Uptime = 3 / 24.0L;
  h.Downtime = 1 / 24.0L;
  h.CurrentIP = "web.test";
  h.TraceLastReply.clear();
  h.Successes = 1;
  h.TotalResponse = 12;
  EXPECT_EQ(text(M_::colLastCheck), "-");
  EXPECT_EQ(text(M_::colUpPercent), "75.0%");
  EXPECT_EQ(text(M_::colAddress), "web.test");
  EXPECT_EQ(text(M_::colNotes), "timed out");
  EXPECT_EQ(text(M_::colResponse), "12/12 ms");  // tested once: newest and average agree
  h.Uptime = h.Downtime = 0;
  EXPECT_EQ(text(M_::colUpPercent), "-");
  EXPECT_EQ(text(M_::colUpTime), "-");
  h.Successes = 0;  // a failure's response with no success to average
  EXPECT_EQ(text(M_::colResponse), "12/- ms");
  h.ResponseHistory.back() = -1;
  EXPECT_EQ(text(M_::colResponse), "-");
  for (const char* ip : {"0.0.0.0", "-", ""}) {
    h.CurrentIP = ip;
    EXPECT_EQ(text(M_::colAddress), "web.test") << ip;
  }
  h.TestKind = TestTCP;
  h.Port = 80;
  h.CurrentIP = "192.0.2.7";
  EXPECT_EQ(text(M_::colAddress), "web.test:80 [192.0.2.7]");
  h.DisplayName = "caf\xE9";  // record text is Latin-1
  EXPECT_EQ(M_::CellText(h, M_::colHost, now, false), QString::fromUtf8("café"));
}

TEST_F(HostModelTest, HeaderCaptionsWidthsAndDirections) {
  THostTableModel model(*M);
  ASSERT_EQ(model.columnCount(), 12);
  const char* captions[] = {"Host", "Address", "Last Check", "Last Success", "Successes", "Last Failure",
                            "Failures", "Notes", "Last/Avg Response", "Up Time", "Down Time", "Up %"};
  const int widths[] = {145, 125, 80, 80, -1, 80, -1, 200, 80, 100, 100, -1};
  for (int c = 0; c < 12; ++c) {
    EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString().toStdString(), captions[c]);
    EXPECT_EQ(M_::DefaultColumnWidth(c), widths[c]) << c;
    const bool down = c == M_::colLastSuccess || c == M_::colSuccesses || c == M_::colFailures;
    EXPECT_EQ(M_::DefaultSortOrder(c), down ? Qt::DescendingOrder : Qt::AscendingOrder) << c;
  }
}

TEST_F(HostModelTest, StatusIconTable) {
  struct Case {
    bool Disabled, Outside;
    int Status;
    bool HasBeen, ParentHasBeen, ParentsUp;
    int Icon;
  };
  const Case cases[] = {
      {true, true, StatusOffline, false, false, false, 14},   // disabled wins, no parent mark
      {false, true, StatusOffline, false, false, false, 18},  // outside the window, no parent mark
      {false, false, StatusOffline, true, true, true, 0},
      {false, false, StatusOffline, false, false, false, 1},
      {false, false, StatusWarning, true, false, true, 4},
      {false, false, StatusWarning, false, false, false, 5},
      {false, false, StatusOnline, true, true, true, 6},
      {false, false, StatusOnline, true, false, false, 7},
      {false, false, StatusOnline, false, true, true, 8},
      {false, false, StatusOnline, false, true, false, 9},
      {false, false, StatusOnline, false, false, true, 2},
      {false, false, StatusOnline, false, false, false, 3},
      {false, false, 3, false, false, false, 14},
      {false, false, StatusUnknown, false, false, true, 16},
      {false, false, StatusUnknown, false, false, false, 17},
      {false, false, 42, false, false, false, 17},
  };
  for (const Case& c : cases)
    EXPECT_EQ(M_::StatusIconIndex(c.Disabled, c.Outside, c.Status, c.HasBeen, c.ParentHasBeen, c.ParentsUp), c.Icon)
        << "status " << c.Status << " disabled " << c.Disabled << " parents up " << c.ParentsUp;

  // From the record: disabled for a while, a daily window that is closed now, groups.
  THost& h = Add("h", StatusOnline);
  const TDateTime now = FClock.Now();  // 14:05
  h.DisabledUntil = now + 0.01;
  EXPECT_EQ(M_::StatusIconIndex(h, now), 14);
  h.DisabledUntil = now - 0.01;
  h.WindowStart = 8 / 24.0L;
  h.WindowEnd = 12 / 24.0L;
  EXPECT_EQ(M_::StatusIconIndex(h, now), 18);
  h.WindowEnd = 18 / 24.0L;
  EXPECT_EQ(M_::StatusIconIndex(h, now), 2);
  THost& g = Add(";g", 0);
  EXPECT_EQ(M_::StatusIconIndex(g, now), 11);
  g.Status = 1;
  EXPECT_EQ(M_::StatusIconIndex(g, now), 12);
}

TEST_F(HostModelTest, FiltersAndCollapsedGroups) {
  Add("lead", StatusOffline);  // before the first group: the filter only
  THost& g1 = Add(";G1", 0);
  Add("on", StatusOnline);
  Add("warn", StatusWarning);
  Add(";G2", 1);  // collapsed from the start
  Add("off", StatusOffline);
  Add("unknown", StatusUnknown);
  THostTableModel model(*M);
  EXPECT_EQ(Names(model), (TNames{"lead", "G1", "on", "warn", "G2"}));
  EXPECT_TRUE(model.index(1, 0).data(M_::IsGroupRole).toBool());
  EXPECT_EQ(model.index(4, 0).data(M_::StatusIconRole).toInt(), 12);

  EXPECT_TRUE(model.ToggleGroup(4));
  EXPECT_EQ(Names(model), (TNames{"lead", "G1", "on", "warn", "G2", "off", "unknown"}));
  EXPECT_FALSE(model.ToggleGroup(2));  // a host row
  EXPECT_TRUE(model.ToggleGroup(1));
  EXPECT_EQ(g1.Status, 1);
  EXPECT_EQ(Names(model), (TNames{"lead", "G1", "G2", "off", "unknown"}));
  ExpectIndexed(model);

  model.SetFilters({false, false, true});  // sbError alone: Offline hosts only
  EXPECT_EQ(Names(model), (TNames{"lead", "G1", "G2", "off"}));
  model.SetFilters({true, true, false});
  EXPECT_EQ(Names(model), (TNames{"G1", "G2"}));
  model.SetFilters({true, true, true});  // Unknown passes no filter button
  EXPECT_EQ(Names(model), (TNames{"lead", "G1", "G2", "off"}));

  // Sorted, group rows go and collapsed groups no longer hide their hosts.
  model.SetFilters({});
  model.HeaderClicked(M_::colHost);
  EXPECT_EQ(Names(model), (TNames{"lead", "off", "on", "unknown", "warn"}));
  // Other views never show group rows.
  model.HeaderClicked(M_::colHost);
  model.HeaderClicked(M_::colHost);
  model.SetViewStyle(M_::vsIcon);
  EXPECT_EQ(Names(model), (TNames{"lead", "on", "warn", "off", "unknown"}));
  ExpectIndexed(model);
}

TEST_F(HostModelTest, SortCycleAndRowsWithoutANumber) {
  Add(";G", 0);
  THost& a = Add("alpha", StatusOnline, 5);
  Add("Bravo", StatusOnline, 20);
  THost& c = Add("charlie", StatusOnline, 1);
  a.Uptime = 3, a.Downtime = 1;  // 75 %
  c.Uptime = 1, c.Downtime = 1;  // 50 %; Bravo has no time recorded
  THostTableModel model(*M);

  model.HeaderClicked(M_::colSuccesses);  // largest count first
  EXPECT_EQ(Names(model), (TNames{"Bravo", "alpha", "charlie"}));
  EXPECT_EQ(model.SortOrder(), Qt::DescendingOrder);
  model.HeaderClicked(M_::colSuccesses);  // reversed
  EXPECT_EQ(Names(model), (TNames{"charlie", "alpha", "Bravo"}));
  model.HeaderClicked(M_::colSuccesses);  // off: list order, group rows back
  EXPECT_EQ(model.SortColumn(), -1);
  EXPECT_EQ(Names(model), (TNames{"G", "alpha", "Bravo", "charlie"}));

  model.HeaderClicked(M_::colUpPercent);  // ascending: no number sorts last
  EXPECT_EQ(Names(model), (TNames{"charlie", "alpha", "Bravo"}));
  model.HeaderClicked(M_::colUpPercent);  // descending: and first
  EXPECT_EQ(Names(model), (TNames{"Bravo", "alpha", "charlie"}));
  EXPECT_EQ(model.index(0, M_::colUpPercent).data(M_::SortKeyRole).toDouble(), M_::NoNumberKey);

  // A click on another column starts that column's cycle; names ignore letter case.
  model.HeaderClicked(M_::colHost);
  EXPECT_EQ(Names(model), (TNames{"alpha", "Bravo", "charlie"}));

  // A sorted list follows a change: the row moves and a persistent index moves with it.
  model.HeaderClicked(M_::colSuccesses);
  model.HeaderClicked(M_::colSuccesses);
  model.HeaderClicked(M_::colSuccesses);
  model.HeaderClicked(M_::colSuccesses);  // a fresh cycle: descending again
  EXPECT_EQ(Names(model), (TNames{"Bravo", "alpha", "charlie"}));
  const QPersistentModelIndex held(model.index(2, 0));
  int resets = 0;
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
  c.Successes = 99;
  Changed({&c});
  EXPECT_EQ(Names(model), (TNames{"charlie", "Bravo", "alpha"}));
  EXPECT_EQ(held.row(), 0);
  EXPECT_EQ(resets, 0);
}

TEST_F(HostModelTest, BatchOfChangesIsOneDataChangedOverItsRows) {
  std::vector<THost*> hosts;
  for (int i = 0; i < 8; ++i) hosts.push_back(&Add("h" + std::to_string(i), StatusOnline));
  M->Changes().Flush();  // what joining the list changed
  THostTableModel model(*M);
  std::vector<std::pair<int, int>> spans;
  int structural = 0;
  QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& tl, const QModelIndex& br) {
    spans.emplace_back(tl.row(), br.row());
    EXPECT_EQ(tl.column(), 0);
    EXPECT_EQ(br.column(), M_::ColumnCount - 1);
  });
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++structural; });
  QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++structural; });
  QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [&] { ++structural; });

  hosts[5]->Successes = 3;
  hosts[2]->Successes = 4;
  hosts[3]->Successes = 5;
  Changed({hosts[5], hosts[2], hosts[3], hosts[2]});
  EXPECT_EQ(spans, (std::vector<std::pair<int, int>>{{2, 5}}));
  EXPECT_EQ(structural, 0);

  // With sbError down a host going Offline joins the rows, and one coming back leaves.
  model.SetFilters({false, false, true});
  EXPECT_EQ(model.rowCount(), 0);
  spans.clear();
  hosts[6]->Status = StatusOffline;
  hosts[1]->Status = StatusOffline;
  Changed({hosts[6], hosts[1], hosts[4]});
  EXPECT_EQ(Names(model), (TNames{"h1", "h6"}));
  EXPECT_EQ(spans, (std::vector<std::pair<int, int>>{{0, 1}}));
  hosts[1]->Status = StatusOnline;
  Changed({hosts[1]});
  EXPECT_EQ(Names(model), (TNames{"h6"}));
  ExpectIndexed(model);
}

TEST_F(HostModelTest, AddRemoveAndRebuildKeepTheIdTable) {
  Add("a", StatusOnline);
  Add("b", StatusOnline);
  Add("c", StatusOnline);
  THostTableModel model(*M);
  int inserted = 0, removed = 0, resets = 0;
  QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) {
    inserted += last - first + 1;
  });
  QObject::connect(&model, &QAbstractItemModel::rowsRemoved, [&](const QModelIndex&, int first, int last) {
    removed += last - first + 1;
  });
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });

  auto record = M->Hosts().NewRecord(FClock.Now());
  record->DisplayName = "x";
  const int32_t x = M->InsertHost(1, std::move(record))->ID;
  EXPECT_EQ(Names(model), (TNames{"a", "x", "b", "c"}));
  EXPECT_EQ(model.RowOfHost(x), 1);
  EXPECT_EQ(inserted, 1);
  ExpectIndexed(model);

  const int32_t a = model.HostIDAt(0);
  M->RemoveHost(0);
  EXPECT_EQ(Names(model), (TNames{"x", "b", "c"}));
  EXPECT_EQ(model.RowOfHost(a), -1);
  EXPECT_EQ(model.HostIndexAt(0), 0);
  EXPECT_EQ(removed, 1);
  ExpectIndexed(model);

  // A host removed with a change of it still pending: the batch comes first and the row goes.
  THost* b = M->Hosts().Items(1);
  M->HostChanged(*b, "test");
  M->RemoveHost(1);
  EXPECT_EQ(Names(model), (TNames{"x", "c"}));
  EXPECT_EQ(resets, 0);

  // A replaced host list is a reset with the new rows.
  auto old = M->Hosts().ExtractAll();
  auto fresh = M->Hosts().NewRecord(FClock.Now());
  fresh->DisplayName = "new";
  M->Hosts().Add(std::move(fresh));
  M->Changes().Rebuilt();
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(Names(model), (TNames{"new"}));
  EXPECT_EQ(model.RowOfHost(x), -1);
  ExpectIndexed(model);
  // A row whose host vanished without notice shows nothing and has no record.
  const auto vanished = M->Hosts().ExtractAll();
  EXPECT_EQ(model.HostAt(0), nullptr);
  EXPECT_EQ(model.HostIndexAt(0), -1);
  EXPECT_FALSE(model.index(0, 0).data().isValid());
}

}  // namespace

namespace {

// Work in flight until the test answers.
class TPendingLookup : public TBackgroundTask {
public:
  TPendingLookup() : TBackgroundTask("lookup") {}
  bool IsAlive() const override { return !Terminated(); }
};

// The list asks the names of hosts that have an address but no current IP when hosts
// come or the list is rebuilt, once per address while a lookup runs; the answer is
// shown beside the name.
TEST_F(HostModelTest, RebuildLooksUpNamesWithoutCurrentIPAndShowsTheAnswer) {
  std::vector<std::string> asked;
  std::vector<THostNameLookups::TDone> answers;
  M->NameLookups().SetStart([&](const std::string& name, THostNameLookups::TDone done) {
    asked.push_back(name);
    answers.push_back(std::move(done));
    return std::make_shared<TPendingLookup>();
  });
  THost& known = Add("known", StatusOnline);
  known.CurrentIP = "192.0.2.4";
  THostTableModel model(*M);
  THost& web = Add("web", StatusOnline);
  EXPECT_EQ(asked, std::vector<std::string>{"web.test"});
  model.SetFilters({true, false, false});
  EXPECT_EQ(asked.size(), 1u);

  answers[0]("web.test", "192.0.2.7");
  M->Changes().Flush();
  EXPECT_EQ(web.CurrentIP, "192.0.2.7");
  EXPECT_EQ(model.index(model.RowOfHost(web.ID), M_::colAddress).data().toString().toStdString(),
            "web.test [192.0.2.7]");
  for (const TRunningTask& t : M->RunningTests()) t.Task->Terminate();
}

}  // namespace
