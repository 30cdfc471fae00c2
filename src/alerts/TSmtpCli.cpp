#include "alerts/TSmtpCli.h"

#include <netdb.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cctype>

#include "alerts/SmtpAuth.h"
#include "alerts/SmtpText.h"
#include "common/DateTime.h"
#include "common/SystemInfo.h"
#include "platform/SysErrors.h"
#include "platform/TTlsSession.h"

namespace {

constexpr int ErrorClosed = 10004;      // WSAEINTR: the connection went during a request
constexpr int ErrorBadAddress = 10049;  // WSAEADDRNOTAVAIL
constexpr int ErrorInvalid = 10022;     // WSAEINVAL

int WinsockCode(QAbstractSocket::SocketError error) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return syserr::WSAECONNREFUSED;
    case QAbstractSocket::HostNotFoundError: return syserr::WSAHOST_NOT_FOUND;
    case QAbstractSocket::SocketTimeoutError: return syserr::WSAETIMEDOUT;
    case QAbstractSocket::RemoteHostClosedError: return 10054;   // WSAECONNRESET
    case QAbstractSocket::NetworkError: return 10065;            // WSAEHOSTUNREACH
    case QAbstractSocket::SocketAccessError: return 10013;       // WSAEACCES
    case QAbstractSocket::AddressInUseError: return 10048;       // WSAEADDRINUSE
    case QAbstractSocket::SocketAddressNotAvailableError: return ErrorBadAddress;
    case QAbstractSocket::SocketResourceError: return 10055;     // WSAENOBUFS
    default: return 10050;                                       // WSAENETDOWN
  }
}

std::string SocketErrorResponse(int code) {
  std::string text = SysErrorMessage(code);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  if (text.empty()) text = SysErrorName(code);
  return "500 " + text + " (Winsock error #" + std::to_string(code) + ")";
}

// Port text as a number: digits, or a service name from the services database.
int PortNumber(const std::string& port) {
  if (!port.empty() && std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return port.size() <= 5 ? std::stoi(port) : -1;
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (getservbyname_r(port.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) == 0 && found)
    return ntohs(static_cast<std::uint16_t>(found->s_port));
  return port == "smtp" ? 25 : -1;
}

}  // namespace

void TSmtpCli::TSocketDeleter::operator()(QTcpSocket* socket) const {
  // The socket may be the sender of the signal being handled: never delete it in place.
  socket->disconnect();
  socket->abort();
  socket->deleteLater();
}

TSmtpCli::TSmtpCli() : FContext(std::make_unique<QObject>()) {}

TSmtpCli::~TSmtpCli() {
  if (FLookupId >= 0) QHostInfo::abortHostLookup(FLookupId);
  FSocket.reset();
}

void TSmtpCli::CheckReady(bool needConnected) const {
  if (needConnected && !FConnected) throw ESmtpError("SMTP component not connected");
  if (FBusy) throw ESmtpError("SMTP component not ready");
}

void TSmtpCli::StartRequest(TSmtpRequest request) {
  ++FGeneration;
  FRequest = request;
  FBusy = true;
  FErrorCode = 0;
  FTlsError.clear();
  FAuthStep = TAuthStep::None;
  FDataStep = TDataStep::None;
}

void TSmtpCli::SendLines(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) {
    if (OnDisplay) OnDisplay(*this, "> " + line);
    bytes += line;
    bytes += "\r\n";
  }
  if (FTls) {
    // Once a session exists nothing goes out in the clear, not even during its handshake.
    if (FTls->Established() && FTls->WritePlain(bytes)) FlushTls();
    return;
  }
  FSocket->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void TSmtpCli::SendCommand(const std::string& line, std::vector<int> expected) {
  FExpected = std::move(expected);
  FState = smtpWaitingResponse;
  SendLines({line});
}

void TSmtpCli::TriggerDone(int error) {
  FErrorCode = error;
  FBusy = false;
  FAuthStep = TAuthStep::None;
  FDataStep = TDataStep::None;
  if (FState != smtpAbort) FState = FConnected ? smtpConnected : smtpReady;
  if (OnRequestDone) OnRequestDone(*this, FRequest, error);
}

