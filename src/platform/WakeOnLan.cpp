#include "platform/WakeOnLan.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/SysErrors.h"

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<TMacAddress> ParseMacAddress(const std::string& text) {
  TMacAddress mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    const std::size_t at = i * 3;
    if (at + 1 >= text.size()) return std::nullopt;
    const int high = HexDigit(text[at]);
    const int low = HexDigit(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return mac;
}

std::string MagicPacket(const TMacAddress& mac) {
  std::string packet(6, '\xFF');
  for (int i = 0; i < 16; ++i) packet.append(reinterpret_cast<const char*>(mac.data()), mac.size());
  return packet;
}

bool SendWakeOnLan(const TMacAddress& mac, const std::string& address, std::uint16_t port, std::string& errorText,
                   int sends, int* errorCode) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) {
    errorText = "Not an IPv4 address: " + address;
    if (errorCode) *errorCode = WinErrorFromErrno(EINVAL);
    return false;
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    const int err = errno;
    errorText = std::string("socket: ") + std::strerror(err);
    if (errorCode) *errorCode = WinErrorFromErrno(err);
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  const std::string packet = MagicPacket(mac);
  bool any = false;
  int err = 0;
  for (int i = 0; i < sends; ++i) {
    const ssize_t sent =
        ::sendto(fd, packet.data(), packet.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent > 0) any = true;
    else err = errno;
  }
  ::close(fd);
  if (!any) {
    errorText = std::string("sendto ") + address + ": " + std::strerror(err);
    if (errorCode) *errorCode = WinErrorFromErrno(err);
  }
  return any;
}
