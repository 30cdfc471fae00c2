#include "core/THost.h"
#include "core/THostList.h"

#include <gtest/gtest.h>

namespace {

constexpr TDateTime Day = 45000.0;  // some midnight
constexpr TDateTime Hour = 1.0 / 24;

TEST(HostTest, NewRecordHasTheDocumentedDefaults) {
  THostList list;
  auto host = list.NewRecord(Day + 0.5);
  EXPECT_GE(host->ID, 0);
  EXPECT_LE(host->ID, MaxHostID);
  EXPECT_EQ(host->Status, StatusUnknown);
  EXPECT_EQ(host->PreviousStatus, StatusUnknown);
  EXPECT_EQ(host->TestInterval, 1.0);
  EXPECT_EQ(host->ErrorAfter, 5.0);
  EXPECT_EQ(host->BaselineTime, Day + 0.5);
  EXPECT_TRUE(host->AlertWindow);
  EXPECT_TRUE(host->GlobalOfflineSound);
  EXPECT_TRUE(host->GlobalOnlineSound);
  EXPECT_FALSE(host->OnlinePopup);
  EXPECT_FALSE(host->EmailWindow);
  EXPECT_FALSE(host->Dependable);
  EXPECT_FALSE(host->ParentsUp);
  EXPECT_EQ(host->TestKind, TestPing);
  EXPECT_EQ(host->DisabledUntil, 0);
  for (int32_t slot : host->ResponseHistory) EXPECT_EQ(slot, -1);
  EXPECT_TRUE(host->StatusHistory.empty());
  EXPECT_FALSE(host->RunningTest);
  EXPECT_FALSE(host->RunningTrace);
  EXPECT_EQ(host->HTTPTest, THTTPReq{});
  // Nothing to show before the first result.
  EXPECT_EQ(host->LastResponse(), -1);
  EXPECT_FALSE(host->AverageResponse());
  EXPECT_FALSE(host->UpPercent());
  EXPECT_FALSE(host->IsGroup());
}

TEST(HostTest, IDTextIsEightUpperCaseHexDigits) {
  THost host;
  host.ID = 1000;
  EXPECT_EQ(host.IDText(), "000003E8");
  EXPECT_EQ(HostIDText(0), "00000000");
  EXPECT_EQ(HostIDText(MaxHostID), "007FFFFF");
  EXPECT_EQ(HostIDText(0xABCDEF), "00ABCDEF");
}

TEST(HostTest, NamesOfStatusesKindsAndGroups) {
  EXPECT_EQ(StatusName(StatusOnline), "Online");
  EXPECT_EQ(StatusName(StatusWarning), "Warning");
  EXPECT_EQ(StatusName(StatusOffline), "Offline");
  EXPECT_EQ(StatusName(StatusUnknown), "Unknown");
  EXPECT_EQ(StatusName(7), "Unknown");

  const std::vector<std::string> plugins{"Disk Space", "Temperature"};
  EXPECT_EQ(TestKindName(TestPing), "Ping");
  EXPECT_EQ(TestKindName(TestTCP), "TCP");
  EXPECT_EQ(TestKindName(TestService), "Service");
  EXPECT_EQ(TestKindName(TestShare), "Share");
  EXPECT_EQ(TestKindName(TestHTTP), "HTTP");
  EXPECT_EQ(TestKindName(TestPlugin + 1, plugins), "Temperature");
  EXPECT_EQ(TestKindName(TestPlugin + 2, plugins), "");
  EXPECT_EQ(TestKindName(static_cast<TTestKind>(-3), plugins), "");

  THost group;
  group.DisplayName = ";Servers";
  EXPECT_TRUE(group.IsGroup());
  group.DisplayName = "Servers;";
  EXPECT_FALSE(group.IsGroup());
}

TEST(HostTest, DisabledUntilOneMeansForeverAndAnyOtherPastValueMeansEnabled) {
  THost host;
  EXPECT_FALSE(host.IsDisabled(Day));
  host.DisabledUntil = 1.0;
  EXPECT_TRUE(host.IsDisabled(Day));
  EXPECT_TRUE(host.IsDisabled(Day + 100000));
  host.DisabledUntil = Day + Hour;
  EXPECT_TRUE(host.IsDisabled(Day));
  EXPECT_FALSE(host.IsDisabled(Day + Hour));
  EXPECT_FALSE(host.IsDisabled(Day + 2 * Hour));
  host.DisabledUntil = 2.0;  // long past, not the forever marker
  EXPECT_FALSE(host.IsDisabled(Day));
}

TEST(HostTest, DailyWindowComparesTimesOfDay) {
  THost host;
  host.WindowStart = host.WindowEnd = 9 * Hour;
  EXPECT_TRUE(host.InDailyWindow(Day + 3 * Hour));

  host.WindowStart = 22 * Hour;  // across midnight
  host.WindowEnd = 6 * Hour;
  EXPECT_TRUE(host.InDailyWindow(Day + 23 * Hour));
  EXPECT_TRUE(host.InDailyWindow(Day + 5 * Hour));
  EXPECT_FALSE(host.InDailyWindow(Day + 12 * Hour));
  EXPECT_TRUE(host.InDailyWindow(Day + 22 * Hour));
  EXPECT_FALSE(host.InDailyWindow(Day + 6 * Hour));

  host.WindowStart = Day - 3 + 8 * Hour;  // a stored date part does not count
  host.WindowEnd = 17 * Hour;
  EXPECT_TRUE(host.InDailyWindow(Day + 8 * Hour));
  EXPECT_TRUE(host.InDailyWindow(Day + 12 * Hour));
  EXPECT_FALSE(host.InDailyWindow(Day + 17 * Hour));
  EXPECT_FALSE(host.InDailyWindow(Day + 7 * Hour));
}

TEST(HostTest, DerivedResponseAndUptimeValues) {
  THost host;
  host.Successes = 4;
  host.TotalResponse = 1234;
  host.ResponseHistory.back() = 17;
  host.Uptime = 3;
  host.Downtime = 1;
  ASSERT_TRUE(host.AverageResponse());
  EXPECT_DOUBLE_EQ(*host.AverageResponse(), 308.5);
  EXPECT_EQ(host.LastResponse(), 17);
  ASSERT_TRUE(host.UpPercent());
  EXPECT_EQ(*host.UpPercent(), 75.0L);
  host.Uptime = 0;
  EXPECT_EQ(*host.UpPercent(), 0.0L);
}

TEST(HostTest, ServiceFieldSplitsAtTheFirstBar) {
  THost host;
  host.Service = "Spooler|Print Spooler|x";
  EXPECT_EQ(host.ServiceName(), "Spooler");
  EXPECT_EQ(host.ServiceDisplayName(), "Print Spooler|x");
  host.Service = "W32Time";
  EXPECT_EQ(host.ServiceName(), "W32Time");
  EXPECT_EQ(host.ServiceDisplayName(), "W32Time");
}

TEST(HostTest, LabelAndTestAddressByKind) {
  const std::vector<std::string> plugins{"Disk Space"};
  THost host;
  host.DisplayName = "Mail";
  host.Address = "mail.example.test";
  host.Port = 25;
  host.Service = "Spooler|Print Spooler";
  host.SharePath = "Public";
  host.HTTPTest.URL = "http://www.example.test/status/page.html";

  host.TestKind = TestPing;
  EXPECT_EQ(HostLabel(host), "Mail (mail.example.test)");
  EXPECT_EQ(TestAddress(host), "mail.example.test");
  host.TestKind = TestTCP;
  EXPECT_EQ(HostLabel(host), "Mail (mail.example.test:25)");
  EXPECT_EQ(TestAddress(host), "mail.example.test:25");
  host.TestKind = TestService;
  EXPECT_EQ(HostLabel(host), "Mail (mail.example.test/Spooler)");
  EXPECT_EQ(TestAddress(host), "mail.example.test/Spooler");
  host.TestKind = TestShare;
  EXPECT_EQ(HostLabel(host), "Mail (mail.example.test\\Public)");
  EXPECT_EQ(TestAddress(host), "mail.example.test\\Public");
  host.TestKind = TestHTTP;
  EXPECT_EQ(HostLabel(host), "Mail (mail.example.test@www.example.test/status/page.html");
  EXPECT_EQ(TestAddress(host), "http://www.example.test/status/page.html");
  host.HTTPTest.URL = "www.example.test";
  EXPECT_EQ(HostLabel(host), "Mail (mail.example.test@www.example.test");
  host.TestKind = TestPlugin;
  EXPECT_EQ(HostLabel(host, plugins), "Mail (mail.example.test:Disk Space");
  EXPECT_EQ(TestAddress(host), "mail.example.test");
  host.TestKind = TestPlugin + 4;  // not loaded
  EXPECT_EQ(HostLabel(host, plugins), "Mail (mail.example.test:");
}

TEST(HostTest, StatusHistoryKeepsAtMostFiveHundredEntries) {
  THost host;
  host.Status = StatusOnline;
  for (int i = 0; i < 501; ++i) {
    host.LastCheck = Day + i / MinsPerDay;
    host.AppendHistory(i, Day + i / MinsPerDay);
  }
  ASSERT_EQ(host.StatusHistory.size(), MaxStatusHistory);
  EXPECT_EQ(host.StatusHistory.front().Response, 1);
  EXPECT_EQ(host.StatusHistory.back().Response, 500);
  EXPECT_EQ(host.StatusHistory.back().Time, Day + 500 / MinsPerDay);
  EXPECT_EQ(host.StatusHistory.back().Status, StatusOnline);
}

TEST(HostTest, StatusHistoryDropsEntriesADayOld) {
  THost host;
  host.Status = StatusWarning;
  host.LastCheck = Day;
  host.AppendHistory(10, Day);
  host.LastCheck = Day + 0.5;
  host.Status = StatusOffline;
  host.AppendHistory(20, Day + 0.5);
  ASSERT_EQ(host.StatusHistory.size(), 2u);

  host.LastCheck = Day + 1.0;
  host.Status = StatusOnline;
  host.AppendHistory(30, Day + 1.0);  // the first entry is exactly one day old now
  ASSERT_EQ(host.StatusHistory.size(), 2u);
  EXPECT_EQ(host.StatusHistory.front(), (THistoryEntry{Day + 0.5, StatusOffline, 20}));
  EXPECT_EQ(host.StatusHistory.back(), (THistoryEntry{Day + 1.0, StatusOnline, 30}));

  // A result whose check is itself a day old leaves nothing that old behind.
  host.LastCheck = Day;
  host.AppendHistory(40, Day + 1.2);
  for (const auto& entry : host.StatusHistory) EXPECT_LT(Day + 1.2 - entry.Time, 1.0);
  EXPECT_EQ(host.StatusHistory.size(), 2u);

  // Over a day later everything has aged out except the newest result.
  host.LastCheck = Day + 5;
  host.AppendHistory(50, Day + 5);
  ASSERT_EQ(host.StatusHistory.size(), 1u);
  EXPECT_EQ(host.StatusHistory.front().Response, 50);
}

}  // namespace
