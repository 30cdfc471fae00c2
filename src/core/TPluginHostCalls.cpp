// TPluginHost: the callbacks and the window's calls of the plug-ins.
#include <QThread>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "common/DateTime.h"
#include "common/NetText.h"
#include "common/Fields.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "core/TPluginHost.h"
#include "hosttests/TPluginRunner.h"
#include "hosttests/TTestKinds.h"

namespace {

// Windows' ERROR_NOT_SUPPORTED: no way to connect network resources was given.
constexpr int NotSupported = 50;
constexpr std::int32_t MaxListEntries = 4096;
constexpr std::int32_t MaxMenuItems = 64;

std::string Text(const char* buffer, std::size_t size) { return std::string(buffer, strnlen(buffer, size)); }

// A read of the host list that is safe on any thread: the main thread changes it only
// while holding the state lock exclusively, and never waits for a plug-in call.
class TListRead {
public:
  TListRead(std::shared_mutex& lock, bool mainThread) {
    if (!mainThread) FGuard = std::shared_lock(lock);
  }

private:
  std::shared_lock<std::shared_mutex> FGuard;
};

}  // namespace

std::int32_t TPluginHost::Log(std::int32_t index, std::int32_t hostID, const std::string& message,
                              std::int32_t type) {
  std::string prefix;
  const std::uintptr_t window = FMonitor.WindowHandle();
  if (window != 0 && index == static_cast<std::int32_t>(window)) {
    prefix = "[Corvale] ";
  } else if (const TPlugin* plugin = PluginAt(index)) {
    prefix = "[" + plugin->Name + "] ";
  } else {
    return 0;
  }
  OnMain([this, hostID, text = prefix + message, category = [type] {
            switch (type) {
              case 0: return TLogCategory::Okay;
              case 1: return TLogCategory::Warning;
              case 2: return TLogCategory::Error;
              case 3: return TLogCategory::Information;
              default: return static_cast<TLogCategory>('-');
            }
          }()] {
    FMonitor.LogEvent(FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(hostID)), text, category);
  });
  return -1;
}

std::int32_t TPluginHost::Email(std::int32_t index, std::int32_t hostID, const std::string& recipients,
                                const std::string& subject, const std::string& message) {
  if (!PluginAt(index) || recipients.empty() || subject.empty() || message.empty()) return 0;
  std::string list = recipients;
  std::replace(list.begin(), list.end(), ',', ';');
  if (!IsValidEmailAddress(GetField(list, ';', 1, '\0'))) return 0;
  if (OnMainThread()) return FEmail && FEmail(hostID, recipients, subject, message) ? -1 : 0;
  OnMain([this, hostID, recipients, subject, message] {
    if (!FEmail || !FEmail(hostID, recipients, subject, message))
      FMonitor.ReportFault("plug-in mail", "A plug-in's mail to " + recipients + " was not queued");
  });
  return -1;
}

std::int32_t TPluginHost::Variables(std::int32_t index, std::int32_t hostID, const std::string& text,
                                    std::int32_t bufferSize, std::string& expanded) {
  if (!PluginAt(index) || bufferSize <= 0) return 0;
  TListRead read(FMonitor.StateLock(), OnMainThread());
  const TVariableContext context = FMonitor.VariableContext();
  const THost* host = FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(hostID));
  if (!host) return 0;
  std::string result = ExpandHostVariables(text, *host, false, context);
  if (result.size() >= static_cast<std::size_t>(bufferSize)) return 0;
  expanded = std::move(result);
  return -1;
}

std::int32_t TPluginHost::VariablesMenu(std::int32_t index, std::int32_t hostID, std::int32_t x, std::int32_t y,
                                        std::string& chosen) {
  // A menu needs the main thread, which must never wait for a test's process.
  if (!PluginAt(index) || !OnMainThread() || !FVariablesMenu) return 0;
  const THost* host = FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(hostID));
  const std::optional<std::string> variable = FVariablesMenu(host, x, y);
  if (!variable) return 0;
  chosen = *variable;
  return -1;
}

