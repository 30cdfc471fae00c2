#include "core/TPluginHost.h"

#include <QThread>
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "common/FileUtils.h"
#include "common/NetText.h"
#include "common/TextFiles.h"
#include "core/THost.h"
#include "core/THostList.h"
#include "core/TMonitor.h"
#include "hosttests/TCustomTestThread.h"
#include "hosttests/TPluginFrames.h"
#include "hosttests/TPluginRunner.h"
#include "hosttests/TTestKinds.h"

namespace {

// Room a plug-in gets beyond its stored settings.
constexpr std::int32_t SettingsRoom = 65536;
// A plug-in that claims more tests, list entries or menu items than this is not asked
// for the rest.
constexpr std::int32_t MaxTests = 1024;

std::atomic<TPluginHost*> ActiveHost{nullptr};

std::string Text(const char* buffer, std::size_t size) { return std::string(buffer, strnlen(buffer, size)); }

void CopyOut(char* buffer, const std::string& text) {
  if (!buffer) return;
  const std::size_t n = std::min<std::size_t>(text.size(), CVL_TEXT_SIZE - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

std::int32_t CVL_CALL LogCallback(std::int32_t index, std::int32_t, std::int32_t hostID, const char* message,
                                  std::int32_t type) {
  TPluginHost* host = ActiveHost.load();
  return host && message ? host->Log(index, hostID, message, type) : 0;
}

std::int32_t CVL_CALL EmailCallback(std::int32_t index, std::int32_t hostID, const char* recipients,
                                    const char* subject, const char* message) {
  TPluginHost* host = ActiveHost.load();
  return host && recipients && subject && message ? host->Email(index, hostID, recipients, subject, message) : 0;
}

std::int32_t CVL_CALL VariablesCallback(std::int32_t index, std::int32_t hostID, const char* text,
                                        std::int32_t* bufferSize, char* buffer) {
  TPluginHost* host = ActiveHost.load();
  if (!host || !text || !bufferSize || !buffer || *bufferSize <= 0) return 0;
  std::string expanded;
  if (host->Variables(index, hostID, text, *bufferSize, expanded) != -1) return 0;
  std::memcpy(buffer, expanded.c_str(), expanded.size() + 1);
  *bufferSize = static_cast<std::int32_t>(expanded.size());
  return -1;
}

std::int32_t CVL_CALL VariablesMenuCallback(std::int32_t index, std::int32_t hostID, std::int32_t x, std::int32_t y,
                                            char* buffer) {
  TPluginHost* host = ActiveHost.load();
  std::string chosen;
  if (!host || !buffer || host->VariablesMenu(index, hostID, x, y, chosen) != -1) return 0;
  CopyOut(buffer, chosen);
  return -1;
}

std::int32_t CVL_CALL HostInfoCallback(std::int32_t index, std::int32_t hostIndex, std::int32_t* hostID, char* name,
                                       char* address, char* kind, std::int32_t* status, std::int64_t* successes,
                                       std::int64_t* failures, std::int64_t* backToBack, double* lastCheck,
                                       double* lastSuccess, double* lastFailure, char* lastError) {
  TPluginHost* host = ActiveHost.load();
  if (!host) return 1;
  TPluginHostInfo info;
  const std::int32_t result = host->HostInfo(index, hostIndex, info);
  if (result != 0) return result;
  if (hostID) *hostID = info.ID;
  CopyOut(name, info.Name);
  CopyOut(address, info.Address);
  CopyOut(kind, info.Kind);
  if (status) *status = info.Status;
  if (successes) *successes = info.Successes;
  if (failures) *failures = info.Failures;
  if (backToBack) *backToBack = info.BackToBackFailures;
  if (lastCheck) *lastCheck = info.LastCheck;
  if (lastSuccess) *lastSuccess = info.LastSuccess;
  if (lastFailure) *lastFailure = info.LastFailure;
  CopyOut(lastError, info.LastError);
  return 0;
}

std::int32_t CVL_CALL HostConnectionCallback(std::int32_t index, std::int32_t hostID, std::int32_t action) {
  TPluginHost* host = ActiveHost.load();
  return host ? host->HostConnection(index, hostID, action) : -2;
}

template <typename T>
T EntryPoint(void* handle, const char* name) {
  return reinterpret_cast<T>(::dlsym(handle, name));
}

std::vector<std::string> LibrariesIn(const std::string& folder) {
  std::vector<std::string> files;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return files;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(name.size() - 3, 3, ".so") != 0) continue;
    struct stat info {};
    const std::string path = IncludeTrailingPathDelimiter(folder) + name;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) files.push_back(path);
  }
  ::closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

TPluginHost::TPluginHost(TMonitor& monitor) : FMonitor(monitor) {}

TPluginHost::~TPluginHost() { Unload(); }

std::string TPluginHost::SettingsFileName(const std::string& vendor, const std::string& name) {
  static const std::string kept = "!#%&'()+,-.;=@[]^_`{}~ ";
  std::string file;
  for (const char c : vendor + "-" + name) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || kept.find(c) != std::string::npos)
      file += c;
  }
  return file + ".CVLPS";
}

