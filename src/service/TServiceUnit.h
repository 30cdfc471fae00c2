#pragma once
// The systemd unit that runs the supervisor: its text, where it is written, and the
// systemctl calls that make systemd take it up. The package ships the same text,
// written at build time by "corvale-service /UNITFILE".
#include <string>
#include <vector>

struct TServiceAccount {
  // Root, the stand-in for the Local System account.
  bool LocalSystem = false;
  // The system user the service runs as when not LocalSystem.
  std::string UserName;
  // Enabled at boot ("Load Corvale Service at Startup"), else started by hand only.
  bool StartAtBoot = true;
};

class TServiceUnit {
public:
  static constexpr const char* UnitName = "corvale.service";
  static constexpr const char* PackageUser = "corvale";
  // The first line of a unit /INSTALL wrote; /UNINSTALL removes no other.
  static constexpr const char* OwnMarker = "# Written by corvale-service /INSTALL; removed by /UNINSTALL.";

  // The unit for the supervisor at program, run under the account.
  static std::string Text(const std::string& program, const TServiceAccount& account, bool ownMarker);

  // $CORVALE_UNIT_DIR when set (tests), else /etc/systemd/system.
  static std::string UnitFolder();
  static bool UnitFolderRelocated();
  static std::string UnitPath() { return UnitFolder() + "/" + UnitName; }
  // The unit the package installed, where one is: /lib/systemd/system or /usr/lib/...
  static std::string PackagedUnitPath();
  // Whether systemctl is asked at all: systemd runs this computer and the unit folder
  // is the real one.
  static bool ManagesSystemd();

  // Writes the unit through a temporary file; false with error set.
  static bool Write(const std::string& text, std::string& error);
  // Removes the unit when /INSTALL wrote it; true when no unit of ours is left.
  static bool RemoveOwn(std::string& error);

  // Runs systemctl with the arguments when ManagesSystemd(); true when it is skipped
  // or succeeds, false with its output in error otherwise.
  static bool Systemctl(const std::vector<std::string>& args, std::string& error);
};
