// The DNS plug-in: asks the host (a name server) for a name's addresses over UDP, and
// over TCP when the answer comes truncated; fails with the server's answer code, when
// no answer comes, or when the expected address is not among the answer's.
#include <arpa/inet.h>

#include <algorithm>
#include <random>

#include "../common/PluginNet.h"
#include "DnsMessage.h"
#include "corvale_plugin.h"

namespace {

struct TDnsParam {
  std::string Name, Expect, Error;
  std::uint16_t Type = DnsMessage::TypeA;
  std::uint16_t Port = 53;
  int TimeoutMs = 3000;
};

// "name [type=A|AAAA] [expect=address] [port=53] [timeout=3000]"
TDnsParam ParseParam(const std::string& text) {
  TDnsParam p;
  const PluginNet::TWords words = PluginNet::ParseWords(text, {"type", "expect", "port", "timeout"});
  p.Error = words.Error;
  p.Name = words.First;
  if (p.Error.empty() && p.Name.empty()) p.Error = "the name to look up is missing";
  long number = 0;
  for (const auto& [key, value] : words.Options) {
    if (!p.Error.empty()) break;
    if (key == "type") {
      if (value == "A" || value == "a")
        p.Type = DnsMessage::TypeA;
      else if (value == "AAAA" || value == "aaaa")
        p.Type = DnsMessage::TypeAAAA;
      else
        p.Error = "type must be A or AAAA";
    } else if (key == "expect") {
      unsigned char bytes[16];
      if (inet_pton(AF_INET, value.c_str(), bytes) != 1 && inet_pton(AF_INET6, value.c_str(), bytes) != 1)
        p.Error = "\"" + value + "\" is not an address";
      p.Expect = value;
    } else if (key == "port") {
      if (!PluginNet::ParseNumber(value, 1, 65535, number)) p.Error = "port must be 1 to 65535";
      p.Port = static_cast<std::uint16_t>(number);
    } else if (key == "timeout") {
      if (!PluginNet::ParseNumber(value, 100, 60000, number)) p.Error = "timeout must be 100 to 60000 ms";
      p.TimeoutMs = static_cast<int>(number);
    }
  }
  if (p.Error.empty() && DnsMessage::BuildQuery(0, p.Name, p.Type).empty()) p.Error = "\"" + p.Name + "\" is not a name";
  if (p.Error.empty() && !p.Expect.empty() && (p.Expect.find(':') != std::string::npos) != (p.Type == DnsMessage::TypeAAAA))
    p.Error = "the expected address is not of the type asked for";
  return p;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// Addresses compare as addresses, not texts ("::1" and "0:0::1").
bool SameAddress(const std::string& a, const std::string& b) {
  unsigned char x[16] = {}, y[16] = {};
  const int family = a.find(':') != std::string::npos ? AF_INET6 : AF_INET;
  return inet_pton(family, a.c_str(), x) == 1 && inet_pton(family, b.c_str(), y) == 1 &&
         std::equal(x, x + 16, y);
}

}  // namespace

extern "C" {

CVL_EXPORT std::int32_t CVL_CALL Initialize(std::int32_t, TCvlLogCallback, TCvlEmailCallback, char* vendor, char* name,
                                            std::int32_t* count) {
  return PluginNet::DescribePlugin("DNS", vendor, name, count);
}

CVL_EXPORT std::int32_t CVL_CALL GetTestInfo(std::int32_t test, char* identifier, char* name, std::int32_t* kind,
                                             std::int32_t* size) {
  return PluginNet::DescribeTest(test, "CorvaleDNS", "DNS Lookup", identifier, name, kind, size);
}

CVL_EXPORT std::int32_t CVL_CALL ValidateTestParam(std::int32_t, const char* parameter, char* error) {
  return PluginNet::CheckAnswer(ParseParam(parameter ? parameter : "").Error,
                                "name [type=A|AAAA] [expect=address] [port=53] [timeout=ms]", error);
}

CVL_EXPORT std::int32_t CVL_CALL PerformTest(std::int32_t, std::int32_t, const char*, const char* address,
                                             const char* parameter, std::int32_t, std::int32_t*, char* message,
                                             std::int32_t* responseTime, std::uint8_t* resolved, std::int32_t*) {
  const TDnsParam p = ParseParam(parameter ? parameter : "");
  PluginNet::TServer server;
  if (!PluginNet::StartTest(p.Error, address, p.Port, server, message, resolved)) return CVL_FAILURE;
  std::string error;
  std::random_device random;
  const auto id = static_cast<std::uint16_t>(random());
  const std::string query = DnsMessage::BuildQuery(id, p.Name, p.Type);
  const double start = PluginNet::NowMs();
  DnsMessage::TAnswer answer;
  const bool answered = PluginNet::AskUdp(server, query, p.TimeoutMs, 4096, [&](const std::uint8_t* data, std::size_t size) {
    answer = DnsMessage::ParseAnswer(data, size, id, p.Type);
    return answer.Valid;
  }, error);
  if (answered && answer.Truncated) {
    std::string framed;
    const int left = std::max(100, p.TimeoutMs - static_cast<int>(PluginNet::NowMs() - start));
    if (!PluginNet::AskTcpFramed(server, query, left, framed, error)) {
      PluginNet::CopyText(message, CVL_MESSAGE_SIZE, "Truncated answer, and over TCP " + error);
      return CVL_FAILURE;
    }
    answer = DnsMessage::ParseAnswer(reinterpret_cast<const std::uint8_t*>(framed.data()), framed.size(), id, p.Type);
    if (!answer.Valid) {
      PluginNet::CopyText(message, CVL_MESSAGE_SIZE, "The TCP answer could not be read: " + answer.Error);
      return CVL_FAILURE;
    }
  } else if (!answered) {
    PluginNet::CopyText(message, CVL_MESSAGE_SIZE, std::string(address) + ": " + error);
    return CVL_FAILURE;
  }
  *responseTime = static_cast<std::int32_t>(PluginNet::NowMs() - start);
  const std::string type = p.Type == DnsMessage::TypeA ? "A" : "AAAA";
  if (answer.RCode != 0) {
    PluginNet::CopyText(message, CVL_MESSAGE_SIZE, "Answer code " + std::to_string(answer.RCode) + " (" +
                                                       DnsMessage::RCodeName(answer.RCode) + ") for " + p.Name);
    return CVL_FAILURE;
  }
  if (answer.Addresses.empty()) {
    PluginNet::CopyText(message, CVL_MESSAGE_SIZE, "No " + type + " record for " + p.Name);
    return CVL_FAILURE;
  }
  if (!p.Expect.empty() &&
      std::none_of(answer.Addresses.begin(), answer.Addresses.end(),
                   [&](const std::string& a) { return SameAddress(a, p.Expect); })) {
    PluginNet::CopyText(message, CVL_MESSAGE_SIZE,
                        p.Name + " is " + Joined(answer.Addresses) + ", not " + p.Expect);
    return CVL_FAILURE;
  }
  PluginNet::CopyText(message, CVL_MESSAGE_SIZE, p.Name + " is " + Joined(answer.Addresses));
  return CVL_SUCCESS;
}

}  // extern "C"
