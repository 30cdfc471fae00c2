#include "platform/ComputerShutdown.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/Processes.h"
#include "platform/SysErrors.h"
#include "platform/TNetConnections.h"

namespace {

constexpr std::size_t MaxToolOutput = 8192;
constexpr std::size_t MaxMessage = 512;

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  std::string text(name);
  return text.substr(0, text.find('.'));
}

// Runs the program to its end or to the wait's end; the code is the start's error, the
// time-out's, or 0 with the exit code stored.
int RunTool(const std::string& program, const std::vector<std::string>& arguments, int waitMs, int& exitCode,
            std::string& output) {
  TSpawnOptions options;
  options.Program = program;
  options.Arguments = arguments;
  options.CaptureOutput = true;
  TProcessHandle process = SpawnProcess(options);
  if (process.Value < 0) return static_cast<int>(-process.Value);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  char buffer[1024];
  bool timedOut = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    const int n = ReadProcessOutput(process, buffer, sizeof buffer, static_cast<int>(std::min<long long>(left, 200)));
    if (n < 0) break;
    if (output.size() < MaxToolOutput) output.append(buffer, std::min<std::size_t>(n, MaxToolOutput - output.size()));
  }
  int code = 0;
  if (timedOut || !WaitForProcess(process, 1000)) {
    TerminateProcessGroup(process, 1);
    code = syserr::WAIT_TIMEOUT;
  } else if (!GetProcessExitCode(process, exitCode)) {
    code = syserr::ERROR_GEN_FAILURE;
  }
  CloseProcessHandle(process);
  return code;
}

// The authentication file net reads with -A: removed when the object goes.
class TAuthFile {
public:
  // False when the credentials cannot be written (a line break in them would let the
  // password set other keys of the file).
  bool Write(const TNetCredentials& credentials, int& error) {
    if (credentials.User.find_first_of("\r\n") != std::string::npos ||
        credentials.Password.find_first_of("\r\n") != std::string::npos) {
      error = syserr::ERROR_INVALID_PARAMETER;
      return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    FPath = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvale-auth-XXXXXX";
    const int fd = ::mkstemp(FPath.data());  // mode 0600
    if (fd < 0) {
      error = WinErrorFromErrno(errno);
      FPath.clear();
      return false;
    }
    std::string user = credentials.User, domain;
    if (const std::size_t slash = user.find('\\'); slash != std::string::npos) {
      domain = user.substr(0, slash);
      user.erase(0, slash + 1);
    }
    std::string text = "username = " + user + "\npassword = " + credentials.Password + "\n";
    if (!domain.empty()) text += "domain = " + domain + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const int writeErrno = errno;
    ::close(fd);
    if (!written) {
      error = WinErrorFromErrno(writeErrno);
      return false;
    }
    return true;
  }
  const std::string& Path() const { return FPath; }
  ~TAuthFile() {
    if (!FPath.empty()) ::unlink(FPath.c_str());
  }

private:
  std::string FPath;
};

TShutdownResult RunNet(const std::string& computer, const std::vector<std::string>& request,
                       const TShutdownTools& tools) {
  TShutdownResult result;
  std::vector<std::string> arguments = tools.NetOptions;
  arguments.insert(arguments.end(), request.begin(), request.end());
  arguments.insert(arguments.end(), {"-S", computer, "-p", std::to_string(tools.SmbPort)});
  TAuthFile auth;
  const std::optional<TNetCredentials> credentials = TNetConnections::Instance().CredentialsFor(computer);
  if (credentials && !credentials->User.empty()) {
    if (!auth.Write(*credentials, result.Code)) return result;
    arguments.insert(arguments.end(), {"-A", auth.Path()});
  } else {
    // Without a connection's account the request goes as a guest, never as whoever runs us.
    arguments.insert(arguments.end(), {"-U", "%", "-N"});
  }
  int exitCode = 0;
  result.Code = RunTool(tools.NetProgram, arguments, tools.WaitMs, exitCode, result.Output);
  if (result.Code == 0 && exitCode != 0) result.Code = NetToolErrorCode(result.Output);
  return result;
}

}  // namespace

