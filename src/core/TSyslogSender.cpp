#include "core/TSyslogSender.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "common/Clock.h"
#include "common/ErrorText.h"
#include "common/SystemInfo.h"
#include "platform/SysErrors.h"

namespace {
constexpr double LookupRetryMs = 60000;     // after a failed lookup
constexpr double LookupRefreshMs = 3600000; // the server's address may move
constexpr std::size_t MaxWaiting = 100;
constexpr std::size_t MaxDatagram = 65507;  // the largest UDP payload over IPv4

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::uint16_t PortOrDefault(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
    return TSyslogSender::DefaultPort;
  return static_cast<std::uint16_t>(value);
}

// A name the resolver could take: at most 253 characters in labels of at most 63. Any
// other text is not looked up at all, as the lookup of a huge name would hold a thread
// of the shared lookup pool for as long as it takes to encode it, again after every retry.
bool PossibleHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (std::size_t start = 0; start <= host.size();) {
    const std::size_t dot = std::min(host.find('.', start), host.size());
    if (dot - start > 63) return false;
    start = dot + 1;
  }
  return true;
}
}  // namespace

TSyslogSender::TSyslogSender(const TClock& clock) : FClock(clock), FComputerName(LocalComputerName()) {}

TSyslogSender::~TSyslogSender() {
  if (FLookupID >= 0) QHostInfo::abortHostLookup(FLookupID);
  CloseSocket();
}

bool TSyslogSender::ParseServer(const std::string& server, std::string& host, std::uint16_t& port) {
  const std::string text = Trimmed(server);
  port = DefaultPort;
  host.clear();
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size() && text[close + 1] == ':') port = PortOrDefault(std::string_view(text).substr(close + 2));
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    const std::size_t colon = text.find(':');
    host = text.substr(0, colon);
    port = PortOrDefault(std::string_view(text).substr(colon + 1));
  } else {
    // No port, or an IPv6 address without brackets.
    host = text;
  }
  if (!PossibleHostName(host)) host.clear();
  return !host.empty();
}

int TSyslogSender::Severity(char category, bool hasHost) {
  int severity = 6;
  switch (category) {
    case 'C':
    case 'Z': severity = 7; break;
    case 'E': severity = 1; break;
    case 'O': severity = 5; break;
    case 'W': severity = 4; break;
    default: break;
  }
  if (!hasHost && (severity == 1 || severity == 4 || severity == 5)) severity = 6;
  return severity;
}

std::string TSyslogSender::FormatDatagram(TDateTime now, const std::string& computer, const std::string& label,
                                          const std::string& message, int severity) {
  std::string text = "<" + std::to_string(128 + severity) + ">" + FormatDateTime("mmm dd hh:nn:ss", now) + " " +
                     computer + " Corvale: ";
  if (!label.empty()) text += "[" + label + "] ";
  const std::size_t start = text.size();
  // What does not fit in a datagram is never copied.
  text.append(message, 0, MaxDatagram > start ? MaxDatagram - start : 0);
  std::replace(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), '\xA0', ' ');
  return text;
}

void TSyslogSender::SetServer(const std::string& server) {
  if (server == FServerSetting) return;
  FServerSetting = server;
  if (FLookupID >= 0) QHostInfo::abortHostLookup(FLookupID);
  FLookupID = -1;
  FWaiting.clear();
  FAddress.clear();
  if (!ParseServer(server, FHost, FPort)) {
    FHost.clear();
    return;
  }
  FIsName = !FAddress.setAddress(QString::fromLatin1(FHost.data(), static_cast<qsizetype>(FHost.size())));
  if (FIsName) StartLookup();
}

void TSyslogSender::StartLookup() {
  FLookupStartMs = FClock.Milliseconds();
  FLookupID = QHostInfo::lookupHost(QString::fromLatin1(FHost.data(), static_cast<qsizetype>(FHost.size())),
                                    &FLookupContext, [this](const QHostInfo& info) { LookupDone(info); });
}

void TSyslogSender::LookupDone(const QHostInfo& info) {
  if (info.lookupId() != FLookupID) return;
  FLookupID = -1;
  const QList<QHostAddress> found = info.addresses();
  // IPv4 first: "localhost" and dual-stack names then reach listeners bound to IPv4.
  auto it = std::find_if(found.begin(), found.end(),
                         [](const QHostAddress& a) { return a.protocol() == QAbstractSocket::IPv4Protocol; });
  if (it == found.end()) it = found.begin();
  // A failed refresh keeps the address we had.
  if (it != found.end()) FAddress = *it;
  std::deque<std::string> waiting;
  waiting.swap(FWaiting);
  if (!FAddress.isNull())
    for (const std::string& d : waiting) Deliver(d);
}

void TSyslogSender::Send(TDateTime now, const std::string& label, const std::string& message, char category) {
  if (FHost.empty()) return;
  std::string datagram = FormatDatagram(now, FComputerName, label, message, Severity(category, !label.empty()));
  if (datagram.size() > MaxDatagram) datagram.resize(MaxDatagram);

  if (FIsName && FLookupID < 0) {
    const double age = FClock.Milliseconds() - FLookupStartMs;
    if (age >= (FAddress.isNull() ? LookupRetryMs : LookupRefreshMs)) StartLookup();
  }
  if (!FAddress.isNull()) {
    Deliver(datagram);
  } else if (FLookupID >= 0 && FWaiting.size() < MaxWaiting) {
    FWaiting.push_back(std::move(datagram));
  }
}

void TSyslogSender::CloseSocket() {
  if (FSocket >= 0) ::close(FSocket);
  FSocket = -1;
}

bool TSyslogSender::Connect() {
  if (FSocket >= 0 && FConnectedAddress == FAddress && FConnectedPort == FPort) return true;
  CloseSocket();
  sockaddr_storage address{};
  socklen_t length = 0;
  bool ok = false;
  const quint32 v4 = FAddress.toIPv4Address(&ok);
  if (ok) {
    auto* in = reinterpret_cast<sockaddr_in*>(&address);
    in->sin_family = AF_INET;
    in->sin_port = htons(FPort);
    in->sin_addr.s_addr = htonl(v4);
    length = sizeof(sockaddr_in);
  } else {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(FPort);
    const Q_IPV6ADDR v6 = FAddress.toIPv6Address();
    std::memcpy(&in6->sin6_addr, v6.c, sizeof v6.c);
    in6->sin6_scope_id = FAddress.scopeId().toUInt();
    length = sizeof(sockaddr_in6);
  }
  FSocket = ::socket(address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (FSocket < 0) {
    ReportError(errno);
    return false;
  }
  if (::connect(FSocket, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    ReportError(errno);
    CloseSocket();
    return false;
  }
  FConnectedAddress = FAddress;
  FConnectedPort = FPort;
  return true;
}

void TSyslogSender::Deliver(const std::string& datagram) {
  if (!Connect()) return;
  if (::send(FSocket, datagram.data(), datagram.size(), MSG_NOSIGNAL) < 0) ReportError(errno);
}

void TSyslogSender::ReportError(int err) {
  if (!FErrorSink) return;
  const double now = FClock.Milliseconds();
  if (FErrorReported && now - FErrorReportedMs < ErrorRepeatMs) {
    ++FErrorsHeldBack;
    return;
  }
  std::string message = "UDP Error: " + ErrorText(WinErrorFromErrno(err)) + " / " + std::strerror(err);
  if (FErrorsHeldBack > 0) message += " (" + std::to_string(FErrorsHeldBack) + " more since the last report)";
  FErrorReported = true;
  FErrorReportedMs = now;
  FErrorsHeldBack = 0;
  FErrorSink(message);
}
