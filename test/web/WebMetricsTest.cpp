// "/metrics": every line checked against the exposition format's grammar, with host names
// that try to break out of their label, and the values read back per host.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "core/SchedulerFixture.h"
#include "web/TWebSite.h"
#include "web/WebMetrics.h"

namespace {

using WebMetricsTest = SchedulerFixture;

// A label value as it was before escaping (still UTF-8).
std::string Unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      ++i;
      out += value[i] == 'n' ? '\n' : value[i];
    } else {
      out += value[i];
    }
  }
  return out;
}

struct TSampleLine {
  std::string Name;
  std::map<std::string, std::string> Labels;
  std::string Value;
};

TEST_F(WebMetricsTest, EveryLineFollowsTheGrammarWhateverTheHostNames) {
  std::unique_ptr<THost> group = M.Hosts().NewRecord(FClock.Now());
  group->DisplayName = ";Rack \"A\"\\1";
  group->GroupNumber = 4;
  M.Hosts().Add(std::move(group));
  THost& hostile = Add("quote\" back\\slash\nnew line} caf\xE9 ,x=\"y\"", "10.0.0.1");
  hostile.GroupNumber = 4;
  hostile.Status = StatusOffline;
  hostile.Failures = 7;
  hostile.LastCheck = FClock.Now();
  hostile.TestKind = TestHTTP;
  THost& fine = Add("Fine", "127.0.0.1");
  fine.Status = StatusWarning;
  fine.ResponseHistory.back() = 12;
  THost& unknown = Add("Never");
  unknown.Status = 3;
  M.UpdateHostStatus(TTestResult{fine.ID, true, false, 12, {}, {}, {}});

  TWebSite site;
  site.Monitor = &M;
  const std::string text = MetricsText(site);
  ASSERT_FALSE(text.empty());
  ASSERT_EQ(text.back(), '\n');

  const std::string name = "[a-zA-Z_:][a-zA-Z0-9_:]*";
  const std::string labelValue = R"("(?:[^"\\\n]|\\[\\"n])*")";
  const std::regex help("# HELP (" + name + ") [^\\n]*");
  const std::regex type("# TYPE (" + name + ") (counter|gauge|histogram|summary|untyped)");
  const std::regex sample("(" + name + ")(\\{((?:[a-zA-Z_][a-zA-Z0-9_]*=" + labelValue + ",?)*)\\})? (-?[0-9]+(?:\\.[0-9]+)?)");
  const std::regex label("([a-zA-Z_][a-zA-Z0-9_]*)=(" + labelValue + ")");

  std::map<std::string, std::string> types;
  std::vector<TSampleLine> samples;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_match(line, m, help)) continue;
    if (std::regex_match(line, m, type)) {
      EXPECT_TRUE(types.emplace(m[1], m[2]).second) << "second TYPE for " << m[1];
      continue;
    }
    ASSERT_TRUE(std::regex_match(line, m, sample)) << "not a sample line: " << line;
    EXPECT_TRUE(types.count(m[1])) << "sample before its TYPE: " << line;
    TSampleLine s{m[1], {}, m[4]};
    const std::string labels = m[3];
    for (auto it = std::sregex_iterator(labels.begin(), labels.end(), label); it != std::sregex_iterator(); ++it) {
      const std::string quoted = (*it)[2];
      s.Labels[(*it)[1]] = Unescape(quoted.substr(1, quoted.size() - 2));
    }
    samples.push_back(s);
  }
  EXPECT_EQ(types, (std::map<std::string, std::string>{{"corvale_alerts_queued", "gauge"},
                                                        {"corvale_host_failures_total", "counter"},
                                                        {"corvale_host_last_check_timestamp_seconds", "gauge"},
                                                        {"corvale_host_response_ms", "gauge"},
                                                        {"corvale_host_status", "gauge"},
                                                        {"corvale_host_up", "gauge"},
                                                        {"corvale_tests_running", "gauge"},
                                                        {"corvale_tests_total", "counter"}}));

  const auto value = [&](const std::string& metric, const std::string& host) {
    for (const TSampleLine& s : samples)
      if (s.Name == metric && (host.empty() ? s.Labels.empty() : s.Labels.count("host") && s.Labels.at("host") == host))
        return s.Value;
    return std::string("(none)");
  };
  const std::string hostileUtf8 = "quote\" back\\slash\nnew line} caf\xC3\xA9 ,x=\"y\"";
  for (const TSampleLine& s : samples) {
    if (s.Labels.count("host") && s.Labels.at("host") == hostileUtf8) {
      EXPECT_EQ(s.Labels, (std::map<std::string, std::string>{
                              {"id", hostile.IDText()},
                              {"host", hostileUtf8},
                              {"address", "10.0.0.1"},
                              {"group", "Rack \"A\"\\1"},
                              {"test", "HTTP"}}));
    }
  }
  EXPECT_EQ(value("corvale_host_status", hostileUtf8), "2");
  EXPECT_EQ(value("corvale_host_up", hostileUtf8), "0");
  EXPECT_EQ(value("corvale_host_failures_total", hostileUtf8), "7");
  EXPECT_EQ(value("corvale_host_response_ms", hostileUtf8), "(none)");
  const double unixNow = DateTimeToUnix(FClock.Now());
  EXPECT_NEAR(std::stod(value("corvale_host_last_check_timestamp_seconds", hostileUtf8)), unixNow, 0.002);

  EXPECT_EQ(value("corvale_host_status", "Fine"), "0");
  EXPECT_EQ(value("corvale_host_up", "Fine"), "1");
  EXPECT_EQ(value("corvale_host_response_ms", "Fine"), "12");
  EXPECT_EQ(value("corvale_host_status", "Never"), "-1");
  EXPECT_EQ(value("corvale_host_up", "Never"), "0");
  EXPECT_EQ(value("corvale_host_last_check_timestamp_seconds", "Never"), "(none)");
  EXPECT_EQ(value("corvale_tests_total", ""), "1");
  EXPECT_EQ(value("corvale_tests_running", ""), "0");
  EXPECT_EQ(value("corvale_alerts_queued", ""), "0");
  // One line per host for each per-host family; the group row is no host.
  int statusLines = 0;
  for (const TSampleLine& s : samples) statusLines += s.Name == "corvale_host_status";
  EXPECT_EQ(statusLines, 3);

  // A test started counts as running until its result comes.
  M.TestHost(IndexOf(unknown));
  if (unknown.RunningTest) {
    EXPECT_NE(MetricsText(site).find("\ncorvale_tests_running 1\n"), std::string::npos);
  }
}