void TSmtpCli::FailOwn(int error, const std::string& response) {
  FLastResponse = response;
  TriggerDone(error);
}

void TSmtpCli::FailSocket(int winsockCode) {
  CloseSocket();
  FailOwn(winsockCode, SocketErrorResponse(winsockCode));
}

// Ends the request from the event loop rather than inside the caller's step, so that a
// handler that starts or frees things never runs beneath the call that started it.
void TSmtpCli::DeferDone(int error, const std::string& response) {
  unsigned generation = FGeneration;
  QTimer::singleShot(0, FContext.get(), [this, generation, error, response] {
    if (generation != FGeneration || !FBusy) return;
    if (!response.empty()) FLastResponse = response;
    TriggerDone(error);
  });
}

void TSmtpCli::CloseSocket() {
  FConnected = false;
  FSocket.reset();
  FTls.reset();
  FRecv.clear();
  FReplyLines = FReplyBytes = 0;
}

// ---- connection

void TSmtpCli::Connect() {
  if (FConnected) throw ESmtpError("SMTP component already connected");
  CheckReady(false);
  StartRequest(smtpConnect);
  FEsmtpAccepted = false;
  FStartTlsOffered = false;
  FAuthTypes.clear();
  FRecv.clear();
  FTls.reset();
  FExpected = {220};
  int port = PortNumber(TrimSmtp(Port));
  if (port <= 0 || port > 65535) {
    DeferDone(ErrorInvalid, SocketErrorResponse(ErrorInvalid));
    return;
  }
  FPortNumber = static_cast<std::uint16_t>(port);
  QHostAddress literal;
  std::string host = TrimSmtp(Host);
  if (literal.setAddress(QString::fromLatin1(host.c_str()))) {
    FState = smtpConnecting;
    ConnectTo(host);
    return;
  }
  FState = smtpDnsLookup;
  FLookupId = QHostInfo::lookupHost(QString::fromLatin1(host.c_str()), FContext.get(),
                                    [this](const QHostInfo& info) { LookupDone(info); });
}

void TSmtpCli::LookupDone(const QHostInfo& info) {
  FLookupId = -1;
  if (!FBusy || FState != smtpDnsLookup) return;
  const QList<QHostAddress> addresses = info.addresses();
  if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
    FailSocket(info.error() == QHostInfo::HostNotFound || addresses.isEmpty() ? syserr::WSAHOST_NOT_FOUND
                                                                                : syserr::WSATRY_AGAIN);
    return;
  }
  QHostAddress chosen = addresses.front();
  for (const QHostAddress& address : addresses)
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
      chosen = address;
      break;
    }
  FState = smtpConnecting;
  ConnectTo(chosen.toString().toStdString());
}

void TSmtpCli::ConnectTo(const std::string& address) {
  FSocket.reset(new QTcpSocket());
  QTcpSocket* socket = FSocket.get();
  socket->setReadBufferSize(static_cast<qint64>(MaxReplyBytes));
  std::string local = TrimSmtp(LocalAddr);
  if (!local.empty() && local != "0.0.0.0") {
    QHostAddress bindAddress;
    if (!bindAddress.setAddress(QString::fromLatin1(local.c_str())) || !socket->bind(bindAddress)) {
      unsigned generation = FGeneration;
      QTimer::singleShot(0, FContext.get(), [this, generation] {
        if (generation == FGeneration && FBusy) FailSocket(ErrorBadAddress);
      });
      return;
    }
  }
  QObject::connect(socket, &QTcpSocket::connected, FContext.get(), [this] {
    FConnected = true;
    FState = smtpWaitingBanner;
    if (TlsMode != TTlsMode::Off && (ImplicitTls || FPortNumber == ImplicitPort)) StartTls();
  });
  QObject::connect(socket, &QTcpSocket::readyRead, FContext.get(), [this] { OnReadyRead(); });
  QObject::connect(socket, &QTcpSocket::disconnected, FContext.get(), [this] { OnDisconnected(); });
  QObject::connect(socket, &QTcpSocket::errorOccurred, FContext.get(),
                   [this](QAbstractSocket::SocketError error) { OnSocketError(WinsockCode(error)); });
  socket->connectToHost(QHostAddress(QString::fromStdString(address)), FPortNumber);
}

