#include "tools/RemoteControl.h"

#include "common/ErrorText.h"
#include "platform/NetResources.h"

namespace {

template <typename TRequest>
int Connected(const TRemoteShutdownRequest& request, const TShutdownTools& tools, std::string* output, TRequest&& send) {
  std::string connection;
  // Without an account there is nothing to connect with: the tool asks as a guest.
  const bool connect = !IsThisComputer(request.Address) && (!request.User.empty() || !request.Password.empty());
  if (connect) {
    const int code =
        ConnectResource("\\\\" + request.Address, request.User, request.Password, connection, tools.SmbPort);
    if (code != 0) return code;
  }
  const TShutdownResult result = send();
  if (connect) DisconnectResource(connection);
  if (output) *output = result.Output;
  return result.Code;
}

}  // namespace

int RemoteShutdown(const TRemoteShutdownRequest& request, const TShutdownTools& tools, std::string* output) {
  return Connected(request, tools, output, [&] {
    return ShutdownComputer(request.Address, request.Message, request.Force, request.TimeoutSeconds, request.Restart,
                            tools);
  });
}

int RemoteAbortShutdown(const TRemoteShutdownRequest& request, const TShutdownTools& tools, std::string* output) {
  return Connected(request, tools, output, [&] { return AbortShutdown(request.Address, tools); });
}

bool RemoteShutdownAvailable(const std::string& address, const TShutdownTools& tools) {
  return IsThisComputer(address) || ProgramAvailable(tools.NetProgram);
}

std::string ShutdownResultText(const std::string& address, bool restart, int code) {
  const std::string done = restart ? "restarted." : "shutdown.";
  if (code != 0 && code != 997) return "Remote computer " + address + " cannot be " + done + ":\r\nError: " + ErrorText(code);
  return "Remote computer " + address + " is being " + done;
}
