#include "platform/TSambaServiceControl.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/Processes.h"
#include "platform/SysErrors.h"
#include "platform/TNetConnections.h"

namespace {

struct TCodeName {
  const char* Name;
  int Code;
};

constexpr TCodeName WerrCodes[] = {
    {"WERR_SERVICE_DOES_NOT_EXIST", svcerr::ERROR_SERVICE_DOES_NOT_EXIST},
    {"WERR_SERVICE_NOT_ACTIVE", svcerr::ERROR_SERVICE_NOT_ACTIVE},
    {"WERR_SERVICE_ALREADY_RUNNING", svcerr::ERROR_SERVICE_ALREADY_RUNNING},
    {"WERR_SERVICE_CANNOT_ACCEPT_CTRL", svcerr::ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
    {"WERR_INVALID_SERVICE_CONTROL", svcerr::ERROR_INVALID_SERVICE_CONTROL},
    {"WERR_SERVICE_REQUEST_TIMEOUT", svcerr::ERROR_SERVICE_REQUEST_TIMEOUT},
    {"WERR_DEPENDENT_SERVICES_RUNNING", svcerr::ERROR_DEPENDENT_SERVICES_RUNNING},
    {"WERR_SERVICE_DISABLED", svcerr::ERROR_SERVICE_DISABLED},
    {"WERR_INVALID_NAME", svcerr::ERROR_INVALID_NAME},
    {"WERR_ACCESS_DENIED", syserr::ERROR_ACCESS_DENIED},
    {"WERR_BAD_NETPATH", syserr::ERROR_BAD_NETPATH},
};

constexpr TCodeName NtStatusCodes[] = {
    {"NT_STATUS_LOGON_FAILURE", syserr::ERROR_LOGON_FAILURE},
    {"NT_STATUS_WRONG_PASSWORD", syserr::ERROR_LOGON_FAILURE},
    {"NT_STATUS_NO_SUCH_USER", syserr::ERROR_LOGON_FAILURE},
    {"NT_STATUS_ACCOUNT_DISABLED", 1331},
    {"NT_STATUS_PASSWORD_EXPIRED", 1330},
    {"NT_STATUS_ACCOUNT_LOCKED_OUT", 1909},
    {"NT_STATUS_ACCESS_DENIED", syserr::ERROR_ACCESS_DENIED},
    {"NT_STATUS_CONNECTION_REFUSED", svcerr::RPC_S_SERVER_UNAVAILABLE},
    {"NT_STATUS_HOST_UNREACHABLE", svcerr::RPC_S_SERVER_UNAVAILABLE},
    {"NT_STATUS_NETWORK_UNREACHABLE", svcerr::RPC_S_SERVER_UNAVAILABLE},
    {"NT_STATUS_IO_TIMEOUT", svcerr::RPC_S_SERVER_UNAVAILABLE},
    {"NT_STATUS_CONNECTION_RESET", svcerr::RPC_S_SERVER_UNAVAILABLE},
    {"NT_STATUS_BAD_NETWORK_NAME", syserr::ERROR_BAD_NETPATH},
    {"NT_STATUS_OBJECT_NAME_NOT_FOUND", syserr::ERROR_BAD_NETPATH},
    {"NT_STATUS_UNSUCCESSFUL", syserr::ERROR_BAD_NETPATH},
};

struct TStateName {
  const char* Text;
  int State;
};

// Longest first: "running" is the end of no other, but "paused" is of no pending text.
constexpr TStateName StateTexts[] = {
    {"start pending", svcstate::StartPending},  {"stop pending", svcstate::StopPending},
    {"resume pending", svcstate::ContinuePending}, {"pause pending", svcstate::PausePending},
    {"stopped", svcstate::Stopped},             {"running", svcstate::Running},
    {"paused", svcstate::Paused},
};

bool ValidMachine(const std::string& machine) {
  if (machine.empty() || machine.size() > TSambaServiceControl::MaxNameLength || machine.front() == '-') return false;
  for (const unsigned char c : machine)
    if (c <= ' ' || c == '%' || c == '\\' || c == '/' || c == '"' || c == 127) return false;
  return true;
}

bool ValidService(const std::string& service) {
  if (service.empty() || service.size() > TSambaServiceControl::MaxNameLength || service.front() == '-') return false;
  for (const unsigned char c : service)
    if (c < ' ' || c == '\\' || c == '/' || c == 127) return false;
  return true;
}

// "\\server" and "//server" name the server.
std::string MachineName(const std::string& machine) {
  std::size_t start = 0;
  while (start < machine.size() && (machine[start] == '\\' || machine[start] == '/')) ++start;
  return machine.substr(start);
}

// The credentials file Samba's tools read with -A; removed with the object.
class TAuthFile {
public:
  // False with the code when it cannot be written.
  bool Write(const TNetCredentials& credentials, int& code) {
    const std::string* password = &credentials.Password;
    std::string user = credentials.User, domain;
    const std::size_t slash = user.find('\\');
    if (slash != std::string::npos) {
      domain = user.substr(0, slash);
      user = user.substr(slash + 1);
    }
    for (const std::string* field : {const_cast<const std::string*>(&user), const_cast<const std::string*>(&domain), password})
      if (field->find_first_of("\r\n") != std::string::npos) {
        code = syserr::ERROR_INVALID_PARAMETER;
        return false;
      }
    const char* tmp = getenv("TMPDIR");
    FPath = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvale-auth-XXXXXX";
    const int fd = mkstemp(FPath.data());  // mode 0600
    if (fd < 0) {
      FPath.clear();
      code = WinErrorFromErrno(errno);
      return false;
    }
    std::string text = "username = " + user + "\npassword = " + credentials.Password + "\n";
    if (!domain.empty()) text += "domain = " + domain + "\n";
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written) code = syserr::ERROR_GEN_FAILURE;
    return written;
  }
  ~TAuthFile() {
    if (!FPath.empty()) unlink(FPath.c_str());
  }
  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
};

}  // namespace

