#include "tools/TraceReport.h"

#include <algorithm>
#include <cctype>

#include "common/Fields.h"
#include "common/TextUtils.h"
#include "platform/IcmpStatus.h"

namespace {
constexpr int TimeExceeded = 11013;

std::string Trimmed(std::string_view text) { return TrimChars(text, " \t\r\n", 0, TrimModeBoth); }

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string> Split(std::string_view text, char sep) {
  std::vector<std::string> items;
  SplitList(text, items, sep, true, '\0');
  return items;
}

// The first non-empty reply address of the hop over the passes.
const TTraceHop* FirstReply(const TTraceResults& results, int hop) {
  for (const TTracePass& pass : results)
    if (!pass[static_cast<std::size_t>(hop)].ReplyAddress.empty()) return &pass[static_cast<std::size_t>(hop)];
  return nullptr;
}
}  // namespace

std::vector<std::string> TraceReportLines(const TTraceResults& results, const std::string& target) {
  std::vector<std::string> lines;
  for (int hop = 0; hop < TraceMaxHops; ++hop) {
    std::string name, address, columns;
    std::vector<std::string> errors;
    for (std::size_t pass = 0; pass < results.size(); ++pass) {
      const TTraceHop& entry = results[pass][static_cast<std::size_t>(hop)];
      if (!entry.HostName.empty()) name = entry.HostName;
      if (!entry.ReplyAddress.empty()) address = entry.ReplyAddress;
      if (pass > 0) columns += '\t';
      if (entry.Status != 0 && entry.Status != TimeExceeded) columns += '*';
      else columns += std::to_string(entry.ResponseTime) + "ms";
      // A request that got no answer keeps why in its error text; its status only says
      // that it failed.
      if (entry.Status < 0)
        errors.push_back("     " + Trimmed(entry.ErrorText.empty() ? IcmpStatusText(entry.Status) : entry.ErrorText));
      else if (entry.Status != 0 && entry.Status != TimeExceeded) errors.push_back("     (Other error)");
    }
    if (name.empty()) name = "(Unknown Host)";
    if (address.empty()) address = "N/A";
    lines.push_back(columns + '\t' + name + " [" + address + "]");
    lines.insert(lines.end(), errors.begin(), errors.end());
    if (address == target) break;
  }
  return lines;
}

TTraceLastReply LastReply(const TTraceResults& results) {
  for (int hop = TraceMaxHops - 1; hop >= 0; --hop) {
    if (const TTraceHop* entry = FirstReply(results, hop)) {
      if (entry->HostName.empty()) return {entry->ReplyAddress, entry->ReplyAddress, ""};
      return {entry->HostName + " [" + entry->ReplyAddress + "]", entry->ReplyAddress, entry->HostName};
    }
  }
  return {"(No Response)", "", ""};
}

TTraceDrop DropPoint(const std::string& knownRoutes, const TTraceLastReply& last) {
  TTraceDrop drop{last.Text, ""};
  if (knownRoutes.empty() || last.Address.empty()) return drop;
  for (const std::string& route : Split(knownRoutes, ';')) {
    const std::vector<std::string> hops = Split(route, ',');
    for (std::size_t i = 0; i < hops.size(); ++i) {
      // Routes record a router by its name when it has one.
      if (!SameText(hops[i], last.Address) && !SameText(hops[i], last.Text) &&
          (last.Name.empty() || !SameText(hops[i], last.Name)))
        continue;
      if (i + 1 < hops.size() && !hops[i + 1].empty()) {
        drop.Annotated += " (Dropped at " + hops[i + 1] + ")";
        drop.DropPoint = hops[i + 1];
      }
      break;
    }
  }
  return drop;
}

std::string RouteText(const TTraceResults& results) {
  // From the far end: the destination answers every hop from its distance on, and a hop
  // without an answer counts as the one above it.
  int length = static_cast<int>(results.size()) - 1;
  std::string current, reference;
  for (int hop = TraceMaxHops - 1; hop >= 0; --hop) {
    if (const TTraceHop* entry = FirstReply(results, hop)) current = entry->ReplyAddress;
    if (reference.empty()) {
      reference = current;
    } else if (current != reference) {
      length = hop + 2;
      break;
    }
  }
  std::vector<std::string> entries;
  for (int hop = 0; hop < length && hop < TraceMaxHops; ++hop) {
    std::string text;
    for (const TTracePass& pass : results)
      if (!pass[static_cast<std::size_t>(hop)].HostName.empty()) {
        text = pass[static_cast<std::size_t>(hop)].HostName;
        break;
      }
    if (text.empty())
      for (const TTracePass& pass : results)
        if (!pass[static_cast<std::size_t>(hop)].ReplyAddress.empty()) text = pass[static_cast<std::size_t>(hop)].ReplyAddress;
    entries.push_back(text);
  }
  std::string route;
  for (std::size_t i = 0; i < entries.size(); ++i) route += (i ? "," : "") + entries[i];
  return route;
}

std::string AddKnownRoute(const std::string& knownRoutes, const std::string& route) {
  std::vector<std::string> routes = Split(knownRoutes, ';');
  if (std::find(routes.begin(), routes.end(), route) == routes.end()) routes.push_back(route);
  std::string joined;
  for (const std::string& r : routes)
    if (!Trimmed(r).empty()) joined += (joined.empty() ? "" : ";") + r;
  return joined;
}

std::string AutoTraceFileName(const std::string& address) {
  static const std::string allowed = " !#%&'()+,-.;=@[]^_`{}~";
  std::string name;
  for (char c : address)
    if (std::isalnum(static_cast<unsigned char>(c)) || allowed.find(c) != std::string::npos) name += c;
  return name + " AutoTrace.txt";
}
