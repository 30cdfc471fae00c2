// The NTP plug-in: asks the host (a time server) for the time and fails when its clock
// is further from ours than the allowed offset.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "../common/PluginNet.h"
#include "NtpPacket.h"
#include "corvale_plugin.h"

namespace {

struct TNtpParam {
  long MaxOffsetMs = 1000;
  std::uint16_t Port = 123;
  int TimeoutMs = 3000;
  std::string Error;
};

// "[largest offset in ms, 1000] [port=123] [timeout=3000]"
TNtpParam ParseParam(const std::string& text) {
  TNtpParam p;
  const PluginNet::TWords words = PluginNet::ParseWords(text, {"port", "timeout"});
  p.Error = words.Error;
  long number = 0;
  if (p.Error.empty() && !words.First.empty()) {
    if (!PluginNet::ParseNumber(words.First, 0, 86400000, number))
      p.Error = "the largest offset must be 0 to 86400000 ms";
    p.MaxOffsetMs = number;
  }
  for (const auto& [key, value] : words.Options) {
    if (!p.Error.empty()) break;
    if (key == "port") {
      if (!PluginNet::ParseNumber(value, 1, 65535, number)) p.Error = "port must be 1 to 65535";
      p.Port = static_cast<std::uint16_t>(number);
    } else if (key == "timeout") {
      if (!PluginNet::ParseNumber(value, 100, 60000, number)) p.Error = "timeout must be 100 to 60000 ms";
      p.TimeoutMs = static_cast<int>(number);
    }
  }
  return p;
}

double UnixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

extern "C" {

CVL_EXPORT std::int32_t CVL_CALL Initialize(std::int32_t, TCvlLogCallback, TCvlEmailCallback, char* vendor, char* name,
                                            std::int32_t* count) {
  return PluginNet::DescribePlugin("NTP", vendor, name, count);
}

CVL_EXPORT std::int32_t CVL_CALL GetTestInfo(std::int32_t test, char* identifier, char* name, std::int32_t* kind,
                                             std::int32_t* size) {
  return PluginNet::DescribeTest(test, "CorvaleNTP", "NTP Time", identifier, name, kind, size);
}

CVL_EXPORT std::int32_t CVL_CALL ValidateTestParam(std::int32_t, const char* parameter, char* error) {
  return PluginNet::CheckAnswer(ParseParam(parameter ? parameter : "").Error,
                                "largest offset in ms [port=123] [timeout=ms]", error);
}

CVL_EXPORT std::int32_t CVL_CALL PerformTest(std::int32_t, std::int32_t, const char*, const char* address,
                                             const char* parameter, std::int32_t, std::int32_t*, char* message,
                                             std::int32_t* responseTime, std::uint8_t* resolved, std::int32_t*) {
  const TNtpParam p = ParseParam(parameter ? parameter : "");
  PluginNet::TServer server;
  if (!PluginNet::StartTest(p.Error, address, p.Port, server, message, resolved)) return CVL_FAILURE;
  std::string error;
  const double t1 = UnixNow();
  const std::uint64_t sent = NtpPacket::FromUnix(t1);
  const double start = PluginNet::NowMs();
  NtpPacket::TReply reply;
  double t4 = 0;
  std::string refused;
  const bool answered = PluginNet::AskUdp(server, NtpPacket::BuildRequest(sent), p.TimeoutMs, 512,
                                          [&](const std::uint8_t* data, std::size_t size) {
                                            t4 = UnixNow();
                                            reply = NtpPacket::ParseReply(data, size, sent);
                                            // A refusal answers this request too; anything else is not ours.
                                            if (!reply.Valid && reply.Error.rfind("the server", 0) == 0) refused = reply.Error;
                                            return reply.Valid || !refused.empty();
                                          }, error);
  if (!answered) {
    PluginNet::CopyText(message, CVL_MESSAGE_SIZE, std::string(address) + ": " + error);
    return CVL_FAILURE;
  }
  *responseTime = static_cast<std::int32_t>(PluginNet::NowMs() - start);
  if (!refused.empty()) {
    PluginNet::CopyText(message, CVL_MESSAGE_SIZE, std::string(address) + ": " + refused);
    return CVL_FAILURE;
  }
  const double offsetMs =
      NtpPacket::Offset(t1, NtpPacket::ToUnix(reply.Receive), NtpPacket::ToUnix(reply.Transmit), t4) * 1000;
  char text[CVL_MESSAGE_SIZE];
  std::snprintf(text, sizeof text, "Clock offset %+.0f ms (stratum %d)", offsetMs, reply.Stratum);
  if (std::fabs(offsetMs) > static_cast<double>(p.MaxOffsetMs)) {
    PluginNet::CopyText(message, CVL_MESSAGE_SIZE,
                        std::string(text) + ", more than " + std::to_string(p.MaxOffsetMs) + " ms");
    return CVL_FAILURE;
  }
  PluginNet::CopyText(message, CVL_MESSAGE_SIZE, text);
  return CVL_SUCCESS;
}

}  // extern "C"