int TSambaServiceControl::ErrorOfOutput(const std::string& output) {
  for (const TCodeName& e : WerrCodes)
    if (output.find(std::string("[") + e.Name + "]") != std::string::npos) return e.Code;
  for (const TCodeName& e : NtStatusCodes) {
    const std::size_t at = output.find(e.Name);
    // NT_STATUS_ACCESS_DENIED must not match inside a longer name.
    if (at != std::string::npos) {
      const std::size_t end = at + std::strlen(e.Name);
      if (end == output.size() || !(std::isalnum(static_cast<unsigned char>(output[end])) || output[end] == '_'))
        return e.Code;
    }
  }
  return syserr::ERROR_GEN_FAILURE;
}

int TSambaServiceControl::StateOfOutput(const std::string& output) {
  const std::string mark = " service is ";
  const std::size_t at = output.find(mark);
  if (at == std::string::npos) return 0;
  const std::string rest = output.substr(at + mark.size(), 32);
  for (const TStateName& s : StateTexts)
    if (rest.rfind(s.Text, 0) == 0) return s.State;
  return 0;
}

std::vector<TServiceEntry> TSambaServiceControl::ParseList(const std::string& output) {
  constexpr std::size_t MaxEntries = 20000;
  std::vector<TServiceEntry> entries;
  std::size_t pos = 0;
  while (pos < output.size() && entries.size() < MaxEntries) {
    std::size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t quote = line.find('"');
    const std::size_t last = line.rfind('"');
    if (quote == std::string::npos || last <= quote) continue;
    std::string name = line.substr(0, quote);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    if (name.empty() || name.find_first_of(" \t") != std::string::npos) continue;
    TServiceEntry entry;
    entry.Name = name;
    entry.DisplayName = line.substr(quote + 1, last - quote - 1);
    entry.State = 0;  // the list does not say
    entries.push_back(std::move(entry));
  }
  return entries;
}

