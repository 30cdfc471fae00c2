#include "service/TServiceUnit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/FileUtils.h"
#include "common/ProcessLaunch.h"

namespace {
const char* const SystemUnitFolder = "/etc/systemd/system";
const char* const StateFolder = "/var/lib/corvale";
constexpr int SystemctlTimeoutMs = 60000;

bool IsDirectory(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Quoted for systemd's command lines: a program path with blanks or quotes stays one word.
std::string UnitWord(const std::string& text) {
  if (text.find_first_of(" \t\"'\\") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}
}  // namespace

std::string TServiceUnit::Text(const std::string& program, const TServiceAccount& account, bool ownMarker) {
  const std::string state = StateFolder;
  std::string t;
  if (ownMarker) t += std::string(OwnMarker) + "\n";
  t += "[Unit]\n"
       "Description=Corvale network host monitor\n"
       "Documentation=man:corvale-service(8) man:corvale(1)\n"
       "After=network-online.target\n"
       "Wants=network-online.target\n"
       "\n"
       "[Service]\n"
       "Type=simple\n"
       "ExecStart=" + UnitWord(program) + "\n";
  if (!account.LocalSystem) t += "User=" + account.UserName + "\n";
  t += "# corvale-service restarts the monitor itself when it ends early and logs why; a\n"
       "# restart by systemd as well would make two supervisors of one program.\n"
       "Restart=no\n"
       "# The stop request goes to the supervisor alone, which asks the monitor to close in\n"
       "# order and ends it after 61 s at most; whatever is left is killed after that.\n"
       "KillMode=mixed\n"
       "TimeoutStopSec=90\n"
       "# The window sockets through which the supervisor watches the monitor.\n"
       "RuntimeDirectory=corvale\n"
       "RuntimeDirectoryMode=0700\n"
       "Environment=XDG_RUNTIME_DIR=/run/corvale\n"
       "# Hosts, settings and logs (in Quillmoor/Corvale, the service's alone) and the\n"
       "# registry files, whose machine root every local user reads.\n"
       "StateDirectory=corvale\n"
       "StateDirectoryMode=0755\n"
       "WorkingDirectory=" + state + "\n"
       "Environment=CORVALE_DATA_DIR=" + state + "\n"
       "Environment=XDG_CONFIG_HOME=" + state + "/config\n"
       "StandardOutput=journal\n"
       "StandardError=journal\n"
       "# Ping tests open raw ICMP sockets; nothing else the monitor does needs a privilege.\n"
       "AmbientCapabilities=CAP_NET_RAW\n";
  if (!account.LocalSystem) t += "CapabilityBoundingSet=CAP_NET_RAW\n";
  t += "NoNewPrivileges=yes\n"
       "ProtectSystem=strict\n"
       "ProtectHome=yes\n"
       "PrivateTmp=yes\n"
       "PrivateDevices=yes\n"
       "ProtectKernelTunables=yes\n"
       "ProtectKernelModules=yes\n"
       "ProtectKernelLogs=yes\n"
       "ProtectControlGroups=yes\n"
       "ProtectClock=yes\n"
       "RestrictNamespaces=yes\n"
       "RestrictRealtime=yes\n"
       "RestrictSUIDSGID=yes\n"
       "LockPersonality=yes\n"
       "# Netlink for the neighbour table (MAC addresses of local hosts).\n"
       "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
       "\n"
       "[Install]\n"
       "WantedBy=multi-user.target\n";
  return t;
}

std::string TServiceUnit::UnitFolder() {
  const char* dir = std::getenv("CORVALE_UNIT_DIR");
  return dir && *dir ? std::string(dir) : std::string(SystemUnitFolder);
}

std::string TServiceUnit::PackagedUnitPath() {
  for (const char* folder : {"/lib/systemd/system/", "/usr/lib/systemd/system/"}) {
    const std::string path = std::string(folder) + UnitName;
    if (FileExists(path)) return path;
  }
  return {};
}

bool TServiceUnit::UnitFolderRelocated() {
  const char* dir = std::getenv("CORVALE_UNIT_DIR");
  return dir && *dir;
}

bool TServiceUnit::ManagesSystemd() {
  if (UnitFolderRelocated()) return false;
  // The test systemd's own sd_booted() makes.
  return IsDirectory("/run/systemd/system");
}

bool TServiceUnit::Write(const std::string& text, std::string& error) {
  const std::string folder = UnitFolder();
  if (!ForceDirectories(folder)) {
    error = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  const std::string path = UnitPath();
  const std::string temp = folder + "/." + UnitName + ".new";
  if (!WriteWholeFile(temp, text) || ::chmod(temp.c_str(), 0644) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool TServiceUnit::RemoveOwn(std::string& error) {
  const std::string path = UnitPath();
  std::string text;
  if (!FileExists(path)) return true;
  if (!ReadWholeFile(path, text) || text.rfind(OwnMarker, 0) != 0) {
    error = path + " was not written by corvale-service; left as it is";
    return false;
  }
  if (::unlink(path.c_str()) != 0) {
    error = "cannot remove " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool TServiceUnit::Systemctl(const std::vector<std::string>& args, std::string& error) {
  if (!ManagesSystemd()) return true;
  std::string command = "systemctl";
  for (const std::string& arg : args) command += " " + arg;
  int errorCode = 0, exitCode = -1;
  std::string output;
  RunCaptured(command, std::string(), errorCode, output, 0, 0, nullptr, SystemctlTimeoutMs, NoUserToken, {}, exitCode);
  if (errorCode == 0 && exitCode == 0) return true;
  error = command + " failed" + (output.empty() ? std::string() : ": " + output);
  while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
  return false;
}
