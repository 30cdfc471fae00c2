#pragma once
// NTP packets as the NTP plug-in sends and reads them: a client request, and the
// server's reply checked (its size, mode, stratum, leap indicator, and that it answers
// this request) before its times are used.
#include <cstddef>
#include <cstdint>
#include <string>

namespace NtpPacket {

constexpr std::size_t Size = 48;

// NTP timestamps: seconds since 1900 in 32.32 fixed point.
std::uint64_t FromUnix(double unixSeconds);
double ToUnix(std::uint64_t timestamp);

// A version 4 client request whose transmit time is transmit.
std::string BuildRequest(std::uint64_t transmit);

struct TReply {
  bool Valid = false;
  std::string Error;  // why the reply is not used
  int Stratum = 0;
  std::uint64_t Receive = 0, Transmit = 0;
};
// sent: the request's transmit time, which the reply must carry as its origin.
TReply ParseReply(const std::uint8_t* data, std::size_t size, std::uint64_t sent);

// The clock offset of the server against ours, in seconds: t1 sent, t2 received by the
// server, t3 sent by it, t4 received here.
double Offset(double t1, double t2, double t3, double t4);

}  // namespace NtpPacket