bool TPluginHost::OnMainThread() const { return QThread::currentThread() == FMonitor.thread(); }

void TPluginHost::OnMain(std::function<void()> fn) {
  if (OnMainThread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(&FReceiver, std::move(fn), Qt::QueuedConnection);
}

void TPluginHost::Fault(const std::string& where) { FMonitor.ReportCurrentException(where); }

const TPlugin* TPluginHost::PluginAt(std::int32_t index) const {
  std::lock_guard guard(FListLock);
  if (index < 0 || static_cast<std::size_t>(index) >= FPlugins.size()) return nullptr;
  return FPlugins[static_cast<std::size_t>(index)].get();
}

void TPluginHost::Load(const std::vector<std::string>& folders, const std::string& runnerProgram,
                       TTestKinds& kinds) {
  if (FLoaded) return;
  FLoaded = true;
  ActiveHost.store(this);
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    for (const std::string& path : LibrariesIn(folder)) LoadLibrary(path, runnerProgram, kinds);
  }
  FMonitor.AddLogHook([this](std::int32_t hostID, const std::string& message, int level) {
    for (const auto& plugin : FPlugins) {
      if (!plugin->OnLogMessage || plugin->Failed.load()) continue;
      try {
        plugin->OnLogMessage(hostID, message.c_str(), level);
      } catch (...) {
        Fault("plug-in OnLogMessage");
      }
    }
  });
  FMonitor.AddConfigurationChangedHook([this](const std::string& hostsFile, int count) {
    for (const auto& plugin : FPlugins) {
      if (!plugin->ConfigurationChanged || plugin->Failed.load()) continue;
      try {
        plugin->ConfigurationChanged(hostsFile.c_str(), count);
      } catch (...) {
        Fault("plug-in ConfigurationChanged");
      }
    }
  });
}

