#pragma once
// The plug-ins: the libraries of the plug-in folders loaded at start-up (TPlugin), each
// accepted test a kind of the test-kind table (TPluginTest, kinds 5 and up in load
// order), the callbacks the plug-ins call, and the calls the window makes of them
// (parameter lists and checks, their dialogs, menu items). Every entry point except
// PerformTest runs here on the main thread; PerformTest runs in a test process per
// plug-in (TPluginRunner), so that a plug-in that crashes or hangs in a test takes
// only that process down: its hosts then report "Fatal error in plugin: ..." and the
// plug-in stays out of use until the program starts again.
//
// The callbacks are plain C functions without a context: they reach the one host that
// has loaded plug-ins through a process-wide pointer, the only such in the program.
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/MessageVariables.h"
#include "corvale_plugin.h"
#include "hosttests/TPluginCalls.h"
#include "hosttests/TTestKind.h"

class TMonitor;
class THost;
class TPluginRunner;
class TTestKinds;

struct TPlugin {
  void* Handle = nullptr;
  std::string FileName;  // without folder
  std::string Path;
  std::string Name, Vendor;
  std::int32_t Index = 0;
  TCvlInitialize Initialize = nullptr;
  TCvlInitializeEx InitializeEx = nullptr;
  TCvlGetTestInfo GetTestInfo = nullptr;
  TCvlGetTestDropdownEntry GetTestDropdownEntry = nullptr;
  TCvlValidateTestParam ValidateTestParam = nullptr;
  TCvlConfigureTest ConfigureTest = nullptr;
  TCvlPerformTest PerformTest = nullptr;
  TCvlOnLogMessage OnLogMessage = nullptr;
  TCvlFinalize Finalize = nullptr;
  TCvlConfigurePlugin ConfigurePlugin = nullptr;
  TCvlConfigurationChanged ConfigurationChanged = nullptr;
  TCvlGetPopupMenuItem GetPopupMenuItem = nullptr;
  TCvlPerformPopupMenuItem PerformPopupMenuItem = nullptr;
  std::int32_t TestCount = 0;
  // The settings block: none, or SettingsLength bytes in use.
  std::optional<std::string> Settings;
  std::int32_t SettingsLength = 0;
  std::string SettingsFile;
  std::int32_t SettingsCapacity = -1;
  std::int32_t Reserved = 0;
  std::vector<std::string> TestNames;
  std::shared_ptr<TPluginRunner> Runner;
  // Its test process crashed: no entry point of it is called any more.
  std::atomic<bool> Failed{false};
};

struct TPluginTest {
  TPlugin* Plugin = nullptr;
  std::int32_t TestNumber = 0;
  std::string Identifier, Name;
  std::int32_t ParameterKind = 0;
  std::int32_t ParameterSize = 0;
  TTestKind Kind = TTestKind::FirstPlugin;
};

class TPluginHost : public TPluginCalls {
public:
  explicit TPluginHost(TMonitor& monitor);
  ~TPluginHost() override;
  TPluginHost(const TPluginHost&) = delete;
  TPluginHost& operator=(const TPluginHost&) = delete;

  // The folders' "*.so" files, each folder in file-name order. The test process program
  // is runnerProgram. Once per host.
  void Load(const std::vector<std::string>& folders, const std::string& runnerProgram, TTestKinds& kinds);
  // From the last plug-in to the first: Finalize, unload. The test records go first.
  void Unload();

  // vendor + "-" + name with only the characters a file name keeps, + ".CVLPS".
  static std::string SettingsFileName(const std::string& vendor, const std::string& name);

  const std::vector<std::unique_ptr<TPlugin>>& Plugins() const { return FPlugins; }
  const std::vector<TPluginTest>& Tests() const { return FTests; }
  const TPluginTest* TestOfKind(TTestKind kind) const;
  // The message variables' list: every plug-in kind of the table, in kind order.
  std::vector<TVariablePluginTest> VariableTests(const TTestKinds& kinds) const;

