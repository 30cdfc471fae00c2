#pragma once
// The service control manager as the program sees it. The monitor stops its own
// service before it runs interactively and starts it again at exit; later the service
// test, remote control and the configuration dialog use the same interface. Backends:
// systemd units for the local computer and a simulated manager for tests and demos;
// `TNoServiceControl` stands where no manager is available.
#include <string>

class TServiceControl {
public:
  virtual ~TServiceControl() = default;
  // machine: computer name, empty for this computer.
  virtual bool IsServiceRunning(const std::string& machine, const std::string& service) = 0;
  // Sends the stop request and waits up to waitMs for the stopped state.
  virtual bool StopService(const std::string& machine, const std::string& service, int waitMs) = 0;
  virtual bool StartService(const std::string& machine, const std::string& service) = 0;
  // The reason of the last failure (a Windows error code), 0 after a success.
  int LastServiceError() const { return FLastError; }

protected:
  int FLastError = 0;
};

// No service manager: every service is missing.
class TNoServiceControl : public TServiceControl {
public:
  bool IsServiceRunning(const std::string& machine, const std::string& service) override;
  bool StopService(const std::string& machine, const std::string& service, int waitMs) override;
  bool StartService(const std::string& machine, const std::string& service) override;
};