std::int32_t TPluginHost::HostInfo(std::int32_t index, std::int32_t hostIndex, TPluginHostInfo& info) {
  if (!PluginAt(index)) return 1;
  try {
    TListRead read(FMonitor.StateLock(), OnMainThread());
    const THost* host = FMonitor.Hosts().Items(hostIndex);
    if (!host) return -1;
    info.ID = host->ID;
    if (host->IsGroup()) {
      info.Name = host->DisplayName.substr(host->DisplayName.starts_with(';') ? 1 : 0);
      info.Kind = "Group";
      return 0;
    }
    info.Name = host->DisplayName;
    info.Address = host->Address;
    info.Kind = TestKindName(host->TestKind);
    switch (host->Status) {
      case StatusOnline: info.Status = 0; break;
      case StatusWarning: info.Status = 1; break;
      case StatusOffline: info.Status = 2; break;
      default: info.Status = -1; break;
    }
    info.Successes = host->Successes;
    info.Failures = host->Failures;
    info.BackToBackFailures = host->BackToBackFailures;
    info.LastCheck = host->LastCheck;
    info.LastSuccess = host->LastSuccess;
    info.LastFailure = host->LastFailure;
    info.LastError = host->LastErrorText;
    return 0;
  } catch (...) {
    Fault("plug-in host information");
    return 1;
  }
}

std::int32_t TPluginHost::HostConnection(std::int32_t index, std::int32_t hostID, std::int32_t action) {
  if (!PluginAt(index)) return -2;
  std::string address, user, password, connection;
  {
    TListRead read(FMonitor.StateLock(), OnMainThread());
    const THost* host = FMonitor.Hosts().Items(FMonitor.Hosts().FindByID(hostID));
    if (!host) return -2;
    address = host->Address;
    user = host->WinUserName;
    password = host->WinPassword;
    connection = host->ShareConnection;
  }
  auto keep = [this, hostID](std::string name) {
    OnMain([this, hostID, name] {
      FMonitor.UpdateHost(FMonitor.Hosts().FindByID(hostID), [&](THost& h) { h.ShareConnection = name; },
                          "plug-in connection");
    });
  };
  switch (action) {
    case 0: return user.empty() ? -1 : 0;
    case 1: {
      if (!FConnect) return NotSupported;
      std::string name;
      const int code = FConnect("\\\\" + address + "\\ipc$", user, password, name);
      if (code == 0) keep(name);
      return code;
    }
    case 2:
      if (connection.empty()) return -1;
      if (FDisconnect) FDisconnect(connection);
      keep({});
      return 0;
    default: return -3;
  }
}

std::vector<std::string> TPluginHost::DropdownEntries(TTestKind kind) {
  std::vector<std::string> entries;
  const TPluginTest* test = TestOfKind(kind);
  if (!test || !test->Plugin->GetTestDropdownEntry || test->Plugin->Failed.load()) return entries;
  try {
    for (std::int32_t number = 0; number < MaxListEntries; ++number) {
      char entry[CVL_NAME_SIZE] = {};
      if (test->Plugin->GetTestDropdownEntry(test->TestNumber, number, entry) == 0) break;
      std::string text = Text(entry, sizeof entry);
      if (text.empty()) break;
      entries.push_back(std::move(text));
    }
  } catch (...) {
    Fault("plug-in GetTestDropdownEntry");
  }
  return entries;
}

bool TPluginHost::ValidateParam(TTestKind kind, const std::string& text, std::string& reason) {
  const TPluginTest* test = TestOfKind(kind);
  if (!test || !test->Plugin->ValidateTestParam || test->Plugin->Failed.load()) return true;
  try {
    char error[CVL_NAME_SIZE] = {};
    if (test->Plugin->ValidateTestParam(test->TestNumber, text.c_str(), error) != 0) return true;
    reason = Text(error, sizeof error);
    return false;
  } catch (...) {
    Fault("plug-in ValidateTestParam");
    return true;
  }
}

