#pragma once
// The service framework: reads the command line, installs and removes the service, or
// runs it in the foreground with SIGTERM, SIGINT and SIGHUP as the stop request.
//
//   corvale-service                       run the service (systemd starts it so)
//   corvale-service /INSTALL [/SILENT]    write the unit and the service keys
//       [/ACCOUNT=user | /LOCALSYSTEM] [/MANUAL]
//   corvale-service /UNINSTALL [/SILENT]  remove them again
//   corvale-service /UNITFILE=program     print the unit for the supervisor at program
//
// Switches begin with "/" or "-" and ignore letter case.
#include <cstdio>
#include <string>
#include <vector>

#include "service/TServiceUnit.h"

class TCorvale;

struct TServiceOptions {
  enum class TAction { Run, Install, Uninstall, UnitFile, Help, Version, Invalid };
  TAction Action = TAction::Run;
  bool Silent = false;
  TServiceAccount Account;
  std::string UnitProgram;  // /UNITFILE=
  std::string Error;        // for Invalid
};

class TServiceApplication {
public:
  static constexpr const char* Title = "Corvale Service";
  static const char* const HelpText;

  static TServiceOptions ParseCommandLine(const std::vector<std::string>& args);

  // out: the success messages; err: warnings and errors. Returns the exit code.
  int Run(TCorvale& service, const TServiceOptions& options, std::FILE* out, std::FILE* err);

private:
  int Install(TCorvale& service, const TServiceOptions& options, std::FILE* out, std::FILE* err);
  int Uninstall(TCorvale& service, const TServiceOptions& options, std::FILE* out, std::FILE* err);
  int Execute(TCorvale& service, std::FILE* err);
};
