#pragma once
// The number of a host's test kind as the hosts file stores it. From FirstPlugin on, a
// kind is a plug-in test: kind - FirstPlugin is its index among the loaded ones.
#include <cstdint>

enum class TTestKind : std::int32_t { Ping = 0, TCP = 1, Service = 2, Share = 3, HTTP = 4, FirstPlugin = 5 };

// The short names the code has always used.
constexpr TTestKind TestPing = TTestKind::Ping;
constexpr TTestKind TestTCP = TTestKind::TCP;
constexpr TTestKind TestService = TTestKind::Service;
constexpr TTestKind TestShare = TTestKind::Share;
constexpr TTestKind TestHTTP = TTestKind::HTTP;
constexpr TTestKind TestPlugin = TTestKind::FirstPlugin;

constexpr std::int32_t KindNumber(TTestKind kind) { return static_cast<std::int32_t>(kind); }
constexpr bool IsPluginKind(TTestKind kind) { return KindNumber(kind) >= KindNumber(TTestKind::FirstPlugin); }
// The index of a plug-in kind among the loaded plug-in tests; -1 for a built-in kind.
constexpr int PluginIndex(TTestKind kind) {
  return IsPluginKind(kind) ? KindNumber(kind) - KindNumber(TTestKind::FirstPlugin) : -1;
}
constexpr TTestKind PluginKind(int index) { return static_cast<TTestKind>(KindNumber(TTestKind::FirstPlugin) + index); }

// Kind arithmetic for plug-in numbers: TestPlugin + 2 is the third plug-in test.
constexpr TTestKind operator+(TTestKind kind, int offset) { return static_cast<TTestKind>(KindNumber(kind) + offset); }
constexpr int operator-(TTestKind a, TTestKind b) { return KindNumber(a) - KindNumber(b); }
