#pragma once
// The service control manager of this computer: systemd over the system D-Bus, its
// units as the services. A name without a unit suffix means "NAME.service" (also in
// lower case: "Corvale" is the unit corvale.service). Pause and continue have no unit
// counterpart (1052); the dependants of a unit are the units that require or want it.
#include <string>
#include <vector>

#include "platform/TServiceControl.h"

class TSystemdServiceControl : public TServiceControl {
public:
  static constexpr int CallTimeoutMs = 15000;

  // The state of a unit's ActiveState ("active", "activating", ...); 0 when unknown.
  static int StateOfActiveState(const std::string& activeState);
  // The Windows code of a D-Bus error name.
  static int ErrorOfDBusError(const std::string& errorName);
  // "NAME.service" for a name without a suffix.
  static std::string UnitName(const std::string& service);

  int Connect(const std::string& machine) override;
  int QueryState(const std::string& machine, const std::string& service, int& state) override;
  int SendControl(const std::string& machine, const std::string& service, TServiceControlCode code,
                  int& state) override;
  int Launch(const std::string& machine, const std::string& service,
             const std::vector<std::string>& arguments) override;
  int Enumerate(const std::string& machine, std::vector<TServiceEntry>& services) override;
  int EnumerateDependents(const std::string& machine, const std::string& service,
                          std::vector<TServiceEntry>& services) override;

private:
  // The loaded unit's object path for the service (trying the lower-case name too).
  int UnitPath(const std::string& service, std::string& unit, std::string& path);
  int UnitProperty(const std::string& path, const char* name, std::string& value);
  int UnitListProperty(const std::string& path, const char* name, std::vector<std::string>& values);
};
