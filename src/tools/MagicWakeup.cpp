#include "tools/MagicWakeup.h"

#include <optional>

#include "common/ErrorText.h"

TToolMessage SendMagicWakeup(const std::string& macText, const std::string& address, std::uint16_t port) {
  std::string error;
  int code = 0;
  const std::optional<TMacAddress> mac = ParseMacAddress(macText);
  if (!mac) error = "Not a MAC address";
  else if (SendWakeOnLan(*mac, address, port, error, 4, &code)) return {false, "Magic wakeup packet sent to " + macText};
  else error = code ? ErrorText(code) : error;
  return {true, "Magic wakeup packet not sent to " + macText + "\r\r" + "Error: " + error};
}
