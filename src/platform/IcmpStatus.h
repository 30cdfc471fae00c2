#pragma once
// The status codes of an ICMP echo request, as the system's ICMP interface reports them,
// their display texts, and how an ICMP message type and code map onto them.
#include <cstdint>
#include <string>

namespace ipstatus {
constexpr int IP_SUCCESS = 0;
constexpr int IP_BUF_TOO_SMALL = 11001;
constexpr int IP_DEST_NET_UNREACHABLE = 11002;
constexpr int IP_DEST_HOST_UNREACHABLE = 11003;
constexpr int IP_DEST_PROT_UNREACHABLE = 11004;
constexpr int IP_DEST_PORT_UNREACHABLE = 11005;
constexpr int IP_NO_RESOURCES = 11006;
constexpr int IP_BAD_OPTION = 11007;
constexpr int IP_HW_ERROR = 11008;
constexpr int IP_PACKET_TOO_BIG = 11009;
constexpr int IP_REQ_TIMED_OUT = 11010;
constexpr int IP_BAD_REQ = 11011;
constexpr int IP_BAD_ROUTE = 11012;
constexpr int IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr int IP_TTL_EXPIRED_REASSEM = 11014;
constexpr int IP_PARAM_PROBLEM = 11015;
constexpr int IP_SOURCE_QUENCH = 11016;
constexpr int IP_GENERAL_FAILURE = 11050;
}  // namespace ipstatus

// The text the echo worker reports when the program has no usable ICMP handle.
inline constexpr const char* IcmpHandleInvalidText = "ICMP handle invalid";

// "Request Timed Out (ICMP2B02)": the status's name, then " (ICMP", the code as at least
// four upper-case hexadecimal digits (a negative code as its 32-bit pattern), and ")".
// Codes without a name are "Unknown Error".
std::string IcmpStatusText(int code);

// The status an ICMP message of this type and code means for the echo request it
// answers: 0 for an echo reply, an IP_* code for an error, and -1 for messages that
// do not end a request (redirects, and types that carry no original datagram).
int IpStatusFromIcmp(std::uint8_t type, std::uint8_t code);
