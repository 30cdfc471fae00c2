#pragma once
// What the project's plug-ins share: their parameter's words, the server's address,
// and a request with a bounded wait for its answer over UDP or TCP.
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace PluginNet {

// "word key=value key=value": the first word without "=", and the options by key.
struct TWords {
  std::string First;
  std::map<std::string, std::string> Options;
  std::string Error;  // an unknown key or a second plain word
};
TWords ParseWords(const std::string& text, std::initializer_list<const char*> keys);
// A whole number from low to high, else none.
bool ParseNumber(const std::string& text, long low, long high, long& value);

struct TServer {
  sockaddr_storage Address{};
  socklen_t Length = 0;
  std::uint8_t IPv4[4] = {0, 0, 0, 0};  // when the server is an IPv4 address
};
bool ServerAddress(const std::string& host, std::uint16_t port, TServer& server, std::string& error);

double NowMs();

// Sends request and waits until accept takes a datagram (others are ignored) or
// timeoutMs passes; false with the reason.
using TAccept = std::function<bool(const std::uint8_t* data, std::size_t size)>;
bool AskUdp(const TServer& server, const std::string& request, int timeoutMs, std::size_t maxAnswer,
            const TAccept& accept, std::string& error);
// Connects, sends request, and reads a 16-bit length and that many bytes (DNS over TCP).
bool AskTcpFramed(const TServer& server, const std::string& request, int timeoutMs, std::string& answer,
                  std::string& error);

void CopyText(char* buffer, std::size_t size, const std::string& text);

// The entry points' common parts: Initialize's names (vendor "Corvale") and one test,
// GetTestInfo's one test with a free-text parameter, ValidateTestParam's answer (1, or 0
// with the error and the usage), and PerformTest's start: the parameter's error or the
// server's address (its IPv4 octets copied out), false with the message written.
std::int32_t DescribePlugin(const char* pluginName, char* vendor, char* name, std::int32_t* count);
std::int32_t DescribeTest(std::int32_t test, const char* identifier, const char* testName, char* identifierOut,
                          char* nameOut, std::int32_t* kind, std::int32_t* size);
std::int32_t CheckAnswer(const std::string& error, const char* usage, char* buffer);
bool StartTest(const std::string& parameterError, const char* address, std::uint16_t port, TServer& server,
               char* message, std::uint8_t* resolved);

}  // namespace PluginNet
