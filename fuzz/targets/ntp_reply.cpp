// fuzz-sources: ../plugins/ntp/NtpPacket.cpp
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "../plugins/ntp/NtpPacket.h"

// Any reply a time server sends the NTP plug-in; the origin it echoes is taken as ours so
// that the times are reached.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint64_t sent = 0;
  for (std::size_t i = 24; i < 32 && i < size; ++i) sent = sent << 8 | data[i];
  const NtpPacket::TReply reply = NtpPacket::ParseReply(data, size, sent);
  if (reply.Valid) {
    const double offset = NtpPacket::Offset(0, NtpPacket::ToUnix(reply.Receive), NtpPacket::ToUnix(reply.Transmit), 0);
    if (!std::isfinite(offset)) std::abort();
  } else if (reply.Error.empty()) {
    std::abort();
  }
  return 0;
}
