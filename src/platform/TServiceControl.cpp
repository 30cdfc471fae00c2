#include "platform/TServiceControl.h"

#include "platform/SysErrors.h"

bool TNoServiceControl::IsServiceRunning(const std::string&, const std::string&) {
  FLastError = syserr::ERROR_SERVICE_DOES_NOT_EXIST;
  return false;
}

bool TNoServiceControl::StopService(const std::string&, const std::string&, int) {
  FLastError = syserr::ERROR_SERVICE_DOES_NOT_EXIST;
  return false;
}

bool TNoServiceControl::StartService(const std::string&, const std::string&) {
  FLastError = syserr::ERROR_SERVICE_DOES_NOT_EXIST;
  return false;
}
