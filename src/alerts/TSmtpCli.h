#pragma once
// An event-driven SMTP client on the main thread's event loop. Each step returns at
// once; its outcome, success or not, arrives through OnRequestDone. The owner chains
// the steps (connect, EHLO, AUTH, MAIL FROM, RCPT TO, DATA, QUIT) in that handler.
// Never destroy the client from inside one of its own events: mark it and release it
// afterwards.
//
// TLS: port 465 (ImplicitPort, or any with ImplicitTls) begins with the handshake, before the greeting. On other
// ports EHLO, when the server offers STARTTLS and the mode allows, goes on with STARTTLS,
// the handshake and EHLO again before it completes; what the first EHLO reply offered is
// forgotten. The certificate is verified against Host.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QObject;
class QTcpSocket;
class QHostInfo;
class TTlsSession;

// Request kinds in their published order (0 .. 11).
enum TSmtpRequest {
  smtpConnect,
  smtpHelo,
  smtpMailFrom,
  smtpVrfy,
  smtpRcptTo,
  smtpData,
  smtpQuit,
  smtpRset,
  smtpOpen,
  smtpMail,
  smtpEhlo,
  smtpAuth
};

enum TSmtpState {
  smtpReady,
  smtpDnsLookup,
  smtpConnecting,
  smtpConnected,
  smtpInternalReady,
  smtpWaitingBanner,
  smtpWaitingResponse,
  smtpAbort
};

enum TSmtpAuthType {
  smtpAuthNone,
  smtpAuthPlain,
  smtpAuthLogin,
  smtpAuthCramMD5,
  smtpAuthCramSha1,
  smtpAuthAutoSelect
};

enum TSmtpPriority {
  smtpPriorityNone,
  smtpPriorityHighest,
  smtpPriorityHigh,
  smtpPriorityNormal,
  smtpPriorityLow,
  smtpPriorityLowest
};

// Thrown by a step that cannot start: "SMTP component not connected", "SMTP component
// already connected", "SMTP component not ready", "RcptName list is empty". Nothing is
// sent and no OnRequestDone follows.
class ESmtpError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TSmtpCli {
public:
  // The receive buffer: a reply line that does not fit ends the request and the
  // connection, with ErrorReplyTooLong.
  static constexpr std::size_t BufferSize = 4096;
  // The client's error for a reply line longer than the receive buffer, and for a reply
  // over MaxReplyLines lines or MaxReplyBytes bytes: the attempt ends and the connection
  // with it, as no sane server talks that much.
  static constexpr int ErrorReplyTooLong = 500;
  static constexpr std::size_t MaxReplyLines = 100;
  static constexpr std::size_t MaxReplyBytes = 64 * 1024;
  // Mechanisms kept from one EHLO reply; words past that are not looked at.
  static constexpr std::size_t MaxAuthTypes = 16;
  static constexpr std::uint16_t ImplicitTlsPort = 465;

  // Auto: STARTTLS whenever the server offers it, and then never without it. Required:
  // HELO, AUTH and an EHLO that ends without TLS fail (error 500) before anything else
  // is sent. Off: no TLS at all, not even on port 465.
  enum class TTlsMode { Auto, Required, Off };

  TSmtpCli();
  virtual ~TSmtpCli();
  TSmtpCli(const TSmtpCli&) = delete;
  TSmtpCli& operator=(const TSmtpCli&) = delete;

  // Set before a delivery.
  std::string Host;
  std::string Port = "smtp";  // a number or a service name ("smtp" is 25)
  std::string LocalAddr = "0.0.0.0";
  std::string SignOn;  // empty: the local host name
  std::string Username;
  std::string Password;
  TSmtpAuthType AuthType = smtpAuthNone;
  std::string FromName;
  std::vector<std::string> RcptName;
  std::string HdrFrom;
  std::string HdrTo;
  std::string HdrSubject;
  TSmtpPriority HdrPriority = smtpPriorityNone;
  std::vector<std::string> MailMessage;  // body lines
  std::string CharSet = "iso-8859-1";
  TTlsMode TlsMode = TTlsMode::Auto;
  bool ImplicitTls = false;  // the handshake first on any port, as on ImplicitPort
  // Connections to this port begin with the handshake (unless TlsMode is Off).
  std::uint16_t ImplicitPort = ImplicitTlsPort;

  // error: 0 success, 1..9999 the reply code (20600 for a reply without one, 500 for
  // the client's own refusals), 10000 and above a socket error number.
  std::function<void(TSmtpCli& sender, TSmtpRequest request, int error)> OnRequestDone;
  // Called with the header lines once built, before they are sent; may change them.
  std::function<void(TSmtpCli& sender, std::vector<std::string>& lines)> OnProcessHeader;
  // Every line sent ("> " + line) and received ("< " + line); diagnostics only.
  std::function<void(TSmtpCli& sender, const std::string& line)> OnDisplay;
  // The handshake is complete; description names the protocol and cipher.
  std::function<void(TSmtpCli& sender, const std::string& description)> OnTlsEstablished;

