#include "tools/RemoteControl.h"

#include "common/ErrorText.h"
#include "platform/NetResources.h"

namespace {

template <typename TRequest>
int Connected(const TRemoteShutdownRequest& request, std::string* output, TRequest&& send) {
  std::string connection;
  const bool local = IsThisComputer(request.Address);
  if (!local) {
    const int code = ConnectResource("\\\\" + request.Address, request.User, request.Password, connection);
    if (code != 0) return code;
  }
  const TShutdownResult result = send();
  if (!local) DisconnectResource(connection);
  if (output) *output = result.Output;
  return result.Code;
}

}  // namespace

int RemoteShutdown(const TRemoteShutdownRequest& request, const TShutdownTools& tools, std::string* output) {
  return Connected(request, output, [&] {
    return ShutdownComputer(request.Address, request.Message, request.Force, request.TimeoutSeconds, request.Restart,
                            tools);
  });
}

int RemoteAbortShutdown(const TRemoteShutdownRequest& request, const TShutdownTools& tools, std::string* output) {
  return Connected(request, output, [&] { return AbortShutdown(request.Address, tools); });
}

bool RemoteShutdownAvailable(const std::string& address, const TShutdownTools& tools) {
  return IsThisComputer(address) || ProgramAvailable(tools.NetProgram);
}

std::string ShutdownResultText(const std::string& address, bool restart, int code) {
  const std::string done = restart ? "restarted." : "shutdown.";
  if (code != 0 && code != 997) return "Remote computer " + address + " cannot be " + done + ":\r\nError: " + ErrorText(code);
  return "Remote computer " + address + " is being " + done;
}
