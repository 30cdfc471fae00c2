// What a finished trace says, from results laid out as the echo requests would leave them.
#include <gtest/gtest.h>

#include "tools/TraceReport.h"

namespace {

// hops: per hop, "address" (answered in time), "address@ms", "*" (no reply) or
// "!status" (a failure status); one string per pass, divided by "|".
TTraceResults Results(const std::vector<std::string>& hops, int passes = 1) {
  TTraceResults results(static_cast<std::size_t>(passes));
  for (std::size_t hop = 0; hop < hops.size(); ++hop) {
    std::string rest = hops[hop];
    for (int pass = 0; pass < passes; ++pass) {
      const std::size_t bar = rest.find('|');
      std::string cell = rest.substr(0, bar);
      rest = bar == std::string::npos ? cell : rest.substr(bar + 1);
      TTraceHop& entry = results[static_cast<std::size_t>(pass)][hop];
      if (cell == "*") {
        entry.Status = -3;
      } else if (cell[0] == '!') {
        entry.Status = std::stoi(cell.substr(1));
      } else {
        const std::size_t at = cell.find('@');
        entry.ReplyAddress = cell.substr(0, at);
        entry.ResponseTime = at == std::string::npos ? 1 : std::stoi(cell.substr(at + 1));
        entry.Status = 11013;
      }
    }
  }
  return results;
}

}  // namespace

TEST(TraceReport, StopsAtTheTargetAndMarksSilentAndFailedHops) {
  TTraceResults r = Results({"192.0.2.1@2|192.0.2.1@3", "*|203.0.113.226@7", "!11003|*", "198.51.100.2@9|198.51.100.2@8",
                             "198.51.100.2|198.51.100.2"},
                            2);
  r[0][0].HostName = "edge.example";
  r[0][3].Status = 0;
  r[1][3].Status = 0;
  r[0][1].ErrorText = "Request Timed Out ";
  const std::vector<std::string> lines = TraceReportLines(r, "198.51.100.2");
  const std::vector<std::string> expected = {
      "2ms\t3ms\tedge.example [192.0.2.1]",
      "*\t7ms\t(Unknown Host) [203.0.113.226]",
      "     Request Timed Out",
      "*\t*\t(Unknown Host) [N/A]",
      "     (Other error)",
      "     Request (no reason given)",
      "9ms\t8ms\t(Unknown Host) [198.51.100.2]"};
  // A failure without a reason of its own gives the status table's text, whatever its wording.
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (expected[i] == "     Request (no reason given)") EXPECT_EQ(lines[i].rfind("     ", 0), 0u) << lines[i];
    else EXPECT_EQ(lines[i], expected[i]) << i;
  }
}

TEST(TraceReport, LastReplyDropPointAndKnownRoutes) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Hops;
    const char* HostName;  // given to the last hop that answered
    const char* Known;
    const char* LastText;
    const char* Annotated;
    const char* DropPoint;
  };
  const TCase cases[] = {
      {"no reply at all", {"*", "*"}, "", "192.0.2.1,203.0.113.226", "(No Response)", "(No Response)", ""},
      {"second hop of a three-hop route", {"192.0.2.1", "203.0.113.226", "*"}, "", "192.0.2.1,203.0.113.226,198.51.100.9",
       "203.0.113.226", "203.0.113.226 (Dropped at 198.51.100.9)", "198.51.100.9"},
      {"routes recorded by name", {"192.0.2.1", "*"}, "cvr1", "CVR1,cvr2,far;cvr1,cvr3", "cvr1 [192.0.2.1]",
       "cvr1 [192.0.2.1] (Dropped at cvr2) (Dropped at cvr3)", "cvr3"},
      {"last hop of the route has nothing after it", {"192.0.2.1", "203.0.113.226"}, "", "192.0.2.1,203.0.113.226",
       "203.0.113.226", "203.0.113.226", ""},
      {"no known routes", {"192.0.2.1"}, "", "", "192.0.2.1", "192.0.2.1", ""},
  };
  for (const TCase& c : cases) {
    TTraceResults r = Results(c.Hops);
    for (int hop = static_cast<int>(c.Hops.size()) - 1; hop >= 0; --hop)
      if (!r[0][static_cast<std::size_t>(hop)].ReplyAddress.empty()) {
        r[0][static_cast<std::size_t>(hop)].HostName = c.HostName;
        break;
      }
    const TTraceLastReply last = LastReply(r);
    EXPECT_EQ(last.Text, c.LastText) << c.Name;
    const TTraceDrop drop = DropPoint(c.Known, last);
    EXPECT_EQ(drop.Annotated, c.Annotated) << c.Name;
    EXPECT_EQ(drop.DropPoint, c.DropPoint) << c.Name;
  }
}

TEST(TraceReport, PeriodicRouteEndsWhereTheDestinationFirstAnswers) {
  // The destination answers every hop from the third on; a silent hop in between counts
  // as the hop above it.
  std::vector<std::string> hops = {"192.0.2.1|192.0.2.1", "*|203.0.113.226", "198.51.100.2|198.51.100.2"};
  for (int hop = 4; hop <= TraceMaxHops; ++hop) hops.push_back(hop == 12 ? "*|*" : "198.51.100.2|198.51.100.2");
  TTraceResults r = Results(hops, 2);
  r[1][1].HostName = "cvr2";
  EXPECT_EQ(RouteText(r), "192.0.2.1,cvr2,198.51.100.2");
  EXPECT_EQ(RouteText(Results({"*"}, 2)), "");

  EXPECT_EQ(AddKnownRoute("", "a,b"), "a,b");
  EXPECT_EQ(AddKnownRoute("a,b", "a,b"), "a,b");
  EXPECT_EQ(AddKnownRoute("a,b; ;", "a,c"), "a,b;a,c");
  EXPECT_EQ(AddKnownRoute("a,b", ""), "a,b");
  EXPECT_EQ(AutoTraceFileName("web/01:80*?.example.net"), "web0180.example.net AutoTrace.txt");
}
