#include "core/THost.h"

#include <cmath>
#include <cstdio>

std::string StatusName(int32_t status) {
  switch (status) {
    case StatusOnline: return "Online";
    case StatusWarning: return "Warning";
    case StatusOffline: return "Offline";
    default: return "Unknown";
  }
}

std::string TestKindName(int32_t kind, const std::vector<std::string>& pluginTestNames) {
  switch (kind) {
    case TestPing: return "Ping";
    case TestTCP: return "TCP";
    case TestService: return "Service";
    case TestShare: return "Share";
    case TestHTTP: return "HTTP";
    default: break;
  }
  if (kind < TestPlugin) return {};
  const auto number = static_cast<size_t>(kind - TestPlugin);
  return number < pluginTestNames.size() ? pluginTestNames[number] : std::string();
}

std::string HostIDText(int32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<uint32_t>(id));
  return text;
}

THost::THost() { ResponseHistory.fill(-1); }

bool THost::IsDisabled(TDateTime now) const {
  return DisabledUntil == 1.0 || now < DisabledUntil;
}

bool THost::InDailyWindow(TDateTime now) const { return ::InDailyWindow(WindowStart, WindowEnd, now); }

bool InDailyWindow(long double start, long double end, TDateTime now) {
  // Whole milliseconds of the day: a date part carries fewer fraction bits, and 22:00
  // on a given day must still be 22:00.
  auto timeOfDay = [](long double value) {
    return std::llround(std::fabs(value - std::trunc(value)) * MSecsPerDay) % 86400000LL;
  };
  const long long from = timeOfDay(start), to = timeOfDay(end), time = timeOfDay(now);
  if (from == to) return true;
  if (from < to) return from <= time && time < to;
  return time >= from || time < to;
}

std::string THost::ServiceName() const {
  return Service.substr(0, Service.find('|'));
}

std::string THost::ServiceDisplayName() const {
  const auto bar = Service.find('|');
  return bar == std::string::npos ? Service : Service.substr(bar + 1);
}

std::optional<double> THost::AverageResponse() const {
  if (Successes == 0) return std::nullopt;
  return static_cast<double>(TotalResponse) / Successes;
}

std::optional<long double> THost::UpPercent() const {
  const long double total = Uptime + Downtime;
  if (!(total > 0)) return std::nullopt;
  return Uptime / total * 100;
}

void THost::AppendHistory(int32_t responseTime, TDateTime now) {
  StatusHistory.push_back({LastCheck, static_cast<uint8_t>(Status), responseTime});
  // By age rather than from the front: a check time can step back (a clock set back, a
  // result for a host never checked), and such an entry must not outstay the day.
  std::erase_if(StatusHistory, [now](const THistoryEntry& entry) { return now - entry.Time >= 1.0; });
  while (StatusHistory.size() > MaxStatusHistory) StatusHistory.pop_front();
}

namespace {

// scheme://server/path gives server/path; a URL with fewer than two "/" stays whole.
std::string AfterSecondSlash(const std::string& url) {
  const auto first = url.find('/');
  if (first == std::string::npos) return url;
  const auto second = url.find('/', first + 1);
  return second == std::string::npos ? url : url.substr(second + 1);
}

}  // namespace

std::string LogLabel(const THost& host) {
  std::string label = host.DisplayName + " (" + host.Address;
  if (host.Port > 0) label += ":" + std::to_string(host.Port);
  return label + ")";
}

std::string HostLabel(const THost& host, const std::vector<std::string>& pluginTestNames) {
  std::string label = host.DisplayName + " (" + host.Address;
  switch (host.TestKind) {
    case TestTCP: return label + ":" + std::to_string(host.Port) + ")";
    case TestService: return label + "/" + host.ServiceName() + ")";
    case TestShare: return label + "\\" + host.SharePath + ")";
    case TestHTTP: return label + "@" + AfterSecondSlash(host.HTTPTest.URL);
    default: break;
  }
  if (host.TestKind >= TestPlugin) return label + ":" + TestKindName(host.TestKind, pluginTestNames);
  return label + ")";
}

std::string TestAddress(const THost& host) {
  switch (host.TestKind) {
    case TestTCP: return host.Address + ":" + std::to_string(host.Port);
    case TestService: return host.Address + "/" + host.ServiceName();
    case TestShare: return host.Address + "\\" + host.SharePath;
    case TestHTTP: return host.HTTPTest.URL;
    default: return host.Address;
  }
}