  // Steps. Each throws ESmtpError when it cannot start, else returns at once.
  void Connect();
  void Helo();
  void Ehlo();
  void Auth();
  void MailFrom();
  void RcptTo();
  void Data();
  void Quit();  // completes at once with success when not connected
  // Closes the socket at once; a request in progress ends (error 10004 unless QUIT).
  void Abort();

  bool Connected() const { return FConnected; }
  TSmtpState State() const { return FState; }
  TSmtpRequest Request() const { return FRequest; }
  bool Busy() const { return FBusy; }  // a request is in progress
  // The last reply line, or the client's own text beginning with "500 ".
  const std::string& LastResponse() const { return FLastResponse; }
  int StatusCode() const { return FStatusCode; }  // code of the last reply
  int ErrorCode() const { return FErrorCode; }    // error of the last request
  // Mechanisms the last EHLO reply offered, upper-cased, without duplicates.
  const std::vector<std::string>& AuthTypesSupported() const { return FAuthTypes; }
  bool EsmtpAccepted() const { return FEsmtpAccepted; }
  const std::string& MessageId() const { return FMessageId; }
  // The last EHLO reply offered STARTTLS.
  bool StartTlsOffered() const { return FStartTlsOffered; }
  // The connection is encrypted; the protocol and cipher agreed, empty without TLS.
  bool TlsActive() const;
  std::string TlsDescription() const;
  // Why the last request failed for want of TLS ("Certificate verify failed: ...",
  // "TLS error: ...", or the mode's refusal); empty when it did not.
  const std::string& TlsError() const { return FTlsError; }

private:
  enum class TAuthStep { None, PlainSent, LoginSent, LoginUserSent, LoginPassSent, CramSent, CramAnswerSent };
  enum class TDataStep { None, DataSent, BodySent };
  enum class TEhloStep { First, StartTlsSent, Handshake, Again };

  void CheckReady(bool needConnected) const;
  void StartRequest(TSmtpRequest request);
  void SendCommand(const std::string& line, std::vector<int> expected);
  void SendLines(const std::vector<std::string>& lines);
  void ConnectTo(const std::string& address);
  void LookupDone(const QHostInfo& info);
  void OnReadyRead();
  void OnDisconnected();
  void OnSocketError(int socketError);
  void HandleLine(const std::string& line);
  void FailOverlong(const std::string& response);
  void HandleReply(int code);
  void AuthStart();
  void AuthCommand(TSmtpAuthType mech);
  void AuthReply(int code, bool ok);
  void AuthFail(int code);
  void TriggerDone(int error);
  void FailOwn(int error, const std::string& response);
  void FailSocket(int winsockCode);
  void DeferDone(int error, const std::string& response);
  void CloseSocket();
  void EhloReply(int code, bool ok);
  void StartTls();
  void ContinueHandshake();
  void FlushTls();
  void FailTls(std::string text);  // a copy: the session that holds it goes first
  bool RefuseWithoutTls(bool auth);
  std::string HelloName() const;
  std::vector<std::string> BuildHeader() const;

  struct TSocketDeleter {
    void operator()(QTcpSocket* socket) const;
  };
  std::unique_ptr<QObject> FContext;  // receiver of socket, lookup and deferred events
  std::unique_ptr<QTcpSocket, TSocketDeleter> FSocket;
  int FLookupId = -1;
  unsigned FGeneration = 0;  // counts requests, so a deferred event of an old one is dropped

  TSmtpState FState = smtpReady;
  bool FConnected = false;
  bool FBusy = false;
  TSmtpRequest FRequest = smtpConnect;
  std::vector<int> FExpected;  // empty: any code below 500
  std::string FLastResponse;
  int FStatusCode = 0;
  int FErrorCode = 0;
  std::vector<std::string> FAuthTypes;
  bool FEsmtpAccepted = false;
  std::string FRecv;  // received bytes not yet read as a line
  std::size_t FReplyLines = 0;  // of the reply being read
  std::size_t FReplyBytes = 0;
  std::size_t FRcptIndex = 0;
  std::string FMessageId;
  TAuthStep FAuthStep = TAuthStep::None;
  TSmtpAuthType FAuthMech = smtpAuthNone;
  bool FAuthAuto = false;
  TDataStep FDataStep = TDataStep::None;
  std::uint16_t FPortNumber = 25;
  std::unique_ptr<TTlsSession> FTls;
  std::string FTlsError;
  bool FStartTlsOffered = false;
  TEhloStep FEhloStep = TEhloStep::First;
};