void TSmtpCli::OnSocketError(int socketError) {
  // Once connected, a failing connection is reported through its close.
  if (FConnected) return;
  if (FBusy && FRequest == smtpConnect) FailSocket(socketError);
}

void TSmtpCli::OnDisconnected() {
  CloseSocket();
  if (!FBusy) return;
  if (FRequest == smtpQuit) {
    TriggerDone(0);
    return;
  }
  FailOwn(ErrorClosed, SocketErrorResponse(ErrorClosed));
}

void TSmtpCli::Abort() {
  if (FLookupId >= 0) QHostInfo::abortHostLookup(FLookupId);
  FLookupId = -1;
  CloseSocket();
  if (!FBusy) {
    FState = smtpReady;
    return;
  }
  FState = smtpAbort;
  // The pending request still gets its event, from the event loop.
  TSmtpRequest request = FRequest;
  FBusy = false;
  unsigned generation = ++FGeneration;
  QTimer::singleShot(0, FContext.get(), [this, generation, request] {
    if (generation != FGeneration) return;
    FState = smtpReady;
    FRequest = request;
    FLastResponse = SocketErrorResponse(ErrorClosed);
    TriggerDone(request == smtpQuit ? 0 : ErrorClosed);
  });
}

// ---- replies

void TSmtpCli::OnReadyRead() {
  QTcpSocket* const socket = FSocket.get();
  // readyRead may still come for a socket that has closed meanwhile: reading it would warn.
  if (!socket || !socket->isOpen()) return;
  // The socket's read buffer is bounded, so one event brings at most that much.
  QByteArray bytes = socket->readAll();
  if (FTls) {
    FTls->FeedNetwork(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!FTls->Established()) {
      ContinueHandshake();
      if (FSocket.get() != socket || !FTls || !FTls->Established()) return;
    }
    std::string plain = FTls->ReadPlain();
    if (FTls->Failed()) return FailTls(FTls->ErrorText());
    FlushTls();
    FRecv += plain;
  } else {
    FRecv.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t end = FRecv.find('\n', start);
    std::size_t length = (end == std::string::npos ? FRecv.size() : end + 1) - start;
    if (length >= BufferSize) return FailOverlong("500 Reply line longer than the receive buffer.");
    if (end == std::string::npos) break;
    std::string line = FRecv.substr(start, end - start);
    start = end + 1;
    if (++FReplyLines > MaxReplyLines || (FReplyBytes += line.size() + 1) > MaxReplyBytes)
      return FailOverlong("500 Reply longer than " + std::to_string(MaxReplyLines) + " lines or " +
                          std::to_string(MaxReplyBytes) + " bytes.");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const bool clear = !FTls;
    HandleLine(line);
    // The line ended the connection, or a handler did (and may have opened another).
    if (FSocket.get() != socket) return;
    if (clear && FTls) {
      // The reply to STARTTLS began the handshake: what the server sent after it is no
      // reply, and goes to the session, which refuses it unless it is TLS.
      std::string rest = FRecv.substr(start);
      FRecv.clear();
      if (!rest.empty()) {
        FTls->FeedNetwork(rest);
        ContinueHandshake();
      }
      return;
    }
  }
  FRecv.erase(0, start);
}

void TSmtpCli::FailOverlong(const std::string& response) {
  // The dialogue cannot be trusted after such a reply.
  bool busy = FBusy;
  CloseSocket();
  if (busy) FailOwn(ErrorReplyTooLong, response);
}

