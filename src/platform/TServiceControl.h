#pragma once
// The service control manager as the program sees it: query, start, stop (dependants
// first), pause and continue services of this or another computer, and list them. The
// monitor stops its own service before it runs interactively and starts it again at
// exit; the service test, remote control and the configuration dialog's lists use the
// same operations.
//
// The operations are written once here over five backend primitives; a backend
// (TSystemdServiceControl for this computer, TSambaServiceControl for a remote one,
// TPlatformServiceControl choosing between them, TSimServiceControl for states no peer
// can give) supplies the primitives only. Every operation returns false on failure and
// leaves the reason, a Windows error code, in the calling thread's last service error,
// so that concurrent service tests each read their own.
#include <string>
#include <vector>

namespace svcstate {
constexpr int Stopped = 1;
constexpr int StartPending = 2;
constexpr int StopPending = 3;
constexpr int Running = 4;
constexpr int ContinuePending = 5;
constexpr int PausePending = 6;
constexpr int Paused = 7;
}  // namespace svcstate

namespace svcerr {
constexpr int ERROR_INVALID_NAME = 123;
constexpr int ERROR_DEPENDENT_SERVICES_RUNNING = 1051;
constexpr int ERROR_INVALID_SERVICE_CONTROL = 1052;
constexpr int ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
constexpr int ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr int ERROR_SERVICE_DISABLED = 1058;
constexpr int ERROR_SERVICE_DOES_NOT_EXIST = 1060;
constexpr int ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
constexpr int ERROR_SERVICE_NOT_ACTIVE = 1062;
constexpr int ERROR_TIMEOUT = 1460;
constexpr int RPC_S_SERVER_UNAVAILABLE = 1722;
}  // namespace svcerr

// Service type masks of the list operations.
constexpr int SERVICE_DRIVER = 0x0B;
constexpr int SERVICE_WIN32 = 0x30;

// One service as a backend reports it.
struct TServiceEntry {
  std::string Name;
  std::string DisplayName;
  int State = svcstate::Stopped;
};

// One entry of a list operation: its text in the asked form and, when asked for, the
// service's state (else 0).
struct TListedService {
  std::string Text;
  int State = 0;
};

enum class TServiceControlCode { Stop, Pause, Continue };

class TServiceControl {
public:
  static constexpr int PollMs = 100;

  virtual ~TServiceControl() = default;

  // The operations; machine is the computer name, empty for this computer.
  bool OpenManager(const std::string& machine);
  // Starts the service, handing it the arguments; true when the request was accepted.
  bool StartService(const std::string& machine, const std::string& service,
                    const std::vector<std::string>& arguments = {});
  // Stops a running, continue-pending, pause-pending or paused service, its active
  // dependants first (depth first) when stopDependents; waitMs 0 sends the control and
  // takes stop pending as success, otherwise waits that long for the stopped state
  // (1460 when it does not come). Each stopped service is added to stopped. A service
  // in another state is left alone: false with the last service error 0.
  bool StopService(const std::string& machine, const std::string& service, int waitMs,
                   std::vector<std::string>* stopped = nullptr, bool stopDependents = false);
  // The same with the pause control and the paused state.
  bool PauseService(const std::string& machine, const std::string& service, int waitMs,
                    std::vector<std::string>* paused = nullptr, bool pauseDependents = false);
  // Sends the continue control to a service in states 4 to 7; no waiting.
  bool ContinueService(const std::string& machine, const std::string& service,
                       std::vector<std::string>* continued = nullptr);
  // Start pending, running and continue pending count as running.
  bool IsServiceRunning(const std::string& machine, const std::string& service);
  // form: 0 name, 1 display name, 2 name + separator + display name.
  bool ListServices(const std::string& machine, std::vector<TListedService>& list, int serviceTypes, bool withStates,
                    bool activeOnly, const std::string& separator, int form);
  // The services that depend on service; always false: callers use the list.
  bool ListDependentServices(const std::string& machine, const std::string& service,
                             std::vector<TListedService>& list, bool withStates, bool activeOnly,
                             const std::string& separator, int form);

  // The calling thread's last service error: 0 after a success.
  static int LastServiceError();

  // The port of the Windows-network protocol for remote computers (the setting
  // SMBPort); backends without one ignore it.
  virtual void SetSMBPort(int port) { (void)port; }
  // That port, 0 for a backend without one (the SMB client's default).
  virtual int SMBPort() const { return 0; }

  // The backend primitives: 0 or a Windows error code, no last-error handling. Any
  // thread; a backend guards its own state.
  virtual int Connect(const std::string& machine) = 0;
  virtual int QueryState(const std::string& machine, const std::string& service, int& state) = 0;
  // Sends the control; state is the state reported right after.
  virtual int SendControl(const std::string& machine, const std::string& service, TServiceControlCode code,
                          int& state) = 0;
  virtual int Launch(const std::string& machine, const std::string& service,
                     const std::vector<std::string>& arguments) = 0;
  virtual int Enumerate(const std::string& machine, std::vector<TServiceEntry>& services) = 0;
  virtual int EnumerateDependents(const std::string& machine, const std::string& service,
                                  std::vector<TServiceEntry>& services) = 0;

protected:
  // The wait of the stop and pause operations: monotonic milliseconds and a sleep. The
  // simulated manager moves its own clock instead of sleeping.
  virtual double NowMs() const;
  virtual void SleepMs(int ms);

private:
  bool Settle(const std::string& machine, const std::string& service, int waitMs, std::vector<std::string>* done,
              bool withDependents, TServiceControlCode code, int target, int pendingTarget, int depth);
  bool Fail(int code);
  static std::string EntryText(const TServiceEntry& entry, const std::string& separator, int form);
  static void Fill(const std::vector<TServiceEntry>& services, std::vector<TListedService>& list, bool withStates,
                   bool activeOnly, const std::string& separator, int form);
};

// No service manager: every service is missing.
class TNoServiceControl : public TServiceControl {
public:
  int Connect(const std::string& machine) override;
  int QueryState(const std::string& machine, const std::string& service, int& state) override;
  int SendControl(const std::string& machine, const std::string& service, TServiceControlCode code,
                  int& state) override;
  int Launch(const std::string& machine, const std::string& service,
             const std::vector<std::string>& arguments) override;
  int Enumerate(const std::string& machine, std::vector<TServiceEntry>& services) override;
  int EnumerateDependents(const std::string& machine, const std::string& service,
                          std::vector<TServiceEntry>& services) override;
};
