#pragma once
// Mirrors event log entries to a syslog server as UDP datagrams (facility local0). Runs
// on the main thread and never blocks it: a server name is looked up in the background
// once per change of the setting (and again after a failure or an hour), and entries
// logged meanwhile wait for the answer in a short queue. A datagram that cannot be sent
// is lost and nothing else happens; reporting socket errors is the caller's choice.
#include <QHostAddress>
#include <QHostInfo>
#include <QUdpSocket>

#include <cstdint>
#include <deque>
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

  const TClock& FClock;
  QUdpSocket FSocket;
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
