// fuzz-sources: ../plugins/dns/DnsMessage.cpp
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "../plugins/dns/DnsMessage.h"

// Any answer a name server sends the DNS plug-in, read for both address types; the
// first two bytes are taken as the query's ID so that the records are reached.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>(data[0] << 8 | data[1]) : 0;
  for (const std::uint16_t type : {DnsMessage::TypeA, DnsMessage::TypeAAAA}) {
    const DnsMessage::TAnswer answer = DnsMessage::ParseAnswer(data, size, id, type);
    if (answer.Addresses.size() > static_cast<std::size_t>(DnsMessage::MaxRecords)) std::abort();
    if (!answer.Valid && answer.Error.empty()) std::abort();
  }
  return 0;
}
