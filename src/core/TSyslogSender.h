#pragma once
// Mirrors event log entries to a syslog server as UDP datagrams (facility local0). Runs
// on the main thread and never blocks it: a server name is looked up in the background
// once per change of the setting (and again after a failure or an hour), and entries
// logged meanwhile wait for the answer in a short queue. A datagram that cannot be sent
// is lost; the socket's error goes to the error sink, rate-limited.
//
// The socket is connected to the server, so that the server's "port unreachable" comes
// back as an error of the next send: a dead syslog server is noticed.
#include <QHostAddress>
#include <QHostInfo>
#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "common/DateTime.h"

class TClock;

class TSyslogSender {
public:
  static constexpr std::uint16_t DefaultPort = 514;

  explicit TSyslogSender(const TClock& clock);
  ~TSyslogSender();
  TSyslogSender(const TSyslogSender&) = delete;
  TSyslogSender& operator=(const TSyslogSender&) = delete;

  // The setting `SysLogServer`: a name or address, optionally ":" and a port ("[v6]:port"
  // for an IPv6 address with a port). Cheap when the text is unchanged; an empty text
  // sends nothing.
  void SetServer(const std::string& server);
  // Sends one entry; label is empty for an entry without a host.
  void Send(TDateTime now, const std::string& label, const std::string& message, char category);

  // Hears of the socket's errors as "UDP Error: " + the error's text + " / " + the
  // socket's message: the first at once, then at most one a minute, which counts the
  // errors held back since the last. The sink runs inside Send: it must not send.
  using TErrorSink = std::function<void(const std::string& message)>;
  void SetErrorSink(TErrorSink sink) { FErrorSink = std::move(sink); }
  static constexpr double ErrorRepeatMs = 60000;

  // The server and port of a setting; the port is DefaultPort when none is given or it
  // is not a number from 1 to 65535. False when no server is named, or when the name is
  // longer than a host name can be (253 characters, 63 between dots).
  static bool ParseServer(const std::string& server, std::string& host, std::uint16_t& port);
  // 7 for "C" and "Z", 1 "E", 5 "O", 4 "W", 6 otherwise; without a host 1, 4 and 5
  // become 6.
  static int Severity(char category, bool hasHost);
  // "<" 128+severity ">" "Mmm dd hh:nn:ss" " " computer " Corvale: " ["[" label "] "]
  // message, with every character 160 as a blank.
  static std::string FormatDatagram(TDateTime now, const std::string& computer, const std::string& label,
                                    const std::string& message, int severity);

private:
  void StartLookup();
  void LookupDone(const QHostInfo& info);
  void Deliver(const std::string& datagram);
  // The socket connected to the server's address and port; false (with the error
  // reported) when it cannot be made.
  bool Connect();
  void CloseSocket();
  void ReportError(int err);

  const TClock& FClock;
  QObject FLookupContext;  // a sender destroyed first never hears the lookup's answer
  int FSocket = -1;
  QHostAddress FConnectedAddress;
  std::uint16_t FConnectedPort = 0;
  TErrorSink FErrorSink;
  bool FErrorReported = false;
  double FErrorReportedMs = 0;
  std::uint64_t FErrorsHeldBack = 0;
  std::string FComputerName;
  std::string FServerSetting;
  std::string FHost;
  std::uint16_t FPort = DefaultPort;
  bool FIsName = false;  // looked up, not an address
  QHostAddress FAddress;  // null until known
  int FLookupID = -1;     // the lookup in flight, -1 when none
  double FLookupStartMs = 0;
  std::deque<std::string> FWaiting;  // datagrams logged while the first lookup runs
};