void TSmtpCli::HandleLine(const std::string& line) {
  if (OnDisplay) OnDisplay(*this, "< " + line);
  FLastResponse = line;
  const TSmtpReplyLine reply = ReadSmtpReplyLine(line);
  if (!reply.Continued) FReplyLines = FReplyBytes = 0;
  if (!FBusy) return;
  if (FRequest == smtpEhlo && (FEhloStep == TEhloStep::First || FEhloStep == TEhloStep::Again))
    NoteEhloOffer(line, FStartTlsOffered, FAuthTypes, MaxAuthTypes);
  if (reply.Continued) return;
  FStatusCode = reply.Code;
  HandleReply(reply.Code);
}

void TSmtpCli::HandleReply(int code) {
  bool ok = FExpected.empty() ? code < 500 : std::find(FExpected.begin(), FExpected.end(), code) != FExpected.end();
  switch (FRequest) {
    case smtpConnect:
      if (!ok) CloseSocket();
      TriggerDone(ok ? 0 : code);
      return;
    case smtpAuth:
      AuthReply(code, ok);
      return;
    case smtpRcptTo:
      if (ok && ++FRcptIndex < RcptName.size()) {
        SendCommand("RCPT TO:<" + SmtpAddress(RcptName[FRcptIndex]) + ">", {250, 251});
        return;
      }
      break;
    case smtpData:
      if (ok && FDataStep == TDataStep::DataSent) {
        std::vector<std::string> lines = BuildHeader();
        if (OnProcessHeader) OnProcessHeader(*this, lines);
        if (!FSocket) return;  // the handler aborted
        lines.emplace_back();
        for (std::string& line : SmtpBodyLines(MailMessage)) lines.push_back(std::move(line));
        lines.emplace_back(".");
        FDataStep = TDataStep::BodySent;
        FExpected = {250};
        SendLines(lines);
        return;
      }
      break;
    case smtpQuit:
      if (ok) {
        CloseSocket();
        TriggerDone(0);
        return;
      }
      break;
    case smtpEhlo:
      EhloReply(code, ok);
      return;
    default:
      break;
  }
  TriggerDone(ok ? 0 : code);
}

// ---- steps

std::string TSmtpCli::HelloName() const {
  std::string name = TrimSmtp(SignOn);
  if (name.empty()) name = LocalComputerName();
  if (name.empty()) name = "localhost";
  std::replace(name.begin(), name.end(), ' ', '_');
  return name;
}

void TSmtpCli::Helo() {
  CheckReady(true);
  StartRequest(smtpHelo);
  if (RefuseWithoutTls(false)) return;
  SendCommand("HELO " + HelloName(), {250});
}

void TSmtpCli::Ehlo() {
  CheckReady(true);
  StartRequest(smtpEhlo);
  FAuthTypes.clear();
  FEsmtpAccepted = false;
  FStartTlsOffered = false;
  FEhloStep = TEhloStep::First;
  SendCommand("EHLO " + HelloName(), {250});
}

void TSmtpCli::MailFrom() {
  CheckReady(true);
  StartRequest(smtpMailFrom);
  if (RefuseWithoutTls(false)) return;
  SendCommand("MAIL FROM:<" + SmtpAddress(FromName) + ">", {250});
}

void TSmtpCli::RcptTo() {
  CheckReady(true);
  if (RcptName.empty()) throw ESmtpError("RcptName list is empty");
  StartRequest(smtpRcptTo);
  FRcptIndex = 0;
  SendCommand("RCPT TO:<" + SmtpAddress(RcptName[0]) + ">", {250, 251});
}

void TSmtpCli::Data() {
  CheckReady(true);
  StartRequest(smtpData);
  std::string host = LocalComputerName();
  FMessageId = SmtpMessageId(LocalToUniversal(Now()), host.empty() ? "localhost" : host);
  FDataStep = TDataStep::DataSent;
  SendCommand("DATA", {354});
}

void TSmtpCli::Quit() {
  CheckReady(false);
  StartRequest(smtpQuit);
  if (!FConnected) {
    DeferDone(0, std::string());
    return;
  }
  SendCommand("QUIT", {221});
}

