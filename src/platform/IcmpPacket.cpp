#include "platform/IcmpPacket.h"

#include "platform/IcmpStatus.h"

namespace {

constexpr std::uint8_t IcmpEchoReply = 0;
constexpr std::uint8_t IcmpEchoRequest = 8;
constexpr std::uint8_t ProtocolIcmp = 1;
constexpr std::size_t IcmpHeaderSize = 8;
constexpr std::size_t IpHeaderMin = 20;

std::uint8_t Byte(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

std::uint16_t Word(std::string_view s, std::size_t i) {
  return static_cast<std::uint16_t>(Byte(s, i) << 8 | Byte(s, i + 1));
}

// Network-order address as it lies in memory, so it compares with sin_addr.s_addr.
std::uint32_t Address(std::string_view s, std::size_t i) {
  std::uint32_t a = 0;
  for (std::size_t k = 0; k < 4; ++k) reinterpret_cast<std::uint8_t*>(&a)[k] = Byte(s, i + k);
  return a;
}

// The IP header length of an IPv4 header carrying ICMP, or 0 when it is not one.
std::size_t IcmpInIpHeader(std::string_view ip) {
  if (ip.size() < IpHeaderMin || Byte(ip, 0) >> 4 != 4) return 0;
  std::size_t length = (Byte(ip, 0) & 0x0F) * 4u;
  if (length < IpHeaderMin || ip.size() < length || Byte(ip, 9) != ProtocolIcmp) return 0;
  return length;
}

}  // namespace

std::uint16_t InternetChecksum(std::string_view bytes) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += Word(bytes, i);
  if (i < bytes.size()) sum += static_cast<std::uint32_t>(Byte(bytes, i)) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::string BuildEchoRequest(std::uint16_t id, std::uint16_t seq, std::string_view payload) {
  std::string packet(IcmpHeaderSize, '\0');
  packet[0] = static_cast<char>(IcmpEchoRequest);
  packet[4] = static_cast<char>(id >> 8);
  packet[5] = static_cast<char>(id & 0xFF);
  packet[6] = static_cast<char>(seq >> 8);
  packet[7] = static_cast<char>(seq & 0xFF);
  packet.append(payload);
  std::uint16_t sum = InternetChecksum(packet);
  packet[2] = static_cast<char>(sum >> 8);
  packet[3] = static_cast<char>(sum & 0xFF);
  return packet;
}

bool ParseRawIcmp(std::string_view datagram, TIcmpMessage& out) {
  out = TIcmpMessage();
  std::size_t header = IcmpInIpHeader(datagram);
  if (!header) return false;
  // The kernel hands the header over as it came; a length field shorter than what was
  // read means padding, a longer one a cut datagram.
  std::size_t total = Word(datagram, 2);
  if (total < header + IcmpHeaderSize || total > datagram.size()) return false;
  std::string_view icmp = datagram.substr(header, total - header);
  if (InternetChecksum(icmp) != 0) return false;
  out.Source = Address(datagram, 12);
  out.Ttl = Byte(datagram, 8);
  std::uint8_t type = Byte(icmp, 0);
  if (type == IcmpEchoReply) {
    if (!ParseEchoReply(icmp, out)) return false;
    out.Target = out.Source;
    return true;
  }
  int status = IpStatusFromIcmp(type, Byte(icmp, 1));
  if (status <= 0) return false;
  std::string_view quoted = icmp.substr(IcmpHeaderSize);
  std::size_t quotedHeader = IcmpInIpHeader(quoted);
  if (!quotedHeader) return false;
  if (!ParseEchoRequest(quoted.substr(quotedHeader), out.Id, out.Seq)) return false;
  out.IsError = true;
  out.Status = status;
  out.Target = Address(quoted, 16);
  return true;
}

bool ParseEchoReply(std::string_view icmp, TIcmpMessage& out) {
  if (icmp.size() < IcmpHeaderSize || Byte(icmp, 0) != IcmpEchoReply || Byte(icmp, 1) != 0)
    return false;
  out.IsError = false;
  out.Status = ipstatus::IP_SUCCESS;
  out.Id = Word(icmp, 4);
  out.Seq = Word(icmp, 6);
  out.Data = icmp.substr(IcmpHeaderSize);
  return true;
}

bool ParseEchoRequest(std::string_view icmp, std::uint16_t& id, std::uint16_t& seq) {
  if (icmp.size() < IcmpHeaderSize || Byte(icmp, 0) != IcmpEchoRequest || Byte(icmp, 1) != 0)
    return false;
  id = Word(icmp, 4);
  seq = Word(icmp, 6);
  return true;
}