int TSambaServiceControl::Run(const std::string& machine, const std::string& verb, const std::string& service,
                              std::string& output) {
  const std::string host = MachineName(machine);
  if (!ValidMachine(host)) return svcerr::ERROR_INVALID_NAME;
  if (!service.empty() && !ValidService(service)) return svcerr::ERROR_INVALID_NAME;
  TSpawnOptions options;
  options.Program = NetProgram;
  options.Arguments = {"rpc", "service", verb};
  if (!service.empty()) options.Arguments.push_back(service);
  options.Arguments.insert(options.Arguments.end(), {"-S", host, "-p", std::to_string(FPort.load())});
  TAuthFile auth;
  if (const std::optional<TNetCredentials> credentials = TNetConnections::Instance().CredentialsFor(host);
      credentials && !credentials->User.empty()) {
    int code = 0;
    if (!auth.Write(*credentials, code)) return code;
    options.Arguments.insert(options.Arguments.end(), {"-A", auth.Path()});
  } else {
    options.Arguments.push_back("-N");
  }
  options.CaptureOutput = true;
  TProcessHandle process = SpawnProcess(options);
  if (process.Value <= 0) {
    const int code = static_cast<int>(-process.Value);
    CloseProcessHandle(process);
    return code != 0 ? code : syserr::ERROR_GEN_FAILURE;
  }
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(RequestTimeoutMs);
  char buffer[4096];
  bool timedOut = false, tooMuch = false;
  for (;;) {
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    const int n = ReadProcessOutput(process, buffer, sizeof buffer, static_cast<int>(std::min<long long>(left, 1000)));
    if (n < 0) break;
    output.append(buffer, static_cast<std::size_t>(n));
    if (output.size() > MaxOutputBytes) {
      tooMuch = true;
      break;
    }
  }
  if (timedOut || tooMuch) TerminateProcessGroup(process, 1);
  WaitForProcess(process, 5000);
  int exitCode = 1;
  if (!GetProcessExitCode(process, exitCode)) exitCode = 1;
  CloseProcessHandle(process);
  if (timedOut) return svcerr::ERROR_TIMEOUT;
  if (tooMuch) return syserr::ERROR_MORE_DATA;
  return exitCode == 0 ? 0 : ErrorOfOutput(output);
}

int TSambaServiceControl::Connect(const std::string& machine) {
  return ValidMachine(MachineName(machine)) ? 0 : svcerr::ERROR_INVALID_NAME;
}

int TSambaServiceControl::QueryState(const std::string& machine, const std::string& service, int& state) {
  std::string output;
  if (service.empty()) return svcerr::ERROR_INVALID_NAME;
  const int code = Run(machine, "status", service, output);
  if (code != 0) return code;
  state = StateOfOutput(output);
  return state != 0 ? 0 : syserr::ERROR_GEN_FAILURE;
}

int TSambaServiceControl::SendControl(const std::string& machine, const std::string& service,
                                      TServiceControlCode code, int& state) {
  if (service.empty()) return svcerr::ERROR_INVALID_NAME;
  const char* verb = code == TServiceControlCode::Stop ? "stop" : code == TServiceControlCode::Pause ? "pause" : "resume";
  std::string output;
  const int error = Run(machine, verb, service, output);
  if (error != 0) return error;
  return QueryState(machine, service, state);
}

int TSambaServiceControl::Launch(const std::string& machine, const std::string& service,
                                 const std::vector<std::string>&) {
  if (service.empty()) return svcerr::ERROR_INVALID_NAME;
  std::string output;
  return Run(machine, "start", service, output);
}

int TSambaServiceControl::Enumerate(const std::string& machine, std::vector<TServiceEntry>& services) {
  std::string output;
  const int code = Run(machine, "list", std::string(), output);
  if (code != 0) return code;
  services = ParseList(output);
  return 0;
}

int TSambaServiceControl::EnumerateDependents(const std::string&, const std::string&, std::vector<TServiceEntry>&) {
  return 0;
}
