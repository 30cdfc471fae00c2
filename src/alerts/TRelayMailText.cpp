// The relay's texts: the form it is sent, its answer, and the setting that names it.
#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "alerts/TRelayMail.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The setting without its scheme; secure for "https://".
std::string WithoutScheme(const std::string& server, bool& secure) {
  std::string text = Trimmed(server);
  std::string lower = text.substr(0, 8);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  secure = lower.rfind("https://", 0) == 0;
  if (secure) return text.substr(8);
  if (lower.rfind("http://", 0) == 0) return text.substr(7);
  return text;
}

}  // namespace

bool TRelayMail::IsSecureServer(const std::string& server) {
  bool secure = false;
  WithoutScheme(server, secure);
  return secure;
}

bool TRelayMail::ParseServer(const std::string& server, std::string& host, int& port) {
  bool secure = false;
  std::string text = WithoutScheme(server, secure);
  if (const std::size_t slash = text.find('/'); slash != std::string::npos) text.resize(slash);
  port = secure ? DefaultSecurePort : DefaultPort;
  host = text;
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    host = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < text.size() && text[close + 1] == ':')
      portText = text.substr(close + 2);
  } else if (std::count(text.begin(), text.end(), ':') == 1) {
    host = text.substr(0, text.find(':'));
    portText = text.substr(text.find(':') + 1);
  }
  if (!portText.empty()) {
    char* end = nullptr;
    const long value = std::strtol(portText.c_str(), &end, 10);
    if (end && *end == '\0' && value > 0 && value <= 65535) port = static_cast<int>(value);
  }
  return !host.empty();
}

std::uint16_t TRelayMail::CheckValue(const TOptions& options, const TMessage& message) {
  const std::string text = message.Sender + message.Recipients + message.Subject + message.Body +
                           options.ComputerName + options.UserName;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    sum += static_cast<std::uint32_t>(i + 1) * static_cast<unsigned char>(text[i]);
  return static_cast<std::uint16_t>(sum);
}

std::vector<std::string> TRelayMail::FormFields(const TOptions& options, const TMessage& message) {
  std::vector<std::string> fields = {
      "from=" + message.Sender,
      "username=" + message.Recipients,
      "subject=" + message.Subject,
      "message=" + message.Body,
      "user=" + options.UserName,
      "computer=" + options.ComputerName,
      "check=" + std::to_string(CheckValue(options, message)),
      "app=" + options.Application,
      "install=" + message.Installation,
  };
  if (message.Priority != 0) fields.push_back("priority=" + std::to_string(message.Priority));
  return fields;
}

std::string TRelayMail::Verdict(int resultCode, const std::string& body, int socketError,
                                const std::string& errorText) {
  if (resultCode == 200) {
    if (StartsWith(body, "Success:")) return std::string();
    if (StartsWith(body, "Fail:")) {
      // A refusal without a reason is a refusal all the same: an empty text would count
      // as the message taken.
      const std::string reason = Trimmed(body.substr(5, MaxAnswerInError));
      return reason.empty() ? "Fail: no reason given" : reason;
    }
    return "Other error: " + body.substr(0, MaxAnswerInError);
  }
  std::string error = "HTTP Error " + std::to_string(resultCode) + "/" + std::to_string(socketError);
  if (!errorText.empty()) error += ":" + errorText;
  return error;
}

