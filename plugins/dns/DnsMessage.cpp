#include "DnsMessage.h"

#include <arpa/inet.h>

namespace DnsMessage {

namespace {

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// The offset after the name at pos, following no pointer (a pointer ends the name where
// it stands); 0 when the name runs past the message.
std::size_t SkipName(const std::uint8_t* data, std::size_t size, std::size_t pos) {
  for (int labels = 0; labels < 128; ++labels) {
    if (pos >= size) return 0;
    const std::uint8_t length = data[pos];
    if (length == 0) return pos + 1;
    if ((length & 0xC0) == 0xC0) return pos + 2 <= size ? pos + 2 : 0;
    if ((length & 0xC0) != 0) return 0;
    pos += 1 + length;
  }
  return 0;
}

}  // namespace

std::string BuildQuery(std::uint16_t id, const std::string& name, std::uint16_t type) {
  std::string labels;
  std::string rest = name;
  if (!rest.empty() && rest.back() == '.') rest.pop_back();
  if (rest.empty() || rest.size() > 253) return {};
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t dot = rest.find('.', start);
    if (dot == std::string::npos) dot = rest.size();
    const std::size_t length = dot - start;
    if (length == 0 || length > 63) return {};
    labels += static_cast<char>(length);
    labels += rest.substr(start, length);
    start = dot + 1;
  }
  std::string query;
  const std::uint8_t header[12] = {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0x01, 0, 0, 1,
                                   0, 0, 0, 0, 0, 0};
  query.assign(reinterpret_cast<const char*>(header), sizeof header);
  query += labels;
  query += '\0';
  query += static_cast<char>(type >> 8);
  query += static_cast<char>(type & 0xFF);
  query += '\0';
  query += '\1';
  return query;
}

TAnswer ParseAnswer(const std::uint8_t* data, std::size_t size, std::uint16_t id, std::uint16_t type) {
  TAnswer answer;
  if (size < 12 || size > MaxMessage) {
    answer.Error = "an answer of " + std::to_string(size) + " bytes";
    return answer;
  }
  if (Word(data) != id || !(data[2] & 0x80)) {
    answer.Error = "not the answer to this query";
    return answer;
  }
  answer.Truncated = (data[2] & 0x02) != 0;
  answer.RCode = data[3] & 0x0F;
  const int questions = Word(data + 4), records = Word(data + 6);
  std::size_t pos = 12;
  for (int i = 0; i < questions && i < 4; ++i) {
    pos = SkipName(data, size, pos);
    if (pos == 0 || pos + 4 > size) {
      answer.Error = "a question that runs past the answer";
      return answer;
    }
    pos += 4;
  }
  if (questions > 4) {
    answer.Error = "an answer with " + std::to_string(questions) + " questions";
    return answer;
  }
  for (int i = 0; i < records && i < MaxRecords; ++i) {
    pos = SkipName(data, size, pos);
    if (pos == 0 || pos + 10 > size) {
      // A truncated answer may end within its records; what was read stands.
      if (answer.Truncated) break;
      answer.Error = "a record that runs past the answer";
      return answer;
    }
    const std::uint16_t recordType = Word(data + pos), recordClass = Word(data + pos + 2);
    const std::uint16_t length = Word(data + pos + 8);
    pos += 10;
    if (pos + length > size) {
      if (answer.Truncated) break;
      answer.Error = "record data that runs past the answer";
      return answer;
    }
    if (recordClass == 1 && recordType == type) {
      char text[INET6_ADDRSTRLEN] = {};
      if (type == TypeA && length == 4)
        inet_ntop(AF_INET, data + pos, text, sizeof text);
      else if (type == TypeAAAA && length == 16)
        inet_ntop(AF_INET6, data + pos, text, sizeof text);
      if (text[0]) answer.Addresses.emplace_back(text);
    }
    pos += length;
  }
  answer.Valid = true;
  return answer;
}

std::string RCodeName(int rcode) {
  static const char* const names[] = {"NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP", "REFUSED"};
  return rcode >= 0 && rcode < 6 ? names[rcode] : std::to_string(rcode);
}

}  // namespace DnsMessage
