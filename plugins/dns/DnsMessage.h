#pragma once
// DNS messages as the DNS plug-in sends and reads them: one question out, the answer
// section's addresses back. Reading never trusts the server: every count, length and
// compression pointer is checked against the message, and the walk is bounded.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace DnsMessage {

constexpr std::uint16_t TypeA = 1, TypeAAAA = 28;
// What the plug-in reads of an answer at most: a UDP answer's buffer, and the records.
constexpr std::size_t MaxMessage = 65535;
constexpr int MaxRecords = 256;

// The query (recursion desired); empty when the name cannot be sent (an empty label, a
// label over 63 bytes, a name over 253).
std::string BuildQuery(std::uint16_t id, const std::string& name, std::uint16_t type);

struct TAnswer {
  bool Valid = false;
  std::string Error;  // why it could not be read
  bool Truncated = false;
  int RCode = 0;
  std::vector<std::string> Addresses;  // of the type asked, in answer order
};
// id: the query's; an answer to another query is not valid.
TAnswer ParseAnswer(const std::uint8_t* data, std::size_t size, std::uint16_t id, std::uint16_t type);

// "NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP", "REFUSED", else the number.
std::string RCodeName(int rcode);

}  // namespace DnsMessage
