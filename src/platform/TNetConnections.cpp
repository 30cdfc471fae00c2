#include "platform/TNetConnections.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

TNetConnections& TNetConnections::Instance() {
  static TNetConnections connections;
  return connections;
}

std::string TNetConnections::ServerOf(const std::string& remoteName) {
  std::size_t start = 0;
  while (start < remoteName.size() && IsSeparator(remoteName[start])) ++start;
  std::size_t end = start;
  while (end < remoteName.size() && !IsSeparator(remoteName[end])) ++end;
  return remoteName.substr(start, end - start);
}

void TNetConnections::Add(const std::string& remoteName, const TNetCredentials& credentials) {
  const std::lock_guard<std::mutex> guard(FLock);
  TEntry& entry = FByRemoteName[Lower(remoteName)];
  // A connection with the current credentials lends none and takes none away.
  if (!credentials.User.empty() || !credentials.Password.empty()) entry.Credentials = credentials;
  ++entry.Count;
  entry.Serial = ++FSerial;
}

void TNetConnections::Cancel(const std::string& remoteName) {
  const std::lock_guard<std::mutex> guard(FLock);
  const auto it = FByRemoteName.find(Lower(remoteName));
  if (it != FByRemoteName.end() && --it->second.Count <= 0) FByRemoteName.erase(it);
}

std::optional<TNetCredentials> TNetConnections::CredentialsFor(const std::string& server) const {
  const std::string wanted = Lower(server);
  const std::lock_guard<std::mutex> guard(FLock);
  const TEntry* newest = nullptr;
  for (const auto& [name, entry] : FByRemoteName) {
    const bool lends = !entry.Credentials.User.empty() || !entry.Credentials.Password.empty();
    if (lends && ServerOf(name) == wanted && (newest == nullptr || entry.Serial > newest->Serial)) newest = &entry;
  }
  if (newest == nullptr) return std::nullopt;
  return newest->Credentials;
}
