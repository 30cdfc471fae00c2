#include "alerts/TRelayMail.h"

#include <algorithm>
#include <cctype>
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

TRelayMail::TRelayMail(TTestContext& context) : FContext(context), FInFlight(std::make_shared<TInFlight>()) {}

TRelayMail::~TRelayMail() { AbortAll(); }

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
    client->SetSecure(IsSecureServer(options.Server));
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
