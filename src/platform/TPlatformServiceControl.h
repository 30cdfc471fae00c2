#pragma once
// The program's service control manager: this computer's services (an empty machine
// name or this computer's own name) from systemd, every other computer's through the
// Windows service protocol.
#include <string>
#include <vector>

#include "platform/TSambaServiceControl.h"
#include "platform/TSystemdServiceControl.h"

class TPlatformServiceControl : public TServiceControl {
public:
  explicit TPlatformServiceControl(int smbPort = 445) : FRemote(smbPort) {}

  // Whether the name means this computer: empty, or its host name in any case.
  static bool IsLocal(const std::string& machine);

  void SetSMBPort(int port) override { FRemote.SetSMBPort(port); }
  int SMBPort() const override { return FRemote.SMBPort(); }

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
  TServiceControl& For(const std::string& machine);

  TSystemdServiceControl FLocal;
  TSambaServiceControl FRemote;
};