// Two TCP hosts of one name on one address (ports 80 and 443) are two series, told apart
// by their ID and port.
TEST_F(WebMetricsTest, HostsOfOneNameAndAddressAreSeparateSeries) {
  THost& http = Add("web", "10.0.0.5");
  THost& https = Add("web", "10.0.0.5");
  for (auto [host, port] : {std::pair{&http, 80}, std::pair{&https, 443}}) {
    host->TestKind = TestTCP;
    host->Port = port;
  }
  TWebSite site;
  site.Monitor = &M;
  const std::string text = MetricsText(site);
  for (auto [host, port] : {std::pair{&http, 80}, std::pair{&https, 443}})
    EXPECT_NE(text.find("corvale_host_status{id=\"" + host->IDText() +
                        "\",host=\"web\",address=\"10.0.0.5\",group=\"\",test=\"TCP\",port=\"" + std::to_string(port) +
                        "\"} "),
              std::string::npos)
        << text;
}

TEST(WebMetricsLabels, EscapesAndConvertsLatin1) {
  EXPECT_EQ(MetricsLabelValue("a\\b\"c\nd\re\xFF\x7F"), "a\\\\b\\\"c\\nd\re\xC3\xBF\x7F");
  EXPECT_EQ(MetricsLabelValue(""), "");
}

}  // namespace
