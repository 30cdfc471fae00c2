// corvale-service: the service that keeps "corvale service" running, and its
// installation as a systemd unit.
#include <cstdio>
#include <string>
#include <vector>

#include "service/TCorvale.h"
#include "service/TServiceApplication.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  TCorvale service;
  TServiceApplication application;
  return application.Run(service, TServiceApplication::ParseCommandLine(args), stdout, stderr);
}
