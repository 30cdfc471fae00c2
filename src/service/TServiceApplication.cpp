#include "service/TServiceApplication.h"

#include <signal.h>
#include <syslog.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <memory>

#include "common/QLRegistry.h"
#include "service/ServiceRegistry.h"
#include "service/TCorvale.h"

const char* const TServiceApplication::HelpText =
    "usage: corvale-service [/INSTALL [/ACCOUNT=USER | /LOCALSYSTEM] [/MANUAL] | /UNINSTALL] [/SILENT]\n"
    "       corvale-service /UNITFILE=PROGRAM\n"
    "\n"
    "Without a switch, runs the Corvale service in the foreground: starts \"corvale service\"\n"
    "from this program's folder, starts it again when its window goes away, and on SIGTERM\n"
    "asks it to close, waits, and ends it when it does not. Everything it reports goes to\n"
    "syslog as \"Corvale Service\" and, unless that is the journal already, to standard error.\n"
    "\n"
    "/INSTALL writes the systemd unit corvale.service (to /etc/systemd/system, or uses the\n"
    "one the package installed) and the service keys, and enables it at boot unless /MANUAL\n"
    "is given. The service runs as the system user \"corvale\" where it exists, else as\n"
    "/ACCOUNT=USER or the user installing it; /LOCALSYSTEM runs it as root. /UNINSTALL\n"
    "disables and stops the service and removes both. /SILENT leaves out the success\n"
    "messages. /UNITFILE prints the unit for the supervisor installed at PROGRAM.\n"
    "Switches begin with \"/\" or \"-\". Exit codes: 0 done, 1 failed, 2 bad arguments.\n";

namespace {
const char* const PackagedProgram = "/usr/lib/corvale/corvale-service";
volatile std::sig_atomic_t GStopRequested = 0;

void OnStopSignal(int) { GStopRequested = 1; }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The service's keys as the service control manager keeps them.
bool WriteServiceKey(TRegistryStore* store, const TServiceAccount& account, const std::string& program,
                     std::string& error) {
  try {
    auto reg = MachineRegistry(store);
    if (!reg->OpenKey(TCorvale::ServiceKey, true)) {
      error = "the registry's machine root cannot be written";
      return false;
    }
    reg->WriteString("DisplayName", TCorvale::DisplayName);
    reg->WriteExpandString("ImagePath", "\"" + program + "\"");
    reg->WriteString("ObjectName", account.LocalSystem ? "LocalSystem" : account.UserName);
    reg->WriteInteger("Type", 16);         // own process
    reg->WriteInteger("Start", account.StartAtBoot ? 2 : 3);  // automatic, manual
    reg->WriteInteger("ErrorControl", 1);  // normal
    reg->CloseKey();
    return true;
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
}
}  // namespace

TServiceOptions TServiceApplication::ParseCommandLine(const std::vector<std::string>& args) {
  TServiceOptions o;
  auto invalid = [&o](const std::string& text) {
    o.Action = TServiceOptions::TAction::Invalid;
    o.Error = text;
    return o;
  };
  bool install = false, uninstall = false;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      o.Action = TServiceOptions::TAction::Help;
      return o;
    }
    if (arg == "--version") {
      o.Action = TServiceOptions::TAction::Version;
      return o;
    }
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return invalid("unknown argument " + arg);
    const std::string body = arg.substr(1);
    const std::string name = Upper(body.substr(0, body.find('=')));
    const std::string value = body.find('=') == std::string::npos ? std::string() : body.substr(body.find('=') + 1);
    if (name == "INSTALL") install = true;
    else if (name == "UNINSTALL") uninstall = true;
    else if (name == "SILENT") o.Silent = true;
    else if (name == "LOCALSYSTEM") o.Account.LocalSystem = true;
    else if (name == "MANUAL") o.Account.StartAtBoot = false;
    else if (name == "ACCOUNT" && !value.empty()) o.Account.UserName = value;
    else if (name == "UNITFILE" && !value.empty()) {
      o.Action = TServiceOptions::TAction::UnitFile;
      o.UnitProgram = value;
    } else {
      return invalid("unknown switch " + arg);
    }
  }
  if (install && uninstall) return invalid("/INSTALL and /UNINSTALL exclude each other");
  if (o.Account.LocalSystem && !o.Account.UserName.empty()) return invalid("/ACCOUNT and /LOCALSYSTEM exclude each other");
  if (o.Action == TServiceOptions::TAction::UnitFile && (install || uninstall))
    return invalid("/UNITFILE stands alone");
  if (install) o.Action = TServiceOptions::TAction::Install;
  if (uninstall) o.Action = TServiceOptions::TAction::Uninstall;
  return o;
}

