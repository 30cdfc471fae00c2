#include "core/THost.h"

#include <cmath>
#include <cstdio>

#include "hosttests/TTestKinds.h"

std::string StatusName(int32_t status) {
  switch (status) {
    case StatusOnline: return "Online";
    case StatusWarning: return "Warning";
    case StatusOffline: return "Offline";
    default: return "Unknown";
  }
}

std::string TestKindName(TTestKind kind, const std::vector<std::string>& pluginTestNames) {
  if (IsPluginKind(kind)) {
    const auto number = static_cast<size_t>(PluginIndex(kind));
    if (!pluginTestNames.empty()) return number < pluginTestNames.size() ? pluginTestNames[number] : std::string();
  }
  const TTestKindEntry* entry = TTestKinds::Standard().Find(kind);
  return entry ? entry->Name : std::string();
}

const TTestKindEntry* KindOf(const THost& host) { return TTestKinds::Standard().Find(host.TestKind); }

std::string HostIDText(int32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<uint32_t>(id));
  return text;
}

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
  // Room for a few entries at once: a list of thousands of hosts would otherwise pay
  // for each of the first few results with a new allocation.
  if (StatusHistory.capacity() == 0) StatusHistory.reserve(8);
  StatusHistory.push_back({LastCheck, static_cast<uint8_t>(Status), responseTime});
  // By age rather than from the front: a check time can step back (a clock set back, a
  // result for a host never checked), and such an entry must not outstay the day.
  std::erase_if(StatusHistory, [now](const THistoryEntry& entry) { return now - entry.Time >= 1.0; });
  if (StatusHistory.size() > MaxStatusHistory)
    StatusHistory.erase(StatusHistory.begin(), StatusHistory.end() - static_cast<std::ptrdiff_t>(MaxStatusHistory));
}

std::string LogLabel(const THost& host) {
  std::string label = host.DisplayName + " (" + host.Address;
  if (host.Port > 0) label += ":" + std::to_string(host.Port);
  return label + ")";
}

std::string HostLabel(const THost& host, const std::vector<std::string>& pluginTestNames) {
  std::string label = host.DisplayName + " (" + host.Address;
  if (IsPluginKind(host.TestKind) && !pluginTestNames.empty())
    return label + PluginLabelSuffix(TestKindName(host.TestKind, pluginTestNames));
  const TTestKindEntry* kind = KindOf(host);
  if (kind && kind->LabelSuffix) return label + kind->LabelSuffix(host);
  // A plug-in test that is not loaded still says it is one.
  return label + (IsPluginKind(host.TestKind) ? PluginLabelSuffix(std::string()) : std::string(")"));
}

std::string TestAddress(const THost& host) {
  const TTestKindEntry* kind = KindOf(host);
  return kind && kind->TestAddress ? kind->TestAddress(host.Address, host) : host.Address;
}
