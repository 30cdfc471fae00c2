#include "web/WebMetrics.h"

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "web/TWebSite.h"

namespace {

struct THostSample {
  std::string Labels;
  std::int32_t Status = StatusUnknown;
  std::int32_t Response = -1;
  std::uint32_t Failures = 0;
  TDateTime LastCheck = 0;
};

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const char* name, const std::string& labels, const std::string& value) {
  out += name;
  out += labels;
  out += ' ';
  out += value;
  out += '\n';
}

std::string Seconds(TDateTime value) {
  const long long ms = static_cast<long long>(DateTimeToUnix(value) * 1000.0 + 0.5);
  std::string text = std::to_string(ms / 1000) + ".";
  const std::string fraction = std::to_string(ms % 1000);
  return text + std::string(3 - fraction.size(), '0') + fraction;
}

}  // namespace

std::string MetricsLabelValue(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string MetricsText(const TWebSite& site) {
  std::string out;
  if (!site.Monitor) return out;
  TMonitor& m = *site.Monitor;
  std::vector<THostSample> samples;
  std::uint64_t testsTotal = 0;
  int running = 0;
  {
    std::shared_lock<std::shared_mutex> guard(m.StateLock());
    const auto& records = m.Hosts().Records();
    std::unordered_map<std::int32_t, const std::string*> groups;
    for (const auto& record : records)
      if (record->IsGroup()) groups[record->GroupNumber] = &record->DisplayName;
    samples.reserve(records.size());
    for (const auto& record : records) {
      const THost& h = *record;
      if (h.IsGroup()) continue;
      const auto group = groups.find(h.GroupNumber);
      THostSample s;
      // The ID tells apart hosts of one name, address and test (two ports of one server);
      // the port is there for a TCP test.
      s.Labels = "{id=\"" + h.IDText() + "\",host=\"" + MetricsLabelValue(h.DisplayName) + "\",address=\"" +
                 MetricsLabelValue(h.Address) + "\",group=\"" +
                 (group == groups.end() ? std::string() : MetricsLabelValue(group->second->substr(1))) + "\",test=\"" +
                 MetricsLabelValue(TestKindName(h.TestKind)) + "\"" +
                 (h.TestKind == TestTCP ? ",port=\"" + std::to_string(h.Port) + "\"" : std::string()) + "}";
      s.Status = h.Status;
      s.Response = h.LastResponse();
      s.Failures = h.Failures;
      s.LastCheck = h.LastCheck;
      running += h.RunningTest != nullptr;
      samples.push_back(std::move(s));
    }
    testsTotal = m.Evaluation().ResultCount();
  }
  const int queued = m.Alerts().QueuedAlerts();

  out.reserve(samples.size() * 5 * 120 + 1024);
  Family(out, "corvale_host_status", "gauge", "Host status: 0 Online, 1 Warning, 2 Offline, -1 Unknown.");
  for (const THostSample& s : samples) {
    const bool known = s.Status >= StatusOnline && s.Status <= StatusOffline;
    Sample(out, "corvale_host_status", s.Labels, std::to_string(known ? s.Status : StatusUnknown));
  }
  Family(out, "corvale_host_up", "gauge", "1 when the host answers (Online or Warning), else 0.");
  for (const THostSample& s : samples)
    Sample(out, "corvale_host_up", s.Labels, s.Status == StatusOnline || s.Status == StatusWarning ? "1" : "0");
  Family(out, "corvale_host_response_ms", "gauge", "Response time of the host's last answered test in milliseconds.");
  for (const THostSample& s : samples)
    if (s.Response >= 0) Sample(out, "corvale_host_response_ms", s.Labels, std::to_string(s.Response));
  Family(out, "corvale_host_failures_total", "counter", "Failed tests of the host since its statistics were reset.");
  for (const THostSample& s : samples) Sample(out, "corvale_host_failures_total", s.Labels, std::to_string(s.Failures));
  Family(out, "corvale_host_last_check_timestamp_seconds", "gauge", "When the host was last tested (Unix time).");
  for (const THostSample& s : samples)
    if (s.LastCheck > 0) Sample(out, "corvale_host_last_check_timestamp_seconds", s.Labels, Seconds(s.LastCheck));
  Family(out, "corvale_tests_total", "counter", "Test results the monitor has evaluated since it started.");
  Sample(out, "corvale_tests_total", "", std::to_string(testsTotal));
  Family(out, "corvale_tests_running", "gauge", "Host tests running now.");
  Sample(out, "corvale_tests_running", "", std::to_string(running));
  Family(out, "corvale_alerts_queued", "gauge", "E-mail alerts waiting to be sent.");
  Sample(out, "corvale_alerts_queued", "", std::to_string(queued));
  return out;
}
