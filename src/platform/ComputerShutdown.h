#pragma once
// Restarting or shutting down a computer. Another computer is asked over its Windows
// network service with Samba's "net rpc shutdown" (and "net rpc abortshutdown"), using
// the credentials a connection to it lends (TNetConnections); they reach the tool in an
// authentication file of mode 0600 that is removed afterwards, never on a command line.
// This computer is asked through systemd-logind ("systemctl reboot" / "poweroff").
// Blocking, bounded by TShutdownTools::WaitMs; call it off the main thread or with the
// event loop kept running.
#include <string>
#include <vector>

struct TShutdownTools {
  // Samba's net tool; looked up in PATH when it has no "/".
  std::string NetProgram = "net";
  // Placed before the tool's own arguments (tests name their smb.conf with "-s").
  std::vector<std::string> NetOptions;
  int SmbPort = 445;
  // The systemd control program; CORVALE_SYSTEMCTL overrides it when set (tests point
  // it at a stand-in, as nothing may really restart the machine they run on).
  std::string Systemctl = "systemctl";
  // How long a request may take before it counts as failed (the tool is ended).
  int WaitMs = 30000;
};

struct TShutdownResult {
  int Code = 0;        // 0 or a Windows error code
  std::string Output;  // what the tool said, at most a few kilobytes (for the log)
};

// Whether the name stands for this computer: empty, ".", "localhost" or its own name
// (without regard to case). Addresses, loopback ones too, go over the network.
bool IsThisComputer(const std::string& computer);

// Asks the computer to shut down, or to restart, after timeoutSeconds showing the
// message (cut to 512 characters), forcing applications closed when force is set. 0
// when the request was accepted. This computer takes neither the message nor the
// time-out: logind acts at once.
TShutdownResult ShutdownComputer(const std::string& computer, const std::string& message, bool force,
                                 int timeoutSeconds, bool restart, const TShutdownTools& tools);
// Cancels a shutdown the computer is counting down to; 1116 when there is none.
TShutdownResult AbortShutdown(const std::string& computer, const TShutdownTools& tools);

// The Windows error code of what net printed on failure (NT_STATUS_ / WERR_ names); 1
// (a general failure) when it names none the program knows.
int NetToolErrorCode(const std::string& output);

// Whether the program can be started: a path that is executable, or a name found in PATH.
bool ProgramAvailable(const std::string& program);
