#pragma once
// The texts of an outgoing message: addresses, header values, the Date and Message-ID
// headers, and body lines as they go on the wire; and how a server's reply lines read.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Without leading and trailing blanks and control characters.
std::string TrimSmtp(std::string_view text);
// A header value: trimmed, and any line break or other control character inside it
// turned into a blank so that a value can never start a header of its own.
std::string SmtpHeaderValue(std::string_view text);

// The bare address of a sender or recipient written as "addr", "Name <addr>",
// "\"Quoted, Name\" <addr>" or "name addr"; a lone word with an at sign is the address.
std::string SmtpAddress(std::string_view text);

// "+hhmm" / "-hhmm" for a bias in minutes (UTC = local + bias): "-" for zero or a
// positive bias, "+" for a negative one.
std::string SmtpZone(int biasMinutes);
// "ddd, d mmm yyyy hh:mm:ss" of the local date-time, a blank and SmtpZone(bias).
std::string SmtpDate(double localDateTime, int biasMinutes);

// UTC time as "yyyymmddhhnnsszzz", ".", four random numbers below 32767 as four hex
// digits each, "@" and the host name.
std::string SmtpMessageId(double utcDateTime, const std::string& hostName);

// The body as it goes on the wire: each item cut at line ends, each line trimmed, a
// line beginning with "." given a second one. Lines of any length are kept whole.
std::vector<std::string> SmtpBodyLines(const std::vector<std::string>& message);

// One line of a server's reply: its code (20600 for a line without one, 9999 for one of
// more than four digits) and whether more lines of the same reply follow ("250-").
struct TSmtpReplyLine {
  int Code = 20600;
  bool Continued = false;
};
TSmtpReplyLine ReadSmtpReplyLine(std::string_view line);
// What one line of an EHLO reply offers: STARTTLS, or authentication mechanisms, added
// upper-cased to types without duplicates while it holds fewer than maxTypes.
void NoteEhloOffer(std::string_view line, bool& startTls, std::vector<std::string>& types, std::size_t maxTypes);
