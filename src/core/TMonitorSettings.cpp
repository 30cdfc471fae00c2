// The settings file beside the hosts file.
#include <mutex>

#include "common/Clock.h"
#include "core/TMonitor.h"
#include "common/FileUtils.h"
#include "common/TextFiles.h"

void TMonitor::LoadSettings() {
  // The read rules keep some current values, so the file is read over a copy of them.
  TSettings loaded = FSettings;
  std::string reason;
  switch (loaded.LoadFromFile(FSettingsFileName, reason)) {
    case TSettings::TLoadResult::Loaded: {
      std::unique_lock<std::shared_mutex> guard(FStateLock);
      FSettings = std::move(loaded);
      break;
    }
    case TSettings::TLoadResult::Missing:
      break;
    case TSettings::TLoadResult::Unreadable: {
      // Saving over a file we could not read would lose it: it is set aside first.
      std::string error;
      const std::string kept =
          SetFileAside(FSettingsFileName, ".unreadable-" + FormatDateTime("yyyymmdd-hhnnss", FClock.Now()), error);
      if (kept.empty()) {
        FSettingsSaveBlocked = true;
        LogEvent(nullptr, "Unable to read the settings file " + FSettingsFileName + ": " + reason +
                              "; it could not be set aside (" + error +
                              "), so the default settings are used and it will not be saved over", TLogCategory::Error);
      } else {
        LogEvent(nullptr, "Unable to read the settings file " + FSettingsFileName + ": " + reason +
                              "; it was kept as " + kept + " and the default settings are used", TLogCategory::Error);
      }
      break;
    }
  }
}

bool TMonitor::SaveSettings() {
  if (FSettingsFileName.empty() || FSettingsSaveBlocked) return true;
  std::string text;
  {
    // Writing the values into the list changes it.
    std::unique_lock<std::shared_mutex> guard(FStateLock);
    text = FSettings.SaveToText();
  }
  std::string error;
  if (IsReadOnlyFile(FSettingsFileName)) {
    LogEvent(nullptr, "Unable to save the settings file " + FSettingsFileName + ": the file is read-only",
             TLogCategory::Error);
    return false;
  }
  if (!ReplaceFileText(FSettingsFileName, text, TSettings::FileMode, error)) {
    LogEvent(nullptr, "Unable to save the settings file " + FSettingsFileName + ": " + error, TLogCategory::Error);
    return false;
  }
  return true;
}
