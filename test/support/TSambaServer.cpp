#include "support/TSambaServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

bool AcceptsConnections(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

// Runs a program to its end with the text on its standard input; its exit code, or -1.
int RunWithInput(const std::vector<std::string>& argv, const std::string& input) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return -1;
  }
  if (pid == 0) {
    dup2(pipeFds[0], 0);
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) dup2(devNull, 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[0]);
  const ssize_t written = write(pipeFds[1], input.data(), input.size());
  close(pipeFds[1]);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || written != static_cast<ssize_t>(input.size())) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// samba-dcerpcd makes a session of its own, out of the server's group; it and the RPC
// workers it starts all name our configuration file.
void EndDetachedHelpers(const std::string& confFile) {
  const std::string mark = "--configfile=" + confFile;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = ReadFileBytes(entry.path().string() + "/cmdline");
    for (char& c : cmdline)
      if (c == '\0') c = ' ';
    if (cmdline.find(mark) != std::string::npos) kill(std::stoi(name), SIGTERM);
  }
}

}  // namespace

bool TSambaServer::Available(std::string& why) {
  if (geteuid() != 0) {
    why = "the Samba server needs root";
    return false;
  }
  if (access(Smbd, X_OK) != 0 || access("/usr/bin/smbpasswd", X_OK) != 0) {
    why = "the samba package is not installed (scripts/install-deps.sh)";
    return false;
  }
  return true;
}

TSambaServer::TSambaServer() : FDir(std::make_unique<TTempDir>()) {
  // smbd checks the path of every share as the connecting user, and that user may be
  // a plain account.
  chmod(FDir->Path().c_str(), 0755);
  FConfFile = FDir->File("smb.conf");
}

TSambaServer::~TSambaServer() { Stop(); }

const std::string& TSambaServer::Root() const { return FDir->Path(); }

std::string TSambaServer::AddShare(const std::string& name, const std::string& extraLines) {
  const std::string path = FDir->File("shares/" + name);
  std::filesystem::create_directories(path);
  chmod(path.c_str(), 0777);
  FShares += "[" + name + "]\n  path = " + path + "\n";
  if (!extraLines.empty()) FShares += "  " + extraLines + "\n";
  return path;
}

void TSambaServer::AddGlobal(const std::string& line) { FGlobals.push_back(line); }

bool TSambaServer::Start() {
  Stop();
  FError.clear();
  const int probe = ListenOnLoopback(FPort, 1);
  if (probe < 0) {
    FError = "no free loopback port";
    return false;
  }
  close(probe);
  const std::string root = FDir->Path();
  for (const char* dir : {"state", "private", "lock", "cache", "pid"})
    std::filesystem::create_directories(root + "/" + dir);
  std::string conf = "[global]\n";
  const auto set = [&conf](const std::string& line) { conf += "  " + line + "\n"; };
  set("smb ports = " + std::to_string(FPort));
  set("interfaces = lo");
  set("bind interfaces only = yes");
  set("disable netbios = yes");
  set("state directory = " + root + "/state");
  set("private dir = " + root + "/private");
  set("lock directory = " + root + "/lock");
  set("cache directory = " + root + "/cache");
  set("pid directory = " + root + "/pid");
  set("ncalrpc dir = " + root + "/state/ncalrpc");
  set("passdb backend = tdbsam:" + root + "/private/passdb.tdb");
  set("log file = " + root + "/log.%m");
  set("load printers = no");
  set("printing = bsd");
  set("printcap name = /dev/null");
  set("disable spoolss = yes");
  for (const auto& line : FGlobals) set(line);
  WriteFileBytes(FConfFile, conf + FShares);

  // A process group of its own, so that Stop ends smbd, its connection children and
  // the RPC helpers it starts on demand together.
  const std::string logFile = FDir->File("smbd.out");
  const pid_t pid = fork();
  if (pid < 0) {
    FError = "fork failed";
    return false;
  }
  if (pid == 0) {
    setpgid(0, 0);
    const int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    execl(Smbd, Smbd, "-s", FConfFile.c_str(), "-F", "--no-process-group", "--debug-stdout", static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);
  FPid = pid;
  for (int i = 0; i < 200; ++i) {
    if (AcceptsConnections(FPort)) return true;
    int status = 0;
    if (waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      FError = "smbd ended at start: " + Log();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  FError = "smbd did not listen within 10 s: " + Log();
  Stop();
  return false;
}

void TSambaServer::Stop() {
  if (FPid <= 0) return;
  kill(-FPid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(FPid, &status, WNOHANG) == FPid) {
      FPid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (FPid > 0) {
    kill(-FPid, SIGKILL);
    waitpid(FPid, &status, 0);
  }
  FPid = -1;
  EndDetachedHelpers(FConfFile);
}

bool TSambaServer::AddUser(const std::string& user, const std::string& password) {
  if (user != "root" && getpwnam(user.c_str()) == nullptr) {
    const int rc = RunWithInput({"/usr/sbin/useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", user}, "");
    if (rc != 0) {
      FError = "useradd " + user + " failed";
      return false;
    }
  }
  const int rc = RunWithInput({"/usr/bin/smbpasswd", "-c", FConfFile, "-s", "-a", user}, password + "\n" + password + "\n");
  if (rc != 0) {
    FError = "smbpasswd -a " + user + " failed";
    return false;
  }
  return true;
}

std::string TSambaServer::Log() const {
  const std::string log = ReadFileBytes(FDir->File("smbd.out"));
  return log.size() > 2000 ? log.substr(log.size() - 2000) : log;
}

}  // namespace testsupport
