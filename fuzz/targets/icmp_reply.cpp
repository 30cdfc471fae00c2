// fuzz-sources: platform/IcmpPacket.cpp platform/IcmpStatus.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/IcmpPacket.h"

// Any datagram the echo engine's sockets can read: a raw one with its IP header, or an
// ICMP message alone. The echoed data always lies inside the datagram.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  auto inside = [&](const TIcmpMessage& m) {
    if (m.Data.empty()) return;
    if (m.Data.data() < datagram.data() || m.Data.data() + m.Data.size() > datagram.data() + datagram.size())
      std::abort();
  };
  TIcmpMessage raw;
  if (ParseRawIcmp(datagram, raw)) inside(raw);
  TIcmpMessage reply;
  if (ParseEchoReply(datagram, reply)) inside(reply);
  std::uint16_t id = 0, seq = 0;
  ParseEchoRequest(datagram, id, seq);
  (void)InternetChecksum(datagram);
  return 0;
}
