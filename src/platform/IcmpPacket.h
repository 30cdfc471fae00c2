#pragma once
// Building ICMP echo requests and reading what comes back: echo replies, and ICMP errors
// that quote one of our echo requests. Addresses are IPv4 in network byte order.
#include <cstdint>
#include <string>
#include <string_view>

struct TIcmpMessage {
  bool IsError = false;       // an ICMP error quoting an echo request, not an echo reply
  int Status = 0;             // IpStatusFromIcmp of the message
  std::uint16_t Id = 0;       // of the reply, or of the quoted request
  std::uint16_t Seq = 0;
  std::uint32_t Source = 0;   // who sent the message; 0 when the caller knows it otherwise
  std::uint32_t Target = 0;   // where the answered request went; 0 when not known
  int Ttl = 0;                // of the message's IP header; 0 when not known
  std::string_view Data;      // echoed data of a reply (points into the parsed buffer)
};

// The Internet checksum (RFC 1071) of the bytes; 0 when bytes hold a correct checksum.
std::uint16_t InternetChecksum(std::string_view bytes);

// An echo request (type 8) with its checksum. A datagram ICMP socket replaces the
// identifier and the checksum itself.
std::string BuildEchoRequest(std::uint16_t id, std::uint16_t seq, std::string_view payload);

// A whole IP datagram as a raw ICMP socket reads it. True for an echo reply with a
// correct checksum (Target = Source) and for an ICMP error that quotes an echo request
// (Target = the request's destination); false for anything else, including our own echo
// requests seen on loopback and truncated or damaged datagrams.
bool ParseRawIcmp(std::string_view datagram, TIcmpMessage& out);

// An ICMP message without IP header, as a datagram ICMP socket reads it. True only for an
// echo reply; the socket has checked the checksum and tells the source separately.
bool ParseEchoReply(std::string_view icmp, TIcmpMessage& out);

// The echo request a datagram socket's error queue hands back with an ICMP error.
bool ParseEchoRequest(std::string_view icmp, std::uint16_t& id, std::uint16_t& seq);