  // The window's calls (main thread). Errors the plug-in raises are caught.
  std::vector<std::string> DropdownEntries(TTestKind kind);
  // False with the plug-in's reason when it refuses the text; a plug-in without the
  // check accepts every text.
  bool ValidateParam(TTestKind kind, const std::string& text, std::string& reason);
  struct TConfigured {
    bool Accepted = false;
    std::string Parameter, DisplayText;
    std::string Error;  // the error the plug-in raised
  };
  TConfigured ConfigureTest(TTestKind kind, std::int32_t hostID, const std::string& displayName,
                            const std::string& address, std::uintptr_t parentWindow, const std::string& parameter);
  bool CanConfigurePlugin(int index) const;
  void ConfigurePlugin(int index, std::uintptr_t parentWindow);
  struct TMenuItem {
    int Plugin = 0;
    std::int32_t Item = 0;
    std::string Caption;
  };
  // The host actions menu's items of every plug-in for the host (-1 and 0: none).
  std::vector<TMenuItem> MenuItems(int hostIndex, std::int32_t hostID, TTestKind hostKind);
  void PerformMenuItem(const TMenuItem& item, std::int32_t hostID, TTestKind hostKind);

  // What the callbacks need of other parts (main thread). Mail: queues the plug-in's
  // mail (the alert queue's rules), true when queued. Variables menu: the variable
  // chosen, none when nothing was. Connection: connects the remote resource with the
  // credentials, the system's code, the connection's name kept; disconnect: 0 or code.
  using TEmailSender = std::function<bool(std::int32_t hostID, const std::string& recipients,
                                          const std::string& subject, const std::string& message)>;
  using TVariablesMenu = std::function<std::optional<std::string>(const THost* host, int x, int y)>;
  using TConnector = std::function<int(const std::string& remote, const std::string& user,
                                       const std::string& password, std::string& connection)>;
  using TDisconnector = std::function<int(const std::string& connection)>;
  void SetEmailSender(TEmailSender sender) { FEmail = std::move(sender); }
  void SetVariablesMenu(TVariablesMenu menu) { FVariablesMenu = std::move(menu); }
  void SetConnector(TConnector connect, TDisconnector disconnect) {
    FConnect = std::move(connect);
    FDisconnect = std::move(disconnect);
  }

  // TPluginCalls: any thread.
  std::int32_t Log(std::int32_t index, std::int32_t hostID, const std::string& message, std::int32_t type) override;
  std::int32_t Email(std::int32_t index, std::int32_t hostID, const std::string& recipients,
                     const std::string& subject, const std::string& message) override;
  std::int32_t Variables(std::int32_t index, std::int32_t hostID, const std::string& text, std::int32_t bufferSize,
                         std::string& expanded) override;
  std::int32_t VariablesMenu(std::int32_t index, std::int32_t hostID, std::int32_t x, std::int32_t y,
                             std::string& chosen) override;
  std::int32_t HostInfo(std::int32_t index, std::int32_t hostIndex, TPluginHostInfo& info) override;
  std::int32_t HostConnection(std::int32_t index, std::int32_t hostID, std::int32_t action) override;

private:
  void LoadLibrary(const std::string& path, const std::string& runnerProgram, TTestKinds& kinds);
  void OfferSettings(TPlugin& plugin);
  void PluginFailed(std::int32_t index, const std::string& why);
  bool OnMainThread() const;
  // Runs fn on the main thread: now when called there, else queued.
  void OnMain(std::function<void()> fn);
  const TPlugin* PluginAt(std::int32_t index) const;
  void Fault(const std::string& where);

  TMonitor& FMonitor;
  QObject FReceiver;  // the main thread's queued calls; dropped with the host
  mutable std::mutex FListLock;  // FPlugins as other threads look plug-ins up
  std::vector<std::unique_ptr<TPlugin>> FPlugins;
  std::vector<TPluginTest> FTests;
  bool FLoaded = false;
  TEmailSender FEmail;
  TVariablesMenu FVariablesMenu;
  TConnector FConnect;
  TDisconnector FDisconnect;
};
