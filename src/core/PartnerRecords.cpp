#include "core/PartnerRecords.h"

#include <algorithm>
#include <cstring>

#include "core/THost.h"
#include "core/THostList.h"

namespace partner {

namespace {

void PutLE(char* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutDouble(char* at, double value) {
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof value);
  std::memcpy(&bits, &value, sizeof bits);
  PutLE(at, bits, 8);
}

void PutText(char* at, const std::string& text) {
  const std::size_t n = std::min<std::size_t>(text.size(), 255);
  at[0] = static_cast<char>(n);
  std::memcpy(at + 1, text.data(), n);
}

// scheme://server/path/ gives server/path.
std::string HTTPTarget(const std::string& url) {
  std::string target = url;
  const auto first = url.find('/');
  const auto second = first == std::string::npos ? first : url.find('/', first + 1);
  if (second != std::string::npos) target = url.substr(second + 1);
  while (!target.empty() && target.back() == '/') target.pop_back();
  return target;
}

void PutTarget(char* record, const THost& host) {
  char separator = 0;
  std::string target;
  switch (host.TestKind) {
    case TestTCP: separator = ':', target = std::to_string(host.Port); break;
    case TestService: separator = '/', target = host.ServiceName(); break;
    case TestShare: separator = '\\', target = host.SharePath; break;
    case TestHTTP: separator = '@', target = HTTPTarget(host.HTTPTest.URL); break;
    default: break;
  }
  record[field::TargetSeparator] = separator;
  PutText(record + field::Target, target);
}

void PutHeader(std::string& out, std::uint32_t count) {
  out.resize(HeaderSize);
  PutLE(out.data(), count, 4);
  PutLE(out.data() + 4, RecordSize, 4);
}

}  // namespace

void AppendHostRecord(std::string& out, const THost& host, std::int32_t index, TDateTime now) {
  const std::size_t start = out.size();
  out.resize(start + RecordSize, '\0');
  char* r = out.data() + start;
  PutLE(r + field::Index, static_cast<std::uint32_t>(index), 4);
  PutText(r + field::DisplayName, host.DisplayName);
  PutText(r + field::Address, host.Address);
  PutText(r + field::CurrentIP, host.CurrentIP);
  PutDouble(r + field::TestInterval, host.TestInterval);
  PutDouble(r + field::ErrorAfter, host.ErrorAfter);
  PutDouble(r + field::LastCheck, host.LastCheck);
  PutDouble(r + field::LastSuccess, host.LastSuccess);
  PutDouble(r + field::LastFailure, host.LastFailure);
  PutDouble(r + field::BaselineTime, host.BaselineTime);
  PutLE(r + field::Successes, host.Successes, 4);
  PutLE(r + field::Failures, host.Failures, 4);
  PutLE(r + field::BackToBackFailures, host.BackToBackFailures, 4);
  PutLE(r + field::Warnings, host.Warnings, 4);
  PutLE(r + field::Errors, static_cast<std::uint32_t>(host.Errors), 4);
  PutLE(r + field::TotalResponse, static_cast<std::uint64_t>(host.TotalResponse), 8);
  PutText(r + field::LastErrorText, host.LastErrorText);
  PutLE(r + field::Status, static_cast<std::uint32_t>(host.Status), 4);
  PutLE(r + field::PreviousStatus, static_cast<std::uint32_t>(host.PreviousStatus), 4);
  PutLE(r + field::TestKind, static_cast<std::uint32_t>(host.TestKind), 4);
  PutTarget(r, host);
  r[field::Disabled] = host.IsDisabled(now) ? 1 : 0;
}

std::string HostListPayload(const THostList& hosts, bool includeGroups, TDateTime now) {
  std::string out;
  out.reserve(HeaderSize + RecordSize * static_cast<std::size_t>(hosts.Count()));
  PutHeader(out, 0);
  std::uint32_t count = 0;
  for (int i = 0; i < hosts.Count(); ++i) {
    const THost* host = hosts.Items(i);
    if (!host || (host->IsGroup() && !includeGroups)) continue;
    AppendHostRecord(out, *host, i, now);
    ++count;
  }
  PutLE(out.data(), count, 4);
  out.resize(HeaderSize + RecordSize * static_cast<std::size_t>(hosts.Count()), '\0');
  return out;
}

std::string HostUpdatePayload(const THost& host, std::int32_t index, TDateTime now) {
  std::string out;
  out.reserve(HeaderSize + RecordSize);
  PutHeader(out, 1);
  AppendHostRecord(out, host, index, now);
  return out;
}

}  // namespace partner
