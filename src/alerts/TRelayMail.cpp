#include "alerts/TRelayMail.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <set>

#include "common/FileUtils.h"
#include "hosttests/TQLHTTPDownload.h"
#include "hosttests/TTestContext.h"

struct TRelayMail::TInFlight {
  std::mutex Lock;
  std::set<TQLHTTPDownload*> Clients;
  std::uint64_t Aborts = 0;  // AbortAll calls so far
};

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

TRelayMail::TRelayMail(TTestContext& context) : FContext(context), FInFlight(std::make_shared<TInFlight>()) {}

TRelayMail::~TRelayMail() { AbortAll(); }

bool TRelayMail::ParseServer(const std::string& server, std::string& host, int& port) {
  const std::string text = Trimmed(server);
  port = DefaultPort;
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
    if (StartsWith(body, "Fail:")) return Trimmed(body.substr(5, MaxAnswerInError));
    return "Other error: " + body.substr(0, MaxAnswerInError);
  }
  std::string error = "HTTP Error " + std::to_string(resultCode) + "/" + std::to_string(socketError);
  if (!errorText.empty()) error += ":" + errorText;
  return error;
}

std::string TRelayMail::SendViaRelay(const TOptions& options, const TMessage& message,
                                     const TTrack& track) {
  if (message.Sender.find('@') == std::string::npos || message.Recipients.find('@') == std::string::npos)
    return "Missing recipient or sender";
  if (message.Subject.empty()) return "Missing subject";

  int step = 2;
  std::unique_ptr<TQLHTTPDownload> client;
  std::string error;
  try {
    std::string host;
    int port = DefaultPort;
    ParseServer(options.Server, host, port);
    client = std::make_unique<TQLHTTPDownload>();
    step = 3;
    client->SetHTTPServer(host);
    client->SetHTTPPort(port);
    client->ProxyMode = dpAutoDetect;
    client->Method = dmPOST;
    client->SetDocument(Document);
    client->Destination = ddString;
    client->AutoRedirect = true;
    client->TimeoutMs = options.TimeoutMs;
    client->UploadVars = FormFields(options, message);
    if (track) track(*client, true);
    client->Request();
    if (track) track(*client, false);
    step = 4;
    error = Verdict(client->ResultCode(), client->Body(), client->SocketErrorCode(), client->ErrorText());
    step = 5;
    if (!options.DataFolder.empty()) {
      std::string diagnosis;
      for (const std::string& line : client->HeaderData()) diagnosis += line + "\r\n";
      diagnosis += "\r\n" + client->Body();
      WriteWholeFile(IncludeTrailingPathDelimiter(options.DataFolder) + DiagnosisFileName, diagnosis);
    }
  } catch (const std::exception& e) {
    if (track && client) track(*client, false);
    error = std::string("Other error: ") + e.what() + " [step " + std::to_string(step) + "]";
    if (client) error += " {" + std::to_string(client->SocketErrorCode()) + ":" + client->ErrorText() + "}";
  }
  return error;
}

void TRelayMail::Send(const TMessage& message, TDone done) {
  std::shared_ptr<TInFlight> inFlight = FInFlight;
  std::uint64_t aborts;
  {
    std::lock_guard<std::mutex> guard(inFlight->Lock);
    aborts = inFlight->Aborts;
  }
  TTestContext& context = FContext;
  FContext.RunInPool([&context, inFlight, aborts, options = FOptions, message, done = std::move(done)]() mutable {
    const std::string error =
        SendViaRelay(options, message, [&inFlight, aborts](TQLHTTPDownload& client, bool running) {
          std::lock_guard<std::mutex> guard(inFlight->Lock);
          if (!running) {
            inFlight->Clients.erase(&client);
            return;
          }
          inFlight->Clients.insert(&client);
          // An abort that came while the request waited for the pool still counts.
          if (inFlight->Aborts != aborts) client.Abort();
        });
    context.PostCompletion(context.Completions.HTTP, [done = std::move(done), error] { done(error); });
  });
}

void TRelayMail::AbortAll() {
  std::lock_guard<std::mutex> guard(FInFlight->Lock);
  ++FInFlight->Aborts;
  for (TQLHTTPDownload* client : FInFlight->Clients) client->Abort();
}