bool IsThisComputer(const std::string& computer) {
  if (computer.empty() || computer == "." || SameIgnoringCase(computer, "localhost")) return true;
  const std::string own = HostName();
  return !own.empty() && SameIgnoringCase(computer, own);
}

int NetToolErrorCode(const std::string& output) {
  static const struct {
    const char* Name;
    int Code;
  } known[] = {
      {"NT_STATUS_LOGON_FAILURE", syserr::ERROR_LOGON_FAILURE},
      {"NT_STATUS_WRONG_PASSWORD", syserr::ERROR_LOGON_FAILURE},
      {"NT_STATUS_NO_SUCH_USER", syserr::ERROR_LOGON_FAILURE},
      {"NT_STATUS_ACCOUNT_DISABLED", 1331},
      {"NT_STATUS_PASSWORD_EXPIRED", 1330},
      {"NT_STATUS_ACCESS_DENIED", syserr::ERROR_ACCESS_DENIED},
      {"WERR_ACCESS_DENIED", syserr::ERROR_ACCESS_DENIED},
      {"NT_STATUS_PRIVILEGE_NOT_HELD", 1314},
      {"WERR_SHUTDOWN_IN_PROGRESS", 1115},
      {"WERR_NO_SHUTDOWN_IN_PROGRESS", 1116},
      {"NT_STATUS_CONNECTION_REFUSED", syserr::ERROR_BAD_NETPATH},
      {"NT_STATUS_HOST_UNREACHABLE", syserr::ERROR_BAD_NETPATH},
      {"NT_STATUS_NETWORK_UNREACHABLE", syserr::ERROR_BAD_NETPATH},
      {"NT_STATUS_BAD_NETWORK_NAME", syserr::ERROR_BAD_NETPATH},
      {"NT_STATUS_IO_TIMEOUT", syserr::ERROR_BAD_NETPATH},
      {"NT_STATUS_UNSUCCESSFUL", syserr::ERROR_BAD_NETPATH},
      {"NT_STATUS_INVALID_PARAMETER", syserr::ERROR_INVALID_PARAMETER},
      {"WERR_INVALID_PARAMETER", syserr::ERROR_INVALID_PARAMETER},
      {"NT_STATUS_NOT_SUPPORTED", 50},
      {"WERR_NOT_SUPPORTED", 50},
  };
  for (const auto& entry : known)
    if (output.find(entry.Name) != std::string::npos) return entry.Code;
  return 1;
}

bool ProgramAvailable(const std::string& program) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > start ? folders.substr(start, end - start) : ".";
    if (::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

TShutdownResult ShutdownComputer(const std::string& computer, const std::string& message, bool force,
                                 int timeoutSeconds, bool restart, const TShutdownTools& tools) {
  if (IsThisComputer(computer)) {
    const char* stand = std::getenv("CORVALE_SYSTEMCTL");
    const std::string systemctl = stand && *stand ? stand : tools.Systemctl;
    TShutdownResult result;
    int exitCode = 0;
    std::vector<std::string> arguments{restart ? "reboot" : "poweroff", "--no-ask-password"};
    // The journal keeps the reason beside the request.
    if (!message.empty()) arguments.push_back("--message=" + message.substr(0, MaxMessage));
    result.Code = RunTool(systemctl, arguments, tools.WaitMs, exitCode, result.Output);
    // logind refuses without the right (polkit): the words vary, the meaning does not.
    if (result.Code == 0 && exitCode != 0) result.Code = syserr::ERROR_ACCESS_DENIED;
    return result;
  }
  std::vector<std::string> request{"rpc", "shutdown"};
  if (restart) request.push_back("-r");
  if (force) request.push_back("-f");
  request.insert(request.end(), {"-t", std::to_string(std::max(0, timeoutSeconds)), "-C", message.substr(0, MaxMessage)});
  return RunNet(computer, request, tools);
}

TShutdownResult AbortShutdown(const std::string& computer, const TShutdownTools& tools) {
  if (IsThisComputer(computer)) {
    // logind acts at once: there is no count-down to cancel.
    return {1116, std::string()};
  }
  return RunNet(computer, {"rpc", "abortshutdown"}, tools);
}
