#include "hosttests/TTestKinds.h"

#include <mutex>

#include "common/Fields.h"
#include "common/QLEncryptString.h"

#include "hosttests/THTTPKind.h"
#include "hosttests/TPingKind.h"
#include "hosttests/TServiceKind.h"
#include "hosttests/TShareKind.h"
#include "hosttests/TTCPKind.h"

TTestKinds::TTestKinds() {
  RegisterPingKind(*this);
  RegisterTCPKind(*this);
  RegisterServiceKind(*this);
  RegisterShareKind(*this);
  RegisterHTTPKind(*this);
}

TTestKinds& TTestKinds::Standard() {
  static TTestKinds kinds;
  return kinds;
}

void TTestKinds::AddBuiltIn(TTestKindEntry entry) {
  if (IsPluginKind(entry.Kind) || KindNumber(entry.Kind) < 0) return;
  std::unique_lock guard(FLock);
  for (auto& existing : FBuiltIn) {
    if (existing.Kind == entry.Kind) {
      existing = std::move(entry);
      return;
    }
  }
  FBuiltIn.push_back(std::move(entry));
}

const TTestKindEntry* TTestKinds::Find(TTestKind kind) const {
  std::shared_lock guard(FLock);
  if (IsPluginKind(kind)) {
    const auto index = static_cast<std::size_t>(PluginIndex(kind));
    return index < FPlugins.size() ? &FPlugins[index] : nullptr;
  }
  for (const auto& entry : FBuiltIn)
    if (entry.Kind == kind) return &entry;
  return nullptr;
}

const TTestKindEntry* TTestKinds::FindIdentifier(const std::string& identifier) const {
  std::shared_lock guard(FLock);
  for (const auto& entry : FPlugins)
    if (entry.Identifier == identifier) return &entry;
  return nullptr;
}

std::optional<TTestKind> TTestKinds::AddPluginKind(TTestKindEntry entry) {
  if (entry.Name.empty() || entry.Identifier.empty()) return std::nullopt;
  // Field 23 holds the identifier bare: it must read back as written, and must not read
  // as a number (a built-in kind).
  if (entry.Identifier.find_first_of(std::string_view(",\"\r\n\0", 5)) != std::string::npos) return std::nullopt;
  if (entry.Identifier.find_first_not_of("0123456789+- \t") == std::string::npos) return std::nullopt;
  std::unique_lock guard(FLock);
  for (const auto& existing : FPlugins)
    if (existing.Identifier == entry.Identifier) return std::nullopt;
  entry.Kind = PluginKind(static_cast<int>(FPlugins.size()));
  if (!entry.LabelSuffix) entry.LabelSuffix = [name = entry.Name](const TTestParams&) { return PluginLabelSuffix(name); };
  if (!entry.TestAddress) entry.TestAddress = [](const std::string& address, const TTestParams&) { return address; };
  if (!entry.Data) entry.Data = [](const TTestParams& p) -> std::optional<std::string> { return p.PluginParam; };
  if (!entry.SummaryType) entry.SummaryType = [name = entry.Name](const TTestParams&) { return name; };
  if (!entry.SummaryInfo)
    entry.SummaryInfo = [](const TTestParams& p) { return p.PluginParam.empty() ? std::string("(None)") : p.PluginParam; };
  FPlugins.push_back(std::move(entry));
  return FPlugins.back().Kind;
}

int TTestKinds::PluginCount() const {
  std::shared_lock guard(FLock);
  return static_cast<int>(FPlugins.size());
}

std::string PluginLabelSuffix(const std::string& name) { return ":" + name; }

std::string PluginParamLine(const TTestParams& params) {
  return HashEscape(ScrambleText(params.PluginParam), HostsFileEscapeSet()) + "\r\n";
}

void ReadPluginParamLine(const std::string& line, TTestParams& params) {
  params.PluginParam = UnscrambleText(HashUnescape(line));
}
