#pragma once
// "Send Magic Wakeup": the wake-on-LAN packet for a MAC address text and the message the
// user is shown about it. The host menu, the MAC address menu and the web action send it.
#include <cstdint>
#include <string>

#include "platform/WakeOnLan.h"

struct TToolMessage {
  bool Warning = false;
  std::string Text;
};

TToolMessage SendMagicWakeup(const std::string& macText, const std::string& address = WakeOnLanAddress,
                             std::uint16_t port = WakeOnLanPort);
