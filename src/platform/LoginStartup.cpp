#include "platform/LoginStartup.h"

std::string LoginStartupFileName() { return {}; }
std::string ReadLoginStartup(std::string*) { return {}; }
bool WriteLoginStartup(const std::string&, std::string& error) {
  error = "not available";
  return false;
}
bool DeleteLoginStartup(std::string&) { return true; }
std::string DesktopExecLine(const std::vector<std::string>&) { return {}; }
bool ParseDesktopExecLine(const std::string&, std::vector<std::string>& arguments) {
  arguments.clear();
  return true;
}