std::vector<std::string> TSmtpCli::BuildHeader() const {
  std::vector<std::string> lines;
  std::string from = SmtpHeaderValue(HdrFrom);
  std::string to = SmtpHeaderValue(HdrTo);
  if (!from.empty()) lines.push_back("From: " + from);
  if (!to.empty()) lines.push_back("To: " + to);
  lines.push_back("Subject: " + SmtpHeaderValue(HdrSubject));
  if (!from.empty()) lines.push_back("Sender: " + from);
  lines.push_back("Mime-Version: 1.0");
  lines.push_back("Content-Type: text/plain; charset=\"" + SmtpHeaderValue(CharSet) + "\"");
  TDateTime now = Now();
  lines.push_back("Date: " + SmtpDate(now, TimeZoneBiasMinutes(now)));
  if (HdrPriority != smtpPriorityNone) {
    lines.push_back("X-Priority: " + std::to_string(static_cast<int>(HdrPriority)));
    if (HdrPriority <= smtpPriorityHigh) {
      lines.push_back("Priority: urgent");
      lines.push_back("X-MSMail-Priority: High");
    } else if (HdrPriority == smtpPriorityNormal) {
      lines.push_back("Priority: Normal");
      lines.push_back("X-MSMail-Priority: Normal");
    } else {
      lines.push_back("Priority: non-urgent");
      lines.push_back("X-MSMail-Priority: Low");
    }
  }
  lines.push_back("Message-ID: <" + FMessageId + ">");
  lines.push_back("X-Mailer: TSmtpCli");
  return lines;
}

// ---- authentication

void TSmtpCli::Auth() {
  CheckReady(true);
  StartRequest(smtpAuth);
  FAuthAuto = AuthType == smtpAuthAutoSelect;
  if (!FEsmtpAccepted) {
    DeferDone(500, "500 ESMTP not supported.");
    return;
  }
  TSmtpAuthType mech = AuthType;
  if (mech == smtpAuthNone) {
    DeferDone(500, "500 No Authentication Type Selected.");
    return;
  }
  if (RefuseWithoutTls(true)) return;
  if (FAuthAuto) {
    auto offered = [this](const char* name) {
      return std::find(FAuthTypes.begin(), FAuthTypes.end(), name) != FAuthTypes.end();
    };
    mech = offered("CRAM-SHA1") ? smtpAuthCramSha1
           : offered("CRAM-MD5") ? smtpAuthCramMD5
           : offered("LOGIN")    ? smtpAuthLogin
           : offered("PLAIN")    ? smtpAuthPlain
                                 : smtpAuthCramMD5;
  }
  AuthCommand(mech);
}

void TSmtpCli::AuthCommand(TSmtpAuthType mech) {
  FAuthMech = mech;
  switch (mech) {
    case smtpAuthPlain:
      FAuthStep = TAuthStep::PlainSent;
      SendCommand("AUTH PLAIN " + PlainAuthAnswer(Username, Password), {235});
      break;
    case smtpAuthLogin:
      FAuthStep = TAuthStep::LoginSent;
      SendCommand("AUTH LOGIN", {334});
      break;
    default:
      FAuthStep = TAuthStep::CramSent;
      SendCommand(mech == smtpAuthCramSha1 ? "AUTH CRAM-SHA1" : "AUTH CRAM-MD5", {334});
      break;
  }
}