TPluginHost::TConfigured TPluginHost::ConfigureTest(TTestKind kind, std::int32_t hostID,
                                                    const std::string& displayName, const std::string& address,
                                                    std::uintptr_t parentWindow, const std::string& parameter) {
  TConfigured configured;
  const TPluginTest* test = TestOfKind(kind);
  if (!test || !test->Plugin->ConfigureTest || test->Plugin->Failed.load()) return configured;
  const std::size_t size = static_cast<std::size_t>(test->ParameterSize) + 1;
  std::string buffer(std::max(size, parameter.size() + 1), '\0');
  std::memcpy(buffer.data(), parameter.data(), std::min(parameter.size(), size - 1));
  std::int32_t length = static_cast<std::int32_t>(std::min(parameter.size(), size - 1));
  char displayText[CVL_DISPLAY_TEXT_SIZE + 1] = {};
  try {
    if (test->Plugin->ConfigureTest(test->TestNumber, hostID, displayName.c_str(), address.c_str(), parentWindow,
                                    buffer.data(), &length, displayText) == 0) {
      configured.Accepted = true;
      configured.Parameter = buffer.substr(0, static_cast<std::size_t>(std::clamp<std::int32_t>(
                                                  length, 0, static_cast<std::int32_t>(size - 1))));
      configured.DisplayText = Text(displayText, CVL_DISPLAY_TEXT_SIZE);
    }
  } catch (...) {
    configured.Error = CurrentExceptionText();
  }
  return configured;
}

bool TPluginHost::CanConfigurePlugin(int index) const {
  const TPlugin* plugin = PluginAt(index);
  return plugin && plugin->ConfigurePlugin && plugin->SettingsCapacity >= 0 && !plugin->Failed.load();
}

void TPluginHost::ConfigurePlugin(int index, std::uintptr_t parentWindow) {
  if (!CanConfigurePlugin(index)) return;
  TPlugin& p = *FPlugins[static_cast<std::size_t>(index)];
  try {
    std::int32_t length = 0, capacity = p.SettingsCapacity;
    if (capacity < 1) {
      p.ConfigurePlugin(nullptr, &length, &capacity, parentWindow);
      p.Settings.reset();
      p.SettingsLength = 0;
    } else {
      std::string block = p.Settings.value_or(std::string());
      length = static_cast<std::int32_t>(block.size());
      block.resize(static_cast<std::size_t>(capacity), '\0');
      p.ConfigurePlugin(block.data(), &length, &capacity, parentWindow);
      if (length < 1) {
        p.Settings.reset();
        p.SettingsLength = 0;
      } else {
        block.resize(std::min<std::size_t>(static_cast<std::size_t>(length), block.size()));
        p.SettingsLength = static_cast<std::int32_t>(block.size());
        p.Settings = std::move(block);
      }
    }
    p.SettingsCapacity = capacity;
    if (p.Runner) p.Runner->SetSettings(p.Settings.value_or(std::string()), p.SettingsLength, p.SettingsCapacity);
  } catch (...) {
    Fault("plug-in ConfigurePlugin");
  }
}

std::vector<TPluginHost::TMenuItem> TPluginHost::MenuItems(int hostIndex, std::int32_t hostID, TTestKind hostKind) {
  std::vector<TMenuItem> items;
  for (std::size_t i = 0; i < FPlugins.size(); ++i) {
    TPlugin& p = *FPlugins[i];
    if (!p.GetPopupMenuItem || !p.PerformPopupMenuItem || p.Failed.load()) continue;
    const TPluginTest* test = TestOfKind(hostKind);
    const std::int32_t testNumber = test && test->Plugin == &p ? test->TestNumber : -1;
    try {
      for (std::int32_t item = 0; item < MaxMenuItems; ++item) {
        char caption[CVL_MESSAGE_SIZE + 1] = {};
        if (p.GetPopupMenuItem(hostIndex, hostID, testNumber, item, caption) == 0) break;
        items.push_back({static_cast<int>(i), item, Text(caption, CVL_MESSAGE_SIZE)});
      }
    } catch (...) {
      Fault("plug-in GetPopupMenuItem");
    }
  }
  return items;
}

void TPluginHost::PerformMenuItem(const TMenuItem& item, std::int32_t hostID, TTestKind hostKind) {
  if (item.Plugin < 0 || static_cast<std::size_t>(item.Plugin) >= FPlugins.size()) return;
  TPlugin& p = *FPlugins[static_cast<std::size_t>(item.Plugin)];
  if (!p.PerformPopupMenuItem || p.Failed.load()) return;
  const TPluginTest* test = TestOfKind(hostKind);
  const std::int32_t testNumber = test && test->Plugin == &p ? test->TestNumber : -1;
  try {
    p.PerformPopupMenuItem(FMonitor.Hosts().FindByID(hostID), hostID, testNumber, item.Item);
  } catch (...) {
    Fault("plug-in PerformPopupMenuItem");
  }
}