void TPluginHost::LoadLibrary(const std::string& path, const std::string& runnerProgram, TTestKinds& kinds) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  const std::string fileName = ExtractFileName(path);
  if (!handle) {
    const char* why = ::dlerror();
    FMonitor.LogEvent(nullptr, "Plug-in not loaded: " + fileName + ": " + (why ? why : "unknown error"),
                      TLogCategory::Error);
    return;
  }
  auto plugin = std::make_unique<TPlugin>();
  TPlugin& p = *plugin;
  p.Handle = handle;
  p.FileName = fileName;
  p.Path = path;
  p.Index = static_cast<std::int32_t>(FPlugins.size());
  p.Initialize = EntryPoint<TCvlInitialize>(handle, "Initialize");
  p.InitializeEx = EntryPoint<TCvlInitializeEx>(handle, "InitializeEx");
  p.GetTestInfo = EntryPoint<TCvlGetTestInfo>(handle, "GetTestInfo");
  p.GetTestDropdownEntry = EntryPoint<TCvlGetTestDropdownEntry>(handle, "GetTestDropdownEntry");
  p.ValidateTestParam = EntryPoint<TCvlValidateTestParam>(handle, "ValidateTestParam");
  p.ConfigureTest = EntryPoint<TCvlConfigureTest>(handle, "ConfigureTest");
  p.PerformTest = EntryPoint<TCvlPerformTest>(handle, "PerformTest");
  p.OnLogMessage = EntryPoint<TCvlOnLogMessage>(handle, "OnLogMessage");
  p.Finalize = EntryPoint<TCvlFinalize>(handle, "Finalize");
  p.ConfigurePlugin = EntryPoint<TCvlConfigurePlugin>(handle, "ConfigurePlugin");
  p.ConfigurationChanged = EntryPoint<TCvlConfigurationChanged>(handle, "ConfigurationChanged");
  p.GetPopupMenuItem = EntryPoint<TCvlGetPopupMenuItem>(handle, "GetPopupMenuItem");
  p.PerformPopupMenuItem = EntryPoint<TCvlPerformPopupMenuItem>(handle, "PerformPopupMenuItem");

  std::vector<TPluginTest> accepted;
  std::string why;
  try {
    // The record is looked up by its index from inside Initialize (the log callback).
    {
      std::lock_guard guard(FListLock);
      FPlugins.push_back(std::move(plugin));
    }
    char vendor[CVL_NAME_SIZE] = {}, name[CVL_NAME_SIZE] = {};
    std::int32_t count = 0;
    if (!p.Initialize) {
      why = "it has no Initialize";
    } else if (p.Initialize(p.Index, LogCallback, EmailCallback, vendor, name, &count) != 0) {
      why = "Initialize failed";
    } else {
      p.Vendor = Text(vendor, sizeof vendor);
      p.Name = Text(name, sizeof name);
      if (p.Vendor.empty() || p.Name.empty()) why = "Initialize gave no vendor or no name";
    }
    if (why.empty()) {
      if (p.InitializeEx) OfferSettings(p);
      if (!p.GetTestInfo || !p.PerformTest) why = "it has no GetTestInfo or no PerformTest";
    }
    if (why.empty()) {
      for (std::int32_t test = 0; test < std::min(count, MaxTests); ++test) {
        char identifier[CVL_NAME_SIZE] = {}, testName[CVL_NAME_SIZE] = {};
        std::int32_t kind = 0, size = 0;
        try {
          if (p.GetTestInfo(test, identifier, testName, &kind, &size) != 0) continue;
        } catch (...) {
          Fault("plug-in GetTestInfo");
          continue;
        }
        TPluginTest record;
        record.Plugin = &p;
        record.TestNumber = test;
        record.Identifier = Text(identifier, sizeof identifier);
        record.Name = Text(testName, sizeof testName);
        record.ParameterKind = kind;
        record.ParameterSize = std::clamp<std::int32_t>(size, 0, static_cast<std::int32_t>(PluginFrames::MaxText));
        accepted.push_back(std::move(record));
      }
      if (accepted.empty()) why = "it offers no test";
    }
  } catch (...) {
    why = "it raised an error while loading: " + CurrentExceptionText();
  }

  if (why.empty()) {
    p.Runner = std::make_shared<TPluginRunner>(
        runnerProgram, path, p.Index, p.Settings.value_or(std::string()), p.SettingsLength, p.SettingsCapacity, *this,
        FMonitor.Tests(), [this, index = p.Index](const std::string& reason) {
          OnMain([this, index, reason] { PluginFailed(index, reason); });
        });
    std::weak_ptr<TPluginRunner> runner = p.Runner;
    std::vector<TPluginTest> kept;
    for (TPluginTest& test : accepted) {
      TTestKindEntry entry;
      entry.Name = test.Name;
      entry.Identifier = test.Identifier;
      entry.Start = [runner, number = test.TestNumber](TTestContext& context, const TTestStart& start,
                                                       TTestDone done) -> std::shared_ptr<TBackgroundTask> {
        auto live = runner.lock();
        if (!live) return nullptr;
        TPluginRunner::TRequest request{number, start.HostID, start.DisplayName, start.Address,
                                        start.Params.PluginParam};
        return TCustomTestThread::Create(context, live, std::move(request), std::move(done));
      };
      const std::optional<TTestKind> kind = kinds.AddPluginKind(std::move(entry));
      if (!kind) {
        FMonitor.LogEvent(nullptr, "Plug-in test refused: " + test.Name + " of " + p.Name + " (identifier \"" +
                                       test.Identifier + "\" is taken or cannot be stored)", TLogCategory::Error);
        continue;
      }
      test.Kind = *kind;
      p.TestNames.push_back(test.Name);
      kept.push_back(std::move(test));
    }
    if (kept.empty()) why = "none of its tests could be added";
    p.TestCount = static_cast<std::int32_t>(kept.size());
    for (TPluginTest& test : kept) FTests.push_back(std::move(test));
  }

  if (!why.empty()) {
    FMonitor.LogEvent(nullptr, "Plug-in not loaded: " + fileName + ": " + why, TLogCategory::Plugin);
    std::unique_ptr<TPlugin> dropped;
    {
      std::lock_guard guard(FListLock);
      dropped = std::move(FPlugins.back());
      FPlugins.pop_back();
    }
    ::dlclose(handle);
    return;
  }
  std::string names;
  for (const std::string& test : p.TestNames) names += (names.empty() ? "" : ", ") + test;
  FMonitor.LogEvent(nullptr, "Plug-in loaded: " + p.Name + " by " + p.Vendor + " Tests: " + names,
                    TLogCategory::Plugin);
}

