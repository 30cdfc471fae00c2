#include "platform/IcmpStatus.h"

#include <cstdio>

namespace {

const char* StatusName(int code) {
  switch (code) {
    case 11000: return "IP_STATUS_BASE";
    case 11001: return "Buffer Too Small";
    case 11002: return "Destination Net Unreachable";
    case 11003: return "Destination Host Unreachable";
    case 11004: return "Destination Protocol Unreachable";
    case 11005: return "Destination Port Unreachable";
    case 11006: return "Insufficient System Resources";
    case 11007: return "Invalid Option Specified";
    case 11008: return "Hardware Error";
    case 11009: return "ICMP Packet Too Big";
    case 11010: return "Request Timed Out";
    case 11011: return "Bad Request";
    case 11012: return "Bad Route";
    case 11013: return "TTL Expired in Transit";
    case 11014: return "TTL Expired after Reaching Host";
    case 11015: return "Parameter Problem";
    case 11016: return "Source Quench";
    case 11017: return "Option Too Big";
    case 11018: return "Address Not Found";
    case 11019: return "Address Deleted";
    case 11020: return "Specific MTU Change";
    case 11021: return "MTU Change";
    case 11022: return "IP Stack Not Loaded";
    case 11050: return "General ICMP Failure";
    default: return "Unknown Error";
  }
}

// ICMP message types (RFC 792) that answer an echo request.
constexpr std::uint8_t IcmpEchoReply = 0;
constexpr std::uint8_t IcmpDestUnreachable = 3;
constexpr std::uint8_t IcmpSourceQuench = 4;
constexpr std::uint8_t IcmpTimeExceeded = 11;
constexpr std::uint8_t IcmpParameterProblem = 12;

int UnreachableStatus(std::uint8_t code) {
  using namespace ipstatus;
  switch (code) {
    case 0:   // net unreachable
    case 6:   // destination network unknown
    case 9:   // network administratively prohibited
    case 11:  // network unreachable for the type of service
      return IP_DEST_NET_UNREACHABLE;
    case 1:   // host unreachable
    case 7:   // destination host unknown
    case 8:   // source host isolated
    case 10:  // host administratively prohibited
    case 12:  // host unreachable for the type of service
    case 13:  // communication administratively prohibited
    case 14:  // host precedence violation
    case 15:  // precedence cut-off in effect
      return IP_DEST_HOST_UNREACHABLE;
    case 2: return IP_DEST_PROT_UNREACHABLE;
    case 3: return IP_DEST_PORT_UNREACHABLE;
    case 4: return IP_PACKET_TOO_BIG;
    case 5: return IP_BAD_ROUTE;
    default: return IP_GENERAL_FAILURE;
  }
}

}  // namespace

std::string IcmpStatusText(int code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(code));
  return std::string(StatusName(code)) + " (ICMP" + hex + ")";
}

int IpStatusFromIcmp(std::uint8_t type, std::uint8_t code) {
  using namespace ipstatus;
  switch (type) {
    case IcmpEchoReply: return IP_SUCCESS;
    case IcmpDestUnreachable: return UnreachableStatus(code);
    case IcmpSourceQuench: return IP_SOURCE_QUENCH;
    case IcmpTimeExceeded:
      return code == 0 ? IP_TTL_EXPIRED_TRANSIT : code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_GENERAL_FAILURE;
    case IcmpParameterProblem: return IP_PARAM_PROBLEM;
    default: return -1;
  }
}
