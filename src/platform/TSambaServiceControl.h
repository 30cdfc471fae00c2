#pragma once
// The service control manager of a remote computer, reached with the Windows service
// protocol over SMB through Samba's client (`net rpc service` of samba-common-bin), its
// output read back into states and Windows error codes. The credentials are those of an
// open network connection to the computer (TNetConnections), handed over in a file only
// this user can read, never on a command line; without one the request goes without a
// password. Each request is bounded in time and output.
#include <atomic>
#include <string>
#include <vector>

#include "platform/TServiceControl.h"

class TSambaServiceControl : public TServiceControl {
public:
  static constexpr const char* NetProgram = "net";
  static constexpr int RequestTimeoutMs = 60000;
  static constexpr std::size_t MaxOutputBytes = 1 << 20;
  static constexpr std::size_t MaxNameLength = 256;

  explicit TSambaServiceControl(int smbPort = 445) : FPort(smbPort) {}

  void SetSMBPort(int port) override { FPort.store(port); }
  int SMBPort() const override { return FPort.load(); }

  // The Windows code of what a failed `net` call printed ("[WERR_ACCESS_DENIED]",
  // "NT_STATUS_LOGON_FAILURE", ...); 31 (general failure) when it names nothing known.
  static int ErrorOfOutput(const std::string& output);
  // The state of "NAME service is running." (1 to 7); 0 when the text has none.
  static int StateOfOutput(const std::string& output);
  // The entries of `net rpc service list`: name, blanks, the display name in quotes.
  static std::vector<TServiceEntry> ParseList(const std::string& output);

  int Connect(const std::string& machine) override;
  int QueryState(const std::string& machine, const std::string& service, int& state) override;
  int SendControl(const std::string& machine, const std::string& service, TServiceControlCode code,
                  int& state) override;
  int Launch(const std::string& machine, const std::string& service,
             const std::vector<std::string>& arguments) override;
  int Enumerate(const std::string& machine, std::vector<TServiceEntry>& services) override;
  // The protocol's client has no request for them: none are known.
  int EnumerateDependents(const std::string& machine, const std::string& service,
                          std::vector<TServiceEntry>& services) override;

private:
  // Runs `net rpc service VERB [service]` against the machine; 0 with the output, or
  // the Windows code of the failure.
  int Run(const std::string& machine, const std::string& verb, const std::string& service, std::string& output);

  std::atomic<int> FPort;
};