void TSmtpCli::AuthReply(int code, bool ok) {
  switch (FAuthStep) {
    case TAuthStep::LoginSent:
      if (ok) {
        FAuthStep = TAuthStep::LoginUserSent;
        SendCommand(Base64Encode(Username), {334});
      } else if (code == 504 && FAuthAuto) {
        AuthCommand(smtpAuthPlain);
      } else {
        AuthFail(code);
      }
      return;
    case TAuthStep::LoginUserSent:
      if (!ok) return AuthFail(code);
      FAuthStep = TAuthStep::LoginPassSent;
      SendCommand(Base64Encode(Password), {235});
      return;
    case TAuthStep::CramSent: {
      bool sha1 = FAuthMech == smtpAuthCramSha1;
      if (!ok) {
        if (code == 504 && FAuthAuto && !sha1) return AuthCommand(smtpAuthLogin);
        return AuthFail(code);
      }
      if (FLastResponse.size() <= 4) {
        FailOwn(500, std::string(sha1 ? "500 Malformed SHA1 Challege: " : "500 Malformed MD5 Challege: ") +
                         FLastResponse);
        return;
      }
      std::string challenge = Base64Decode(FLastResponse.substr(4));
      FAuthStep = TAuthStep::CramAnswerSent;
      SendCommand(CramAuthAnswer(sha1 ? THmacHash::Sha1 : THmacHash::Md5, Username, Password, challenge), {235});
      return;
    }
    default:
      if (ok)
        TriggerDone(0);
      else
        AuthFail(code);
      return;
  }
}

void TSmtpCli::AuthFail(int code) {
  if (FAuthAuto) FLastResponse = "500 Authentication Type could not be determined.";
  TriggerDone(code);
}

// ---- TLS

bool TSmtpCli::TlsActive() const { return FTls && FTls->Established(); }

std::string TSmtpCli::TlsDescription() const { return FTls ? FTls->Description() : std::string(); }

void TSmtpCli::EhloReply(int code, bool ok) {
  if (FEhloStep == TEhloStep::StartTlsSent) {
    if (!ok) return TriggerDone(code);
    FEhloStep = TEhloStep::Handshake;
    StartTls();
    return;
  }
  if (!ok) return TriggerDone(code);
  FEsmtpAccepted = true;
  if (!FTls && TlsMode != TTlsMode::Off && FStartTlsOffered) {
    FEhloStep = TEhloStep::StartTlsSent;
    SendCommand("STARTTLS", {220});
    return;
  }
  if (!FTls && TlsMode == TTlsMode::Required) {
    FTlsError = "TLS required, but the server does not offer STARTTLS";
    return FailOwn(500, "500 " + FTlsError);
  }
  TriggerDone(0);
}

// A step about to go out in the clear where the mode forbids it ends at once.
bool TSmtpCli::RefuseWithoutTls(bool auth) {
  if (TlsActive()) return false;
  if (TlsMode == TTlsMode::Required) {
    FTlsError = "TLS required, but the connection is not encrypted";
  } else if (auth && TlsMode == TTlsMode::Auto && FStartTlsOffered) {
    FTlsError = "The server offers STARTTLS: no authentication without it";
  } else {
    return false;
  }
  DeferDone(500, "500 " + FTlsError);
  return true;
}

void TSmtpCli::StartTls() {
  FTls = std::make_unique<TTlsSession>(TrimSmtp(Host));
  ContinueHandshake();
}

void TSmtpCli::ContinueHandshake() {
  TTlsSession::TStep step = FTls->Handshake();
  FlushTls();
  if (step == TTlsSession::TStep::Failed) return FailTls(FTls->ErrorText());
  if (step != TTlsSession::TStep::Done) return;
  if (OnTlsEstablished) OnTlsEstablished(*this, FTls->Description());
  if (!FTls || !FBusy || FRequest != smtpEhlo || FEhloStep != TEhloStep::Handshake) return;
  // The server's capabilities may differ once encrypted; only the new ones count.
  FAuthTypes.clear();
  FEsmtpAccepted = false;
  FStartTlsOffered = false;
  FEhloStep = TEhloStep::Again;
  SendCommand("EHLO " + HelloName(), {250});
}

void TSmtpCli::FlushTls() {
  if (!FTls || !FSocket) return;
  std::string out = FTls->TakeNetworkOutput();
  if (!out.empty()) FSocket->write(out.data(), static_cast<qint64>(out.size()));
}

void TSmtpCli::FailTls(std::string text) {
  bool busy = FBusy;
  CloseSocket();
  if (!busy) return;
  FTlsError = text;
  FailOwn(500, "500 " + text);
}
