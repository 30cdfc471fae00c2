#pragma once
// The program's own HTTP/1.x client: builds one request from its properties, connects
// (directly or through a proxy, over TLS for an "https://" address), sends the request,
// reads the header and the body (plain, sized by Content-Length, or chunked), follows
// redirects and leaves a result code, the header lines, the body and an error text.
//
// Synchronous: Request() returns when the exchange has ended. It runs on the calling
// thread with blocking waits and needs no event loop, so it belongs on a worker thread;
// the main thread never calls it. Everything the server sends is bounded: the header
// block, the body kept in memory, the number of redirects and the time of the whole
// exchange, each a clear error.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

enum TQLDownloadAction { daNone, daRequest };
enum TQLDownloadProxyServer { dpAutoDetect, dpDirect, dpManual };
enum TQLDownloadMethod { dmGET, dmPOST, dmHEAD };
enum TQLDownloadDestination { ddString, ddFile, ddNone };
enum TQLHTTPProtocol { dpHTTP11, dpHTTP10 };

// Raised (and swallowed inside the request) for ddFile without a file name.
class ENoFileSelected : public std::runtime_error {
public:
  ENoFileSelected() : std::runtime_error("No filename specified for HTTP download.") {}
};

// Result codes besides the server's status.
constexpr int HTTPResultNoConnection = 0;       // stored when the request failed before the exchange
constexpr int HTTPResultAborted = -1;           // closed during the conversation
constexpr int HTTPResultOther = -2;             // improperly formatted data, a bound exceeded
constexpr int HTTPResultTimeout = -3;           // the exchange outlived its time-out
constexpr int HTTPResultNotConnected = -4;      // no connection could be made
constexpr int HTTPResultShortBody = -5;         // closed before Content-Length was reached
constexpr int HTTPResultNoHeader = -6;          // no HTTP header came back
constexpr int HTTPResultTlsFailed = -7;         // the TLS handshake failed (ErrorText says why)

class TQLHTTPDownload {
public:
  // Bounds of one request.
  static constexpr int MaxRedirects = 10;
  static constexpr int DefaultTimeoutMs = 60000;
  static constexpr std::size_t MaxHeaderBytes = 64 * 1024;
  static constexpr std::size_t MaxBodyBytes = 16 * 1024 * 1024;  // in memory; ddFile is not bounded
  static constexpr int ConnectTries = 15;
  static constexpr int ConnectWaitMs = 30000;

  TQLHTTPDownload();
  ~TQLHTTPDownload();
  TQLHTTPDownload(const TQLHTTPDownload&) = delete;
  TQLHTTPDownload& operator=(const TQLHTTPDownload&) = delete;

  // Setting daRequest performs the request; Action reads daNone again afterwards.
  TQLDownloadAction Action() const { return daNone; }
  void SetAction(TQLDownloadAction action);
  void Request() { SetAction(daRequest); }

  // URL and its parts are kept consistent: setting URL splits it (an address without a
  // scheme gets "http://"; "https://" is kept and selects TLS, default port 443);
  // setting a part rebuilds URL, with the port only when it is not the scheme's default.
  // SetURL returns false, changing nothing, for a scheme other than http and https.
  const std::string& URL() const { return FURL; }
  bool SetURL(std::string_view url);
  const std::string& HTTPServer() const { return FHTTPServer; }
  void SetHTTPServer(std::string server);
  int HTTPPort() const { return FHTTPPort; }
  void SetHTTPPort(int port);
  const std::string& Document() const { return FDocument; }
  void SetDocument(std::string document);  // stored with a leading "/"
  bool Secure() const { return FSecure; }  // the URL's scheme is https
  void SetSecure(bool secure);

  std::string ProxyServer;
  int ProxyPort = 80;
  TQLDownloadProxyServer ProxyMode = dpAutoDetect;
  TQLDownloadMethod Method = dmGET;
  std::string DownloadFileName;
  TQLDownloadDestination Destination = ddString;
  std::vector<std::string> UploadVars;  // name=value lines
  bool AutoRedirect = false;
  TQLHTTPProtocol Protocol = dpHTTP11;
  std::string Username;
  std::string Password;
  std::string UserAgent = "QLM HTTP Control 1.1";
  // Progress: bytes received and the Content-Length; called on the calling thread.
  std::function<void(std::int64_t bytesDownloaded, std::int64_t bytesTotal)> OnFileTransfer;
  // The whole exchange, connects and redirects included.
  int TimeoutMs = DefaultTimeoutMs;

  // After a request.
  const std::vector<std::string>& HeaderData() const { return FHeaderData; }
  // ddString: the body's lines, split when first asked for (a page test needs only the
  // body, and a second copy of a large one in lines would cost several times its size).
  const std::vector<std::string>& Data() const;
  const std::string& Body() const { return FBody; }                // ddString: the raw body
  const std::string& HeaderText() const { return FHeaderText; }
  const std::string& LastURL() const { return FLastURL; }
  int ResultCode() const { return FResultCode; }
  const std::string& ErrorText() const { return FErrorText; }
  int SocketErrorCode() const { return FSocketErrorCode; }
  // The certificate's end of validity of the last https server spoken to; 0 for http.
  std::time_t PeerNotAfter() const { return FPeerNotAfter; }

  // Cuts a request in progress short from any thread (the test's forced termination);
  // the request ends at once with the result of an aborted exchange. An abort that
  // comes before the request starts cuts that request short; it is spent when the
  // request returns.
  void Abort();

  // The encoded query of name=value lines ("a=1 2", "b=x=y" give "a=1+2&b=x%3Dy").
  static std::string EncodeQuery(const std::vector<std::string>& vars);
  // Base64 of at most 255 input characters; nothing beyond that or (decoding) for a
  // character outside the alphabet. "=" decodes as 0 and still yields its bytes.
  static std::optional<std::string> EncodeBase64(std::string_view bytes);
  static std::optional<std::string> DecodeBase64(std::string_view text);

  // The proxy dpAutoDetect chooses for a server: the environment (http_proxy or
  // https_proxy, upper or lower case, unless no_proxy names the server), then the
  // registry sources. False for none.
  static bool DetectProxy(bool secure, const std::string& server, std::string& proxyHost, int& proxyPort);

  // How an address splits: a bare document (no "://"), an absolute http or https
  // address, or one of another scheme or holding a line break (refused).
  enum class TURLKind { Refused, Document, Absolute };
  static TURLKind SplitURL(std::string_view text, bool& secure, std::string& server, int& port,
                           std::string& document);

private:
  struct TExchange;

  void Rebuild();
  void Perform();
  int Pass(TExchange& x);
  void ConnectTarget(TExchange& x);
  void Converse(TExchange& x);
  void TakeHeader(TExchange& x);
  void TakeBody(TExchange& x);
  void Output(TExchange& x, const std::string& piece);
  void NoteError(const TExchange& x, const std::string& message, char separator);

  std::string FURL;
  std::string FHTTPServer;
  int FHTTPPort = 80;
  std::string FDocument = "/";
  bool FSecure = false;
  bool FUpdating = false;

  std::vector<std::string> FHeaderData;
  mutable std::vector<std::string> FData;
  mutable bool FDataSplit = false;
  std::string FBody;
  std::string FHeaderText;
  std::string FLastURL;
  int FResultCode = 0;
  std::string FErrorText;
  int FSocketErrorCode = 0;
  std::time_t FPeerNotAfter = 0;

  std::atomic<bool> FAbort{false};
  std::atomic<int> FWake{-1};  // eventfd that cuts a wait short
};
