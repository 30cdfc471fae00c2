#include "NtpPacket.h"

#include <cmath>

namespace NtpPacket {

namespace {

constexpr double UnixEpoch = 2208988800.0;  // 1970 in seconds since 1900

std::uint64_t Read64(const std::uint8_t* p) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | p[i];
  return value;
}

void Write64(std::string& out, std::size_t at, std::uint64_t value) {
  for (int i = 7; i >= 0; --i) {
    out[at + static_cast<std::size_t>(i)] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
}

}  // namespace

std::uint64_t FromUnix(double unixSeconds) {
  const double seconds = unixSeconds + UnixEpoch;
  if (!(seconds >= 0) || seconds >= 4294967296.0) return 0;
  const double whole = std::floor(seconds);
  return static_cast<std::uint64_t>(whole) << 32 |
         static_cast<std::uint64_t>((seconds - whole) * 4294967296.0);
}

double ToUnix(std::uint64_t timestamp) {
  return static_cast<double>(timestamp >> 32) + static_cast<double>(timestamp & 0xFFFFFFFFu) / 4294967296.0 -
         UnixEpoch;
}

std::string BuildRequest(std::uint64_t transmit) {
  std::string packet(Size, '\0');
  packet[0] = static_cast<char>(0 << 6 | 4 << 3 | 3);  // no leap warning, version 4, client
  Write64(packet, 40, transmit);
  return packet;
}

TReply ParseReply(const std::uint8_t* data, std::size_t size, std::uint64_t sent) {
  TReply reply;
  if (size < Size) {
    reply.Error = "a reply of " + std::to_string(size) + " bytes";
    return reply;
  }
  const int leap = data[0] >> 6, mode = data[0] & 7;
  if (mode != 4) {
    reply.Error = "a reply in mode " + std::to_string(mode);
    return reply;
  }
  if (Read64(data + 24) != sent) {
    reply.Error = "not the reply to this request";
    return reply;
  }
  reply.Stratum = data[1];
  if (reply.Stratum == 0) {
    std::string code;
    for (int i = 12; i < 16; ++i)
      if (data[i] >= 0x20 && data[i] < 0x7F) code += static_cast<char>(data[i]);
    reply.Error = "the server refused (kiss code \"" + code + "\")";
    return reply;
  }
  if (leap == 3) {
    reply.Error = "the server's clock is not synchronized";
    return reply;
  }
  reply.Receive = Read64(data + 32);
  reply.Transmit = Read64(data + 40);
  if (reply.Receive == 0 || reply.Transmit == 0) {
    reply.Error = "a reply without its times";
    return reply;
  }
  reply.Valid = true;
  return reply;
}

double Offset(double t1, double t2, double t3, double t4) { return ((t2 - t1) + (t3 - t4)) / 2; }

}  // namespace NtpPacket