int TServiceApplication::Run(TCorvale& service, const TServiceOptions& options, std::FILE* out, std::FILE* err) {
  switch (options.Action) {
    case TServiceOptions::TAction::Help: std::fputs(HelpText, out); return 0;
    case TServiceOptions::TAction::Version: std::fprintf(out, "Corvale Service %s\n", CORVALE_VERSION_TEXT); return 0;
    case TServiceOptions::TAction::Invalid:
      std::fprintf(err, "corvale-service: %s\n", options.Error.c_str());
      return 2;
    case TServiceOptions::TAction::UnitFile: {
      TServiceAccount account;
      account.UserName = TServiceUnit::PackageUser;
      std::fputs(TServiceUnit::Text(options.UnitProgram, account, false).c_str(), out);
      return 0;
    }
    case TServiceOptions::TAction::Install: return Install(service, options, out, err);
    case TServiceOptions::TAction::Uninstall: return Uninstall(service, options, out, err);
    case TServiceOptions::TAction::Run: break;
  }
  return Execute(service, err);
}

int TServiceApplication::Install(TCorvale& service, const TServiceOptions& options, std::FILE* out, std::FILE* err) {
  TServiceAccount account = options.Account;
  auto report = [err](const std::string& text) { std::fprintf(err, "corvale-service: %s\n", text.c_str()); };
  if (!service.ServiceBeforeInstall(account, report)) return 0;
  const std::string program = OwnProgramPath();
  std::string error;
  // The package's unit runs the package's program as its own user; a unit of ours in
  // /etc would only shadow it.
  const bool usePackaged = !TServiceUnit::PackagedUnitPath().empty() && !account.LocalSystem &&
                           account.UserName == TServiceUnit::PackageUser && !TServiceUnit::UnitFolderRelocated() &&
                           program == PackagedProgram;
  const bool written = usePackaged ? TServiceUnit::RemoveOwn(error)
                                   : TServiceUnit::Write(TServiceUnit::Text(program, account, true), error);
  if (!written) {
    report("Unable to install the service: " + error);
    return 1;
  }
  if (!WriteServiceKey(service.Store(), account, program, error)) {
    std::string ignored;
    if (!usePackaged) TServiceUnit::RemoveOwn(ignored);
    report("Unable to install the service: " + error);
    return 1;
  }
  service.ServiceAfterInstall(account, program);
  const bool loaded = TServiceUnit::Systemctl({"daemon-reload"}, error) &&
                      TServiceUnit::Systemctl({account.StartAtBoot ? "enable" : "disable", TServiceUnit::UnitName}, error);
  if (!loaded) report(error);
  if (!TServiceUnit::ManagesSystemd() && !options.Silent)
    std::fprintf(out, TServiceUnit::UnitFolderRelocated() ? "The unit is in %s; systemd was not asked to load it\n"
                                                          : "systemd does not run this computer; the unit in %s takes "
                                                            "effect when it does\n",
                 TServiceUnit::UnitFolder().c_str());
  if (!options.Silent) std::fputs("Service installed successfully\n", out);
  return loaded ? 0 : 1;
}

int TServiceApplication::Uninstall(TCorvale& service, const TServiceOptions& options, std::FILE* out, std::FILE* err) {
  if (!service.ServiceBeforeUninstall()) return 0;
  auto report = [err](const std::string& text) { std::fprintf(err, "corvale-service: %s\n", text.c_str()); };
  std::string error;
  bool ok = TServiceUnit::Systemctl({"disable", "--now", TServiceUnit::UnitName}, error);
  if (!ok) report(error);
  if (!TServiceUnit::RemoveOwn(error)) {
    report("Unable to uninstall the service: " + error);
    return 1;
  }
  if (!TServiceUnit::Systemctl({"daemon-reload"}, error)) {
    report(error);
    ok = false;
  }
  bool removed = false;
  try {
    removed = MachineRegistry(service.Store())->DeleteKey(TCorvale::ServiceKey);
  } catch (const std::exception&) {
  }
  if (!removed) {
    report("Unable to uninstall the service: the registry's machine root cannot be written");
    return 1;
  }
  service.ServiceAfterUninstall();
  if (!options.Silent) std::fputs("Service uninstalled successfully\n", out);
  return ok ? 0 : 1;
}

int TServiceApplication::Execute(TCorvale& service, std::FILE* err) {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  service.EventLog().SetEcho(err);
  service.SetWaits(TStopWaits::FromEnvironment());
  bool stopped = false;
  TCorvale::TFramework framework;
  framework.ProcessRequests = [&] {
    if (GStopRequested && !stopped) {
      stopped = true;
      service.ServiceStop();
    }
  };
  framework.Terminated = [&] { return stopped; };
  framework.LogWarning = [err](const std::string& text) {
    std::fprintf(err, "%s: Warning: %s\n", Title, text.c_str());
    syslog(LOG_WARNING, "%s", text.c_str());
  };
  try {
    return service.ServiceExecute(framework) ? 0 : 1;
  } catch (const std::exception& e) {
    const std::string text = std::string("Service failed on execute: ") + e.what();
    std::fprintf(err, "%s: %s\n", Title, text.c_str());
    openlog(Title, LOG_PID, LOG_DAEMON);
    syslog(LOG_ERR, "%s", text.c_str());
    closelog();
    return 1;
  }
}