void TPluginHost::OfferSettings(TPlugin& p) {
  p.SettingsFile = FMonitor.DataFolder() + SettingsFileName(p.Vendor, p.Name);
  std::string stored, error;
  bool tail = false;
  if (FileExists(p.SettingsFile) &&
      (!ReadFileTail(p.SettingsFile, PluginFrames::MaxSettingsBytes, stored, tail, error) || tail)) {
    // Offering an empty block would let the plug-in's answer replace a file it never saw.
    FMonitor.LogEvent(nullptr, "Plug-in settings not read: " + p.SettingsFile + ": " +
                                   (tail ? std::string("the file is too large") : error), TLogCategory::Error);
    std::int32_t length = 0, capacity = -1;
    p.InitializeEx(VariablesCallback, VariablesMenuCallback, HostInfoCallback, HostConnectionCallback, nullptr,
                   &length, &capacity, &p.Reserved);
    p.SettingsCapacity = -1;
    return;
  }
  std::string block = stored;
  block.resize(stored.size() + SettingsRoom, '\0');
  std::int32_t length = static_cast<std::int32_t>(stored.size());
  std::int32_t capacity = static_cast<std::int32_t>(block.size());
  p.InitializeEx(VariablesCallback, VariablesMenuCallback, HostInfoCallback, HostConnectionCallback, block.data(),
                 &length, &capacity, &p.Reserved);
  p.SettingsCapacity = capacity;
  if (length >= 1 && capacity >= 1) {
    // The plug-in keeps its settings itself.
    p.Settings.reset();
    p.SettingsLength = 0;
    return;
  }
  // A length of 0 keeps no block and writes nothing: an empty answer must not wipe a file.
  if (length <= 0) {
    p.Settings.reset();
    p.SettingsLength = 0;
    return;
  }
  block.resize(static_cast<std::size_t>(std::min<std::int32_t>(length, static_cast<std::int32_t>(block.size()))));
  p.SettingsLength = static_cast<std::int32_t>(block.size());
  if (!ReplaceFileText(p.SettingsFile, block, 0600, error))
    FMonitor.LogEvent(nullptr, "Plug-in settings not saved: " + p.SettingsFile + ": " + error, TLogCategory::Error);
  p.Settings = std::move(block);
}

void TPluginHost::PluginFailed(std::int32_t index, const std::string& why) {
  if (index < 0 || static_cast<std::size_t>(index) >= FPlugins.size()) return;
  TPlugin& plugin = *FPlugins[static_cast<std::size_t>(index)];
  if (plugin.Failed.exchange(true)) return;
  FMonitor.LogEvent(nullptr, "Plug-in unloaded: " + plugin.Name + ": " + why +
                                 "; its hosts report an error until the program starts again", TLogCategory::Error);
}

void TPluginHost::Unload() {
  if (!FLoaded) return;
  FTests.clear();
  std::vector<std::unique_ptr<TPlugin>> plugins;
  {
    std::lock_guard guard(FListLock);
    plugins.swap(FPlugins);
  }
  for (auto it = plugins.rbegin(); it != plugins.rend(); ++it) {
    TPlugin& p = **it;
    if (p.Runner) p.Runner->Stop();
    p.Runner.reset();
    try {
      if (p.Finalize) p.Finalize();
    } catch (...) {
      Fault("plug-in Finalize");
    }
    ::dlclose(p.Handle);
  }
  plugins.clear();
  TPluginHost* self = this;
  ActiveHost.compare_exchange_strong(self, nullptr);
  FLoaded = false;
}

const TPluginTest* TPluginHost::TestOfKind(TTestKind kind) const {
  for (const TPluginTest& test : FTests)
    if (test.Kind == kind) return &test;
  return nullptr;
}

std::vector<TVariablePluginTest> TPluginHost::VariableTests(const TTestKinds& kinds) const {
  std::vector<TVariablePluginTest> tests;
  for (int i = 0; i < kinds.PluginCount(); ++i) {
    const TTestKindEntry* entry = kinds.Find(PluginKind(i));
    const TPluginTest* test = TestOfKind(PluginKind(i));
    tests.push_back({entry ? entry->Name : std::string(), test ? test->ParameterKind : 0});
  }
  return tests;
}
