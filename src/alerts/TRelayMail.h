#pragma once
// Alert mail through the web relay: the message goes as an HTML form (POST) to the
// relay's script "customermail.php", which sends it on and answers with one line,
// "Success:" or "Fail: " and the reason. The request runs on the worker pool, never on
// the main thread; its verdict comes back on the main thread. The last answer is kept in
// "qlmmail.txt" in the data folder for diagnosis (the program's folder, where it was kept
// on the original platform, is not writable here).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TQLHTTPDownload;
class TTestContext;

class TRelayMail {
public:
  static constexpr const char* Document = "customermail.php";
  static constexpr const char* DiagnosisFileName = "qlmmail.txt";
  static constexpr int DefaultPort = 80;
  static constexpr int DefaultSecurePort = 443;
  // How much of an unexpected answer the error text keeps.
  static constexpr std::size_t MaxAnswerInError = 512;

  // What one request needs besides the message; copied when it starts.
  struct TOptions {
    std::string Server;       // "name", "name:port" or "[v6]:port", after "https://" for TLS
    std::string DataFolder;   // where the diagnosis file goes; empty: none is written
    int TimeoutMs = 60000;    // the whole exchange
    std::string Application;  // the title and the program's file name
    std::string ComputerName;
    std::string UserName;
  };
  struct TMessage {
    std::string Sender, Recipients, Subject, Body, Installation;
    int Priority = 0;
  };
  // The verdict: empty when the relay took the message, else the error text.
  using TDone = std::function<void(const std::string& error)>;

  // The context's pool runs the requests and its main thread the verdicts; it must
  // outlive every request (its destructor waits for the pool).
  explicit TRelayMail(TTestContext& context);
  ~TRelayMail();
  TRelayMail(const TRelayMail&) = delete;
  TRelayMail& operator=(const TRelayMail&) = delete;

  TOptions& Options() { return FOptions; }

  // Starts the request and returns at once; done runs later on the main thread, unless
  // the main thread has gone by then.
  void Send(const TMessage& message, TDone done);
  // Cuts every request in flight or waiting for the pool short (shutdown); their
  // verdicts still come.
  void AbortAll();

  // The request itself, on the calling thread (a worker): checks the message, posts the
  // form, reads the verdict and writes the diagnosis file. Returns the error text. track
  // hears of the client before the exchange (running) and after it, so that another
  // thread may abort it meanwhile.
  using TTrack = std::function<void(TQLHTTPDownload& client, bool running)>;
  static std::string SendViaRelay(const TOptions& options, const TMessage& message, const TTrack& track = {});

  // The sum of (position from 1) x (byte value) over sender, recipients, subject, body,
  // computer and user name, kept in 16 bits.
  static std::uint16_t CheckValue(const TOptions& options, const TMessage& message);
  // The form fields, "name=value", in the order the relay expects.
  static std::vector<std::string> FormFields(const TOptions& options, const TMessage& message);
  // The error text of an answer: status, body, the client's socket error and error text.
  static std::string Verdict(int resultCode, const std::string& body, int socketError, const std::string& errorText);
  // The relay's host and port from the setting; false for an empty one. A leading
  // "http://" or "https://" says the scheme (https: default port 443).
  static bool ParseServer(const std::string& server, std::string& host, int& port);
  // The setting names the relay with "https://": the message goes over TLS.
  static bool IsSecureServer(const std::string& server);

private:
  struct TInFlight;

  TTestContext& FContext;
  TOptions FOptions;
  std::shared_ptr<TInFlight> FInFlight;
};
